// Makes an entry field force upper case as the user types, as the password
// fields of the login and user dialogs do. The caret keeps its place.
#pragma once

class QLineEdit;

namespace veltra {

void ForceUpperCase(QLineEdit* edit);

}  // namespace veltra
