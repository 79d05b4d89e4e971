// The password change dialog through the real window: stored in upper case,
// empty fields turning the password off (the next login shows no password
// field), differing fields, Cancel, a row that has gone and a row that
// cannot be stored.
#include <QComboBox>
#include <QLineEdit>
#include <functional>
#include <QPushButton>
#include <QTest>

#include "engine/veltra_table.h"
#include "tests/users/admin_fixture.h"
#include "users/admin/passwordchangeform.h"
#include "users/user_list.h"
#include "users/user_context.h"

namespace veltra {
namespace {

class PasswordChange : public TAdminTest {
protected:
    void SetUp() override {
        TAdminTest::SetUp();
        AddTeam();
        UserContext().UserName = "carol";
        UserContext().Password = "SECRET";
        UserContext().GroupName = "Reporters";
    }
    QString StoredPassword(const QString& user) const {
        for (const TUserRow& row : Users())
            if (row.Name == user) return row.Password;
        return "(no row)";
    }
};

struct TChange {
    const char* Case;
    QString Typed, Again;
    QString Stored;  // the row's and the context's password afterwards
};

TEST_F(PasswordChange, StoresTheNewPasswordInUpperCase) {
    const TChange cases[] = {
        {"new password", "newpw", "NEWPW", "NEWPW"},
        {"blanks around", " newpw ", "newpw", "NEWPW"},
        {"both empty turn the password off", "", "", ""},
    };
    for (const TChange& c : cases) {
        SCOPED_TRACE(c.Case);
        TearDown();
        SetUp();
        Tpasswordchangeform form;
        m_Dialogs
            ->Drive([&](QDialog&) {
                EXPECT_EQ(form.windowTitle(), "Password Change");
                EXPECT_TRUE(form.NewPasswordEdit()->hasFocus());
                EXPECT_EQ(form.NewPasswordEdit()->echoMode(), QLineEdit::Password);
                Type(form.NewPasswordEdit(), c.Typed);
                Type(form.AgainEdit(), c.Again);
                Click(form.OkButton());
            })
            .Answer();
        EXPECT_EQ(Dialogs().Exec(form), QDialog::Accepted);
        EXPECT_EQ(m_Dialogs->Messages(), QStringList{"Password change successful."});
        EXPECT_EQ(StoredPassword("carol"), c.Stored);
        EXPECT_EQ(UserContext().Password, c.Stored);
        EXPECT_EQ(StoredPassword("bob"), "");  // nobody else's row changes
    }
}

TEST_F(PasswordChange, EmptyFieldsLeaveALoginWithoutPasswordField) {
    Tpasswordchangeform form;
    m_Dialogs->Drive([&](QDialog&) { Click(form.OkButton()); }).Answer();
    Dialogs().Exec(form);
    ASSERT_EQ(StoredPassword("carol"), "");

    // The login builds its list this way and shows the password field only
    // for an entry that has a password.
    TVeltraTable users;
    users.SetTableName((Folder() + "sys1.dat").toStdString());
    users.Open();
    users.SetIndexName("username");
    const TUserList list = builduserlist(users, "carol");
    ASSERT_EQ(list.Names.value(list.Selected), "carol");
    EXPECT_FALSE(list.HasPassword(list.Selected));
}

TEST_F(PasswordChange, DifferingFieldsAreEmptiedAndTheDialogStays) {
    Tpasswordchangeform form;
    m_Dialogs
        ->Drive([&](QDialog&) {
            Type(form.NewPasswordEdit(), "one");
            Type(form.AgainEdit(), "two");
            Click(form.OkButton());
            EXPECT_TRUE(form.isVisible());
            EXPECT_TRUE(form.NewPasswordEdit()->text().isEmpty());
            EXPECT_TRUE(form.AgainEdit()->text().isEmpty());
            EXPECT_TRUE(form.NewPasswordEdit()->hasFocus());
            Type(form.NewPasswordEdit(), "two");
            Type(form.AgainEdit(), "two");
            Click(form.OkButton());
        })
        .Answer()
        .Answer();
    Dialogs().Exec(form);
    EXPECT_EQ(m_Dialogs->Messages(), (QStringList{"Passwords are not the same. Please try again.",
                                                  "Password change successful."}));
    EXPECT_EQ(StoredPassword("carol"), "TWO");
}

struct TUnchanged {
    const char* Case;
    std::function<void(Tpasswordchangeform&)> Act;
    QString Message;
};

TEST_F(PasswordChange, NothingChangesWhenCancelledOrTheRowIsGone) {
    const TUnchanged cases[] = {
        {"Cancel", [](Tpasswordchangeform& f) {
             Type(f.NewPasswordEdit(), "x");
             Type(f.AgainEdit(), "x");
             Click(f.CancelButton());
         },
         "Password has NOT been changed."},
        {"Esc", [](Tpasswordchangeform& f) { QTest::keyClick(&f, Qt::Key_Escape); },
         "Password has NOT been changed."},
    };
    for (const TUnchanged& c : cases) {
        SCOPED_TRACE(c.Case);
        Tpasswordchangeform form;
        m_Dialogs->Drive([&](QDialog&) { c.Act(form); }).Answer();
        EXPECT_EQ(Dialogs().Exec(form), QDialog::Rejected);
        EXPECT_EQ(m_Dialogs->Messages(), QStringList{c.Message});
        m_Dialogs->ClearRecord();
        EXPECT_EQ(StoredPassword("carol"), "SECRET");
        EXPECT_EQ(UserContext().Password, "SECRET");
    }
}

TEST_F(PasswordChange, ARowDeletedFromAnotherWorkstationIsReportedAndNothingChanges) {
    UserContext().UserName = "gone";
    UserContext().Password = "OLD";
    const QList<TUserRow> before = Users();
    Tpasswordchangeform form;
    m_Dialogs
        ->Drive([&](QDialog&) {
            Type(form.NewPasswordEdit(), "new");
            Type(form.AgainEdit(), "new");
            Click(form.OkButton());
        })
        .Answer();
    EXPECT_EQ(Dialogs().Exec(form), QDialog::Rejected);
    EXPECT_EQ(m_Dialogs->Messages(),
              QStringList{"Your user name is no longer in the users table. Password NOT changed."});
    EXPECT_EQ(UserContext().Password, "OLD");
    EXPECT_EQ(Users(), before);
}

TEST_F(PasswordChange, ARowThatCannotBeStoredKeepsTheOldPassword) {
    // Another workstation holds carol's row locked for editing.
    TVeltraTable other;
    other.SetTableName((Folder() + "sys1.dat").toStdString());
    other.Open();
    other.SetIndexName("username");
    ASSERT_TRUE(other.FindKey({"carol"}));
    other.Edit();
    Tpasswordchangeform form;
    m_Dialogs
        ->Drive([&](QDialog&) {
            Type(form.NewPasswordEdit(), "new");
            Type(form.AgainEdit(), "new");
            Click(form.OkButton());
        })
        .Answer();
    EXPECT_EQ(Dialogs().Exec(form), QDialog::Rejected);
    EXPECT_EQ(m_Dialogs->Messages(),
              QStringList{"There was an error saving your new password. Password NOT changed."});
    EXPECT_EQ(UserContext().Password, "SECRET");
    other.Cancel();
    other.Close();
    EXPECT_EQ(StoredPassword("carol"), "SECRET");
}

}  // namespace
}  // namespace veltra
