// The table component's searches and events beyond what the ticket log uses
// every day: bookmarks, SetKey / GotoKey, FindFirst / FindNext / FindPrior /
// FindLast with and without Filtered, and the edit, delete and calculation
// events.
#include <gtest/gtest.h>

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
                   {.Name = "StatePriority", .Fields = {"State", "Priority"}}};
    return def;
}

class TableSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineStartup();
        m_Path = m_Dir / "tickets.dat";
        CreateTable(m_Path, TicketsDef());
        auto t = Open();
        const char* rows[][3] = {{"delta", "Closed", "1"}, {"alpha", "Open", "2"}, {"mike", "Closed", "3"},
                                 {"echo", "Open", "4"},    {"zulu", "Pending", "5"}, {"kilo", "Open", "2"}};
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
    static std::string Title(TVeltraTable& t) { return t.FieldByName("Title").AsString(); }
    TTestDir m_Dir;
    std::string m_Path;
};

TEST_F(TableSearchTest, BookmarksInEveryOrder) {
    for (const char* index : {"", "Title", "StatePriority"}) {
        SCOPED_TRACE(index);
        auto t = Open(index);
        t->SetRecNo(2);
        const std::string second = Title(*t);
        const TVeltraTable::TBookmark b2 = t->GetBookmark();
        t->SetRecNo(5);
        const std::string fifth = Title(*t);
        const TVeltraTable::TBookmark b5 = t->GetBookmark();
        ASSERT_FALSE(b2.empty());
        EXPECT_EQ(t->CompareBookmarks(b2, b5), -1);
        EXPECT_EQ(t->CompareBookmarks(b5, b2), 1);
        EXPECT_EQ(t->CompareBookmarks(b5, b5), 0);
        EXPECT_EQ(t->CompareBookmarks({}, b5), -1);
        EXPECT_TRUE(t->BookmarkValid(b2));
        EXPECT_EQ(Title(*t), fifth);  // asking does not move
        t->GotoBookmark(b2);
        EXPECT_EQ(Title(*t), second);
        EXPECT_EQ(t->RecNo(), 2);
        // A deleted record's bookmark is no longer valid; going to it fails
        // and leaves the current record.
        t->GotoBookmark(b5);
        t->Delete();
        t->First();
        EXPECT_FALSE(t->BookmarkValid(b5));
        EXPECT_EQ(EngineErrorOf([&] { t->GotoBookmark(b5); }), ecRecordNotFound);
        EXPECT_EQ(t->RecNo(), 1);
        EXPECT_FALSE(t->BookmarkValid({1, 2}));
        t->Close();
        SetUp();
    }
}

TEST_F(TableSearchTest, BookmarkOutsideTheFilterIsNotValid) {
    auto t = Open("Title");
    ASSERT_TRUE(t->FindKey({"mike"}));
    const auto mike = t->GetBookmark();
    t->SetFilter("[State] = 'Open'");
    t->SetFiltered(true);
    EXPECT_FALSE(t->BookmarkValid(mike));
    EXPECT_EQ(EngineErrorOf([&] { t->GotoBookmark(mike); }), ecRecordNotFound);
    t->SetFiltered(false);
    EXPECT_TRUE(t->BookmarkValid(mike));
}

TEST_F(TableSearchTest, SetKeyGotoKey) {
    auto t = Open("StatePriority");
    struct TCase {
        const char* State;
        const char* Priority;  // nullptr: not assigned
        bool Found;
        const char* Title;
    };
    const TCase cases[] = {{"Open", "4", true, "echo"},     {"Open", nullptr, true, "alpha"},
                           {"Closed", "3", true, "mike"},   {"Open", "9", false, "mike"},
                           {"Nothing", nullptr, false, "mike"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.State) + (c.Priority ? c.Priority : "-"));
        t->SetKey();
        EXPECT_EQ(t->State(), TDataSetState::SetKey);
        t->FieldByName("State").SetAsString(c.State);
        if (c.Priority) t->FieldByName("Priority").SetAsString(c.Priority);
        EXPECT_EQ(t->GotoKey(), c.Found);
        EXPECT_EQ(t->State(), TDataSetState::Browse);
        EXPECT_EQ(Title(*t), c.Title);
    }
    t->SetKey();
    try {
        t->FieldByName("Title").SetAsString("x");
        FAIL() << "a field outside the index took a value";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Field 'Title' is not indexed and cannot be modified");
    }
    t->Cancel();
    EXPECT_EQ(t->State(), TDataSetState::Browse);
    EXPECT_EQ(Title(*t), "mike");
}

TEST_F(TableSearchTest, FindFirstNextPriorLast) {
    for (bool filtered : {false, true}) {
        SCOPED_TRACE(filtered);
        auto t = Open("Title");
        t->SetFilter("[State] = 'Open'");  // alpha, echo, kilo
        t->SetFiltered(filtered);
        ASSERT_TRUE(t->FindKey({"delta"}) || filtered);
        if (!filtered) {
            // From a record outside the filter: the next and prior passing ones.
            EXPECT_TRUE(t->FindNext());
            EXPECT_EQ(Title(*t), "echo");
            ASSERT_TRUE(t->FindKey({"delta"}));
            EXPECT_TRUE(t->FindPrior());
            EXPECT_EQ(Title(*t), "alpha");
        }
        EXPECT_TRUE(t->FindFirst());
        EXPECT_EQ(Title(*t), "alpha");
        EXPECT_FALSE(t->FindPrior());
        EXPECT_EQ(Title(*t), "alpha");
        EXPECT_TRUE(t->FindNext());
        EXPECT_EQ(Title(*t), "echo");
        EXPECT_TRUE(t->FindNext());
        EXPECT_EQ(Title(*t), "kilo");
        EXPECT_FALSE(t->FindNext());
        EXPECT_EQ(Title(*t), "kilo");
        EXPECT_TRUE(t->FindPrior());
        EXPECT_EQ(Title(*t), "echo");
        EXPECT_TRUE(t->FindLast());
        EXPECT_EQ(Title(*t), "kilo");
        EXPECT_EQ(t->Filtered(), filtered);
        EXPECT_EQ(t->RecordCount(), filtered ? 3 : 6);
    }
}

TEST_F(TableSearchTest, FindNextInNaturalOrderWithFilterEvent) {
    auto t = Open();
    t->SetOnFilterRecord([](TDataSet& d, bool& accept) { accept = d.FieldByName("Priority").AsInteger() == 2; });
    EXPECT_EQ(t->RecordCount(), 6);  // not filtered
    EXPECT_TRUE(t->FindFirst());
    EXPECT_EQ(Title(*t), "alpha");
    EXPECT_TRUE(t->FindNext());
    EXPECT_EQ(Title(*t), "kilo");
    EXPECT_FALSE(t->FindNext());
    EXPECT_TRUE(t->FindPrior());
    EXPECT_EQ(Title(*t), "alpha");
    t->Last();
    EXPECT_TRUE(t->FindPrior());
    EXPECT_EQ(Title(*t), "alpha");  // kilo is last itself: the one before it
}

// Edit and delete errors reach their events, whose action decides.
TEST_F(TableSearchTest, EditAndDeleteErrorEvents) {
    TChildProcess holder([&](TChildChannel& c) {
        TVeltraTable other;
        other.SetTableName(m_Path);
        other.Open();
        other.Edit();  // holds the first record's lock
        c.Send(1);
        c.Receive();
        other.Cancel();
        c.Send(2);
        c.Receive();
        return kChildOk;
    });
    ASSERT_TRUE(holder.Started());
    ASSERT_EQ(holder.Receive(), 1);
    auto t = Open();
    t->SetLockRetryCount(1);
    t->SetLockWaitTime(5);
    struct TCase {
        TDataAction Action;
        bool Raises;
    };
    for (TCase c : {TCase{TDataAction::Fail, true}, TCase{TDataAction::Abort, false}}) {
        int calls = 0;
        t->OnEditError = [&](TDataSet&, const std::exception& e, TDataAction& action) {
            ++calls;
            EXPECT_EQ(dynamic_cast<const EVeltraEngineError&>(e).ErrorCode(), ecRecordInUse);
            action = c.Action;
        };
        if (c.Raises) EXPECT_EQ(EngineErrorOf([&] { t->Edit(); }), ecRecordInUse);
        else EXPECT_NO_THROW(t->Edit());
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(t->State(), TDataSetState::Browse);
    }
    // Retry: the event lets the other process go and the second try locks.
    t->OnEditError = [&](TDataSet&, const std::exception&, TDataAction& action) {
        holder.Send(0);
        EXPECT_EQ(holder.Receive(), 2);
        action = TDataAction::Retry;
    };
    t->Edit();
    EXPECT_EQ(t->State(), TDataSetState::Edit);
    t->Cancel();

    int deleteCalls = 0;
    t->OnDeleteError = [&](TDataSet&, const std::exception&, TDataAction& action) {
        ++deleteCalls;
        action = TDataAction::Abort;
    };
    auto readOnly = std::make_unique<TVeltraTable>();
    readOnly->SetTableName(m_Path);
    readOnly->SetReadOnly(true);
    readOnly->Open();
    readOnly->OnDeleteError = t->OnDeleteError;
    EXPECT_NO_THROW(readOnly->Delete());
    EXPECT_EQ(deleteCalls, 1);
    EXPECT_EQ(readOnly->RecordCount(), 6);
    holder.Send(0);
    EXPECT_EQ(holder.ExitCode(), kChildOk);
}

TEST_F(TableSearchTest, CalcFieldsEventOnEveryRead) {
    auto t = Open("Title");
    std::vector<std::string> seen;
    t->OnCalcFields = [&](TDataSet& d) {
        EXPECT_EQ(d.State(), TDataSetState::CalcFields);
        seen.push_back(d.FieldByName("Title").AsString());
    };
    t->First();
    t->Next();
    EXPECT_EQ(t->State(), TDataSetState::Browse);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front(), "alpha");
    EXPECT_EQ(seen.back(), "delta");
}

}  // namespace
