// The grid against real tables: columns, titles, cells, the current row in
// both directions, double click, read-only cells, edits shown at once, and a
// 100,000-record table that opens and jumps to its end reading few rows.
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>

#include "platform/qt/controls/db_grid.h"
#include "tests/qt/qt_fixture.h"

namespace veltra_test {
namespace {

using namespace veltra;

QString Cell(const TDBGrid& grid, int row, int column) {
    return grid.model()->index(row, column).data().toString();
}

QStringList RowTexts(const TDBGrid& grid, int row) {
    QStringList texts;
    for (int c = 0; c < grid.model()->columnCount(); ++c) texts << Cell(grid, row, c);
    return texts;
}

using Grid = TQtTableTest;

TEST_F(Grid, DefaultColumnsShowEveryFieldWithItsText) {
    OpenPeople(ThreePeople());
    TDBGrid grid;
    grid.SetDataSource(&Source);
    ASSERT_EQ(grid.model()->rowCount(), 3);
    QStringList titles;
    for (const TGridColumn& c : grid.Columns()) titles << c.Title;
    EXPECT_EQ(titles, (QStringList{"Name", "ID", "Born", "Level", "Team", "Notes"}));
    EXPECT_EQ(RowTexts(grid, 0), (QStringList{"Ada", "1", "1/5/1990", "1", "red", "(FmtMemo)"}));
    EXPECT_EQ(RowTexts(grid, 1), (QStringList{"Bob", "2", "", "2", "blue", "(FmtMemo)"}));
    EXPECT_EQ(RowTexts(grid, 2), (QStringList{"Cyd", "3", "12/31/2001", "", "", "(FmtMemo)"}));
    EXPECT_EQ(grid.model()->index(0, 1).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight,
              int(Qt::AlignRight)) << "numbers are right-aligned";
    for (const TGridColumn& c : grid.Columns()) EXPECT_GT(c.Width, 0) << c.FieldName.toStdString();
}

TEST_F(Grid, ColumnsKeepOrderWidthsAndVisibilityAsShown) {
    OpenPeople(ThreePeople());
    TDBGrid grid;
    grid.SetDataSource(&Source);
    const QList<TGridColumn> given = {{"ID", "", 55, true},
                                      {"Name", "Who", 120, true},
                                      {"Team", "", 0, false},
                                      {"Missing", "Gone", 40, true}};
    grid.SetColumns(given);
    QList<TGridColumn> shown = grid.Columns();
    ASSERT_EQ(shown.size(), 4);
    EXPECT_EQ(shown[0], (TGridColumn{"ID", "ID", 55, true})) << "without a title: the field's label";
    EXPECT_EQ(shown[1], (TGridColumn{"Name", "Who", 120, true}));
    EXPECT_EQ(shown[2].FieldName, "Team");
    EXPECT_FALSE(shown[2].Visible);
    EXPECT_GT(shown[2].Width, 0) << "a hidden column reports its default width";
    EXPECT_EQ(grid.model()->headerData(1, Qt::Horizontal).toString(), "Who");
    EXPECT_EQ(grid.model()->headerData(0, Qt::Horizontal).toString(), "ID") << "title defaults to the label";
    EXPECT_EQ(Cell(grid, 0, 3), "") << "a column without field stays empty";

    // What dragging a title and a border does to the header.
    grid.show();
    grid.horizontalHeader()->moveSection(1, 0);  // "Who" dragged before "ID"
    grid.horizontalHeader()->resizeSection(0, 90);  // the ID column's border dragged
    shown = grid.Columns();
    EXPECT_EQ(shown[0].FieldName, "Name");
    EXPECT_EQ(shown[0].Width, 120);
    EXPECT_EQ(shown[1].FieldName, "ID");
    EXPECT_EQ(shown[1].Width, 90);
    EXPECT_EQ(shown[2].FieldName, "Team");
    grid.horizontalHeader()->moveSection(0, 3);  // "Who" dragged to the end
    shown = grid.Columns();
    EXPECT_EQ(shown[0].FieldName, "ID");
    EXPECT_EQ(shown[3].FieldName, "Name");

    grid.SetFieldVisible(" Team ", true);
    EXPECT_EQ(grid.Columns()[1].FieldName, "Team");
    EXPECT_TRUE(grid.Columns()[1].Visible);
    grid.SetColumns(given);
    EXPECT_EQ(grid.Columns()[0].FieldName, "ID") << "setting columns restores their order";
    // Every column hidden leaves no data column shown.
    QList<TGridColumn> hidden = given;
    for (TGridColumn& c : hidden) c.Visible = false;
    grid.SetColumns(hidden);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(grid.isColumnHidden(i));
}

TEST_F(Grid, CurrentRowFollowsTheDataSetAndClicksMoveIt) {
    OpenPeople(ThreePeople());
    TDBGrid grid;
    grid.SetDataSource(&Source);
    grid.resize(500, 300);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    EXPECT_EQ(grid.currentIndex().row(), 0);
    EXPECT_EQ(grid.model()->headerData(0, Qt::Vertical).toString(), QString(QChar(0x25B6)));
    Table.Last();
    EXPECT_EQ(grid.currentIndex().row(), 2);
    EXPECT_EQ(grid.model()->headerData(0, Qt::Vertical).toString(), "");
    EXPECT_TRUE(grid.selectionModel()->isRowSelected(2, QModelIndex()));

    const QRect second = grid.visualRect(grid.model()->index(1, 0));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(Table.RecNo(), 2);
    EXPECT_EQ(Table.FieldByName("Name").AsString(), "Bob");
    QTest::keyClick(&grid, Qt::Key_Up);
    EXPECT_EQ(Table.FieldByName("Name").AsString(), "Ada");

    QSignalSpy doubles(&grid, &TDBGrid::doubleClicked);
    const QRect third = grid.visualRect(grid.model()->index(2, 1));
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, third.center());
    EXPECT_EQ(doubles.count(), 1);
    EXPECT_EQ(Table.FieldByName("Name").AsString(), "Cyd");
}

TEST_F(Grid, CellsAreReadOnlyAndEditsShowAtOnce) {
    OpenPeople(ThreePeople());
    TDBGrid grid;
    grid.SetDataSource(&Source);
    grid.show();
    EXPECT_FALSE(grid.model()->flags(grid.model()->index(0, 0)) & Qt::ItemIsEditable);
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_F2);
    QTest::keyClicks(&grid, "Zz");
    EXPECT_EQ(Table.State(), TDataSetState::Browse);

    Table.Edit();
    EXPECT_EQ(grid.model()->headerData(0, Qt::Vertical).toString(), "I");
    Table.FieldByName("Name").SetAsString("Zed");
    EXPECT_EQ(Cell(grid, 0, 0), "Zed");
    Table.Cancel();
    EXPECT_EQ(Cell(grid, 0, 0), "Ada");

    Table.Insert();
    EXPECT_EQ(grid.model()->headerData(grid.Model()->CurrentRow() < 0 ? 0 : grid.Model()->CurrentRow(),
                                       Qt::Vertical).toString().size() <= 1, true);
    Table.FieldByName("Name").SetAsString("Dee");
    Table.Post();
    ASSERT_EQ(grid.model()->rowCount(), 4);
    EXPECT_EQ(Cell(grid, grid.currentIndex().row(), 0), "Dee");
    Table.Delete();
    EXPECT_EQ(grid.model()->rowCount(), 3);
    Table.Close();
    EXPECT_EQ(grid.model()->rowCount(), 0);
}

TEST_F(Grid, FilterAndIndexChangesAreShown) {
    OpenPeople(ThreePeople());
    TDBGrid grid;
    grid.SetDataSource(&Source);
    Table.SetIndexName("ByName");
    Table.SetFilter("[Team] = 'blue'");
    Table.SetFiltered(true);
    ASSERT_EQ(grid.model()->rowCount(), 1);
    EXPECT_EQ(Cell(grid, 0, 0), "Bob");
    Table.SetFiltered(false);
    EXPECT_EQ(grid.model()->rowCount(), 3);
}

// A 100,000-record table, built once for the suite.
class BigGrid : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_Dir = new TTestDir();
        s_Path = *s_Dir / "big.dat";
        CreateSmallTable(s_Path, kRows);
    }
    static void TearDownTestSuite() {
        delete s_Dir;
        s_Dir = nullptr;
    }
    static constexpr int kRows = 100000;
    static TTestDir* s_Dir;
    static std::string s_Path;
};
TTestDir* BigGrid::s_Dir = nullptr;
std::string BigGrid::s_Path;

TEST_F(BigGrid, OpensAndJumpsToTheLastRowReadingOnlyVisibleRows) {
    for (bool exclusive : {false, true}) {
        SCOPED_TRACE(exclusive ? "exclusive" : "shared");
        TVeltraTable table;
        table.SetTableName(s_Path);
        table.SetExclusive(exclusive);
        table.Open();
        TDataSource source;
        source.SetDataSet(&table);
        TDBGrid grid;
        grid.resize(600, 400);
        grid.SetDataSource(&source);
        grid.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
        QCoreApplication::processEvents();
        ASSERT_EQ(grid.model()->rowCount(), kRows);
        const int screen = grid.viewport()->height() / grid.verticalHeader()->defaultSectionSize() + 2;
        const int64_t openReads = grid.Model()->ReadCount();
        EXPECT_GT(openReads, 0);
        EXPECT_LE(openReads, 3 * screen) << "opening reads about one screen of rows";

        table.Last();
        QCoreApplication::processEvents();
        grid.viewport()->repaint();
        EXPECT_EQ(grid.currentIndex().row(), kRows - 1);
        const QRect last = grid.visualRect(grid.model()->index(kRows - 1, 0));
        EXPECT_TRUE(grid.viewport()->rect().intersects(last)) << "the last row is in view";
        EXPECT_EQ(grid.model()->index(kRows - 1, 0).data().toString(),
                  QString("Ticket %1").arg(kRows));
        const int64_t jumpReads = grid.Model()->ReadCount() - openReads;
        EXPECT_LE(jumpReads, 3 * screen) << "the jump reads about one screen of rows";

        const QRect above = grid.visualRect(grid.model()->index(kRows - 3, 0));
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, above.center());
        EXPECT_EQ(table.RecNo(), kRows - 2);
        EXPECT_EQ(table.FieldByName("Title").AsString(), "Ticket 99998");
        table.Close();
    }
}

}  // namespace
}  // namespace veltra_test
