// The category editor, the FAQ window, the date and the pick dialogs,
// driven through the real windows.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "app/dialogs/cboxform.h"
#include "app/dialogs/editcategoryform.h"
#include "app/dialogs/faqform.h"
#include "app/dialogs/getdateform.h"
#include "platform/format_settings.h"
#include "platform/qt/controls/db_date_edit.h"
#include "platform/qt/dialogs/scripted_dialogs.h"
#include "tests/appdialogs/test_log.h"

namespace veltra {
namespace {

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Types into a text area as a person would: Enter between lines.
void TypeLines(QPlainTextEdit* area, const QString& text) {
    const QStringList lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0) QTest::keyClick(area, Qt::Key_Return);
        veltra_test::TypeText(area, lines[i]);
    }
}

struct TCategoryCase {
    const char* Name;
    const char* Typed;       // lines separated by \n
    QByteArray File;         // the category file written
    QStringList Categories;  // the edit window's Category list afterwards
};

TEST(EditCategoryForm, OkCutsWritesAndReplacesTheCategoryListAtOnce) {
    const TCategoryCase cases[] = {
        {"cut",
         "Twenty characters!!!\nShort",
         "Twenty characte\r\nShort\r\n",
         {"Twenty characte", "Short"}},
        {"empty line kept", "A\n\nB", "A\r\n\r\nB\r\n", {"A", "", "B"}},
        {"last Enter adds no line", "A\nB\n", "A\r\nB\r\n", {"A", "B"}},
        {"nothing", "", "", {}},
        {"accented", "Caf\xC3\xA9", "Caf\xE9\r\n", {"Caf\xC3\xA9"}},
    };
    for (const TCategoryCase& c : cases) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        WriteBytes(path, "Old\r\n");
        QComboBox categoryList;  // stands for the edit window's Category list
        categoryList.addItems({"Old"});
        Teditcategoryform form;
        form.OnSaved = [&](const QStringList& lines) {
            categoryList.clear();
            categoryList.addItems(lines);
        };
        form.SetFile(path);
        form.LoadFile();
        TScriptedDialogs dialogs;
        dialogs.Drive([&](QDialog&) {
            EXPECT_EQ(form.TextArea()->toPlainText(), "Old");
            form.TextArea()->clear();
            TypeLines(form.TextArea(), QString::fromUtf8(c.Typed));
            QTest::mouseClick(form.OkButton(), Qt::LeftButton);
        });
        EXPECT_EQ(Dialogs().Exec(form), QDialog::Accepted);
        EXPECT_EQ(ReadBytes(path), c.File);
        QStringList items;
        for (int i = 0; i < categoryList.count(); ++i) items << categoryList.itemText(i);
        EXPECT_EQ(items, c.Categories);
        EXPECT_TRUE(dialogs.Unexpected().isEmpty());
        // The file reads back as the lines written.
        EXPECT_EQ(ReadCategoryFile(path), c.Categories);
    }
}

TEST(EditCategoryForm, CancelWritesNothingAndAFailedWriteKeepsTheWindowOpen) {
    QTemporaryDir dir;
    Teditcategoryform form;
    int saved = 0;
    form.OnSaved = [&](const QStringList&) { ++saved; };
    form.SetFile(dir.filePath("log.txt"));
    form.LoadFile();  // no file yet: an empty list
    TScriptedDialogs dialogs;
    dialogs.Drive([&](QDialog&) {
        EXPECT_EQ(form.TextArea()->toPlainText(), "");
        QTest::keyClicks(form.TextArea(), "Never");
        QTest::mouseClick(form.CancelButton(), Qt::LeftButton);
    });
    EXPECT_EQ(Dialogs().Exec(form), QDialog::Rejected);
    EXPECT_FALSE(QFile::exists(dir.filePath("log.txt")));

    // A folder that is not there: the error is shown and the window stays.
    form.SetFile(dir.filePath("gone/log.txt"));
    dialogs
        .Drive([&](QDialog& d) {
            QTest::mouseClick(form.OkButton(), Qt::LeftButton);
            EXPECT_TRUE(d.isVisible());
            QTest::mouseClick(form.CancelButton(), Qt::LeftButton);
        })
        .Answer();
    EXPECT_EQ(Dialogs().Exec(form), QDialog::Rejected);
    ASSERT_EQ(dialogs.Messages().size(), 1);
    EXPECT_TRUE(dialogs.Messages()[0].contains("gone/log.txt"));
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    EXPECT_EQ(form.windowTitle(), "Edit Categories");
}

TEST(EditCategoryForm, LoadsCrLfAndLfFiles) {
    QTemporaryDir dir;
    const QString path = dir.filePath("log.txt");
    Teditcategoryform form;
    form.SetFile(path);
    for (const QByteArray& bytes : {QByteArray("A\r\n\r\nB\r\n"), QByteArray("A\n\nB")}) {
        WriteBytes(path, bytes);
        form.LoadFile();
        EXPECT_EQ(form.Lines(), (QStringList{"A", "", "B"}));
    }
}

QString PdfText(const QString& pdf) {
    QProcess p;
    p.start("pdftotext", {"-layout", pdf, "-"});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString PdfInfo(const QString& pdf) {
    QProcess p;
    p.start("pdfinfo", {pdf});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

TEST(FaqForm, ShowsPlainAndRichTextAndPrintsIt) {
    struct {
        const char* Name;
        QByteArray File;
        const char* Shown;  // the viewer's text
    } const cases[] = {
        {"plain", "How do I log in?\nType your name.\n", "How do I log in?\nType your name.\n"},
        {"rich", "{\\rtf1{\\fonttbl{\\f0 Arial;}}\\f0 How do I \\b log in\\b0 ?\\par}",
         "How do I log in?"},
        {"Windows-1252", "Caf\xE9 hours", "Caf\xC3\xA9 hours"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir dir;
        WriteBytes(dir.filePath("faq.txt"), c.File);
        Tfaqform form(dir.path());
        const QString pdf = dir.filePath("faq.pdf");
        form.Printer().setOutputFormat(QPrinter::PdfFormat);
        form.Printer().setOutputFileName(pdf);
        TScriptedDialogs dialogs;
        dialogs.Drive([&](QDialog&) {
            EXPECT_EQ(form.Viewer()->toPlainText().trimmed(), QString::fromUtf8(c.Shown).trimmed());
            EXPECT_TRUE(form.Viewer()->isReadOnly());
            QTest::mouseClick(form.PrintButton(), Qt::LeftButton);
            QTest::mouseClick(form.CloseButton(), Qt::LeftButton);
        });
        Dialogs().Exec(form);
        EXPECT_TRUE(dialogs.Unexpected().isEmpty());
        const QString printed = PdfText(pdf).simplified();
        EXPECT_TRUE(printed.contains(QString::fromUtf8(c.Shown).simplified()))
            << printed.toStdString();
        EXPECT_TRUE(PdfInfo(pdf).contains(QRegularExpression("Title:\\s+FAQ\\n")));
    }
}

TEST(FaqForm, AMissingFileIsReported) {
    QTemporaryDir dir;
    Tfaqform form(dir.path());
    EXPECT_EQ(form.windowTitle(), "faqform");
    TScriptedDialogs dialogs;
    // The error box comes while the window is being shown, before the step
    // drives it.
    dialogs
        .Drive([&](QDialog&) {
            EXPECT_TRUE(form.Viewer()->toPlainText().isEmpty());
            QTest::mouseClick(form.CloseButton(), Qt::LeftButton);
        })
        .Answer();
    Dialogs().Exec(form);
    ASSERT_EQ(dialogs.Messages().size(), 1);
    EXPECT_TRUE(dialogs.Messages()[0].contains(dir.filePath("faq.txt")));
}

TEST(GetDateForm, EmptyShowsBlanksInTheUsersFormAndKeepsTheLastDate) {
    const struct {
        const char* Locale;
        const char* Empty;
        const char* Digits;
        const char* Shown;
    } cases[] = {
        {"de_DE", "  .  .    ", "01022026", "01.02.2026"},
        {"en_US", "  /  /    ", "02012026", "02/01/2026"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Locale);
        InstallLocaleFormatSettings(c.Locale);
        Tgetdateform form;  // created before the locale is known in the program
        InstallLocaleFormatSettings(c.Locale);
        TScriptedDialogs dialogs;
        dialogs.Drive([&](QDialog&) {
            EXPECT_EQ(form.DateText(), c.Empty);
            EXPECT_TRUE(form.DateText().startsWith(' '));
            form.DateEdit()->home(false);
            QTest::keyClicks(form.DateEdit(), c.Digits);
            QTest::mouseClick(form.OkButton(), Qt::LeftButton);
        });
        EXPECT_EQ(Dialogs().Exec(form), QDialog::Accepted);
        EXPECT_EQ(form.DateText(), c.Shown);
        dialogs.Drive([&](QDialog&) {
            EXPECT_EQ(form.DateText(), c.Shown);
            QTest::mouseClick(form.CancelButton(), Qt::LeftButton);
        });
        EXPECT_EQ(Dialogs().Exec(form), QDialog::Rejected);
        EXPECT_EQ(form.windowTitle(), "date");
    }
    InstallFormatSettings(UsFormatSettings());
}

TEST(CboxForm, KeepsItsItemsSortedAndReturnsTheTextChosenOrTyped) {
    Tcboxform form;
    form.AddItems({"Open", "Closed"});
    form.AddItems({"close pending"});
    EXPECT_EQ(form.Items(), (QStringList{"close pending", "Closed", "Open"}));
    form.Clear();
    EXPECT_TRUE(form.Items().isEmpty());
    form.AddItems({"b", "a"});
    form.SetText("");
    TScriptedDialogs dialogs;
    dialogs.Drive([&](QDialog&) {
        form.ComboBox()->setFocus();
        QTest::keyClick(form.ComboBox(), Qt::Key_Down);  // picks from the list
        QTest::mouseClick(form.OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(Dialogs().Exec(form), QDialog::Accepted);
    EXPECT_FALSE(form.Text().isEmpty());
    EXPECT_TRUE(form.Items().contains(form.Text()));
}

}  // namespace
}  // namespace veltra
