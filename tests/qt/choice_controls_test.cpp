// Pick lists, radio groups and the lookup list against real tables.
#include <QComboBox>
#include <QRadioButton>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include "platform/qt/controls/db_combo_box.h"
#include "platform/qt/controls/db_edit.h"
#include "platform/qt/controls/db_lookup_combo_box.h"
#include "platform/qt/controls/db_radio_group.h"
#include "tests/qt/qt_fixture.h"

namespace veltra_test {
namespace {

using namespace veltra;

void ShowActive(QWidget& w) {
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
}

using PickList = TQtTableTest;

TEST_F(PickList, FixedListShowsTheFieldAndChoosingEdits) {
    OpenPeople(ThreePeople());
    QWidget w;
    auto* layout = new QVBoxLayout(&w);
    auto* list = new TDBComboBox(&w);
    auto* other = new TDBEdit(&w);
    layout->addWidget(list);
    layout->addWidget(other);
    list->SetItems({"red", "blue", "green"});
    list->SetDataSource(&Source);
    list->SetDataField("Team");
    other->SetDataSource(&Source);
    other->SetDataField("Name");
    EXPECT_EQ(list->currentText(), "red");
    Table.Next();
    EXPECT_EQ(list->currentText(), "blue");
    Table.Next();
    EXPECT_EQ(list->currentIndex(), -1) << "a null value selects nothing";
    Table.First();

    ShowActive(w);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->currentText(), "blue");
    EXPECT_EQ(Table.State(), TDataSetState::Edit);
    EXPECT_TRUE(list->Modified());
    other->setFocus();
    EXPECT_EQ(Table.FieldByName("Team").AsString(), "blue") << "written when the focus leaves";
    Table.Post();
    EXPECT_EQ(StoredValue(1, "Team"), "blue");
}

TEST_F(PickList, EditableListTakesTypedTextAndEscapeReverts) {
    OpenPeople(ThreePeople());
    QWidget w;
    auto* layout = new QVBoxLayout(&w);
    auto* list = new TDBComboBox(&w);
    layout->addWidget(list);
    list->SetEditable(true);
    list->SetItems({"red", "blue"});
    list->SetDataSource(&Source);
    list->SetDataField("Team");
    ShowActive(w);
    EXPECT_EQ(list->Text(), "red");
    list->setFocus();
    list->lineEdit()->selectAll();
    QTest::keyClicks(list, "purple");
    EXPECT_EQ(list->Text(), "purple");
    EXPECT_EQ(Table.State(), TDataSetState::Edit);
    QTest::keyClick(list, Qt::Key_Escape);
    EXPECT_EQ(list->Text(), "red");
    list->lineEdit()->selectAll();
    QTest::keyClicks(list, "purple");
    Table.Post();
    EXPECT_EQ(StoredValue(1, "Team"), "purple");
}

TEST_F(PickList, SortedListOrdersItemsWithoutRegardToCase) {
    struct TCase {
        QStringList Items;
        bool Sorted;
        QStringList Expected;
    };
    for (const TCase& c : {TCase{{"b", "A", "c"}, true, {"A", "b", "c"}},
                           TCase{{"b", "A", "c"}, false, {"b", "A", "c"}},
                           TCase{{"Zed", "ada", "Bob"}, true, {"ada", "Bob", "Zed"}}}) {
        TDBComboBox list;
        list.SetSorted(c.Sorted);
        list.SetItems(c.Items);
        EXPECT_EQ(list.Items(), c.Expected);
    }
}

TEST_F(PickList, ReadOnlyTableRefusesChoosing) {
    OpenPeople(ThreePeople(), true);
    QWidget w;
    auto* layout = new QVBoxLayout(&w);
    auto* list = new TDBComboBox(&w);
    layout->addWidget(list);
    list->SetItems({"red", "blue"});
    list->SetDataSource(&Source);
    list->SetDataField("Team");
    ShowActive(w);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->currentText(), "red");
    EXPECT_EQ(Table.State(), TDataSetState::Browse);
}

TEST(PlainPickList, WithoutDataSourceItIsAPlainList) {
    TDBComboBox list;
    list.SetItems({"7", "8", "9"});
    list.show();
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.currentText(), "8");
    list.SetReadOnly(true);
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.currentText(), "8");
}

using RadioGroup = TQtTableTest;

TEST_F(RadioGroup, ShowsTheValueAndAClickWritesItsValue) {
    OpenPeople(ThreePeople());
    TDBRadioGroup group("Level");
    group.SetItems({"Low", "High", "Top"});
    group.SetValues({"1", "2", "7"});
    group.SetDataSource(&Source);
    group.SetDataField("Level");
    group.show();
    EXPECT_EQ(group.title(), "Level");
    EXPECT_EQ(group.ItemIndex(), 0);
    Table.Next();
    EXPECT_EQ(group.ItemIndex(), 1);
    Table.Next();
    EXPECT_EQ(group.ItemIndex(), -1) << "null checks no button";

    QTest::mouseClick(group.Button(2), Qt::LeftButton);
    EXPECT_EQ(Table.State(), TDataSetState::Edit);
    EXPECT_EQ(Table.FieldByName("Level").AsString(), "7");
    EXPECT_EQ(group.ItemIndex(), 2);
    Table.Post();
    EXPECT_EQ(StoredValue(3, "Level"), "7");
    Table.Edit();
    QTest::mouseClick(group.Button(0), Qt::LeftButton);
    Table.Cancel();
    EXPECT_EQ(group.ItemIndex(), 2) << "cancel shows the stored value again";
}

TEST_F(RadioGroup, ItemsWithoutValuesStandForTheirCaptions) {
    OpenPeople(ThreePeople());
    TDBRadioGroup group("Team");
    group.SetItems({"red", "blue"});
    group.SetDataSource(&Source);
    group.SetDataField("Team");
    EXPECT_EQ(group.ItemIndex(), 0);
    EXPECT_EQ(group.ValueOf(1), "blue");
}

TEST_F(RadioGroup, ReadOnlyTableKeepsTheButtons) {
    OpenPeople(ThreePeople(), true);
    TDBRadioGroup group("Level");
    group.SetItems({"Low", "High"});
    group.SetValues({"1", "2"});
    group.SetDataSource(&Source);
    group.SetDataField("Level");
    group.show();
    QTest::mouseClick(group.Button(1), Qt::LeftButton);
    EXPECT_EQ(group.ItemIndex(), 0);
    EXPECT_EQ(Table.State(), TDataSetState::Browse);
}

using LookupList = TQtTableTest;

TEST_F(LookupList, ListsTheOtherTableAndWritesTheChosenKey) {
    OpenPeople(ThreePeople());
    const std::string teamsPath = Dir / "teams.dat";
    CreatePeopleTable(teamsPath, {{"red", "", "", ""}, {"blue", "", "", ""}, {"green", "", "", ""}});
    TVeltraTable teams;
    teams.SetTableName(teamsPath);
    teams.SetIndexName("ByName");
    teams.Open();
    TDataSource teamSource;
    teamSource.SetDataSet(&teams);

    TDBLookupComboBox list;
    list.SetListSource(&teamSource);
    list.SetKeyField("Name");
    list.SetListField("Name");
    list.SetDataSource(&Source);
    list.SetDataField("Team");
    EXPECT_EQ(list.Keys(), (QStringList{"blue", "green", "red"})) << "in the list table's index order";
    EXPECT_EQ(list.currentText(), "red");
    EXPECT_EQ(teams.FieldByName("Name").AsString(), "blue") << "the list table stays on its record";
    Table.Last();
    EXPECT_EQ(list.currentIndex(), -1);

    list.show();
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(Table.State(), TDataSetState::Edit);
    EXPECT_EQ(Table.FieldByName("Team").AsString(), "blue");
    Table.Post();
    EXPECT_EQ(StoredValue(3, "Team"), "blue");

    // A new entry in the list table appears in the list.
    teams.Insert();
    teams.FieldByName("Name").SetAsString("amber");
    teams.Post();
    EXPECT_EQ(list.Keys(), (QStringList{"amber", "blue", "green", "red"}));
    teams.Close();
    EXPECT_TRUE(list.Keys().isEmpty());
}

}  // namespace
}  // namespace veltra_test
