// The login at program start, through the real windows: the first-user panel
// of a fresh program folder, creating the first user, the login list with
// its preselection, passwords, and the starts that end the program.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "app/edit/editform.h"
#include "app/mainform.h"
#include "engine/veltra_table.h"
#include "platform/qt/controls/db_combo_box.h"
#include "platform/qt/controls/db_date_edit.h"
#include "tests/app/app_fixture.h"
#include "users/getuserform2.h"
#include "users/user_context.h"

namespace veltra {
namespace {

using LoginTest = TAppTest;

// One press of the first-user panel's OK with these texts typed.
struct TAttempt {
    QString Name;
    QString Password;
    QString Again;
};

struct TFirstUserCase {
    const char* Label;
    std::vector<TAttempt> Attempts;  // the last one is accepted
    QStringList Messages;            // in order
    QString Row;                     // the sys1 row created
    QByteArray UserTxt;
};

TEST_F(LoginTest, FirstUserCreation) {
    const std::vector<TFirstUserCase> cases = {
        {"default name, no password", {{"", "", ""}}, {}, "Admin|||true", "Admin\r\n"},
        {"name trimmed, password upper-cased and recorded",
         {{"  Alice  ", "se cret", "SE CRET"}},
         {"You have entered a password.  Please take a moment to record it and put it in a "
          "safe place."},
         "Alice|SE CRET||true",
         "Alice\r\n"},
        {"blank name refused, then given",
         {{"   ", "", ""}, {"Bob", "", ""}},
         {"User name cannot be blank."},
         "Bob|||true",
         "Bob\r\n"},
        {"passwords differing refused, then matching",
         {{"Carol", "abc", "abd"}, {"Carol", "abc", "abc "}},
         {"Passwords do not match.",
          "You have entered a password.  Please take a moment to record it and put it in a "
          "safe place."},
         "Carol|ABC||true",
         "Carol\r\n"},
    };
    for (const TFirstUserCase& c : cases) {
        SCOPED_TRACE(c.Label);
        TearDown();
        SetUp();
        m_Dialogs.ClearRecord();
        bool firstPanel = false, loginPanel = true, focusStays = true;
        QString startName;
        Start([&](Tgetuserform2& login) {
            firstPanel = login.FirstUserPanelShown();
            loginPanel = login.LoginPanelShown();
            startName = login.NewNameEdit()->text();
            for (size_t i = 0; i < c.Attempts.size(); ++i) {
                const TAttempt& a = c.Attempts[i];
                if (!a.Name.isEmpty()) {
                    login.NewNameEdit()->clear();
                    QTest::keyClicks(login.NewNameEdit(), a.Name);
                }
                login.NewPasswordEdit()->clear();
                login.NewPasswordAgainEdit()->clear();
                QTest::keyClicks(login.NewPasswordEdit(), a.Password);
                QTest::keyClicks(login.NewPasswordAgainEdit(), a.Again);
                // The password fields force upper case as the user types.
                EXPECT_EQ(login.NewPasswordEdit()->text(), a.Password.toUpper());
                QTest::mouseClick(login.FirstUserOkButton(), Qt::LeftButton);
                if (i + 1 < c.Attempts.size()) focusStays = focusStays && login.isVisible();
            }
        }, c.Messages.size());
        EXPECT_TRUE(firstPanel);
        EXPECT_FALSE(loginPanel);
        EXPECT_EQ(startName, "Admin");
        EXPECT_TRUE(focusStays) << "a refused OK keeps the window open";
        EXPECT_EQ(m_Dialogs.Messages(), c.Messages);
        EXPECT_EQ(UserRows(), QStringList{c.Row});
        EXPECT_EQ(ReadFile("user.txt"), c.UserTxt);
        EXPECT_FALSE(Main().Ended());
        EXPECT_TRUE(Main().isVisible());
        EXPECT_TRUE(UserContext().Admin);
        EXPECT_TRUE(Main().adminmenu()->menuAction()->isVisible());
        // The edit window's user lists hold the new user alone.
        const QString name = c.Row.section('|', 0, 0);
        EXPECT_EQ(AllForms().editform->SubmitterBox()->Items(), QStringList{name});
        EXPECT_EQ(AllForms().editform->OwnerBox()->Items(), QStringList{name});
        EXPECT_TRUE(AllForms().editform->SubmitterBox()->isEnabled());
        EXPECT_EQ(Main().StatusPanel(0), "User: " + name);
    }
}

TEST_F(LoginTest, FirstUserPanelHasNoCancelAndIgnoresUserTxt) {
    WriteFile("user.txt", "Somebody\r\n");
    bool cancelVisible = true;
    Start([&](Tgetuserform2& login) {
        cancelVisible = login.CancelButton()->isVisibleTo(&login);
        QTest::mouseClick(login.FirstUserOkButton(), Qt::LeftButton);
    });
    EXPECT_FALSE(cancelVisible);
    EXPECT_EQ(UserRows(), QStringList{"Admin|||true"});
}

TEST_F(LoginTest, FirstUserThatCannotBeStoredEndsTheProgram) {
    // Another workstation stores "Admin" while this login window is open.
    Start([&](Tgetuserform2& login) {
        AddUsers({{"Admin", "", "", true}});
        QTest::mouseClick(login.FirstUserOkButton(), Qt::LeftButton);
    }, 1);
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"An error occurred saving the user information."});
    EXPECT_TRUE(Main().Ended());
    EXPECT_FALSE(Main().isVisible());
    EXPECT_EQ(ReadFile("user.txt"), "<missing>");
    EXPECT_EQ(UserRows(), QStringList{"Admin|||true"});
}

struct TPreselectCase {
    const char* Label;
    std::optional<QByteArray> UserTxt;
    QString Selected;
};

TEST_F(LoginTest, SecondStartListsUsersWithTheLastOnePreselected) {
    const std::vector<TPreselectCase> cases = {
        {"exact name", QByteArray("carol\r\n"), "carol"},
        {"other case and blanks", QByteArray("  BOB  \r\n"), "Bob"},
        {"only the first line counts", QByteArray("carol\r\nBob\r\n"), "carol"},
        {"unknown name: the first user", QByteArray("nobody\r\n"), "Admin"},
        {"empty file: the first user", QByteArray(""), "Admin"},
        {"no file: the first user", std::nullopt, "Admin"},
    };
    for (const TPreselectCase& c : cases) {
        SCOPED_TRACE(c.Label);
        TearDown();
        SetUp();
        m_Dialogs.ClearRecord();
        AddUsers({{"carol", "", "Managers", false},
                  {"Admin", "", "", true},
                  {"Bob", "", "Viewers", false}});
        if (c.UserTxt) WriteFile("user.txt", *c.UserTxt);
        QStringList listed;
        QString selected;
        bool loginPanel = false;
        Start([&](Tgetuserform2& login) {
            loginPanel = login.LoginPanelShown() && !login.FirstUserPanelShown();
            for (int i = 0; i < login.UserBox()->count(); ++i) listed << login.UserBox()->itemText(i);
            selected = login.UserBox()->currentText();
            QTest::mouseClick(login.CancelButton(), Qt::LeftButton);
        });
        EXPECT_TRUE(loginPanel);
        // Index order (the index ignores case).
        EXPECT_EQ(listed, (QStringList{"Admin", "Bob", "carol"}));
        EXPECT_EQ(selected, c.Selected);
        // Cancel: nobody logged in, the program ends, user.txt is unchanged.
        EXPECT_TRUE(Main().Ended());
        EXPECT_EQ(ReadFile("user.txt"), c.UserTxt.value_or("<missing>"));
    }
}

TEST_F(LoginTest, PasswordsAreCheckedWithoutRegardToCaseAndBlanks) {
    AddUsers({{"Admin", "", "", true}, {"dora", "SECRET", "Managers", false}});
    WriteFile("user.txt", "dora\r\n");
    bool stayedOpen = false, passwordShown = false, focusOnPassword = false;
    Start([&](Tgetuserform2& login) {
        passwordShown = login.PasswordEdit()->isVisibleTo(&login);
        QTest::keyClicks(login.PasswordEdit(), "secrets");
        QTest::mouseClick(login.LoginOkButton(), Qt::LeftButton);
        stayedOpen = login.isVisible();
        focusOnPassword = login.focusWidget() == login.PasswordEdit();
        login.PasswordEdit()->clear();
        QTest::keyClicks(login.PasswordEdit(), " secret ");
        QTest::mouseClick(login.LoginOkButton(), Qt::LeftButton);
    }, 1);
    EXPECT_TRUE(passwordShown);
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(focusOnPassword);
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"Incorrect Password."});
    EXPECT_EQ(UserContext().UserName, "dora");
    EXPECT_EQ(UserContext().Password, "SECRET");
    EXPECT_FALSE(UserContext().Admin);
    EXPECT_EQ(UserContext().AdminName, "Admin");
    EXPECT_EQ(ReadFile("user.txt"), "dora\r\n");
    EXPECT_FALSE(Main().Ended());
    // A user who is not the administrator: no Admin menu, Submitter and
    // Submit date disabled, every listed name in the edit window's lists.
    EXPECT_FALSE(Main().adminmenu()->menuAction()->isVisible());
    EXPECT_FALSE(AllForms().editform->SubmitterBox()->isEnabled());
    EXPECT_FALSE(AllForms().editform->SubmitDateEdit()->isEnabled());
    EXPECT_EQ(AllForms().editform->OwnerBox()->Items(), (QStringList{"Admin", "dora"}));
}

TEST_F(LoginTest, PasswordFieldFollowsTheChosenUser) {
    AddUsers({{"Admin", "", "", true}, {"erin", "PW", "Managers", false}});
    bool shownForAdmin = true, shownForErin = false;
    Start([&](Tgetuserform2& login) {
        shownForAdmin = login.PasswordEdit()->isVisibleTo(&login);
        QTest::keyClick(login.UserBox(), Qt::Key_Down);
        shownForErin = login.PasswordEdit()->isVisibleTo(&login);
        QTest::keyClick(login.UserBox(), Qt::Key_Up);
        // Whatever the hidden field holds, a user without password logs in.
        login.PasswordEdit()->setText("anything");
        QTest::mouseClick(login.LoginOkButton(), Qt::LeftButton);
    });
    EXPECT_FALSE(shownForAdmin);
    EXPECT_TRUE(shownForErin);
    EXPECT_EQ(UserContext().UserName, "Admin");
    EXPECT_TRUE(UserContext().Admin);
}

TEST_F(LoginTest, UserWithoutGroupEndsTheProgram) {
    AddUsers({{"Admin", "", "", true}, {"frank", "", "Nobodies", false}});
    StartAs("frank", "", 1);
    EXPECT_EQ(m_Dialogs.Messages(),
              QStringList{"You have not been assigned to a group. Contact the program admin."});
    EXPECT_TRUE(Main().Ended());
    EXPECT_FALSE(Main().isVisible());
}

TEST_F(LoginTest, AdministratorWithoutGroupStarts) {
    AddUsers({{"Admin", "", "", true}});
    StartAs("Admin");
    EXPECT_TRUE(m_Dialogs.Messages().isEmpty());
    EXPECT_FALSE(Main().Ended());
    EXPECT_EQ(CurrentRights(), TRights{});
}

TEST_F(LoginTest, MissingUsersTableEndsTheProgram) {
    ASSERT_TRUE(QFile::remove(Folder() + "sys1.dat"));
    m_Dialogs.Answer();
    m_Forms = CreateForms();
    Main().show();
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(m_Dialogs.Messages(),
              QStringList{"Bad or missing file: sys1.dat.   Reinstall the program."});
    EXPECT_TRUE(Main().Ended());
}

}  // namespace
}  // namespace veltra
