// Tgetuserform2: the login window, caption "Login". Shown once, modally, by
// the main window's show step. It either lets a listed user log in or, when
// the users table lists nobody, creates the first user as the
// administrator. What it leaves behind is the user context (user_context.h);
// an empty current user name afterwards means nobody logged in.
//
// Two panels, exactly one shown: the login panel (user pick list in index
// order, password field shown only for a user with a password, OK, Cancel)
// and the first-user panel (explanation, user name starting "Admin", two
// password fields forcing upper case, OK; no Cancel). Every message goes
// through the dialogs service.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "users/user_list.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace veltra {

class TVeltraTable;

class Tgetuserform2 : public QDialog {
    Q_OBJECT
public:
    explicit Tgetuserform2(QWidget* parent = nullptr);
    ~Tgetuserform2() override;

    // Receives the user names for the edit window's Submitter and Owner pick
    // lists: every listed name after a login, the new user alone after a
    // first-user creation.
    std::function<void(const QStringList&)> OnUserNames;

    // Shows the window modally with the users table of the program folder
    // and closes the table again; writes user.txt when somebody logged in.
    // "Bad or missing file: sys1.dat.   Reinstall the program." when the
    // table is missing (the window is then not shown). Engine errors opening
    // the table propagate after the table is closed.
    void Run();

    // The list built at the last Run (for tests and the focus rules).
    const TUserList& Users() const { return m_List; }
    bool FirstUserPanelShown() const;
    bool LoginPanelShown() const;

    // Controls by role (accessible names are their labels' texts).
    QComboBox* UserBox() const { return m_UserBox; }
    QLineEdit* PasswordEdit() const { return m_Password; }
    QLineEdit* NewNameEdit() const { return m_NewName; }
    QLineEdit* NewPasswordEdit() const { return m_NewPassword; }
    QLineEdit* NewPasswordAgainEdit() const { return m_NewPassword2; }
    QPushButton* LoginOkButton() const { return m_LoginOk; }
    QPushButton* CancelButton() const { return m_Cancel; }
    QPushButton* FirstUserOkButton() const { return m_FirstOk; }

private:
    void BuildLoginPanel();
    void BuildFirstUserPanel();
    void SetDefaultButton(QPushButton* button);
    void ShowPasswordFor(int entry);
    void UserBoxChange(int entry);
    void LoginOkClick();
    void FirstUserOkClick();

    std::unique_ptr<TVeltraTable> m_Users;
    TUserList m_List;
    QWidget* m_LoginPanel = nullptr;
    QWidget* m_FirstUserPanel = nullptr;
    QComboBox* m_UserBox = nullptr;
    QLabel* m_PasswordLabel = nullptr;
    QLineEdit* m_Password = nullptr;
    QPushButton* m_LoginOk = nullptr;
    QPushButton* m_Cancel = nullptr;
    QLineEdit* m_NewName = nullptr;
    QLineEdit* m_NewPassword = nullptr;
    QLineEdit* m_NewPassword2 = nullptr;
    QPushButton* m_FirstOk = nullptr;
};

}  // namespace veltra
