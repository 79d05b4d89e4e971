// The table component's cursor as the application drives it: staying on the
// same record through another process's change of its key (Edit, Delete,
// Refresh), through a change of index among repeated keys and through a
// refused index name; record filter events that raise; reported codes that
// keep their names; filter activation and filter options.
#include <gtest/gtest.h>

#include <atomic>

#include "child_process.h"
#include "engine/filter_eval.h"
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

class TableCursorTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineStartup();
        m_Path = m_Dir / "tickets.dat";
        CreateTable(m_Path, TicketsDef());
        auto t = Open();
        // IDs 1..6; three "Open" tickets (IDs 2, 4, 6).
        const char* rows[][3] = {{"delta", "Closed", "1"}, {"alpha", "Open", "2"}, {"mike", "Closed", "3"},
                                 {"echo", "Open", "4"},    {"zulu", "Pending", "5"}, {"kilo", "Open", "6"}};
        for (auto& r : rows) {
            t->Append();
            t->FieldByName("Title").SetAsString(r[0]);
            t->FieldByName("State").SetAsString(r[1]);
            t->FieldByName("Priority").SetAsString(r[2]);
            t->Post();
        }
    }
    std::unique_ptr<TVeltraTable> Open(const std::string& index = "") {
        auto t = std::make_unique<TVeltraTable>();
        t->SetTableName(m_Path);
        t->SetIndexName(index);
        t->Open();
        return t;
    }
    // Runs `change` on the table in another process and waits for it.
    void InOtherProcess(const std::function<void(TVeltraTable&)>& change) {
        TChildProcess child([&](TChildChannel&) {
            TVeltraTable other;
            other.SetTableName(m_Path);
            other.SetIndexName("Title");
            other.Open();
            change(other);
            other.Close();
            return kChildOk;
        });
        ASSERT_TRUE(child.Started());
        ASSERT_EQ(child.ExitCode(), kChildOk);
    }
    static void Retitle(TVeltraTable& t, const char* from, const char* to) {
        if (!t.FindKey({from})) throw std::runtime_error("no such title");
        t.Edit();
        t.FieldByName("Title").SetAsString(to);
        t.Post();
    }
    static int64_t Id(TVeltraTable& t) { return t.FieldByName("ID").AsInteger(); }
    static std::vector<std::string> Titles(TVeltraTable& t) {
        std::vector<std::string> out;
        for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName("Title").AsString());
        return out;
    }
    TTestDir m_Dir;
    std::string m_Path;
};

// Another process moves the current record's key before or after its
// neighbours; Edit, Delete and Refresh stay with that record (same ID) and
// see its new key.
TEST_F(TableCursorTest, KeyChangedByAnotherProcess) {
    struct TCase {
        const char* NewTitle;
        int64_t RecNoAfter;  // in Title order: alpha echo kilo ... zulu
    };
    const TCase cases[] = {{"zz top", 6}, {"aardvark", 1}, {"lima", 5}};
    enum class TAction { Edit, Delete, Refresh };
    for (TAction action : {TAction::Edit, TAction::Delete, TAction::Refresh}) {
        for (const TCase& c : cases) {
            SCOPED_TRACE(std::string(c.NewTitle) + " action " + std::to_string(int(action)));
            SetUp();
            auto t = Open("Title");
            ASSERT_TRUE(t->FindKey({"mike"}));
            ASSERT_EQ(Id(*t), 3);
            InOtherProcess([&](TVeltraTable& o) { Retitle(o, "mike", c.NewTitle); });
            switch (action) {
                case TAction::Edit:
                    ASSERT_NO_THROW(t->Edit());
                    EXPECT_EQ(Id(*t), 3);
                    EXPECT_EQ(t->FieldByName("Title").AsString(), c.NewTitle);
                    t->FieldByName("Priority").SetAsInteger(9);
                    t->Post();
                    EXPECT_EQ(Id(*t), 3);
                    EXPECT_EQ(t->RecNo(), c.RecNoAfter);
                    ASSERT_TRUE(t->FindKey({c.NewTitle}));
                    EXPECT_EQ(t->FieldByName("Priority").AsInteger(), 9);
                    break;
                case TAction::Delete:
                    t->Delete();
                    EXPECT_EQ(t->RecordCount(), 5);
                    EXPECT_FALSE(t->FindKey({c.NewTitle}));
                    for (const char* kept : {"alpha", "delta", "echo", "kilo", "zulu"})
                        EXPECT_TRUE(t->FindKey({kept})) << kept;
                    break;
                case TAction::Refresh:
                    t->Refresh();
                    EXPECT_EQ(Id(*t), 3);
                    EXPECT_EQ(t->FieldByName("Title").AsString(), c.NewTitle);
                    EXPECT_EQ(t->RecNo(), c.RecNoAfter);
                    break;
            }
        }
    }
}

// A record another process really deleted: Edit raises 8710 and stays in
// browse state; Refresh goes on to the record after it.
TEST_F(TableCursorTest, RecordDeletedByAnotherProcess) {
    auto t = Open("Title");
    ASSERT_TRUE(t->FindKey({"echo"}));
    InOtherProcess([&](TVeltraTable& o) {
        if (!o.FindKey({"echo"})) throw std::runtime_error("no echo");
        o.Delete();
    });
    EXPECT_EQ(EngineErrorOf([&] { t->Edit(); }), ecRecordNotFound);
    EXPECT_EQ(t->State(), TDataSetState::Browse);
    t->Refresh();
    EXPECT_EQ(t->FieldByName("Title").AsString(), "kilo");
}

// Switching to an index with repeated keys keeps the very record current.
TEST_F(TableCursorTest, IndexSwitchKeepsRecordAmongRepeatedKeys) {
    for (int64_t id : {2, 4, 6, 5}) {
        SCOPED_TRACE(id);
        auto t = Open();
        t->SetRecNo(id);
        ASSERT_EQ(Id(*t), id);
        t->SetIndexName("State");
        EXPECT_EQ(Id(*t), id);
        t->SetIndexName("Title");
        EXPECT_EQ(Id(*t), id);
        t->SetIndexFieldNames("State");
        EXPECT_EQ(Id(*t), id);
        t->SetIndexName("");
        EXPECT_EQ(Id(*t), id);
    }
}

// An unknown index name leaves name, order and position as they were.
TEST_F(TableCursorTest, RefusedIndexNameChangesNothing) {
    auto t = Open("Title");
    ASSERT_TRUE(t->FindKey({"kilo"}));
    const std::vector<std::string> before = {"alpha", "delta", "echo", "kilo", "mike", "zulu"};
    ASSERT_TRUE(t->FindKey({"kilo"}));
    EXPECT_EQ(EngineErrorOf([&] { t->SetIndexName("Nope"); }), ecInvalidIndexName);
    EXPECT_EQ(t->IndexName(), "Title");
    EXPECT_EQ(t->FieldByName("Title").AsString(), "kilo");
    EXPECT_EQ(t->RecNo(), 4);
    t->Next();
    EXPECT_EQ(t->FieldByName("Title").AsString(), "mike");
    EXPECT_EQ(Titles(*t), before);
    EXPECT_EQ(EngineErrorOf([&] { t->SetIndexFieldNames("Priority"); }), ecInvalidIndexName);
    EXPECT_EQ(t->IndexName(), "Title");
    EXPECT_EQ(Titles(*t), before);
}

// A record filter event that raises: the application's handler receives the
// error, a record the event rejected before raising stays rejected, one it
// had not rejected counts as accepted.
TEST_F(TableCursorTest, RaisingFilterEventKeepsItsVerdict) {
    std::vector<std::string> handled;
    SetApplicationErrorHandler([&](const std::exception& e) { handled.push_back(e.what()); });
    auto t = Open("Title");
    t->SetFiltered(true);
    t->SetOnFilterRecord([](TDataSet& d, bool& accept) {
        const std::string title = d.FieldByName("Title").AsString();
        if (title == "delta" || title == "mike") {
            accept = false;
            throw std::runtime_error("rejected " + title);
        }
        if (title == "zulu") throw EDatabaseError("kept " + title);
    });
    SetApplicationErrorHandler(nullptr);
    EXPECT_EQ(Titles(*t), (std::vector<std::string>{"alpha", "echo", "kilo", "zulu"}));
    EXPECT_EQ(t->RecordCount(), 4);
    std::sort(handled.begin(), handled.end());
    EXPECT_EQ(handled, (std::vector<std::string>{"kept zulu", "rejected delta", "rejected mike"}));
    // Removing the event shows every record again at once.
    t->SetOnFilterRecord(nullptr);
    EXPECT_EQ(t->RecordCount(), 6);
}

// The event assigned to an open table takes effect at once, and the table
// stays in browse state after evaluating it.
TEST_F(TableCursorTest, FilterEventAssignedToOpenTable) {
    auto t = Open("Title");
    t->SetFiltered(true);
    ASSERT_EQ(t->RecordCount(), 6);
    t->SetOnFilterRecord([](TDataSet& d, bool& accept) {
        EXPECT_EQ(d.State(), TDataSetState::Filter);
        accept = d.FieldByName("State").AsString() == "Open";
    });
    EXPECT_EQ(t->State(), TDataSetState::Browse);
    EXPECT_EQ(Titles(*t), (std::vector<std::string>{"alpha", "echo", "kilo"}));
    t->SetFiltered(false);
    EXPECT_EQ(t->RecordCount(), 6);
    t->SetFiltered(true);
    EXPECT_EQ(t->RecordCount(), 3);
}

// A code reported by an operation keeps the names it left in the context.
TEST_F(TableCursorTest, ReportedCodesKeepTheirNames) {
    auto t = Open();
    TDataFile& file = *t->DataFile();
    std::vector<uint8_t> record(size_t(file.RecordSize()));
    const int code = file.OpenBlobField(file.FieldNumber("Title"), kBlobRead, record.data());
    ASSERT_EQ(code, ecInvalidBlobField);
    try {
        CheckEngineResult(code);
        FAIL() << "no error raised";
    } catch (const EVeltraEngineError& e) {
        EXPECT_EQ(e.ErrorCode(), ecInvalidBlobField);
        EXPECT_NE(std::string(e.what()).find("Title"), std::string::npos) << e.what();
        EXPECT_EQ(std::string(e.what()).find("  "), std::string::npos) << e.what();
    }
    // A code the context does not hold is raised without its names.
    StoreEngineErrorContext(ecRecordNotFound, "x.dat", "Priority");
    try {
        CheckEngineResult(ecInvalidBlobField, "y.dat");
        FAIL() << "no error raised";
    } catch (const EVeltraEngineError& e) {
        EXPECT_EQ(std::string(e.what()).find("Priority"), std::string::npos) << e.what();
    }
}

// A compiled filter that fails its first activation: activation is tried
// again with a freshly compiled one; a second failure is raised and the
// filter is not in force.
class TFailingFilter : public TFilterEvaluator {
public:
    explicit TFailingFilter(bool fail) : m_Fail(fail) {}
    bool Matches(const uint8_t* record) const override {
        if (m_Fail) RaiseEngineError(ecLockFailure, "tickets.dat");
        return GetI32(record + 5) % 2 == 0;  // even record IDs
    }
    std::unique_ptr<TFilterEvaluator> Clone() const override { return std::make_unique<TFailingFilter>(m_Fail); }

private:
    bool m_Fail;
};

TEST_F(TableCursorTest, FailedFilterActivationIsRetriedOnceWithAFreshFilter) {
    struct TCase {
        int Failures;  // compilations whose filter fails
        bool Raises;
        int64_t Count;
    };
    const TCase cases[] = {{0, false, 3}, {1, false, 3}, {2, true, 6}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Failures);
        int compiled = 0;
        SetFilterCompiler([&](TDataFile&, const std::string&, const TFilterOptions&) {
            return std::make_unique<TFailingFilter>(compiled++ < c.Failures);
        });
        auto t = Open();
        t->SetFilter("anything");
        if (c.Raises) {
            EXPECT_EQ(EngineErrorOf([&] { t->SetFiltered(true); }), ecLockFailure);
        } else {
            t->SetFiltered(true);
        }
        EXPECT_EQ(t->RecordCount(), c.Count);
        EXPECT_EQ(compiled, std::min(c.Failures, 1) + 1);
        t->Close();
    }
    SetFilterCompiler([](TDataFile& t, const std::string& text, const TFilterOptions& o) {
        return std::unique_ptr<TFilterEvaluator>(CreateExpressionFilter(
            t, text,
            TFilterOptionSet((o.CaseInsensitive ? foCaseInsensitive : 0) | (o.NoPartialCompare ? foNoPartialCompare : 0))));
    });
}

// Filter options set while editing post the edit; without filter text they
// change neither the filter state nor the position.
TEST_F(TableCursorTest, FilterOptionsWithoutTextLeaveFilterState) {
    auto t = Open("Title");
    t->SetFiltered(true);
    ASSERT_TRUE(t->FindKey({"kilo"}));
    t->Edit();
    t->FieldByName("Priority").SetAsInteger(42);
    t->SetFilterOptions({.CaseInsensitive = true});
    EXPECT_EQ(t->State(), TDataSetState::Browse);
    EXPECT_TRUE(t->Filtered());
    EXPECT_EQ(t->FieldByName("Title").AsString(), "kilo");
    EXPECT_EQ(t->FieldByName("Priority").AsInteger(), 42);
    EXPECT_EQ(t->RecordCount(), 6);
    // With text, new options recompile it: a case-insensitive match appears.
    t->SetFilter("[Title] = 'KILO'");
    EXPECT_EQ(t->RecordCount(), 1);
    t->SetFilterOptions({});
    EXPECT_EQ(t->RecordCount(), 0);
}

}  // namespace
