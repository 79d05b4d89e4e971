// Start-up: the command line, finding the team folder (command line, the
// remembered folder, the system default, the user's choice) and what the
// user is told about a folder whose locks cannot be trusted; and a team folder
// made by veltra-log-setup-folder from the installed files, used from the
// first login to a new log.
#include "app/startup.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/mainform.h"
#include "app/program_folder.h"
#include "engine/veltra_table.h"
#include "platform/profile/profile.h"
#include "tests/app/app_fixture.h"
#include "users/getuserform2.h"

namespace veltra {
namespace {

TEST(StartOptionsTest, CommandLines) {
    struct TCase {
        QStringList Args;
        std::optional<QString> Folder;
        bool Help, Version;
        QString Error;
    } cases[] = {
        {{}, std::nullopt, false, false, ""},
        {{"--folder", "/srv/team"}, "/srv/team", false, false, ""},
        {{"--folder=/srv/my team"}, "/srv/my team", false, false, ""},
        {{"--folder", "a", "--folder", "b"}, "b", false, false, ""},
        {{"--folder"}, std::nullopt, false, false, "--folder needs a folder"},
        {{"--folder="}, std::nullopt, false, false, "--folder needs a folder"},
        {{"-h"}, std::nullopt, true, false, ""},
        {{"--help"}, std::nullopt, true, false, ""},
        {{"--version"}, std::nullopt, false, true, ""},
        {{"--bogus"}, std::nullopt, false, false, "unknown option --bogus"},
        {{"/srv/team"}, std::nullopt, false, false, "unexpected argument /srv/team"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Args.join(' ').toStdString());
        const TStartOptions o = ParseStartOptions(c.Args);
        EXPECT_EQ(o.Error, c.Error);
        if (!c.Error.isEmpty()) continue;
        EXPECT_EQ(o.Folder, c.Folder);
        EXPECT_EQ(o.Help, c.Help);
        EXPECT_EQ(o.Version, c.Version);
    }
}

class StartupTest : public TAppTest {
  protected:
    void SetUp() override {
        TAppTest::SetUp();
        m_System = Folder() + "sysconfig";
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_System));
    }
    void TearDown() override {
        qunsetenv("XDG_CONFIG_DIRS");
        TAppTest::TearDown();
    }
    // The team folder without its trailing "/", as FindTeamFolder gives it.
    QString Team() const { return QDir::cleanPath(Folder()); }
    QString UserSetting() {
        return QString::fromStdString(
            GetPrivateProfileString("Program", "Folder", "",
                                    (Folder() + "config/veltra-log/veltra-log.ini").toStdString()));
    }
    void SetSystemDefault(const QString& folder) {
        ASSERT_TRUE(QDir().mkpath(m_System + "/veltra-log"));
        ASSERT_TRUE(
            WritePrivateProfileString("Program", "Folder", folder.toStdString(),
                                      (m_System + "/veltra-log/veltra-log.ini").toStdString()));
    }
    QString NotTeam() {
        const QString folder = Folder() + "empty";
        QDir().mkpath(folder);
        return folder;
    }
    QString m_System;
};

TEST_F(StartupTest, TheFolderOnTheCommandLineIsUsedAndRemembered) {
    EXPECT_EQ(FindTeamFolder(ParseStartOptions({"--folder", Folder()})), Team());
    EXPECT_TRUE(m_Dialogs.Requests().empty());
    EXPECT_EQ(UserSetting(), Team());
    // Remembered, it is found without the option.
    EXPECT_EQ(FindTeamFolder(TStartOptions{}), Team());
    EXPECT_TRUE(m_Dialogs.Requests().empty());
}

TEST_F(StartupTest, AFolderThatIsNoTeamFolderIsRefusedWithAWordOnHowToMakeOne) {
    const QString empty = NotTeam();
    EXPECT_EQ(FindTeamFolder(ParseStartOptions({"--folder", empty})), std::nullopt);
    ASSERT_EQ(m_Dialogs.Requests().size(), 1u);
    EXPECT_EQ(m_Dialogs.Requests()[0].Kind, TMessageKind::Error);
    EXPECT_EQ(
        m_Dialogs.Messages(),
        QStringList{empty + " is not a Veltra Log team folder: it holds no users, groups or "
                            "template tables (sys1.dat, sys2.dat, datamast.dat).\n\nA new team "
                            "folder is made with the command veltra-log-setup-folder FOLDER."});
    EXPECT_EQ(UserSetting(), "");
    // A folder with the users table alone is no team folder either.
    QFile::copy(Folder() + "sys1.dat", empty + "/sys1.dat");
    EXPECT_FALSE(IsTeamFolder(empty));
    EXPECT_TRUE(IsTeamFolder(Folder()));
    m_Dialogs.ClearRecord();
    m_Dialogs.Answer();
    EXPECT_EQ(FindTeamFolder(ParseStartOptions({"--folder", empty})), std::nullopt);
}

TEST_F(StartupTest, TheSystemDefaultServesUsersWithoutASettingOfTheirOwn) {
    SetSystemDefault(Team());
    EXPECT_EQ(FindTeamFolder(TStartOptions{}), Team());
    EXPECT_TRUE(m_Dialogs.Requests().empty());
    EXPECT_EQ(UserSetting(), "") << "the system default is not copied to the user";
    // The user's own setting comes first.
    const QString other = Folder() + "other";
    QDir().mkpath(other);
    for (const char* f : {"sys1.dat", "sys2.dat", "datamast.dat"})
        QFile::copy(Folder() + f, other + "/" + f);
    ASSERT_TRUE(RememberFolder(other));
    EXPECT_EQ(FindTeamFolder(TStartOptions{}), other);
}

TEST_F(StartupTest, AGoneFolderIsExplainedAndTheUserChoosesAnother) {
    const QString gone = Folder() + "unmounted/share";
    ASSERT_TRUE(RememberFolder(gone));
    const QString empty = NotTeam();
    m_Dialogs.Answer().AnswerFolder(empty).Answer().AnswerFolder(Folder());
    EXPECT_EQ(FindTeamFolder(TStartOptions{}), Team());
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty())
        << m_Dialogs.Unexpected().join("\n").toStdString();
    ASSERT_EQ(m_Dialogs.Requests().size(), 4u);
    EXPECT_EQ(m_Dialogs.Requests()[0].Kind, TMessageKind::Warning);
    EXPECT_TRUE(
        m_Dialogs.Requests()[0].Text.startsWith("The team folder " + gone + " cannot be found"));
    EXPECT_EQ(m_Dialogs.Requests()[1].Caption, "Choose the Veltra Log team folder");
    EXPECT_EQ(m_Dialogs.Requests()[1].Default, QDir::homePath());
    EXPECT_TRUE(
        m_Dialogs.Requests()[2].Text.startsWith(empty + " is not a Veltra Log team folder"));
    // The next choice starts where the last one was refused.
    EXPECT_EQ(m_Dialogs.Requests()[3].Default, empty);
    EXPECT_EQ(UserSetting(), Team());
}

TEST_F(StartupTest, WithNoFolderKnownCancellingTheChoiceEndsTheStart) {
    m_Dialogs.AnswerFolder(std::nullopt);
    EXPECT_EQ(FindTeamFolder(TStartOptions{}), std::nullopt);
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{});
    EXPECT_EQ(m_Dialogs.Pending(), 0u);
    EXPECT_EQ(UserSetting(), "");
}

TEST_F(StartupTest, WhatTheUserIsToldAboutTheFolderLocks) {
    struct TCase {
        const char* Label;
        TFolderLockCheck Check;
        std::optional<TMessageAnswer> Answer;
        bool Starts;
        QString Message;  // its beginning
    } cases[] = {
        {"locks work", {TFolderLocks::Shared, "ext4", ""}, std::nullopt, true, ""},
        {"cannot write",
         {TFolderLocks::NotWritable, "nfs4", "cannot create a file in it (Permission denied)"},
         TMessageAnswer::Ok,
         false,
         "Veltra Log cannot write in the team folder /t: cannot create a file in it (Permission "
         "denied)."},
        {"no locks",
         {TFolderLocks::Missing, "nfs", "a byte-range lock was refused (No locks available)"},
         TMessageAnswer::Ok,
         false,
         "Veltra Log cannot lock files in the team folder /t: a byte-range lock was refused (No "
         "locks available)."},
        {"local locks, start",
         {TFolderLocks::LocalOnly, "nfs4", "mounted with nolock"},
         TMessageAnswer::Yes,
         true,
         "The team folder /t is on a nfs4 share (mounted with nolock), so its file locks stay on "
         "this machine."},
        {"local locks, stop",
         {TFolderLocks::LocalOnly, "cifs", "mounted with nobrl"},
         TMessageAnswer::No,
         false,
         "The team folder /t is on a cifs share (mounted with nobrl)"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Label);
        m_Dialogs.ClearRecord();
        if (c.Answer) m_Dialogs.Answer(*c.Answer);
        EXPECT_EQ(ConfirmFolderLocks("/t", c.Check, nullptr), c.Starts);
        const QStringList messages = m_Dialogs.Messages();
        if (c.Message.isEmpty()) {
            EXPECT_TRUE(messages.isEmpty());
            continue;
        }
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].startsWith(c.Message)) << messages[0].toStdString();
    }
    // The real check of the test's own folder finds working locks.
    m_Dialogs.ClearRecord();
    EXPECT_TRUE(CheckTeamFolder(Folder()));
    EXPECT_TRUE(m_Dialogs.Requests().empty());
}

// The package's files installed under a scratch prefix, a team folder laid
// out by the installed veltra-log-setup-folder on a "share", and the program
// pointed at it: the first user logs in and creates a log there.
TEST_F(StartupTest, ATeamFolderMadeByTheSetupCommandServesTheFirstUserAndANewLog) {
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString prefix = scratch.path() + "/usr";
    QProcess install;
    install.start(CMAKE_COMMAND, {"--install", VELTRA_BINARY_DIR, "--prefix", prefix});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();

    const QString team = scratch.path() + "/shared drive/veltra";
    QProcess setup;
    setup.start(prefix + "/bin/veltra-log-setup-folder", {team});
    ASSERT_TRUE(setup.waitForFinished(30000));
    ASSERT_EQ(setup.exitCode(), 0) << setup.readAllStandardError().toStdString();
    EXPECT_TRUE(QString::fromUtf8(setup.readAllStandardOutput())
                    .contains("veltra-log --folder '" + team + "'"));
    QFile desktop(team + "/veltra-log.desktop");
    ASSERT_TRUE(desktop.open(QIODevice::ReadOnly));
    EXPECT_TRUE(
        desktop.readAll().contains("\nExec=veltra-log --folder \"" + team.toUtf8() + "\"\n"));

    // The program started as "veltra-log --folder TEAM".
    ResetProgramFolder();
    const std::optional<QString> folder = FindTeamFolder(ParseStartOptions({"--folder", team}));
    ASSERT_EQ(folder, team);
    ASSERT_TRUE(CheckTeamFolder(*folder));
    SetProgramFolder(*folder);
    Start(
        [](Tgetuserform2& login) {
            ASSERT_TRUE(login.FirstUserPanelShown());
            QTest::keyClicks(login.NewPasswordEdit(), "secret");
            QTest::keyClicks(login.NewPasswordAgainEdit(), "secret");
            QTest::mouseClick(login.FirstUserOkButton(), Qt::LeftButton);
        },
        1);
    EXPECT_EQ(m_Dialogs.Messages(),
              QStringList{"You have entered a password.  Please take a moment "
                          "to record it and put it in a safe place."});
    ASSERT_FALSE(Main().Ended());
    EXPECT_TRUE(Main().adminmenu()->menuAction()->isVisible());

    m_Dialogs.AnswerPrompt("Team log").Answer(TMessageAnswer::No);
    Main().MenuItem(Main().filemenu(), "Create New Log")->trigger();
    EXPECT_EQ(QDir(team + "/data").entryList(QDir::Files),
              (QStringList{"Teamlog.blb", "Teamlog.dat", "Teamlog.idx", "Teamlog.txt"}));
    OpenFromList("Teamlog.dat");
    ASSERT_TRUE(Main().table1().Active());
    EXPECT_EQ(Main().table1().RecordCount(), 0);

    // The administrator landed in the team folder's users table, and only
    // there.
    TVeltraTable users;
    users.SetTableName((team + "/sys1.dat").toStdString());
    users.Open();
    ASSERT_EQ(users.RecordCount(), 1);
    users.First();
    EXPECT_EQ(users.FieldByName("username").AsString(), "Admin");
    EXPECT_TRUE(users.FieldByName("admin").AsBoolean());
    users.Close();
    EXPECT_TRUE(UserRows().isEmpty());
    EXPECT_EQ(UserSetting(), team);
}

}  // namespace
}  // namespace veltra
