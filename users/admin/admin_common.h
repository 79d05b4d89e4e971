// Small pieces shared by the user administration dialogs: labelled entry
// fields, the tables' paths in the program folder, filter quoting and the
// list of group names read from the shared groups table.
#pragma once

#include <QString>
#include <QStringList>

class QLabel;
class QLineEdit;
class QWidget;

namespace veltra {

class TVeltraTable;

// User names and passwords hold at most this many characters.
inline constexpr int kUserFieldLength = 10;

// A label naming `buddy` (keyboard mnemonic and accessible name).
QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent);
// A password entry field: at most 10 characters, masked with "*", typed
// letters forced to upper case.
QLineEdit* PasswordEdit(QWidget* parent);

// sys1.dat / sys2.dat of the program folder (ProgramFolder()).
QString UsersTablePath();
QString GroupsTablePath();

// `text` as a quoted constant of filter text: in single quotes, embedded
// single quotes doubled.
QString QuotedFilterConstant(const QString& text);

// Closes `groups`, points it at sys2.dat of the program folder on the index
// groupname, opens it and returns every groupname in index order. The table
// is left open on its first row. Raises the engine's error when it cannot be
// opened (the table is then closed).
QStringList ReadGroupNames(TVeltraTable& groups);

// The number of users who are not administrators whose groupname equals
// `group` without regard to case (as the groups table's index finds a group).
// Opens a table component of its own on sys1.dat and closes it again.
int CountGroupMembers(const QString& group);

}  // namespace veltra
