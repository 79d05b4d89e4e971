// The ticket commands of the main window, driven as a person would: Submit
// and Edit on the navigator and a double click on the grid open the edit
// window; OK stores the ticket with its change history, which the text pane
// shows; a colleague's change shows when the window is activated again.
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "app/edit/editform.h"
#include "app/mainform.h"
#include "engine/veltra_table.h"
#include "platform/qt/controls/db_edit.h"
#include "platform/qt/controls/db_grid.h"
#include "platform/qt/controls/db_navigator.h"
#include "platform/qt/controls/db_rich_edit.h"
#include "platform/rtf/rtf.h"
#include "tests/app/app_fixture.h"

namespace veltra {
namespace {

class TicketsTest : public TAppTest {
protected:
    void StartWithLog(const QString& group, const std::vector<TTestTicket>& tickets) {
        AddUsers({{"Admin", "", "", true}, {"gus", "", group, false}});
        MakeLog("tickets", tickets);
        StartAs("gus");
        ASSERT_FALSE(Main().Ended());
        OpenFromList("tickets.dat");
        ASSERT_TRUE(Main().table1().Active());
        m_Dialogs.ClearRecord();
    }
    TDBNavigator& Nav() { return *Main().navigator1(); }
    void DoubleClickRow(int row) {
        TDBGrid& grid = *Main().DBGrid1();
        const QRect cell = grid.visualRect(grid.model()->index(row, 1));
        QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
    }
    std::string Field(const char* name) { return Main().table1().FieldByName(name).AsString(); }
    // The edit window's step: replaces the title and presses OK.
    static std::function<void(QDialog&)> TypeTitleAndOk(const QString& title) {
        return [title](QDialog& shown) {
            auto& edit = static_cast<Teditform&>(shown);
            edit.TitleEdit()->selectAll();
            QTest::keyClicks(edit.TitleEdit(), title);
            QTest::mouseClick(edit.OkButton(), Qt::LeftButton);
        };
    }
    std::vector<std::string> HistoryLines() {
        std::vector<std::string> lines;
        const std::string text = Field("History");
        size_t start = 0, end;
        while ((end = text.find("\r\n", start)) != std::string::npos) {
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        lines.push_back(text.substr(start));
        return lines;
    }
};

TEST_F(TicketsTest, SubmitStoresTheTicketWithItsHistory) {
    StartWithLog("Reporters", {});
    m_Dialogs.Drive(TypeTitleAndOk("Printer jams"));
    QTest::mouseClick(Nav().Button(TNavigateButton::Insert), Qt::LeftButton);
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty()) << m_Dialogs.Unexpected().join("\n").toStdString();
    TVeltraTable& table = Main().table1();
    EXPECT_EQ(table.State(), TDataSetState::Browse);
    ASSERT_EQ(table.RecordCount(), 1);
    EXPECT_EQ(Field("Title"), "Printer jams");
    EXPECT_EQ(Field("Submitter"), "gus");
    EXPECT_EQ(Field("State"), "Open");
    const auto lines = HistoryLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "\\par \\par Change History\\par");
    EXPECT_NE(lines[1].find(" gus submitted ticket\\par"), std::string::npos) << lines[1];
    EXPECT_FALSE(table.FieldByName("Last update").IsNull());
    // The text pane shows All: the description followed by the history.
    EXPECT_TRUE(Main().DBRichEdit1()->toPlainText().contains("gus submitted ticket"))
        << Main().DBRichEdit1()->toPlainText().toStdString();

    // Another workstation reads what landed in the file.
    TVeltraTable other;
    other.SetTableName((Data() + "tickets.dat").toStdString());
    other.Open();
    ASSERT_EQ(other.RecordCount(), 1);
    EXPECT_EQ(other.FieldByName("Title").AsString(), "Printer jams");
    EXPECT_NE(RtfPlainText(other.ReadBlob(other.FieldByName("All"))).find("submitted ticket"),
              std::string::npos);
}

TEST_F(TicketsTest, EditAndGridDoubleClickAppendChangedLines) {
    StartWithLog("Managers", {{"Jam", "gus", ""}});
    // The ticket was stored without a history: its first post counts as new.
    m_Dialogs.Drive(TypeTitleAndOk("Paper jam"));
    QTest::mouseClick(Nav().Button(TNavigateButton::Edit), Qt::LeftButton);
    auto lines = HistoryLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(" gus submitted ticket\\par"), std::string::npos) << lines[1];
    m_Dialogs.Drive(TypeTitleAndOk("Paper jam"));
    QTest::mouseClick(Nav().Button(TNavigateButton::Edit), Qt::LeftButton);
    EXPECT_EQ(HistoryLines().size(), 2u);  // nothing changed: no line

    // A double click on the grid edits the current ticket the same way.
    const size_t before = HistoryLines().size();
    m_Dialogs.Drive(TypeTitleAndOk("Paper jam in tray 2"));
    DoubleClickRow(0);
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty()) << m_Dialogs.Unexpected().join("\n").toStdString();
    lines = HistoryLines();
    ASSERT_EQ(lines.size(), before + 1);
    EXPECT_NE(lines.back().find("changed Title from Paper jam to Paper jam in tray 2"),
              std::string::npos);
    EXPECT_EQ(Field("Title"), "Paper jam in tray 2");
}

TEST_F(TicketsTest, GridDoubleClickWithoutTheEditRightDoesNothing) {
    // A Viewer may edit only tickets they own; this one is owned by another.
    StartWithLog("Viewers", {{"Jam", "hal", "ida"}});
    ASSERT_FALSE(Nav().ButtonVisible(TNavigateButton::Edit));
    DoubleClickRow(0);
    EXPECT_TRUE(m_Dialogs.Requests().empty() ||
                m_Dialogs.Requests().back().What != TDialogRequest::TWhat::Exec);
    EXPECT_EQ(Main().table1().State(), TDataSetState::Browse);
    EXPECT_EQ(Field("Title"), "Jam");
}

TEST_F(TicketsTest, AColleaguesChangeShowsWhenTheWindowIsActivated) {
    StartWithLog("Managers", {{"Jam", "gus", ""}});
    {
        TVeltraTable other;
        other.SetTableName((Data() + "tickets.dat").toStdString());
        other.Open();
        other.Edit();
        other.FieldByName("Title").SetAsString("Changed elsewhere");
        other.Post();
    }
    // Not re-read while the window stays as it is: no timer.
    QApplication::processEvents();
    EXPECT_EQ(Field("Title"), "Jam");
    QApplication::setActiveWindow(nullptr);
    QApplication::setActiveWindow(&Main());
    EXPECT_EQ(Field("Title"), "Changed elsewhere");
}

TEST_F(TicketsTest, ColumnsMenuShowsAndHidesGridColumns) {
    StartWithLog("Managers", {{"Jam", "gus", ""}});
    QMenu& menu = *Main().columnsmenu();
    EXPECT_TRUE(menu.isEnabled());
    QStringList captions, unchecked;
    for (QAction* item : menu.actions()) {
        captions << item->text();
        if (!item->isChecked()) unchecked << item->text();
    }
    EXPECT_EQ(captions, (QStringList{"ID", "Title", "Submitter", "Submit date", "State", "Priority",
                                     "Close date", "Category", "Owner", "Other", "Last update"}));
    EXPECT_EQ(unchecked, (QStringList{"Other", "Last update"}));

    auto visible = [&](const QString& field) {
        for (const TGridColumn& column : Main().DBGrid1()->Columns())
            if (column.FieldName == field) return column.Visible;
        return false;
    };
    QAction* title = menu.actions()[1];
    title->trigger();
    EXPECT_FALSE(title->isChecked());
    EXPECT_FALSE(visible("Title"));
    menu.actions()[9]->trigger();  // Other
    EXPECT_TRUE(visible("Other"));
    title->trigger();
    EXPECT_TRUE(visible("Title"));
    // Closing the log disables the menu.
    Main().CloseLog();
    EXPECT_FALSE(menu.isEnabled());
}

}  // namespace
}  // namespace veltra
