// The login list: the users of the users table in index order, kept as four
// lists in step (trimmed name, trimmed password, group name, administrator
// marker "yes"/"no"), and the file user.txt that names the last user who
// logged in.
#pragma once

#include <QString>
#include <QStringList>

namespace veltra {

class TVeltraTable;

struct TUserList {
    QStringList Names;      // trimmed user names, as shown in the pick list
    QStringList Passwords;  // trimmed stored passwords
    QStringList Groups;     // group names
    QStringList Admins;     // "yes" or "no"
    QString AdminName;      // username of the last administrator row, untrimmed
    int Selected = -1;      // the preselected entry; -1 when the list is empty

    int Count() const { return static_cast<int>(Names.size()); }
    bool HasPassword(int i) const { return !Passwords.value(i).trimmed().isEmpty(); }
};

// Builds the list from the open users table: every row from the first to the
// end, in the table's current order, except rows whose username is blank
// after trimming. lastUser (the first line of user.txt) preselects the last
// entry whose trimmed, upper-cased name equals it trimmed and upper-cased;
// with no match the first entry is selected. Moves the table's cursor.
// Raises what the table raises.
TUserList builduserlist(TVeltraTable& users, const QString& lastUser);

// The first line of user.txt at `path` (without its line end); empty when
// the file is missing or empty.
QString ReadLastUser(const QString& path);
// Replaces `path` by one line, `name` ended by CR LF. False when the file
// cannot be written.
bool WriteLastUser(const QString& path, const QString& name);

// Trimmed and upper-cased, as passwords are stored and compared.
QString NormalPassword(const QString& text);

}  // namespace veltra
