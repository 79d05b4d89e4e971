// The user context the login leaves behind, and the current rights read
// from the user's group. Both live for the whole run; the main window's show
// step sets them once (only the current password changes later, through the
// password change dialog). Thread: user-interface thread.
#pragma once

#include <QString>

namespace veltra {

struct TUserContext {
    QString UserName;   // current user name; empty when nobody logged in
    QString Password;   // current password, upper case, trimmed; empty if none
    bool Admin = false;  // the current user is the administrator
    QString AdminName;  // username of the administrator row, as stored
    QString GroupName;  // the current user's groupname
};

// The five rights of the user's group; each -1 when the group was not found.
// Values as the groups table stores them:
//   Submit 0 can submit, 1 cannot;
//   Edit   0 any ticket, 1 only if owner, 2 only if submitter, 3 if submitter or owner;
//   Delete 0 any ticket, 1 cannot, 2 if submitter;
//   Close  0 any ticket, 1 cannot, 2 if submitter;
//   Assign 0 any ticket, 1 cannot, 2 if owner, 3 if submitter, 4 if owner or submitter.
struct TRights {
    int Submit = -1;
    int Edit = -1;
    int Delete = -1;
    int Close = -1;
    int Assign = -1;
    bool operator==(const TRights&) const = default;
};

// The program-wide user context and current rights.
TUserContext& UserContext();
TRights& CurrentRights();

}  // namespace veltra
