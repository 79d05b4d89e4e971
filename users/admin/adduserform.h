// Tadduserform: the add-users dialog, caption "Add Users", help topic 14.
// Adds users one after another, each with a name, an optional password and
// an access group; only Close closes it.
//
// What the main window hands it:
//   - the program folder (ProgramFolder(), app/program_folder.h): the users
//     table is its sys1.dat, the groups table its sys2.dat;
//   - the shared groups table component (SetGroupsTable, the one the groups
//     editor owns) through which the "Access level" list is filled; without
//     one the dialog uses a component of its own;
//   - EndApplication: what ends the program when sys1.dat is missing.
// It is shown through the dialogs service (Dialogs().Exec). It leaves the
// user context unchanged.
//
// Showing it empties the fields, opens the users table on the index
// username and fills "Access level" with every group name in index order;
// the users table is closed again when the dialog closes (the groups table
// stays open until its next user closes it). When sys1.dat is missing it
// shows "Bad or missing file: sys1.dat.   Reinstall the program.", closes
// itself and calls EndApplication.
//
// "Add" refuses a blank name ("User name cannot be blank."), passwords that
// differ ("Passwords do not match.") and a name already in the table,
// compared trimmed and without regard to case ("That user already
// exists."), keeping what was typed; otherwise it stores the user (password
// trimmed and upper-cased, the chosen group, not an administrator) and says
// "User added.", or "An error occurred saving the user information." when
// the row cannot be stored (no group to choose included), and empties the
// fields either way.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace veltra {

class TVeltraTable;

class Tadduserform : public QDialog {
    Q_OBJECT
public:
    explicit Tadduserform(QWidget* parent = nullptr);
    ~Tadduserform() override;

    // The shared groups table component (not owned; must outlive the dialog).
    void SetGroupsTable(TVeltraTable* groups) { m_Groups = groups; }
    // Ends the program; by default QCoreApplication::exit(1).
    std::function<void()> EndApplication;

    QLineEdit* UserNameEdit() const { return m_Name; }
    QLineEdit* PasswordEdit() const { return m_Password; }
    QLineEdit* PasswordAgainEdit() const { return m_Password2; }
    QComboBox* AccessLevelBox() const { return m_Group; }
    QPushButton* AddButton() const { return m_Add; }
    QPushButton* CloseButton() const { return m_Close; }
    // The users table component (open while the dialog is shown).
    TVeltraTable& UsersTable() { return *m_Users; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void AddClick();
    bool UserExists(const QString& name);
    void ClearFields();
    TVeltraTable& Groups();

    std::unique_ptr<TVeltraTable> m_Users;
    std::unique_ptr<TVeltraTable> m_OwnGroups;
    TVeltraTable* m_Groups = nullptr;
    QLineEdit* m_Name = nullptr;
    QLineEdit* m_Password = nullptr;
    QLineEdit* m_Password2 = nullptr;
    QComboBox* m_Group = nullptr;
    QPushButton* m_Add = nullptr;
    QPushButton* m_Close = nullptr;
};

}  // namespace veltra
