// The main window after the login: the two visible states, the status bar
// and hint line, the File-menu rule and the administrator's commands, the
// password check, Help and the about box, and closing.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTextBrowser>

#include "app/aboutforms.h"
#include "app/mainform.h"
#include "app/web_page.h"
#include "engine/veltra_table.h"
#include "platform/qt/app/hints.h"
#include "platform/qt/controls/db_grid.h"
#include "platform/qt/controls/db_navigator.h"
#include "platform/qt/help/help_viewer.h"
#include "tests/app/app_fixture.h"
#include "users/user_context.h"

namespace veltra {
namespace {

class MainformTest : public TAppTest {
protected:
    void StartUser(const QString& name, const QString& password = "") {
        AddUsers({{"Boss", "", "", true},
                  {"dora", "SECRET", "Managers", false},
                  {"ed", "", "Viewers", false}});
        StartAs(name, password);
        ASSERT_FALSE(Main().Ended());
        m_Dialogs.ClearRecord();
    }
    QAction* Item(QMenu* menu, const QString& caption) {
        QAction* action = Main().MenuItem(menu, caption);
        EXPECT_NE(action, nullptr) << caption.toStdString();
        return action;
    }
    // Opens a menu as a person does and closes it again.
    void OpenMenu(QMenu* menu) {
        menu->popup(Main().mapToGlobal(QPoint(0, 0)));
        QApplication::processEvents();
        menu->hide();
    }
};

TEST_F(MainformTest, NoLogOpenThenALogOpenThenClosed) {
    MakeLog("work", {{"first", "dora", ""}, {"second", "ed", "dora"}, {"third", "dora", ""}});
    StartUser("dora", "secret");
    EXPECT_EQ(Main().windowTitle(), "Veltra Log");
    EXPECT_FALSE(Main().toppanel()->isVisible());
    EXPECT_FALSE(Main().rightpanel()->isVisible());
    EXPECT_FALSE(Main().StatusBar1()->isVisible());
    EXPECT_TRUE(Main().hintline()->isVisible());
    EXPECT_FALSE(Main().columnsmenu()->isEnabled());
    EXPECT_FALSE(Item(Main().filemenu(), "Edit Categories")->isEnabled());
    EXPECT_EQ(Main().StatusPanel(0), "User: dora");
    EXPECT_EQ(Main().StatusPanel(1), "DB: [none open]");
    EXPECT_EQ(Main().StatusPanel(2), "");
    EXPECT_EQ(Main().HistoryFields(),
              (QStringList{"Title", "Submitter", "Submit date", "State", "Priority", "Close date",
                           "Category", "Owner", "Description"}));

    OpenFromList("work.dat");
    ASSERT_TRUE(Main().table1().Active());
    EXPECT_TRUE(Main().toppanel()->isVisible());
    EXPECT_TRUE(Main().rightpanel()->isVisible());
    EXPECT_TRUE(Main().StatusBar1()->isVisible());
    EXPECT_FALSE(Main().closequerybtn()->isVisible());
    EXPECT_TRUE(Item(Main().filemenu(), "Edit Categories")->isEnabled());
    EXPECT_EQ(Main().StatusPanel(1), "DB: " + Data() + "work.dat");
    EXPECT_EQ(Main().StatusPanel(2), "Record Count: 3");
    EXPECT_EQ(Main().StatusPanel(3), "Current Record: 1");
    EXPECT_EQ(Main().ComboBox1()->currentText(), "ID");
    EXPECT_EQ(Main().DBGrid1()->model()->rowCount(), 3);
    QTest::mouseClick(Main().navigator1()->Button(TNavigateButton::Last), Qt::LeftButton);
    EXPECT_EQ(Main().StatusPanel(3), "Current Record: 3");

    Item(Main().filemenu(), "Close Current")->trigger();
    EXPECT_FALSE(Main().table1().Active());
    EXPECT_FALSE(Main().rightpanel()->isVisible());
    EXPECT_FALSE(Main().StatusBar1()->isVisible());
    EXPECT_EQ(Main().StatusPanel(1), "DB: [none open]");
    EXPECT_EQ(Main().StatusPanel(3), "");
}

TEST_F(MainformTest, DamagedLogShowsTheEngineErrorAndLeavesNoLogOpen) {
    MakeLog("broken", {});
    ASSERT_TRUE(QFile::remove(Data() + "broken.idx"));
    StartUser("dora", "secret");
    m_Dialogs.Answer();
    OpenFromList("broken.dat");
    ASSERT_EQ(m_Dialogs.Messages().size(), 1);
    EXPECT_TRUE(m_Dialogs.Messages().first().startsWith("Veltra Engine Error # "))
        << m_Dialogs.Messages().first().toStdString();
    EXPECT_FALSE(Main().table1().Active());
    EXPECT_FALSE(Main().rightpanel()->isVisible());
}

TEST_F(MainformTest, FileMenuRuleForUsersWhoAreNotTheAdministrator) {
    struct TCase {
        QString User, Password;
        bool Admin;
    };
    for (const TCase& c : {TCase{"ed", "", false}, TCase{"Boss", "", true}}) {
        SCOPED_TRACE(c.User.toStdString());
        TearDown();
        SetUp();
        StartUser(c.User, c.Password);
        OpenMenu(Main().filemenu());
        QStringList shown;
        int separators = 0;
        for (QAction* a : Main().filemenu()->actions()) {
            if (!a->isVisible()) continue;
            if (a->isSeparator()) ++separators;
            else shown << a->text();
        }
        if (c.Admin) {
            EXPECT_EQ(shown, (QStringList{"Create New Log", "Delete Log", "Edit Categories",
                                          "Export View...", "Close Current", "Exit"}));
            EXPECT_EQ(separators, 2);
        } else {
            // Exporting what one may see is for everybody.
            EXPECT_EQ(shown, (QStringList{"Export View...", "Close Current", "Exit"}));
            EXPECT_EQ(separators, 0);
        }
        EXPECT_EQ(Main().adminmenu()->menuAction()->isVisible(), c.Admin);
    }
}

TEST_F(MainformTest, AddAndDeleteUsersAreRefusedToOthers) {
    StartUser("ed");
    m_Dialogs.Answer().Answer();
    Item(Main().adminmenu(), "Add Users")->trigger();
    Item(Main().adminmenu(), "Delete Users")->trigger();
    EXPECT_EQ(m_Dialogs.Messages(),
              (QStringList{"Only Boss can add new users.", "Only Boss can delete users."}));
    for (const TDialogRequest& r : m_Dialogs.Requests()) {
        EXPECT_EQ(r.Kind, TMessageKind::Information);
    }
}

TEST_F(MainformTest, AdministratorGetsTheUserDialogs) {
    StartUser("Boss");
    QStringList captions;
    auto record = [&](QDialog& d) {
        captions << d.windowTitle();
        d.reject();
    };
    m_Dialogs.Drive(record).Drive(record).Drive(record).Drive(record);
    Item(Main().adminmenu(), "Add Users")->trigger();
    Item(Main().adminmenu(), "Delete Users")->trigger();
    Item(Main().adminmenu(), "User Access Groups")->trigger();
    Item(Main().adminmenu(), "Assign/Change User Access Level")->trigger();
    EXPECT_EQ(captions, (QStringList{"Add Users", "Delete Log Users", "Access Levels",
                                     "User Access Level"}));
}

struct TPasswordCase {
    const char* Label;
    QString User, LoginPassword;
    std::optional<QString> Typed;  // nullopt: the prompt is cancelled
    bool Prompted;
    QStringList Messages;
    bool DialogShown;
};

TEST_F(MainformTest, PasswordChangeChecksTheCurrentPassword) {
    const std::vector<TPasswordCase> cases = {
        {"no password: the dialog at once", "ed", "", std::nullopt, false, {}, true},
        {"wrong password", "dora", "secret", QString("secrets"), true, {"Incorrect password."}, false},
        {"right password, other case and blanks", "dora", "secret", QString("  Secret "), true, {},
         true},
        {"cancelled", "dora", "secret", std::nullopt, true, {}, false},
    };
    for (const TPasswordCase& c : cases) {
        SCOPED_TRACE(c.Label);
        TearDown();
        SetUp();
        StartUser(c.User, c.LoginPassword);
        m_Dialogs.ClearRecord();
        if (c.Prompted) m_Dialogs.AnswerPrompt(c.Typed);
        for (int i = 0; i < c.Messages.size(); ++i) m_Dialogs.Answer();
        bool shown = false;
        QStringList messages = c.Messages;
        if (c.DialogShown) {
            // Cancelled, the dialog says so.
            m_Dialogs.Drive([&](QDialog& d) {
                shown = d.windowTitle() == "Password Change";
                d.reject();
            }).Answer();
            messages << "Password has NOT been changed.";
        }
        Item(Main().usermenu(), "Set/Change Password")->trigger();
        EXPECT_EQ(m_Dialogs.Messages(), messages);
        EXPECT_EQ(shown, c.DialogShown);
        if (c.Prompted) {
            const TDialogRequest& prompt = m_Dialogs.Requests().front();
            EXPECT_EQ(prompt.Caption, "Password");
            EXPECT_EQ(prompt.Text, "Enter CURRENT password.");
            EXPECT_TRUE(prompt.Masked);
        }
        EXPECT_EQ(m_Dialogs.Pending(), 0u);
    }
}

TEST_F(MainformTest, WebPageOpensOnlyAfterYes) {
    StartUser("ed");
    QList<QUrl> opened;
    auto previous = SetUrlOpener([&](const QUrl& url) {
        opened << url;
        return true;
    });
    m_Dialogs.Answer(TMessageAnswer::No).Answer(TMessageAnswer::Yes);
    Item(Main().helpmenu(), "Veltra Log Home on the Web")->trigger();
    EXPECT_TRUE(opened.isEmpty());
    Item(Main().helpmenu(), "Veltra Log Home on the Web")->trigger();
    EXPECT_EQ(opened, QList<QUrl>{QUrl(kWebPageAddress)});
    EXPECT_EQ(m_Dialogs.Messages().first(),
              "Visiting our web site requires an internet connection.\r\nAre you connected to "
              "the internet now?");
    EXPECT_EQ(m_Dialogs.Requests().front().Buttons, TMessageButtons::YesNo);

    // The about box's address asks the same and opens the same page.
    opened.clear();
    m_Dialogs.ClearRecord();
    bool picture = false;
    QStringList lines;
    m_Dialogs
        .Drive([&](QDialog& d) {
            auto& about = static_cast<Taboutforms&>(d);
            picture = about.HasPicture();
            for (QLabel* label : about.findChildren<QLabel*>()) lines << label->text();
            QTest::mouseClick(about.AddressLabel(), Qt::LeftButton);
            QTest::mouseClick(about.OkButton(), Qt::LeftButton);
        })
        .Answer(TMessageAnswer::Yes);
    Item(Main().helpmenu(), "About")->trigger();
    EXPECT_TRUE(picture);
    for (const char* line : {"Corvane Software", "Veltra Log", "Version 1.1"}) {
        EXPECT_TRUE(lines.contains(line)) << line;
    }
    EXPECT_EQ(opened, QList<QUrl>{QUrl(kWebPageAddress)});
    EXPECT_EQ(m_Dialogs.Requests().front().Caption, "About");
    SetUrlOpener(previous);
}

TEST_F(MainformTest, SupportAndHelpContents) {
    StartUser("ed");
    m_Dialogs.Answer();
    Item(Main().helpmenu(), "Support")->trigger();
    ASSERT_EQ(m_Dialogs.Messages().size(), 1);
    EXPECT_TRUE(m_Dialogs.Messages().first().contains(kSupportAddress));
    EXPECT_EQ(m_Dialogs.Requests().front().Kind, TMessageKind::Information);

    QAction* contents = Item(Main().helpmenu(), "Contents");
    EXPECT_EQ(contents->shortcut(), QKeySequence(Qt::Key_F1));
    contents->trigger();
    ASSERT_NE(HelpBrowser(), nullptr);
    EXPECT_TRUE(HelpBrowser()->toPlainText().contains("Contents"));
    EXPECT_TRUE(HelpBrowser()->toPlainText().contains("Logging in"));
    EXPECT_EQ(HelpFile(), Folder() + "veltrahelp.hlp");
    HelpBrowser()->window()->close();
}

TEST_F(MainformTest, HintLineShowsTheCurrentHint) {
    StartUser("ed");
    EXPECT_EQ(Main().hintline()->text(), "Veltra Log");
    SetCurrentHint("Double click on the desired log to open");
    EXPECT_EQ(Main().hintline()->text(), "Double click on the desired log to open");
    EXPECT_EQ(Hint(Main().FileListBox1()), "Double click on the desired log to open");
    EXPECT_EQ(Hint(&Main()), "Veltra Log hint area");
    EXPECT_EQ(Hint(Main().searchbtn()), "Perform a text search on title and description ");
}

TEST_F(MainformTest, PrintingOptionsAndTextPane) {
    StartUser("ed");
    EXPECT_TRUE(Main().previewitem()->isChecked());
    EXPECT_TRUE(Main().historyitem()->isChecked());
    EXPECT_EQ(Main().TextPaneField(), "All");
    Main().historyitem()->trigger();
    EXPECT_FALSE(Main().historyitem()->isChecked());
    EXPECT_EQ(Main().TextPaneField(), "Description");
}

TEST_F(MainformTest, ClosingPostsATicketStillBeingEdited) {
    MakeLog("work", {{"first", "dora", ""}});
    StartUser("dora", "secret");
    OpenFromList("work.dat");
    ASSERT_TRUE(Main().table1().Active());
    Main().table1().Edit();
    Main().table1().FieldByName("Title").SetAsString("changed before closing");
    Item(Main().filemenu(), "Exit")->trigger();
    EXPECT_FALSE(Main().isVisible());
    TVeltraTable table;
    table.SetTableName((Data() + "work.dat").toStdString());
    table.Open();
    EXPECT_EQ(table.FieldByName("Title").AsString(), "changed before closing");
}

}  // namespace
}  // namespace veltra
