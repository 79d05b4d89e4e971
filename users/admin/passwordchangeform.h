// Tpasswordchangeform: the password change dialog, caption "Password
// Change", help topic 13. Two masked fields forcing upper case ("Enter new
// password", "Enter again for verification"), the note "(leave both fields
// blank to disable password)", OK and Cancel.
//
// What the main window hands it: the program folder (ProgramFolder()), whose
// sys1.dat holds the users, and the user context (UserContext()): the
// current user name whose row changes and the current password, which the
// dialog replaces on success. Asking for the current password before the
// dialog is shown is the main window's part. Shown through the dialogs
// service.
//
// OK with fields that differ (each trimmed) says "Passwords are not the
// same. Please try again.", empties both and stays open. Otherwise the
// user's row gets the new password (trimmed, upper case; two empty fields
// turn the password off), the user context takes it, "Password change
// successful." is shown and the dialog closes. When the row cannot be
// stored: "There was an error saving your new password. Password NOT
// changed.", the context keeps the old password and the dialog closes. When
// the user's row is no longer in the table (deleted from another
// workstation): "Your user name is no longer in the users table. Password
// NOT changed.", nothing changes and the dialog closes. Cancel (or Esc):
// "Password has NOT been changed.". The users table is open only during OK.
#pragma once

#include <QDialog>
#include <memory>

class QLineEdit;
class QPushButton;

namespace veltra {

class TVeltraTable;

class Tpasswordchangeform : public QDialog {
    Q_OBJECT
public:
    explicit Tpasswordchangeform(QWidget* parent = nullptr);
    ~Tpasswordchangeform() override;

    QLineEdit* NewPasswordEdit() const { return m_Password; }
    QLineEdit* AgainEdit() const { return m_Password2; }
    QPushButton* OkButton() const { return m_Ok; }
    QPushButton* CancelButton() const { return m_Cancel; }

    void reject() override;
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OkClick();
    // Writes `password` into the current user's row; false when the row is
    // not found. Raises what the table raises.
    bool StorePassword(const QString& password);

    std::unique_ptr<TVeltraTable> m_Users;
    QLineEdit* m_Password = nullptr;
    QLineEdit* m_Password2 = nullptr;
    QPushButton* m_Ok = nullptr;
    QPushButton* m_Cancel = nullptr;
};

}  // namespace veltra
