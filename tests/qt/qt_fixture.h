// Shared fixture of the Qt platform tests: a real table in a temporary
// folder, opened in a TVeltraTable behind a data source, and the scripted
// dialogs service installed for the test's whole life.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <memory>
#include <string>

#include "engine/veltra_table.h"
#include "platform/qt/dialogs/scripted_dialogs.h"
#include "tests/test_util.h"

namespace veltra_test {

// The people table: "Name" (text, 12), "ID" (auto-increment), "Born" (date),
// "Level" (integer), "Team" (text, 10), "Notes" (formatted memo). Primary
// index on ID, secondary "ByName" on Name.
veltra::TTableDef PeopleTableDef();

struct TPerson {
    std::string Name;
    std::string Born;  // M/d/yyyy, "" for null
    std::string Level;  // "" for null
    std::string Team;
};

// Creates the people table at `path` and inserts the people through a
// TVeltraTable, in order (IDs 1, 2, ...).
void CreatePeopleTable(const std::string& path, const std::vector<TPerson>& people);

// Three people: Ada (1/5/1990, level 1, team red), Bob (born null, level 2,
// team blue), Cyd (12/31/2001, level null, no team).
std::vector<TPerson> ThreePeople();

class TQtTableTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Opens the people table with these rows (closing a table opened before).
    void OpenPeople(const std::vector<TPerson>& people, bool readOnly = false);
    // The value of a field of the record with this ID, read from the file by
    // a second table component (what landed on disk).
    std::string StoredValue(int id, const std::string& field);

    TTestDir Dir;
    std::string Path;
    veltra::TVeltraTable Table;
    veltra::TDataSource Source;
    std::unique_ptr<veltra::TScriptedDialogs> Script;
};

}  // namespace veltra_test
