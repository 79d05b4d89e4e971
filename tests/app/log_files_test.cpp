// Creating a log from the File menu as the administrator: the name rule, the
// files made from the template, the refusals that create nothing, and the
// log list.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMenu>

#include "app/dialogs/editcategoryform.h"
#include "app/log_files.h"
#include "app/mainform.h"
#include "engine/veltra_table.h"
#include "tests/app/app_fixture.h"

namespace veltra {
namespace {

class LogFilesTest : public TAppTest {
protected:
    void StartAdmin() {
        AddUsers({{"Admin", "", "", true}});
        StartAs("Admin");
        ASSERT_FALSE(Main().Ended());
        m_Dialogs.ClearRecord();
    }
    void CreateNewLog() { Main().MenuItem(Main().filemenu(), "Create New Log")->trigger(); }
    QStringList DataFiles() const {
        QStringList files = QDir(Data()).entryList(QDir::Files, QDir::Name);
        return files;
    }
    QStringList Listed() const {
        QStringList names;
        for (int i = 0; i < Main().FileListBox1()->count(); ++i) {
            names << Main().FileListBox1()->item(i)->text();
        }
        return names;
    }
    Tmainform& Main() const { return *m_Forms->mainform; }
};

struct TNameCase {
    const char* Typed;
    QString Log;  // empty: refused
};

TEST_F(LogFilesTest, NameRule) {
    const std::vector<TNameCase> cases = {
        {"my log #2", "mylog2"}, {"Log", "Log"}, {"  a.b-c_9  ", "abc9"},
        {"ünïcode", "ncode"},    {"!!! ...", ""}, {"   ", ""},
        {"", ""},
    };
    for (const TNameCase& c : cases) {
        EXPECT_EQ(LogNameFromTyped(QString::fromUtf8(c.Typed)), c.Log) << c.Typed;
    }
}

TEST_F(LogFilesTest, CreateNewLogMakesTheFilesAndListsIt) {
    StartAdmin();
    m_Dialogs.AnswerPrompt("my log #2").Answer(TMessageAnswer::No);
    CreateNewLog();
    EXPECT_EQ(m_Dialogs.Messages(),
              QStringList{"New log created.  Would you like to edit the category list now?"});
    ASSERT_EQ(m_Dialogs.Requests().front().Caption, "Create New Log");
    EXPECT_EQ(m_Dialogs.Requests().front().Text, "Enter a name for your new log.");
    EXPECT_EQ(DataFiles(), (QStringList{"mylog2.blb", "mylog2.dat", "mylog2.idx", "mylog2.txt"}));
    for (const char* ext : {".dat", ".idx", ".blb"}) {
        EXPECT_EQ(ReadFile(QString("data/mylog2") + ext), ReadFile(QString("datamast") + ext));
    }
    EXPECT_EQ(ReadFile("data/mylog2.txt"), QByteArray());
    EXPECT_EQ(Listed(), QStringList{"mylog2.dat"});
    // The new log is not opened; opened, it is an empty log.
    EXPECT_FALSE(Main().table1().Active());
    OpenFromList("mylog2.dat");
    ASSERT_TRUE(Main().table1().Active());
    EXPECT_EQ(Main().table1().RecordCount(), 0);
}

TEST_F(LogFilesTest, YesOpensTheCategoryEditorOnTheNewList) {
    StartAdmin();
    QString caption, file;
    m_Dialogs.AnswerPrompt("Tasks").Answer(TMessageAnswer::Yes).Drive([&](QDialog& d) {
        caption = d.windowTitle();
        file = static_cast<Teditcategoryform&>(d).File();
        d.reject();
    });
    CreateNewLog();
    EXPECT_EQ(caption, "Edit Categories");
    EXPECT_EQ(file, Data() + "Tasks.txt");
    EXPECT_EQ(Listed(), QStringList{"Tasks.dat"});
}

TEST_F(LogFilesTest, RefusedNamesCreateNothing) {
    StartAdmin();
    for (const char* typed : {"#!?", "   ", ""}) {
        SCOPED_TRACE(typed);
        m_Dialogs.ClearRecord();
        m_Dialogs.AnswerPrompt(QString(typed)).Answer();
        CreateNewLog();
        EXPECT_EQ(m_Dialogs.Messages(),
                  QStringList{"Could not create that file.  Use only letters and numbers."});
        EXPECT_EQ(m_Dialogs.Requests().back().Kind, TMessageKind::Information);
        EXPECT_TRUE(DataFiles().isEmpty());
    }
    // Cancel asks nothing more.
    m_Dialogs.ClearRecord();
    m_Dialogs.AnswerPrompt(std::nullopt);
    CreateNewLog();
    EXPECT_TRUE(m_Dialogs.Messages().isEmpty());
    EXPECT_TRUE(DataFiles().isEmpty());
}

TEST_F(LogFilesTest, ExistingLogIsNeverOverwritten) {
    MakeLog("mylog2", {{"keep me", "Admin", ""}});
    WriteFile("data/mylog2.txt", "Hardware\r\n");
    StartAdmin();
    const QByteArray dat = ReadFile("data/mylog2.dat");
    for (const char* typed : {"my log 2", "MYLOG2"}) {
        SCOPED_TRACE(typed);
        m_Dialogs.ClearRecord();
        m_Dialogs.AnswerPrompt(QString(typed)).Answer();
        CreateNewLog();
        ASSERT_EQ(m_Dialogs.Messages().size(), 1);
        EXPECT_TRUE(m_Dialogs.Messages().first().contains("mylog2")) << m_Dialogs.Messages().first().toStdString();
        EXPECT_EQ(m_Dialogs.Requests().back().Kind, TMessageKind::Error);
        EXPECT_EQ(DataFiles(), (QStringList{"mylog2.blb", "mylog2.dat", "mylog2.idx", "mylog2.txt"}));
        EXPECT_EQ(ReadFile("data/mylog2.dat"), dat);
        EXPECT_EQ(ReadFile("data/mylog2.txt"), "Hardware\r\n");
    }
    // A log whose only remaining file is its category list is refused too.
    ASSERT_TRUE(QFile::remove(Data() + "mylog2.dat"));
    m_Dialogs.ClearRecord();
    m_Dialogs.AnswerPrompt("mylog2").Answer();
    CreateNewLog();
    EXPECT_EQ(ReadFile("data/mylog2.txt"), "Hardware\r\n");
    EXPECT_EQ(ReadFile("data/mylog2.dat"), "<missing>");
}

struct TMissingCase {
    const char* Remove;   // file or folder of the program folder to take away
    const char* Named;    // what the message must name
};

TEST_F(LogFilesTest, MissingTemplateOrDataFolderIsNamedAndNothingIsHalfMade) {
    const std::vector<TMissingCase> cases = {
        {"datamast.dat", "datamast.dat"},
        {"datamast.idx", "datamast.idx"},
        {"datamast.blb", "datamast.blb"},
        {"data", "data"},
    };
    for (const TMissingCase& c : cases) {
        SCOPED_TRACE(c.Remove);
        TearDown();
        SetUp();
        StartAdmin();
        if (QString(c.Remove) == "data") {
            ASSERT_TRUE(QDir(Data()).removeRecursively());
        } else {
            ASSERT_TRUE(QFile::remove(Folder() + c.Remove));
        }
        m_Dialogs.AnswerPrompt("Fresh").Answer();
        CreateNewLog();
        ASSERT_EQ(m_Dialogs.Messages().size(), 1);
        EXPECT_TRUE(m_Dialogs.Messages().first().contains(c.Named));
        EXPECT_TRUE(DataFiles().isEmpty());
        EXPECT_FALSE(QFile::exists(Folder() + "Fresh.dat"));
    }
}

TEST_F(LogFilesTest, LogListShowsDatFilesOfTheDataFolder) {
    MakeLog("beta", {});
    MakeLog("Alpha", {});
    WriteFile("data/notes.txt", "x");
    WriteFile("data/query.qry", "x");
    StartAdmin();
    EXPECT_EQ(Listed(), (QStringList{"Alpha.dat", "beta.dat"}));
    // A file put there by hand shows at the next re-read.
    MakeLog("gamma", {});
    EXPECT_EQ(Listed(), (QStringList{"Alpha.dat", "beta.dat"}));
    Main().RefreshLogList();
    EXPECT_EQ(Listed(), (QStringList{"Alpha.dat", "beta.dat", "gamma.dat"}));
}

}  // namespace
}  // namespace veltra
