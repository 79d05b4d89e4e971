// The log deletion dialog: double clicks with and without confirmation, a
// missing BLOB file, the category list left behind, and a log another
// process has open.
#include "app/dialogs/delfileform.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "platform/qt/dialogs/scripted_dialogs.h"
#include "tests/appdialogs/test_log.h"
#include "tests/child_process.h"

namespace veltra {
namespace {

using veltra_test::TTestLog;

void DoubleClick(QListWidget* list, const QString& name) {
    const auto found = list->findItems(name, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << name.toStdString();
    const QRect r = list->visualItemRect(found[0]);
    // The first click selects, the double click opens, as a mouse does.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
}

QStringList Listed(QListWidget* list) {
    QStringList names;
    for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
    return names;
}

struct TDeleteCase {
    const char* Name;
    bool Confirm;
    TMessageAnswer Answer;  // to "Delete log.dat?" when asked
    bool BlobPresent;
    bool Deleted;
};

TEST(DelFileForm, DeletesTheTableFilesAndKeepsTheCategoryList) {
    const TDeleteCase cases[] = {
        {"confirmed", true, TMessageAnswer::Yes, true, true},
        {"refused", true, TMessageAnswer::No, true, false},
        {"without confirmation", false, TMessageAnswer::Ok, true, true},
        {"missing .blb", false, TMessageAnswer::Ok, false, true},
    };
    for (const TDeleteCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTestLog log;
        TTestLog other("other");
        QFile::copy(other.File(".dat"), log.DataFolder() + "/other.dat");
        QFile category(log.File(".txt"));
        ASSERT_TRUE(category.open(QIODevice::WriteOnly));
        category.close();
        if (!c.BlobPresent) QFile::remove(log.File(".blb"));

        Tdelfileform form(log.ProgramFolder());
        EXPECT_TRUE(form.ConfirmBox()->isChecked());
        TScriptedDialogs dialogs;
        dialogs.Drive([&](QDialog&) {
            EXPECT_EQ(Listed(form.FileList()), (QStringList{"log.dat", "other.dat"}));
            QTest::mouseClick(form.ConfirmBox(), Qt::LeftButton);  // unchecks it
            if (c.Confirm) QTest::mouseClick(form.ConfirmBox(), Qt::LeftButton);
            DoubleClick(form.FileList(), "log.dat");
            EXPECT_EQ(Listed(form.FileList()),
                      c.Deleted ? QStringList{"other.dat"} : (QStringList{"log.dat", "other.dat"}));
            QTest::mouseClick(form.CloseButton(), Qt::LeftButton);
        });
        if (c.Confirm) dialogs.Answer(c.Answer);
        Dialogs().Exec(form);
        EXPECT_EQ(dialogs.Messages(), c.Confirm ? QStringList{"Delete log.dat?"} : QStringList{});
        EXPECT_TRUE(dialogs.Unexpected().isEmpty());
        for (const char* ext : {".dat", ".idx"})
            EXPECT_EQ(QFile::exists(log.File(ext)), !c.Deleted) << ext;
        EXPECT_EQ(QFile::exists(log.File(".blb")), c.BlobPresent && !c.Deleted);
        EXPECT_TRUE(QFile::exists(log.File(".txt")));
        EXPECT_TRUE(QFile::exists(log.DataFolder() + "/other.dat"));
    }
}

TEST(DelFileForm, ALogAnotherProcessHasOpenIsRefusedAndLeftWhole) {
    TTestLog log;
    log.Add({.Title = "Kept"});
    log.Table().Close();
    const std::string table = log.File(".dat").toStdString();
    veltra_test::TChildProcess child([table](veltra_test::TChildChannel& channel) {
        TVeltraTable held;
        held.SetTableName(table);
        held.Open();
        channel.Send(1);    // the log is open
        channel.Receive();  // until the parent has tried
        held.Close();
        channel.Send(2);
        return veltra_test::kChildOk;
    });
    ASSERT_TRUE(child.Started());
    ASSERT_EQ(child.Receive(), 1);

    Tdelfileform form(log.ProgramFolder());
    form.ConfirmBox()->setChecked(false);
    TScriptedDialogs dialogs;
    dialogs
        .Drive([&](QDialog&) {
            DoubleClick(form.FileList(), "log.dat");
            EXPECT_EQ(Listed(form.FileList()), QStringList{"log.dat"});
            QTest::mouseClick(form.CloseButton(), Qt::LeftButton);
        })
        .Answer();
    Dialogs().Exec(form);
    EXPECT_EQ(dialogs.Messages(), QStringList{"The log log.dat is in use and cannot be deleted."});
    for (const char* ext : {".dat", ".idx", ".blb"})
        EXPECT_TRUE(QFile::exists(log.File(ext))) << ext;
    // The colleague's log is whole: it still opens with its ticket.
    log.Open();
    EXPECT_EQ(log.Table().RecordCount(), 1);
    log.Table().Close();

    // Once the other process has closed it, the log can go.
    ASSERT_TRUE(child.Send(0));
    ASSERT_EQ(child.Receive(), 2);
    EXPECT_EQ(child.ExitCode(), veltra_test::kChildOk);
    dialogs.ClearRecord();
    dialogs.Drive([&](QDialog&) {
        DoubleClick(form.FileList(), "log.dat");
        EXPECT_TRUE(Listed(form.FileList()).isEmpty());
        QTest::mouseClick(form.CloseButton(), Qt::LeftButton);
    });
    Dialogs().Exec(form);
    EXPECT_TRUE(dialogs.Messages().isEmpty());
    for (const char* ext : {".dat", ".idx", ".blb"})
        EXPECT_FALSE(QFile::exists(log.File(ext))) << ext;
}

}  // namespace
}  // namespace veltra
