// "Export View..." through the real main window: the view a person set up
// (sort order, query, hidden and moved columns) written to CSV and JSON lines
// and compared byte for byte with what `vltable dump` writes for the same
// index, filter and fields; cancelling from the progress window.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/dialogs/queryform.h"
#include "app/mainform.h"
#include "engine/veltra_table.h"
#include "platform/locale_services.h"
#include "platform/qt/controls/db_grid.h"
#include "tests/app/app_fixture.h"

namespace veltra {
namespace {

struct TExportTicket {
    const char* Title;
    const char* Submitter;
    const char* State;
    const char* Description;  // RTF or plain text; "" for none
};

class ExportTest : public TAppTest {
  protected:
    void StartWithLog(const std::vector<TExportTicket>& tickets) {
        AddUsers({{"Admin", "", "", true}});
        MakeLog("tickets", {});
        TVeltraTable table;
        table.SetTableName((Data() + "tickets.dat").toStdString());
        table.Open();
        for (const TExportTicket& t : tickets) {
            table.Insert();
            table.FieldByName("Title").SetAsString(t.Title);
            table.FieldByName("Submitter").SetAsString(t.Submitter);
            table.FieldByName("State").SetAsString(t.State);
            table.FieldByName("Priority").SetAsInteger(3);
            if (*t.Description) table.FieldByName("Description").SetAsString(t.Description);
            table.Post();
        }
        table.Close();
        StartAs("Admin");
        ASSERT_FALSE(Main().Ended());
        OpenFromList("tickets.dat");
        ASSERT_TRUE(Main().table1().Active());
        m_Dialogs.ClearRecord();
    }

    // The sort order chosen in the top bar's list with the keyboard.
    void ChooseSortOrder(const QString& name) {
        QComboBox* box = Main().ComboBox1();
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Home);
        for (int i = 0; i < box->count() && box->currentText() != name; ++i)
            QTest::keyClick(box, Qt::Key_Down);
        ASSERT_EQ(box->currentText(), name);
        ASSERT_EQ(QString::fromStdString(Main().table1().IndexName()), name);
    }

    void ApplyQuery(const QString& line) {
        m_Dialogs.Drive([line](QDialog& d) {
            auto& query = static_cast<Tqueryform&>(d);
            query.SetQueryLines({line});
            QTest::mouseClick(query.Button("Execute"), Qt::LeftButton);
        });
        QTest::mouseClick(Main().querybtn(), Qt::LeftButton);
        ASSERT_TRUE(Main().table1().Filtered());
    }

    QAction* ExportItem() { return Main().MenuItem(Main().filemenu(), "Export View..."); }

    // The visible grid columns, in grid order.
    QStringList VisibleColumns() {
        QStringList fields;
        for (const TGridColumn& c : Main().DBGrid1()->Columns())
            if (c.Visible) fields << c.FieldName;
        return fields;
    }

    // What vltable dump writes for the main table's index and filter, the
    // visible columns and the description.
    QByteArray Dump(const QString& format) {
        TVeltraTable& t = Main().table1();
        QStringList args{"dump",
                         Data() + "tickets.dat",
                         "--format",
                         format,
                         "--plain-text",
                         "--fields",
                         (VisibleColumns() << "Description").join(',')};
        if (!t.IndexName().empty()) args << "--index" << QString::fromStdString(t.IndexName());
        if (t.Filtered()) args << "--filter" << QString::fromStdString(Cp1252ToUtf8(t.Filter()));
        if (t.FilterOptions().CaseInsensitive) args << "--case-insensitive";
        if (t.FilterOptions().NoPartialCompare) args << "--no-partial";
        QProcess process;
        process.start(VLTABLE_PATH, args);
        EXPECT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return process.readAllStandardOutput();
    }
};

TEST_F(ExportTest, TheViewAsShownMatchesVltableDumpInBothFormats) {
    StartWithLog({
        {"Printer jams, again", "gus", "Open",
         "{\\rtf1\\ansi Paper {\\b stuck} in tray 2.\\par Twice today.}"},
        {"Zebra label \"quoted\"", "ann", "Open", "plain words"},
        {"Mail down", "gus", "Closed", ""},
        {"Caf\xc3\xa9 wifi", "bob", "Open", "{\\rtf1\\ansi Slow\\par}"},
        {"Backup failed", "ann", "Open", ""},
    });
    EXPECT_TRUE(ExportItem()->isEnabled());
    ChooseSortOrder("Title");
    ApplyQuery("[State] = 'Open'");
    // Hide the Submitter column and drag Title to the front, as a person does.
    QAction* submitter = Main().MenuItem(Main().columnsmenu(), "Submitter");
    ASSERT_NE(submitter, nullptr);
    submitter->trigger();
    QHeaderView* header = Main().DBGrid1()->horizontalHeader();
    header->moveSection(header->visualIndex(1), 0);
    const QStringList columns = VisibleColumns();
    ASSERT_EQ(columns.mid(0, 2), (QStringList{"Title", "ID"}));
    ASSERT_FALSE(columns.contains("Submitter"));

    const QString csv = Folder() + "view.csv";
    m_Dialogs.AnswerSaveFile(csv).Answer();
    ExportItem()->trigger();
    EXPECT_EQ(m_Dialogs.Messages(),
              QStringList{"Exported 4 tickets to " + QDir::toNativeSeparators(csv) + "."});
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty())
        << m_Dialogs.Unexpected().join("\n").toStdString();
    const QByteArray written = ReadFile("view.csv");
    EXPECT_EQ(written, Dump("csv"));
    // The view's order and query, and descriptions as their visible text.
    const QList<QByteArray> lines = written.split('\n');
    ASSERT_GE(lines.size(), 5);
    EXPECT_TRUE(lines[0].startsWith("Title,ID,")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("Backup failed,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("Caf\xc3\xa9 wifi,")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].startsWith("\"Printer jams, again\",")) << lines[3].toStdString();
    EXPECT_TRUE(written.contains("\"Paper stuck in tray 2.\nTwice today.\""))
        << written.toStdString();
    EXPECT_FALSE(written.contains("Mail down"));
    EXPECT_FALSE(written.contains("rtf1"));

    m_Dialogs.ClearRecord();
    const QString jsonl = Folder() + "view.jsonl";
    m_Dialogs.AnswerSaveFile(jsonl).Answer();
    ExportItem()->trigger();
    EXPECT_EQ(ReadFile("view.jsonl"), Dump("jsonl"));
    EXPECT_TRUE(ReadFile("view.jsonl").startsWith("{\"Title\":\"Backup failed\",\"ID\":"));

    // The window's own ticket did not move.
    EXPECT_EQ(Main().table1().FieldByName("Title").AsString(), "Backup failed");
}

TEST_F(ExportTest, CancelInTheProgressWindowLeavesNoFileAndKeepsAnOldOne) {
    std::vector<TExportTicket> many;
    for (int i = 0; i < 300; ++i) many.push_back({"Ticket", "gus", "Open", "{\\rtf1 text\\par}"});
    StartWithLog(many);
    WriteFile("old.csv", "earlier export\n");
    const QString path = Folder() + "old.csv";
    m_Dialogs.AnswerSaveFile(path);
    // The person clicks Cancel in the progress window once it shows (it
    // shows itself after half a second; the test does not wait for that).
    bool pressed = false;
    QTimer::singleShot(0, &Main(), [&] {
        auto* progress = Main().findChild<QProgressDialog*>("exportprogress");
        ASSERT_NE(progress, nullptr);
        progress->show();
        auto* cancel = progress->findChild<QPushButton*>();
        ASSERT_NE(cancel, nullptr);
        EXPECT_EQ(cancel->text(), "Cancel");
        QTest::mouseClick(cancel, Qt::LeftButton);
        pressed = true;
    });
    ExportItem()->trigger();
    EXPECT_TRUE(pressed);
    EXPECT_TRUE(m_Dialogs.Messages().isEmpty()) << m_Dialogs.Messages().join("\n").toStdString();
    EXPECT_EQ(ReadFile("old.csv"), "earlier export\n");
    EXPECT_EQ(QDir(Folder()).entryList({"old.csv*"}, QDir::Files | QDir::Hidden),
              QStringList{"old.csv"});
    EXPECT_EQ(Main().findChild<QProgressDialog*>("exportprogress"), nullptr);

    // Without a log open there is nothing to export.
    Main().CloseLog();
    EXPECT_FALSE(ExportItem()->isEnabled());
}

}  // namespace
}  // namespace veltra
