// The view a grid shows of a table: row access by number (TRowReader), the
// record number and count of the current view, under indexes, filters and
// ranges of repeated keys, beside this process's own changes and other
// processes' changes (ChangedOnDisk, Refresh). A model (the records kept in a
// std::map) decides what every row must be.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "child_process.h"
#include "engine/session.h"
#include "engine/veltra_table.h"
#include "test_util.h"

using namespace veltra;
using namespace veltra_test;

namespace {

TTableDef TicketsDef() {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc},
                  {"Title", ftString, 0, 30},
                  {"State", ftString, 0, 20},
                  {"Priority", ftInteger}};
    def.Indexes = {{.Primary = true, .Fields = {"ID"}},
                   {.Name = "Title", .Fields = {"Title"}, .CaseInsensitive = true},
                   {.Name = "State", .Fields = {"State"}}};
    return def;
}

struct TTicket {
    std::string Title, State;
    int Priority = 0;
};

class TableViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineStartup();
        m_Path = m_Dir / "tickets.dat";
        CreateTable(m_Path, TicketsDef());
    }
    std::unique_ptr<TVeltraTable> Open(const std::string& index = "") {
        auto t = std::make_unique<TVeltraTable>();
        t->SetTableName(m_Path);
        t->SetIndexName(index);
        t->Open();
        return t;
    }
    // Appends a ticket and returns its ID.
    int Add(TVeltraTable& t, const TTicket& ticket) {
        t.Append();
        t.FieldByName("Title").SetAsString(ticket.Title);
        t.FieldByName("State").SetAsString(ticket.State);
        t.FieldByName("Priority").SetAsInteger(ticket.Priority);
        t.Post();
        // The posted ticket need not stay current (a filter may hide it).
        const int id = t.DataFile()->LastRecordID();
        m_Model[id] = ticket;
        return id;
    }
    // The IDs the view must show, in order: by `State` then ID, or by ID,
    // keeping the tickets `pass` accepts.
    std::vector<int> Expected(bool byState, const std::function<bool(const TTicket&)>& pass) const {
        std::vector<std::pair<std::string, int>> rows;
        for (const auto& [id, ticket] : m_Model)
            if (pass(ticket)) rows.emplace_back(byState ? ticket.State : std::string(), id);
        std::sort(rows.begin(), rows.end());
        std::vector<int> ids;
        for (auto& r : rows) ids.push_back(r.second);
        return ids;
    }
    // Every row of the reader, as IDs.
    static std::vector<int> Rows(TVeltraTable& t, TRowReader& reader) {
        std::vector<int> ids;
        std::vector<uint8_t> image;
        const int64_t count = reader.RowCount();
        for (int64_t n = 1; n <= count; ++n) {
            if (!reader.ReadRow(n, image)) {
                ADD_FAILURE() << "row " << n << " of " << count << " missing";
                break;
            }
            uint8_t value[4];
            t.DataFile()->GetFieldValue(t.DataFile()->FieldNumber("ID"), image.data(), value);
            ids.push_back(GetI32(value));
        }
        EXPECT_FALSE(reader.ReadRow(count + 1, image));
        return ids;
    }
    TTestDir m_Dir;
    std::string m_Path;
    std::map<int, TTicket> m_Model;
};

// A grid's reader made before posts, deletions and edits shows them at once,
// and the table's own record number is the current record's row in it.
TEST_F(TableViewTest, ReaderFollowsOwnChanges) {
    auto t = Open("State");
    t->SetFilter("[Priority] >= 2");
    t->SetFiltered(true);
    TRowReader reader(*t);
    EXPECT_EQ(reader.RowCount(), 0);
    auto pass = [](const TTicket& k) { return k.Priority >= 2; };
    const TTicket tickets[] = {{"a", "Open", 3},   {"b", "Closed", 1}, {"c", "Open", 2},
                               {"d", "Closed", 5}, {"e", "Open", 1},   {"f", "Close pending", 4}};
    for (const TTicket& k : tickets) {
        int id = Add(*t, k);
        SCOPED_TRACE(id);
        std::vector<int> want = Expected(true, pass);
        EXPECT_EQ(Rows(*t, reader), want);
        EXPECT_EQ(t->RecordCount(), int64_t(want.size()));
        if (pass(k)) {
            auto at = std::find(want.begin(), want.end(), id);
            EXPECT_EQ(t->RecNo(), at - want.begin() + 1);
        }
    }
    // Edit moves a ticket out of the filter, then another one to a new place.
    ASSERT_TRUE(t->FindKey({"Closed"}));
    const int first = int(t->FieldByName("ID").AsInteger());
    t->Edit();
    t->FieldByName("Priority").SetAsInteger(0);
    t->Post();
    m_Model[first].Priority = 0;
    EXPECT_EQ(Rows(*t, reader), Expected(true, pass));
    t->First();
    t->Edit();
    t->FieldByName("State").SetAsString("Zeta");
    t->Post();
    m_Model[int(t->FieldByName("ID").AsInteger())].State = "Zeta";
    EXPECT_EQ(Rows(*t, reader), Expected(true, pass));
    EXPECT_EQ(t->RecNo(), int64_t(Expected(true, pass).size()));
    // Deleting the current ticket.
    t->First();
    m_Model.erase(int(t->FieldByName("ID").AsInteger()));
    t->Delete();
    EXPECT_EQ(Rows(*t, reader), Expected(true, pass));
    EXPECT_EQ(t->RecNo(), 1);
    // Dropping the filter and changing the index show at once.
    t->SetFiltered(false);
    EXPECT_EQ(Rows(*t, reader), Expected(true, [](const TTicket&) { return true; }));
    t->SetIndexName("");
    EXPECT_EQ(Rows(*t, reader), Expected(false, [](const TTicket&) { return true; }));
}

// Random changes, filters and positioning against the model, in index order
// and natural order, filtered and not: every RecNo, RecordCount and row n
// agrees with the model's view; SetRecNo lands on the model's row.
TEST_F(TableViewTest, RandomChangesAgreeWithModelView) {
    struct TConfig {
        const char* Index;
        bool Filtered;
    };
    const TConfig configs[] = {{"State", true}, {"State", false}, {"", true}, {"", false}};
    for (const TConfig& config : configs) {
        SCOPED_TRACE(std::string(config.Index) + (config.Filtered ? " filtered" : ""));
        CreateTable(m_Path, TicketsDef());
        m_Model.clear();
        auto t = Open(config.Index);
        if (config.Filtered) {
            t->SetFilter("[Priority] < 5");
            t->SetFiltered(true);
        }
        auto pass = [&](const TTicket& k) { return !config.Filtered || k.Priority < 5; };
        const bool byState = *config.Index != 0;
        TRowReader reader(*t);
        std::mt19937 rng(1234);
        const char* states[] = {"Open", "Closed", "Under investigation", "Close pending"};
        for (int step = 0; step < 300; ++step) {
            const int op = int(rng() % 10);
            if (op < 5 || m_Model.empty()) {
                Add(*t, {"t" + std::to_string(step), states[rng() % 4], int(rng() % 8)});
            } else if (op < 7 && t->RecordCount() > 0) {
                t->SetRecNo(int64_t(rng() % uint64_t(t->RecordCount())) + 1);
                const int id = int(t->FieldByName("ID").AsInteger());
                t->Edit();
                const TTicket k{"e" + std::to_string(step), states[rng() % 4], int(rng() % 8)};
                t->FieldByName("State").SetAsString(k.State);
                t->FieldByName("Priority").SetAsInteger(k.Priority);
                t->FieldByName("Title").SetAsString(k.Title);
                t->Post();
                m_Model[id] = k;
            } else if (op < 8 && t->RecordCount() > 0) {
                t->SetRecNo(int64_t(rng() % uint64_t(t->RecordCount())) + 1);
                m_Model.erase(int(t->FieldByName("ID").AsInteger()));
                t->Delete();
            } else {
                const std::vector<int> want = Expected(byState, pass);
                if (want.empty()) continue;
                const int64_t n = int64_t(rng() % want.size()) + 1;
                t->SetRecNo(n);
                ASSERT_EQ(t->FieldByName("ID").AsInteger(), want[size_t(n - 1)]) << "step " << step;
            }
            const std::vector<int> want = Expected(byState, pass);
            ASSERT_EQ(t->RecordCount(), int64_t(want.size())) << "step " << step;
            if (!t->IsEmpty()) {
                auto at = std::find(want.begin(), want.end(), int(t->FieldByName("ID").AsInteger()));
                ASSERT_NE(at, want.end()) << "step " << step;
                ASSERT_EQ(t->RecNo(), at - want.begin() + 1) << "step " << step;
            }
            if (step % 25 == 0) {
                ASSERT_EQ(Rows(*t, reader), want) << "step " << step;
            }
        }
        EXPECT_EQ(Rows(*t, reader), Expected(byState, pass));
        t->Close();
        EXPECT_EQ(reader.RowCount(), 0);
    }
}

// Another process's post: ChangedOnDisk turns true without reading records;
// the reader shows the new ticket after Refresh, and ChangedOnDisk is false
// again. This process's own posts never count as changes on disk.
TEST_F(TableViewTest, OtherProcessChangesSeenAfterRefresh) {
    auto t = Open("Title");
    Add(*t, {"alpha", "Open", 1});
    Add(*t, {"gamma", "Open", 1});
    EXPECT_FALSE(t->ChangedOnDisk());
    TRowReader reader(*t);
    ASSERT_EQ(Rows(*t, reader).size(), 2u);
    TChildProcess child([&](TChildChannel& c) {
        TVeltraTable other;
        other.SetTableName(m_Path);
        other.Open();
        other.Append();
        other.FieldByName("Title").SetAsString("beta");
        other.Post();
        c.Send(1);
        c.Receive();
        return kChildOk;
    });
    ASSERT_TRUE(child.Started());
    ASSERT_EQ(child.Receive(), 1);
    const uint64_t readsBefore = t->DataFile()->Statistics().DiskReads;
    EXPECT_TRUE(t->ChangedOnDisk());
    EXPECT_TRUE(t->ChangedOnDisk());  // asking does not take the change in
    EXPECT_EQ(t->DataFile()->Statistics().DiskReads, readsBefore);
    t->Refresh();
    EXPECT_FALSE(t->ChangedOnDisk());
    const std::vector<int> rows = Rows(*t, reader);
    ASSERT_EQ(rows.size(), 3u);
    std::vector<uint8_t> image;
    ASSERT_TRUE(reader.ReadRow(2, image));
    EXPECT_STREQ(reinterpret_cast<const char*>(&image[t->DataFile()->FieldDescriptorByName("Title").Offset() + 1u]),
                 "beta");
    child.Send(0);
    EXPECT_EQ(child.ExitCode(), kChildOk);
}

TEST_F(TableViewTest, ChangedOnDiskFalseForClosedAndExclusiveTables) {
    TVeltraTable t;
    t.SetTableName(m_Path);
    EXPECT_FALSE(t.ChangedOnDisk());
    t.SetExclusive(true);
    t.Open();
    Add(t, {"x", "Open", 1});
    EXPECT_FALSE(t.ChangedOnDisk());
}

}  // namespace
