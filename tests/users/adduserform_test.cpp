// The add-users dialog through the real window: its refusals, several users
// in a row, the group stored, and a user added in one program being listed
// by the login of a program started afterwards.
#include <QComboBox>
#include <cstdio>
#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include "engine/veltra_table.h"
#include "app/program_folder.h"
#include "tests/users/admin_fixture.h"
#include "users/admin/accessform.h"
#include "users/admin/adduserform.h"
#include "users/user_list.h"
#include "users/user_context.h"

namespace veltra {
namespace {

class AddUsers : public TAdminTest {
protected:
    // Fills the three fields, chooses `group` (when not empty) and clicks Add.
    void Add(Tadduserform& form, const QString& name, const QString& password,
             const QString& again, const QString& group = {}) {
        Type(form.UserNameEdit(), name);
        Type(form.PasswordEdit(), password);
        Type(form.PasswordAgainEdit(), again);
        if (!group.isEmpty()) {
            const int index = form.AccessLevelBox()->findText(group);
            ASSERT_GE(index, 0) << group.toStdString();
            form.AccessLevelBox()->setCurrentIndex(index);
        }
        Click(form.AddButton());
    }
};

TEST_F(AddUsers, ShowsEmptyFieldsTheGroupsInIndexOrderAndAddDisabled) {
    AddTeam();
    Taccessform access;
    Tadduserform form;
    form.SetGroupsTable(&access.GroupsTable());
    m_Dialogs->Drive([&](QDialog&) {
        EXPECT_EQ(form.windowTitle(), "Add Users");
        EXPECT_TRUE(form.UserNameEdit()->text().isEmpty());
        EXPECT_TRUE(form.UserNameEdit()->hasFocus());
        EXPECT_FALSE(form.AddButton()->isEnabled());
        EXPECT_TRUE(form.AddButton()->isDefault());
        QStringList items;
        for (int i = 0; i < form.AccessLevelBox()->count(); ++i)
            items << form.AccessLevelBox()->itemText(i);
        EXPECT_EQ(items, (QStringList{"Developers", "Managers", "Reporters", "Viewers"}));
        EXPECT_EQ(form.AccessLevelBox()->currentText(), "Developers");
        EXPECT_FALSE(form.AccessLevelBox()->isEditable());
        EXPECT_EQ(form.PasswordEdit()->echoMode(), QLineEdit::Password);
        EXPECT_EQ(form.UserNameEdit()->maxLength(), 10);
        EXPECT_EQ(form.PasswordEdit()->accessibleName(), "Password");
        EXPECT_TRUE(form.UsersTable().Active());
        // Add follows the name: blanks alone keep it disabled.
        Type(form.UserNameEdit(), "   ");
        EXPECT_FALSE(form.AddButton()->isEnabled());
        Type(form.UserNameEdit(), " x");
        EXPECT_TRUE(form.AddButton()->isEnabled());
        Click(form.CloseButton());
    });
    Dialogs().Exec(form);
    EXPECT_FALSE(form.UsersTable().Active());
    // The shared groups table stays open after filling the list.
    EXPECT_TRUE(access.GroupsTable().Active());
}

struct TRefusal {
    const char* Case;
    QString Name, Password, Again;
    QString Message;
    bool FocusOnName;  // else on the first password field
};

TEST_F(AddUsers, RefusesWithoutStoringAndKeepsTheFocusOnTheFieldAtFault) {
    const TRefusal cases[] = {
        {"passwords differ", "dave", "abc", "abd", "Passwords do not match.", false},
        {"passwords differ in blanks only are the same", "bob", " abc ", "abc",
         "That user already exists.", true},
        {"duplicate after trimming", "  bob  ", "", "", "That user already exists.", true},
        {"duplicate in another case", "BOB", "", "", "That user already exists.", true},
        {"duplicate of the administrator in another case", "admin", "", "",
         "That user already exists.", true},
    };
    for (const TRefusal& c : cases) {
        SCOPED_TRACE(c.Case);
        TearDown();
        SetUp();
        AddTeam();
        const QList<TUserRow> before = Users();
        Tadduserform form;
        m_Dialogs->Drive([&](QDialog&) {
            Add(form, c.Name, c.Password, c.Again);
            EXPECT_TRUE(form.isVisible());
            EXPECT_EQ(form.UserNameEdit()->hasFocus(), c.FocusOnName);
            EXPECT_EQ(form.PasswordEdit()->hasFocus(), !c.FocusOnName);
            // What was typed stays for the user to mend.
            EXPECT_EQ(form.UserNameEdit()->text(), c.Name);
            Click(form.CloseButton());
        });
        m_Dialogs->Answer();
        Dialogs().Exec(form);
        EXPECT_EQ(m_Dialogs->Messages(), QStringList{c.Message});
        EXPECT_EQ(m_Dialogs->Requests()[1].Kind, TMessageKind::Error);
        EXPECT_EQ(Users(), before);
    }
}

TEST_F(AddUsers, AddsSeveralUsersInARowWithTheirGroupsAndEmptiesTheFields) {
    AddTeam();
    UserContext().UserName = "Admin";
    UserContext().Admin = true;
    const TUserContext context = UserContext();
    Tadduserform form;
    m_Dialogs
        ->Drive([&](QDialog&) {
            Add(form, " dave ", " pass1 ", "PASS1", "Managers");
            EXPECT_TRUE(form.UserNameEdit()->text().isEmpty());
            EXPECT_TRUE(form.PasswordEdit()->text().isEmpty());
            EXPECT_TRUE(form.PasswordAgainEdit()->text().isEmpty());
            EXPECT_TRUE(form.UserNameEdit()->hasFocus());
            Add(form, "erin", "", "", "Viewers");
            Click(form.CloseButton());
        })
        .Answer()
        .Answer();
    Dialogs().Exec(form);
    EXPECT_EQ(m_Dialogs->Messages(), (QStringList{"User added.", "User added."}));
    EXPECT_EQ(m_Dialogs->Requests()[1].Kind, TMessageKind::Information);
    const QList<TUserRow> expected{{"Admin", "", "", true},
                                   {"bob", "", "Developers", false},
                                   {"carol", "SECRET", "Reporters", false},
                                   {"dave", "PASS1", "Managers", false},
                                   {"erin", "", "Viewers", false}};
    EXPECT_EQ(Users(), expected);
    EXPECT_EQ(UserContext().UserName, context.UserName);
    EXPECT_EQ(UserContext().Password, context.Password);
    EXPECT_FALSE(form.UsersTable().Active());
}

TEST_F(AddUsers, TypedPasswordLettersAreUpperCase) {
    Tadduserform form;
    m_Dialogs->Drive([&](QDialog&) {
        Type(form.PasswordEdit(), "aBc");
        EXPECT_EQ(form.PasswordEdit()->text(), "ABC");
        Click(form.CloseButton());
    });
    Dialogs().Exec(form);
}

TEST_F(AddUsers, WithAnEmptyGroupsTableNothingIsStored) {
    AddTeam();
    ClearGroups();
    Tadduserform form;
    m_Dialogs
        ->Drive([&](QDialog&) {
            EXPECT_EQ(form.AccessLevelBox()->count(), 0);
            Add(form, "dave", "", "");
            EXPECT_TRUE(form.UserNameEdit()->text().isEmpty());
            Click(form.CloseButton());
        })
        .Answer();
    Dialogs().Exec(form);
    EXPECT_EQ(m_Dialogs->Messages(), QStringList{"An error occurred saving the user information."});
    EXPECT_EQ(UserNames(), (QStringList{"Admin", "bob", "carol"}));
}

TEST_F(AddUsers, AMissingUsersTableEndsTheProgram) {
    QFile::remove(Folder() + "sys1.dat");
    Tadduserform form;
    int ended = 0;
    form.EndApplication = [&] { ++ended; };
    m_Dialogs->Drive([&](QDialog&) {}).Answer();
    EXPECT_EQ(Dialogs().Exec(form), QDialog::Rejected);
    EXPECT_EQ(m_Dialogs->Messages(),
              QStringList{"Bad or missing file: sys1.dat.   Reinstall the program."});
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(form.isVisible());
}

// The second program: the login of a program started while the first one
// still has its add-users dialog open lists the user just added.
TEST(AddUsersChild, LoginListsTheUsers) {
    const QString folder = qEnvironmentVariable("VELTRA_TEST_LOGIN_FOLDER");
    if (folder.isEmpty()) GTEST_SKIP() << "run by AddUsers.AUserAddedIsListedByALaterLogin";
    TVeltraTable users;
    users.SetTableName((folder + "sys1.dat").toStdString());
    users.Open();
    users.SetIndexName("username");
    const TUserList list = builduserlist(users, "");
    std::printf("listed: %s\n", list.Names.join(",").toUtf8().constData());
}

TEST_F(AddUsers, AUserAddedIsListedByALaterLogin) {
    AddTeam();
    Tadduserform form;
    QString listed;
    m_Dialogs
        ->Drive([&](QDialog&) {
            Add(form, "zoe", "", "");
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("VELTRA_TEST_LOGIN_FOLDER", Folder());
            env.insert("QT_QPA_PLATFORM", "offscreen");
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(),
                        {"--gtest_filter=AddUsersChild.LoginListsTheUsers"});
            ASSERT_TRUE(child.waitForFinished(60000));
            EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
            for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
                if (line.startsWith("listed: ")) listed = QString::fromUtf8(line.mid(8));
            }
            Click(form.CloseButton());
        })
        .Answer();
    Dialogs().Exec(form);
    EXPECT_EQ(listed, "Admin,bob,carol,zoe");
}

}  // namespace
}  // namespace veltra
