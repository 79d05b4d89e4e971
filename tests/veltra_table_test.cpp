// The table component through its public interface: opening, index names and
// selection, find by key, filters, record numbers, edit/post/cancel/delete
// with events, BLOB streams, engine errors reaching the caller, random row
// access for views, and two components in two processes on one table.
#include <gtest/gtest.h>

#include "child_process.h"
#include "engine/session.h"
#include "engine/veltra_table.h"
#include "test_util.h"

using namespace veltra;
using namespace veltra_test;

namespace {

TTableDef UsersDef() {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc},
                  {"username", ftString, 0, 20, 0, true},
                  {"groupname", ftString, 0, 20},
                  {"level", ftSmallInt, 0, 0, 0, false, "", "", "1"},
                  {"notes", ftBlob, 22}};
    def.Indexes = {{.Primary = true, .Fields = {"ID"}},
                   {.Name = "groupname", .Fields = {"groupname", "username"}},
                   {.Name = "username", .Fields = {"username"}, .Unique = true, .CaseInsensitive = true}};
    return def;
}

class VeltraTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineStartup();
        m_Path = m_Dir / "sys1.dat";
        CreateTable(m_Path, UsersDef());
        TVeltraTable t;
        t.SetTableName(m_Path);
        t.Open();
        const char* rows[][2] = {{"anna", "staff"}, {"ben", "admin"}, {"carla", "staff"}, {"dora", "guest"},
                                 {"emil", "staff"}};
        for (auto& r : rows) {
            t.Append();
            t.FieldByName("username").SetAsString(r[0]);
            t.FieldByName("groupname").SetAsString(r[1]);
            t.Post();
        }
    }

    std::unique_ptr<TVeltraTable> Open(const std::string& index = "") {
        auto t = std::make_unique<TVeltraTable>();
        t->SetTableName(m_Path);
        t->SetIndexName(index);
        t->Open();
        return t;
    }

    static std::vector<std::string> Column(TVeltraTable& t, const char* field) {
        std::vector<std::string> out;
        for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName(field).AsString());
        return out;
    }

    TTestDir m_Dir;
    std::string m_Path;
};

}  // namespace

TEST_F(VeltraTableTest, OpeningNeedsATableName) {
    TVeltraTable t;
    try {
        t.Open();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Missing table name.");
    }
    EXPECT_FALSE(t.Active());
    EXPECT_EQ(t.EngineVersion(), "1.1");
}

TEST_F(VeltraTableTest, IndexNamesAndSelection) {
    auto t = Open();
    EXPECT_EQ(t->GetIndexNames(), (std::vector<std::string>{"groupname", "username"}));
    EXPECT_EQ(Column(*t, "username"), (std::vector<std::string>{"anna", "ben", "carla", "dora", "emil"}));
    t->First();
    t->Next();  // ben
    t->SetIndexName("groupname");
    EXPECT_EQ(t->FieldByName("username").AsString(), "ben");  // the current record stays
    EXPECT_EQ(t->RecNo(), 1);  // admin sorts first
    EXPECT_EQ(Column(*t, "username"), (std::vector<std::string>{"ben", "dora", "anna", "carla", "emil"}));
    try {
        t->SetIndexName("nope");
        FAIL();
    } catch (const EVeltraEngineError& e) {
        EXPECT_EQ(std::string(e.what()), "Veltra Engine Error # 10022 Invalid secondary index name nope specified "
                                         "for data file " + ResolveExistingPath(ForceExtension(m_Path, "DAT")));
    }
    t->Close();
    t->SetIndexName("nope");
    EXPECT_EQ(EngineErrorOf([&] { t->Open(); }), 10022);
    EXPECT_FALSE(t->Active());
    t->SetIndexFieldNames("groupname;username");
    t->Open();
    EXPECT_EQ(Column(*t, "username").front(), "ben");
}

TEST_F(VeltraTableTest, FindKeyOnLeadingFields) {
    auto t = Open("groupname");
    EXPECT_TRUE(t->FindKey({"staff"}));
    EXPECT_EQ(t->FieldByName("username").AsString(), "anna");  // the first of the group
    EXPECT_FALSE(t->FindKey({"nobody"}));
    EXPECT_EQ(t->FieldByName("username").AsString(), "anna");  // did not move
    EXPECT_TRUE(t->FindKey({"staff", "emil"}));
    EXPECT_EQ(t->RecNo(), 5);
    t->SetIndexName("username");
    EXPECT_TRUE(t->FindKey({"DORA"}));  // case-insensitive index
    EXPECT_EQ(t->FieldByName("groupname").AsString(), "guest");
}

TEST_F(VeltraTableTest, EditPostCancelDeleteWithEvents) {
    auto t = Open("username");
    std::vector<std::string> events;
    auto log = [&](const char* name) { return [&events, name](TDataSet&) { events.push_back(name); }; };
    t->BeforeEdit = log("BeforeEdit");
    t->AfterEdit = log("AfterEdit");
    t->BeforePost = [&](TDataSet& ds) {
        events.push_back("BeforePost");
        ds.FieldByName("level").SetAsInteger(7);  // still written
    };
    t->AfterPost = log("AfterPost");
    t->AfterScroll = log("AfterScroll");
    t->AfterCancel = log("AfterCancel");
    t->AfterDelete = log("AfterDelete");

    ASSERT_TRUE(t->FindKey({"carla"}));
    events.clear();
    t->Edit();
    t->FieldByName("groupname").SetAsString("admin");
    t->Post();
    EXPECT_EQ(events, (std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost"}));
    EXPECT_EQ(t->FieldByName("level").AsInteger(), 7);
    EXPECT_TRUE(t->DataFile()->LockedRecords().empty());

    events.clear();
    t->Edit();
    t->FieldByName("groupname").SetAsString("lost");
    t->Cancel();
    EXPECT_EQ(t->FieldByName("groupname").AsString(), "admin");
    EXPECT_TRUE(t->DataFile()->LockedRecords().empty());
    t->Next();
    EXPECT_EQ(events, (std::vector<std::string>{"BeforeEdit", "AfterEdit", "AfterCancel", "AfterScroll"}));

    try {
        t->FieldByName("groupname").SetAsString("x");
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Dataset not in edit or insert mode");
    }
    t->Edit();
    try {
        t->FieldByName("ID").SetAsInteger(9);
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Field 'ID' cannot be modified");
    }
    t->Cancel();

    // A failed post keeps the insert state and the buffer.
    t->Append();
    t->FieldByName("username").SetAsString("ANNA");  // the unique index refuses it
    EXPECT_EQ(EngineErrorOf([&] { t->Post(); }), 9729);
    EXPECT_EQ(t->State(), TDataSetState::Insert);
    EXPECT_EQ(t->FieldByName("username").AsString(), "ANNA");
    t->Cancel();

    int64_t before = t->RecordCount();
    ASSERT_TRUE(t->FindKey({"dora"}));
    t->Delete();
    EXPECT_EQ(t->RecordCount(), before - 1);
    EXPECT_EQ(t->FieldByName("username").AsString(), "emil");  // the next record
}

TEST_F(VeltraTableTest, BlobStreamsAndMemoText) {
    auto t = Open("username");
    ASSERT_TRUE(t->FindKey({"ben"}));
    t->Edit();
    {
        TVeltraBlobStream s(*t, t->FieldByName("notes"), TVeltraBlobStream::TMode::Write);
        std::string text(3000, 'x');
        s.Write(text.data(), int64_t(text.size()));
        EXPECT_EQ(s.Size(), 3000);
    }
    EXPECT_TRUE(t->Modified());
    t->Post();
    EXPECT_EQ(t->FieldByName("notes").AsString(), std::string(3000, 'x'));
    {
        TVeltraBlobStream s(*t, t->FieldByName("notes"), TVeltraBlobStream::TMode::Read);
        char tail[10];
        s.Seek(-4, 2);
        EXPECT_EQ(s.Read(tail, 10), 4);
        EXPECT_THROW(TVeltraBlobStream(*t, t->FieldByName("notes"), TVeltraBlobStream::TMode::Write),
                     EDatabaseError);
    }
    t->Close();
    t = Open("username");
    ASSERT_TRUE(t->FindKey({"ben"}));
    EXPECT_EQ(t->FieldByName("notes").AsString().size(), 3000u);
}

TEST_F(VeltraTableTest, RowsByNumberWithoutMovingTheTable) {
    auto t = Open("groupname");
    ASSERT_TRUE(t->FindKey({"staff", "carla"}));
    TRowReader rows(*t);
    EXPECT_EQ(rows.RowCount(), 5);
    std::vector<uint8_t> rec;
    ASSERT_TRUE(rows.ReadRow(2, rec));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&rec[t->DataFile()->FieldDescriptorByName("username").Offset() + 1u])),
              "dora");
    EXPECT_FALSE(rows.ReadRow(6, rec));
    EXPECT_EQ(t->FieldByName("username").AsString(), "carla");
    EXPECT_EQ(t->RecNo(), 4);
}

TEST_F(VeltraTableTest, EditOfARecordHeldByAnotherProcessFails) {
    TChildProcess child([&](TChildChannel& c) {
        TVeltraTable other;
        other.SetTableName(m_Path);
        other.SetIndexName("username");
        other.Open();
        c.Check(other.FindKey({"anna"}), "finds anna");
        other.Edit();
        other.FieldByName("groupname").SetAsString("changed");
        c.Send(1);
        c.Receive();
        other.Post();
        c.Send(2);
        c.Receive();
        return kChildOk;
    });
    ASSERT_TRUE(child.Started());
    auto t = Open("username");
    t->SetLockRetryCount(3);
    t->SetLockWaitTime(20);
    ASSERT_TRUE(t->FindKey({"anna"}));
    ASSERT_TRUE(child.Receive().has_value());
    EXPECT_EQ(EngineErrorOf([&] { t->Edit(); }), 10258);
    EXPECT_EQ(t->State(), TDataSetState::Browse);
    child.Send(0);
    ASSERT_TRUE(child.Receive().has_value());
    t->Refresh();
    EXPECT_EQ(t->FieldByName("groupname").AsString(), "changed");
    t->Edit();  // free now
    t->Cancel();
    child.Send(0);
    EXPECT_EQ(child.ExitCode(), kChildOk);
}

TEST_F(VeltraTableTest, FiltersCountNumberAndSurviveBadText) {
    auto t = Open("username");
    t->SetFilter("[groupname] = 'staff'");
    t->SetFiltered(true);
    EXPECT_EQ(t->RecordCount(), 3);
    EXPECT_EQ(t->FieldByName("username").AsString(), "anna");
    EXPECT_EQ(t->RecNo(), 1);
    EXPECT_EQ(Column(*t, "username"), (std::vector<std::string>{"anna", "carla", "emil"}));

    EXPECT_THROW(t->SetFilter("[groupname] = "), EDatabaseError);  // the old filter stays
    EXPECT_EQ(t->Filter(), "[groupname] = 'staff'");
    EXPECT_EQ(t->RecordCount(), 3);

    t->Last();
    t->SetFiltered(true);  // unchanged, still back to the first record
    EXPECT_EQ(t->FieldByName("username").AsString(), "anna");

    t->SetFilterOptions({.CaseInsensitive = true});
    t->SetFilter("[groupname] = 'STAFF' or [username] = 'dora'");
    EXPECT_EQ(t->RecordCount(), 4);
    t->SetFiltered(false);
    EXPECT_EQ(t->RecordCount(), 5);

    bool onlyB = true;
    t->OnFilterRecord = [&](TDataSet& ds, bool& accept) {
        accept = !onlyB || ds.FieldByName("username").AsString().front() == 'b';
    };
    t->SetFilter("");
    t->Close();
    t->SetFiltered(true);
    t->Open();
    EXPECT_EQ(Column(*t, "username"), (std::vector<std::string>{"ben"}));
}

// A browsed record whose BLOB another process rewrote, after a third record
// took the BLOB's old blocks: reading the BLOB shows the record's new BLOB and
// its new fields, never the other record's blocks or nothing.
// The same through a read stream, the way a rich-text control loads a BLOB.
TEST_F(VeltraTableTest, AReadStreamOfABrowsedRecordTakesItsBlobAsItIsNow) {
    auto t = Open();
    ASSERT_TRUE(t->FindKey({"1"}));
    t->Edit();
    t->FieldByName("notes").SetAsString(std::string(1500, 'A'));
    t->Post();
    t->First();
    ASSERT_EQ(t->FieldByName("username").AsString(), "anna");

    TChildProcess child([&](TChildChannel& c) {
        auto edit = [&](const char* id, const std::string& notes) {
            TVeltraTable other;
            other.SetTableName(m_Path);
            other.Open();
            c.Check(other.FindKey({id}), "finds the record");
            other.Edit();
            other.FieldByName("notes").SetAsString(notes);
            other.Post();
        };
        edit("1", "");                      // frees anna's blocks
        edit("2", std::string(1500, 'B'));  // ben takes them
        edit("1", std::string(700, 'C'));   // anna gets new ones
        return kChildOk;
    });
    ASSERT_TRUE(child.Started());
    ASSERT_EQ(child.ExitCode(), kChildOk);
    TVeltraBlobStream stream(*t, t->FieldByName("notes"), TVeltraBlobStream::TMode::Read);
    ASSERT_EQ(stream.Size(), 700);
    std::string text(1000, '\0');
    EXPECT_EQ(stream.Read(text.data(), 400), 400);
    EXPECT_EQ(stream.Read(text.data() + 400, 600), 300);
    EXPECT_EQ(stream.Read(text.data(), 10), 0);
    text.resize(700);
    EXPECT_EQ(text, std::string(700, 'C'));
    EXPECT_EQ(stream.Seek(-100, 2), 600);
    EXPECT_EQ(stream.Read(text.data(), 1000), 100);
}

TEST_F(VeltraTableTest, ABrowsedRecordReadsItsBlobAsItIsNow) {
    auto t = Open();
    ASSERT_TRUE(t->FindKey({"1"}));
    t->Edit();
    t->FieldByName("notes").SetAsString(std::string(1500, 'A'));
    t->Post();
    t->First();  // anna, ID 1: its image is in the buffer, its BLOB not read
    ASSERT_EQ(t->FieldByName("username").AsString(), "anna");

    TChildProcess child([&](TChildChannel& c) {
        auto edit = [&](const char* id, const std::string& notes, const char* group) {
            TVeltraTable other;
            other.SetTableName(m_Path);
            other.Open();
            c.Check(other.FindKey({id}), "finds the record");
            other.Edit();
            other.FieldByName("notes").SetAsString(notes);
            if (group) other.FieldByName("groupname").SetAsString(group);
            other.Post();
        };
        edit("1", "", nullptr);                        // frees anna's blocks
        edit("2", std::string(1500, 'B'), nullptr);    // ben takes them
        edit("1", std::string(700, 'C'), "moved");     // anna gets new ones
        return kChildOk;
    });
    ASSERT_TRUE(child.Started());
    ASSERT_EQ(child.ExitCode(), kChildOk);
    EXPECT_EQ(t->FieldByName("notes").AsString(), std::string(700, 'C'));
    EXPECT_EQ(t->FieldByName("groupname").AsString(), "moved");
    EXPECT_EQ(t->FieldByName("username").AsString(), "anna");
}
