#include "tests/qt/qt_fixture.h"

#include "platform/format_settings.h"

namespace veltra_test {

using namespace veltra;

TTableDef PeopleTableDef() {
    TTableDef def;
    def.Fields = {{"Name", ftString, 0, 12},
                  {"ID", ftInteger, kSubTypeAutoInc},
                  {"Born", ftDate},
                  {"Level", ftInteger},
                  {"Team", ftString, 0, 10},
                  {"Notes", ftBlob, 24}};
    def.Indexes = {{.Name = "", .Primary = true, .Fields = {"ID"}},
                   {.Name = "ByName", .Fields = {"Name"}}};
    return def;
}

std::vector<TPerson> ThreePeople() {
    return {{"Ada", "1/5/1990", "1", "red"}, {"Bob", "", "2", "blue"}, {"Cyd", "12/31/2001", "", ""}};
}

void CreatePeopleTable(const std::string& path, const std::vector<TPerson>& people) {
    CreateTable(path, PeopleTableDef());
    TVeltraTable t;
    t.SetTableName(path);
    t.SetExclusive(true);
    t.Open();
    for (const TPerson& p : people) {
        t.Insert();
        t.FieldByName("Name").SetAsString(p.Name);
        t.FieldByName("Born").SetAsString(p.Born);
        t.FieldByName("Level").SetAsString(p.Level);
        t.FieldByName("Team").SetAsString(p.Team);
        t.Post();
    }
    t.Close();
}

void TQtTableTest::SetUp() {
    // Dates in these tests are written in the US short form.
    InstallFormatSettings(UsFormatSettings());
    Script = std::make_unique<TScriptedDialogs>();
    Path = Dir / "people.dat";
    Source.SetDataSet(&Table);
}

void TQtTableTest::TearDown() {
    Table.Close();
    EXPECT_TRUE(Script->Unexpected().isEmpty()) << Script->Unexpected().join("\n").toStdString();
    Script.reset();
}

void TQtTableTest::OpenPeople(const std::vector<TPerson>& people, bool readOnly) {
    Table.Close();
    CreatePeopleTable(Path, people);
    Table.SetTableName(Path);
    Table.SetReadOnly(readOnly);
    Table.Open();
}

std::string TQtTableTest::StoredValue(int id, const std::string& field) {
    TVeltraTable other;
    other.SetTableName(Path);
    other.SetReadOnly(true);
    other.Open();
    std::string value = "<missing>";
    if (other.FindKey({std::to_string(id)})) value = other.FieldByName(field).AsString();
    other.Close();
    return value;
}

}  // namespace veltra_test
