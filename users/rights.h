// Reading a group's rights and deciding, for one ticket, what the current
// user may do with it. The main window applies the decision to the
// navigator and the edit window (setaccess); nothing here touches a window.
#pragma once

#include <QString>
#include <optional>

#include "users/user_context.h"

namespace veltra {

class TVeltraTable;

// Reads the rights of `groupName` from the groups table at `sys2Path` through
// `groups` (the shared groups table component): closes it, sets its table
// name, opens it on the index groupname, looks the name up by exact key and
// closes it again. Every right is -1 when no row matches. Raises the engine's
// error when the table cannot be opened; the component is closed then too.
TRights ReadGroupRights(TVeltraTable& groups, const QString& sys2Path, const QString& groupName);

// What the rights allow on one ticket: the navigator's Submit, Edit and
// Delete buttons and the edit window's State / Close date and Owner fields.
struct TTicketAccess {
    bool SubmitVisible = true;
    bool EditVisible = true;
    bool DeleteVisible = true;
    bool CloseEnabled = true;   // State pick list and Close date field
    bool AssignEnabled = true;  // Owner pick list
    bool operator==(const TTicketAccess&) const = default;
};

// The access `rights` give `user` on a ticket with these Submitter and Owner
// values (nullopt for a null field, which never equals a name). Comparisons
// are exact: case and blanks count. nullopt when the edit right is below 0
// (no group): the caller then changes nothing.
std::optional<TTicketAccess> DecideAccess(const TRights& rights, const QString& user,
                                          const std::optional<QString>& submitter,
                                          const std::optional<QString>& owner);

}  // namespace veltra
