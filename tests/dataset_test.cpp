// The dataset base through an in-memory dataset: moves and Bof/Eof, the order
// of events and hooks, edit/post/cancel failures, field write rules, value
// conversions, data links and sources.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dataset.h"
#include "platform/db_error.h"
#include "platform/format_settings.h"

namespace veltra {
namespace {

// ---------------------------------------------------------------------------
// An in-memory dataset: records are whole record buffers in a vector; the
// cursor is an index where -1 is before the first and size() after the last
// record. Each field takes a null byte (1 = has a value) and its raw value
// bytes; a memo holds a 4-byte reference to its text in a side table, as
// table records hold BLOB references.

struct TFieldDef {
    std::string Name;
    TFieldKind Kind;
    int Size;
};

size_t ValueWidth(const TFieldDef& def) {
    switch (def.Kind) {
        case TFieldKind::String: return size_t(def.Size) + 1;
        case TFieldKind::SmallInt: case TFieldKind::Word: case TFieldKind::Boolean: return 2;
        case TFieldKind::Integer: case TFieldKind::AutoInc: case TFieldKind::Date: case TFieldKind::Time:
        case TFieldKind::Memo: return 4;
        default: return 8;
    }
}

class TMemDataSet : public TDataSet {
public:
    explicit TMemDataSet(std::vector<TFieldDef> defs) : m_Defs(std::move(defs)) {
        for (const auto& def : m_Defs) {
            m_Offsets.push_back(m_Size);
            m_Size += 1 + ValueWidth(def);
        }
    }
    ~TMemDataSet() override { Close(); }

    std::vector<std::vector<uint8_t>> Records;
    std::vector<std::string>* Log = nullptr;  // hook calls, when set
    bool FailEdit = false;
    int FailPosts = 0;  // the next posts that raise
    bool Locked = false;
    std::vector<std::string> ReadOnlyFields;

    std::vector<std::string> Blobs;  // memo texts; reference n is Blobs[n - 1]

    // Runs f in a temporary state, as key searches and filters do.
    void InState(TDataSetState state, const std::function<void()>& f) {
        const TDataSetState prior = State();
        SetState(state);
        f();
        SetState(prior);
    }

    std::string ReadBlob(const TField& field) override {
        std::vector<uint8_t> raw;
        if (!ReadField(field, raw)) return {};
        uint32_t ref = 0;
        std::memcpy(&ref, raw.data(), 4);
        return ref >= 1 && ref <= Blobs.size() ? Blobs[ref - 1] : std::string();
    }
    void WriteBlob(TField& field, const std::string& bytes) override {
        if (bytes.empty()) {
            WriteField(field, nullptr, 0);
            return;
        }
        Blobs.push_back(bytes);
        const uint32_t ref = uint32_t(Blobs.size());
        WriteField(field, reinterpret_cast<const uint8_t*>(&ref), 4);
    }

protected:
    void Note(const char* what) {
        if (Log) Log->push_back(what);
    }
    void InternalOpen() override {
        Note("InternalOpen");
        for (size_t i = 0; i < m_Defs.size(); ++i) {
            TField& field = AddField(m_Defs[i].Name, m_Defs[i].Kind, m_Defs[i].Size, int(i) + 1);
            field.ReadOnly = std::find(ReadOnlyFields.begin(), ReadOnlyFields.end(), m_Defs[i].Name) != ReadOnlyFields.end();
        }
        m_Pos = -1;
    }
    void InternalClose() override { Note("InternalClose"); }
    void InternalFirst() override { m_Pos = -1; }
    void InternalLast() override { m_Pos = int64_t(Records.size()); }
    TGetResult GetRecord(std::vector<uint8_t>& buffer, TGetMode mode, bool doCheck) override {
        const int64_t n = int64_t(Records.size());
        switch (mode) {
            case TGetMode::Current:
                if (m_Pos < 0 || m_Pos >= n) {
                    if (doCheck) throw EDatabaseError("No current record");
                    return TGetResult::Error;
                }
                break;
            case TGetMode::Next:
                if (m_Pos + 1 >= n) {
                    m_Pos = n;
                    return TGetResult::Eof;
                }
                ++m_Pos;
                break;
            case TGetMode::Prior:
                if (m_Pos - 1 < 0 || n == 0) {
                    m_Pos = -1;
                    return TGetResult::Bof;
                }
                m_Pos = std::min(m_Pos, n) - 1;
                break;
        }
        buffer = Records[size_t(m_Pos)];
        return TGetResult::OK;
    }
    size_t RecordBufferSize() const override { return m_Size; }
    void InternalInitRecord(std::vector<uint8_t>& buffer) override {
        Note("InternalInitRecord");
        buffer.assign(m_Size, 0);
    }
    void InternalEdit() override {
        Note("InternalEdit");
        // The re-read lands in the buffer before the lock is refused.
        ActiveBuffer() = Records[size_t(m_Pos)];
        std::fill(ActiveBuffer().begin(), ActiveBuffer().end(), uint8_t(0xEE));
        if (FailEdit) throw EDatabaseError("Record locked by another user");
        ActiveBuffer() = Records[size_t(m_Pos)];
        Locked = true;
    }
    void InternalPost() override {
        Note("InternalPost");
        if (FailPosts > 0) {
            --FailPosts;
            ActiveBuffer()[0] ^= 0xFF;  // a failing write may leave the buffer changed
            throw EDatabaseError("Key violation");
        }
        if (State() == TDataSetState::Edit) {
            Records[size_t(m_Pos)] = ActiveBuffer();
            Locked = false;
        } else {
            Records.push_back(ActiveBuffer());
            m_Pos = int64_t(Records.size()) - 1;
        }
    }
    void InternalCancel() override {
        Note("InternalCancel");
        Locked = false;
    }
    void InternalDelete() override {
        Note("InternalDelete");
        Records.erase(Records.begin() + m_Pos);  // the next record moves into place
    }
    void InternalRefresh() override { Note("InternalRefresh"); }
    bool GetFieldData(const TField& field, const std::vector<uint8_t>& buffer,
                      std::vector<uint8_t>& value) const override {
        const size_t i = size_t(field.FieldNo() - 1), at = m_Offsets[i];
        if (buffer[at] == 0) return false;
        value.assign(buffer.begin() + long(at) + 1, buffer.begin() + long(at + 1 + ValueWidth(m_Defs[i])));
        return true;
    }
    void SetFieldData(TField& field, std::vector<uint8_t>& buffer, const uint8_t* value, size_t size) override {
        const size_t i = size_t(field.FieldNo() - 1), at = m_Offsets[i], width = ValueWidth(m_Defs[i]);
        std::fill(buffer.begin() + long(at), buffer.begin() + long(at + 1 + width), uint8_t(0));
        if (!value) return;
        buffer[at] = 1;
        std::memcpy(buffer.data() + at + 1, value, std::min(size, width));
    }
    int64_t GetRecordCount() override { return int64_t(Records.size()); }
    int64_t GetRecNo() override { return m_Pos >= 0 && m_Pos < int64_t(Records.size()) ? m_Pos + 1 : 0; }
    void InternalSetRecNo(int64_t n) override {
        m_Pos = std::clamp<int64_t>(n - 1, 0, int64_t(Records.size()) - 1);
    }

private:
    std::vector<TFieldDef> m_Defs;
    std::vector<size_t> m_Offsets;
    size_t m_Size = 0;
    int64_t m_Pos = -1;
};

std::vector<TFieldDef> TicketFields() {
    return {{"Name", TFieldKind::String, 20},  {"Count", TFieldKind::Integer, 0},
            {"Small", TFieldKind::SmallInt, 0}, {"W", TFieldKind::Word, 0},
            {"Flag", TFieldKind::Boolean, 0},   {"Amount", TFieldKind::Float, 0},
            {"Price", TFieldKind::BCD, 2},      {"Day", TFieldKind::Date, 0},
            {"At", TFieldKind::Time, 0},        {"Stamp", TFieldKind::DateTime, 0},
            {"Notes", TFieldKind::Memo, 0}};
}

// An open dataset holding one record per name (Count = position from 1).
std::unique_ptr<TMemDataSet> OpenWith(const std::vector<std::string>& names) {
    auto ds = std::make_unique<TMemDataSet>(TicketFields());
    ds->Open();
    int count = 0;
    for (const auto& name : names) {
        ds->Append();
        ds->FieldByName("Name").SetAsString(name);
        ds->FieldByName("Count").SetAsInteger(++count);
        ds->Post();
    }
    ds->First();
    return ds;
}

std::string Name(const TDataSet& ds) { return ds.FieldByName("Name").AsString(); }

// Records every dataset event by name.
void RecordEvents(TDataSet& ds, std::vector<std::string>& log) {
    const std::pair<TDataSet::TEvent TDataSet::*, const char*> events[] = {
        {&TDataSet::BeforeOpen, "BeforeOpen"},     {&TDataSet::AfterOpen, "AfterOpen"},
        {&TDataSet::BeforeClose, "BeforeClose"},   {&TDataSet::AfterClose, "AfterClose"},
        {&TDataSet::BeforeInsert, "BeforeInsert"}, {&TDataSet::AfterInsert, "AfterInsert"},
        {&TDataSet::BeforeEdit, "BeforeEdit"},     {&TDataSet::AfterEdit, "AfterEdit"},
        {&TDataSet::BeforePost, "BeforePost"},     {&TDataSet::AfterPost, "AfterPost"},
        {&TDataSet::BeforeCancel, "BeforeCancel"}, {&TDataSet::AfterCancel, "AfterCancel"},
        {&TDataSet::BeforeDelete, "BeforeDelete"}, {&TDataSet::AfterDelete, "AfterDelete"},
        {&TDataSet::BeforeScroll, "BeforeScroll"}, {&TDataSet::AfterScroll, "AfterScroll"},
        {&TDataSet::OnNewRecord, "OnNewRecord"},   {&TDataSet::BeforeRefresh, "BeforeRefresh"},
        {&TDataSet::AfterRefresh, "AfterRefresh"},
    };
    for (const auto& [member, name] : events) {
        ds.*member = [&log, name = std::string(name)](TDataSet&) { log.push_back(name); };
    }
}

using TStrings = std::vector<std::string>;

template <typename F>
std::string MessageOf(F f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

// A link that logs its notifications.
class TLogLink : public TDataLink {
public:
    explicit TLogLink(TStrings& log, std::string tag = "") : m_Log(log), m_Tag(std::move(tag)) {}
    std::function<void()> OnUpdateData;
    std::function<void()> OnScrolled;
    void ActiveChanged() override { Add(std::string("ActiveChanged:") + (Active() ? "on" : "off")); }
    void DataSetChanged() override { Add("DataSetChanged"); }
    void DataSetScrolled(int distance) override {
        Add("DataSetScrolled:" + std::to_string(distance));
        if (OnScrolled) OnScrolled();
    }
    void RecordChanged(TField* field) override { Add("RecordChanged:" + (field ? field->FieldName() : "-")); }
    void EditingChanged() override { Add(std::string("EditingChanged:") + (Editing() ? "on" : "off")); }
    void UpdateData() override {
        Add("UpdateData");
        if (OnUpdateData) OnUpdateData();
    }

private:
    void Add(const std::string& what) { m_Log.push_back(m_Tag + what); }
    TStrings& m_Log;
    std::string m_Tag;
};

// ---------------------------------------------------------------------------
// Moves

TEST(DataSetMoves, EmptyDatasetHasBofAndEofEverywhere) {
    auto ds = OpenWith({});
    EXPECT_TRUE(ds->Bof());
    EXPECT_TRUE(ds->Eof());
    EXPECT_TRUE(ds->IsEmpty());
    const std::pair<const char*, std::function<void()>> moves[] = {
        {"Next", [&] { ds->Next(); }}, {"Prior", [&] { ds->Prior(); }}, {"First", [&] { ds->First(); }},
        {"Last", [&] { ds->Last(); }}, {"MoveBy", [&] { EXPECT_EQ(ds->MoveBy(3), 0); }}};
    for (const auto& [name, move] : moves) {
        move();
        EXPECT_TRUE(ds->Bof()) << name;
        EXPECT_TRUE(ds->Eof()) << name;
    }
    EXPECT_TRUE(ds->FieldByName("Name").IsNull());
    EXPECT_EQ(ds->FieldByName("Name").AsString(), "");
    EXPECT_EQ(ds->RecordCount(), 0);
    EXPECT_EQ(MessageOf([&] { ds->Delete(); }), "Cannot perform this operation on an empty dataset");
}

TEST(DataSetMoves, OneRecordEndsKeepTheRecordCurrent) {
    auto ds = OpenWith({"A"});
    EXPECT_TRUE(ds->Bof());
    EXPECT_FALSE(ds->Eof());
    ds->Next();
    EXPECT_FALSE(ds->Bof());
    EXPECT_TRUE(ds->Eof());
    EXPECT_EQ(Name(*ds), "A");
    ds->Prior();
    EXPECT_TRUE(ds->Bof());
    EXPECT_FALSE(ds->Eof());
    EXPECT_EQ(Name(*ds), "A");
    ds->Last();
    EXPECT_TRUE(ds->Eof());
    EXPECT_FALSE(ds->Bof());
    EXPECT_EQ(Name(*ds), "A");
    EXPECT_FALSE(ds->IsEmpty());
}

TEST(DataSetMoves, WalksBothWaysAndPriorAfterEofReachesTheRecordBefore) {
    auto ds = OpenWith({"A", "B", "C", "D", "E"});
    std::string forward;
    for (ds->First(); !ds->Eof(); ds->Next()) forward += Name(*ds);
    EXPECT_EQ(forward, "ABCDE");
    EXPECT_EQ(Name(*ds), "E");
    ds->Prior();
    EXPECT_EQ(Name(*ds), "D");
    EXPECT_FALSE(ds->Eof());

    std::string backward;
    for (ds->Last(); !ds->Bof(); ds->Prior()) backward += Name(*ds);
    EXPECT_EQ(backward, "EDCBA");
    ds->Next();
    EXPECT_EQ(Name(*ds), "B");
}

TEST(DataSetMoves, MoveByReturnsTheDistanceMoved) {
    auto ds = OpenWith({"A", "B", "C", "D", "E"});
    const struct {
        int64_t distance, moved;
        const char* name;
        bool bof, eof;
        int64_t recNo;
    } steps[] = {
        {2, 2, "C", false, false, 3},   {10, 2, "E", false, true, 5}, {1, 0, "E", false, true, 5},
        {-10, -4, "A", true, false, 1}, {-1, 0, "A", true, false, 1}, {4, 4, "E", false, false, 5},
        {0, 0, "E", false, false, 5},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(ds->MoveBy(s.distance), s.moved) << s.distance;
        EXPECT_EQ(Name(*ds), s.name) << s.distance;
        EXPECT_EQ(ds->Bof(), s.bof) << s.distance;
        EXPECT_EQ(ds->Eof(), s.eof) << s.distance;
        EXPECT_EQ(ds->RecNo(), s.recNo) << s.distance;
    }
    EXPECT_EQ(ds->RecordCount(), 5);
    ds->SetRecNo(2);
    EXPECT_EQ(Name(*ds), "B");
    ds->Next();
    EXPECT_EQ(Name(*ds), "C");
}

TEST(DataSetMoves, EveryMoveFiresScrollEventsAndTellsTheLinks) {
    TStrings events, links;  // outlive the dataset, whose Close still reports
    auto ds = OpenWith({"A", "B", "C"});
    RecordEvents(*ds, events);
    TDataSource source;
    source.SetDataSet(ds.get());
    TLogLink link(links);
    link.SetDataSource(&source);
    links.clear();

    ds->Next();
    ds->MoveBy(5);
    ds->Prior();
    ds->First();
    ds->Last();
    ds->SetRecNo(1);
    EXPECT_EQ(events, (TStrings{"BeforeScroll", "AfterScroll", "BeforeScroll", "AfterScroll", "BeforeScroll",
                                "AfterScroll", "BeforeScroll", "AfterScroll", "BeforeScroll", "AfterScroll",
                                "BeforeScroll", "AfterScroll"}));
    EXPECT_EQ(links, (TStrings{"DataSetScrolled:1", "DataSetScrolled:1", "DataSetScrolled:-1", "DataSetChanged",
                               "DataSetChanged", "DataSetChanged"}));
}

TEST(DataSetMoves, ClosedDatasetRefusesOperations) {
    TMemDataSet ds(TicketFields());
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"First", [&] { ds.First(); }},         {"Next", [&] { ds.Next(); }},
        {"MoveBy", [&] { ds.MoveBy(1); }},      {"Insert", [&] { ds.Insert(); }},
        {"Edit", [&] { ds.Edit(); }},           {"Post", [&] { ds.Post(); }},
        {"Delete", [&] { ds.Delete(); }},       {"Refresh", [&] { ds.Refresh(); }},
        {"RecordCount", [&] { ds.RecordCount(); }}, {"RecNo", [&] { ds.RecNo(); }},
        {"SetRecNo", [&] { ds.SetRecNo(1); }},  {"CheckBrowseMode", [&] { ds.CheckBrowseMode(); }},
    };
    for (const auto& [name, operation] : operations) {
        EXPECT_EQ(MessageOf(operation), "Cannot perform this operation on a closed dataset") << name;
    }
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_EQ(MessageOf([&] { ds.FieldByName("Name"); }), "Field 'Name' not found");
}

// ---------------------------------------------------------------------------
// Event order

struct TEventFixture {
    TStrings log;  // declared first: the dataset reports into it until it is gone
    std::unique_ptr<TMemDataSet> ds;
    explicit TEventFixture(const std::vector<std::string>& names) : ds(OpenWith(names)) {
        RecordEvents(*ds, log);
        ds->Log = &log;
    }
};

TEST(DataSetEvents, InsertAndPost) {
    TEventFixture f({"A"});
    f.ds->OnNewRecord = [&](TDataSet& d) {
        f.log.push_back("OnNewRecord");
        EXPECT_EQ(d.State(), TDataSetState::Insert);
    };
    f.ds->Insert();
    EXPECT_EQ(f.ds->State(), TDataSetState::Insert);
    f.ds->FieldByName("Name").SetAsString("N");
    f.ds->Post();
    EXPECT_EQ(f.log, (TStrings{"BeforeInsert", "BeforeScroll", "InternalInitRecord", "OnNewRecord", "AfterInsert",
                               "AfterScroll", "BeforePost", "InternalPost", "AfterPost"}));
    EXPECT_EQ(f.ds->State(), TDataSetState::Browse);
    EXPECT_EQ(Name(*f.ds), "N");
    EXPECT_EQ(f.ds->RecordCount(), 2);
}

TEST(DataSetEvents, EditAndPost) {
    TEventFixture f({"A", "B"});
    f.ds->Next();
    f.log.clear();
    f.ds->Edit();
    EXPECT_EQ(f.ds->State(), TDataSetState::Edit);
    EXPECT_TRUE(f.ds->Locked);
    f.ds->FieldByName("Name").SetAsString("B2");
    f.ds->Post();
    EXPECT_EQ(f.log, (TStrings{"BeforeEdit", "InternalEdit", "AfterEdit", "BeforePost", "InternalPost", "AfterPost"}));
    EXPECT_EQ(Name(*f.ds), "B2");
    EXPECT_FALSE(f.ds->Locked);
    f.ds->First();
    EXPECT_EQ(Name(*f.ds), "A");
}

TEST(DataSetEvents, CancelOfEditRestoresTheRecord) {
    TEventFixture f({"A", "B"});
    f.ds->Edit();
    f.ds->FieldByName("Name").SetAsString("changed");
    f.ds->Cancel();
    EXPECT_EQ(f.log, (TStrings{"BeforeEdit", "InternalEdit", "AfterEdit", "BeforeCancel", "InternalCancel",
                               "AfterCancel"}));
    EXPECT_EQ(f.ds->State(), TDataSetState::Browse);
    EXPECT_EQ(Name(*f.ds), "A");
    EXPECT_FALSE(f.ds->Locked);
}

TEST(DataSetEvents, CancelOfInsertReturnsToThePreviousRecord) {
    TEventFixture f({"A", "B"});
    f.ds->Next();
    f.log.clear();
    f.ds->Insert();
    f.ds->FieldByName("Name").SetAsString("new");
    f.ds->Cancel();
    EXPECT_EQ(f.log, (TStrings{"BeforeInsert", "BeforeScroll", "InternalInitRecord", "OnNewRecord", "AfterInsert",
                               "AfterScroll", "BeforeCancel", "BeforeScroll", "AfterCancel", "AfterScroll"}));
    EXPECT_EQ(Name(*f.ds), "B");
    EXPECT_EQ(f.ds->RecordCount(), 2);
}

TEST(DataSetEvents, DeleteMovesToTheNextRecordOrTheNewLast) {
    TEventFixture f({"A", "B", "C"});
    f.ds->Next();
    f.log.clear();
    f.ds->Delete();
    EXPECT_EQ(f.log, (TStrings{"BeforeDelete", "BeforeScroll", "InternalDelete", "AfterDelete", "AfterScroll"}));
    EXPECT_EQ(Name(*f.ds), "C");
    f.ds->Delete();
    EXPECT_EQ(Name(*f.ds), "A");
    f.ds->Delete();
    EXPECT_TRUE(f.ds->IsEmpty());
    EXPECT_TRUE(f.ds->Bof() && f.ds->Eof());
}

TEST(DataSetEvents, OpenCloseAndRefresh) {
    TStrings log;
    TMemDataSet ds(TicketFields());
    RecordEvents(ds, log);
    ds.Log = &log;
    ds.Open();
    EXPECT_EQ(log, (TStrings{"BeforeOpen", "InternalOpen", "AfterOpen"}));  // empty: no AfterScroll
    ds.Append();
    ds.FieldByName("Name").SetAsString("A");
    ds.Post();
    ds.Edit();
    ds.FieldByName("Name").SetAsString("A2");
    log.clear();
    ds.Refresh();  // the modified edit is posted first
    EXPECT_EQ(log, (TStrings{"BeforePost", "InternalPost", "AfterPost", "BeforeRefresh", "InternalRefresh",
                             "AfterRefresh"}));
    ds.Edit();
    log.clear();
    ds.Close();
    EXPECT_EQ(log, (TStrings{"BeforeClose", "InternalCancel", "InternalClose", "AfterClose"}));
    EXPECT_EQ(ds.State(), TDataSetState::Inactive);
    EXPECT_TRUE(ds.Fields().empty());
    log.clear();
    ds.Open();
    EXPECT_EQ(log, (TStrings{"BeforeOpen", "InternalOpen", "AfterOpen", "AfterScroll"}));
    EXPECT_EQ(Name(ds), "A2");
}

// ---------------------------------------------------------------------------
// Edit, post and cancel

TEST(DataSetEdit, ChangesMadeInBeforePostAreWritten) {
    auto ds = OpenWith({"A"});
    ds->BeforePost = [](TDataSet& d) { d.FieldByName("Count").SetAsInteger(42); };
    ds->Edit();
    ds->FieldByName("Name").SetAsString("A2");
    ds->Post();
    ds->Close();
    ds->Open();
    EXPECT_EQ(Name(*ds), "A2");
    EXPECT_EQ(ds->FieldByName("Count").AsInteger(), 42);
}

TEST(DataSetEdit, FailedEditStaysInBrowseWithTheRecord) {
    TStrings events, links;
    auto ds = OpenWith({"A"});
    RecordEvents(*ds, events);
    TDataSource source;
    source.SetDataSet(ds.get());
    TLogLink link(links);
    link.SetDataSource(&source);
    links.clear();
    const std::vector<uint8_t> before = ds->ActiveBuffer();
    ds->FailEdit = true;
    EXPECT_EQ(MessageOf([&] { ds->Edit(); }), "Record locked by another user");
    EXPECT_EQ(ds->State(), TDataSetState::Browse);
    EXPECT_EQ(ds->ActiveBuffer(), before);
    EXPECT_EQ(Name(*ds), "A");
    EXPECT_EQ(events, TStrings{"BeforeEdit"});
    EXPECT_TRUE(links.empty());
    ds->FailEdit = false;
    ds->Edit();
    EXPECT_EQ(ds->State(), TDataSetState::Edit);
}

TEST(DataSetEdit, FailedPostKeepsStateAndBuffer) {
    for (const bool inserting : {false, true}) {
        TStrings events;
        auto ds = OpenWith({"A"});
        RecordEvents(*ds, events);
        if (inserting) ds->Insert();
        else ds->Edit();
        ds->FieldByName("Name").SetAsString("X");
        const std::vector<uint8_t> before = ds->ActiveBuffer();
        const auto stored = ds->Records;
        ds->FailPosts = 1;
        EXPECT_EQ(MessageOf([&] { ds->Post(); }), "Key violation");
        EXPECT_EQ(ds->State(), inserting ? TDataSetState::Insert : TDataSetState::Edit);
        EXPECT_EQ(ds->ActiveBuffer(), before);
        EXPECT_TRUE(ds->Modified());
        EXPECT_EQ(ds->Records, stored);
        EXPECT_EQ(std::count(events.begin(), events.end(), "AfterPost"), 0);
        ds->Post();
        EXPECT_EQ(ds->State(), TDataSetState::Browse);
        EXPECT_EQ(Name(*ds), "X");
        EXPECT_EQ(ds->RecordCount(), inserting ? 2 : 1);
    }
}

TEST(DataSetEdit, OnPostErrorDecidesRetryAbortOrFail) {
    const struct {
        TDataAction action;
        int failures;
        const char* message;  // of Post
        TDataSetState state;
        int handlerCalls;
    } cases[] = {
        {TDataAction::Retry, 2, "(no error)", TDataSetState::Browse, 2},
        {TDataAction::Abort, 1, "(no error)", TDataSetState::Edit, 1},
        {TDataAction::Fail, 1, "Key violation", TDataSetState::Edit, 1},
    };
    for (const auto& c : cases) {
        auto ds = OpenWith({"A"});
        int calls = 0;
        ds->OnPostError = [&](TDataSet&, const std::exception& e, TDataAction& action) {
            ++calls;
            EXPECT_STREQ(e.what(), "Key violation");
            EXPECT_EQ(action, TDataAction::Fail);
            action = c.action;
        };
        ds->Edit();
        ds->FieldByName("Name").SetAsString("Z");
        ds->FailPosts = c.failures;
        EXPECT_EQ(MessageOf([&] { ds->Post(); }), c.message) << int(c.action);
        EXPECT_EQ(ds->State(), c.state) << int(c.action);
        EXPECT_EQ(calls, c.handlerCalls) << int(c.action);
        EXPECT_EQ(Name(*ds), "Z");
    }
}

TEST(DataSetEdit, AbortedPostStopsTheMoveThatAskedForIt) {
    auto ds = OpenWith({"A", "B"});
    ds->OnPostError = [](TDataSet&, const std::exception&, TDataAction& action) { action = TDataAction::Abort; };
    ds->Edit();
    ds->FieldByName("Name").SetAsString("A2");
    ds->FailPosts = 1;
    EXPECT_EQ(ds->MoveBy(1), 0);
    EXPECT_EQ(ds->State(), TDataSetState::Edit);
    EXPECT_EQ(Name(*ds), "A2");
    ds->Next();  // now the post goes through
    EXPECT_EQ(ds->State(), TDataSetState::Browse);
    EXPECT_EQ(Name(*ds), "B");
    ds->Prior();
    EXPECT_EQ(Name(*ds), "A2");
}

TEST(DataSetEdit, MovesPostModifiedEditsAndCancelUnmodifiedOnes) {
    TStrings log;
    auto ds = OpenWith({"A", "B"});
    ds->Log = &log;
    ds->Edit();
    ds->Next();
    EXPECT_EQ(log, (TStrings{"InternalEdit", "InternalCancel"}));
    ds->Prior();
    log.clear();

    // A control writes its pending value when asked; that counts as a change.
    TDataSource source;
    source.SetDataSet(ds.get());
    TStrings links;
    TLogLink link(links);
    link.SetDataSource(&source);
    link.OnUpdateData = [&] { ds->FieldByName("Name").SetAsString("typed"); };
    ds->Edit();
    ds->Next();
    EXPECT_EQ(log, (TStrings{"InternalEdit", "InternalPost"}));
    ds->First();
    EXPECT_EQ(Name(*ds), "typed");
}

TEST(DataSetEdit, ValuesOfOnNewRecordDoNotCountAsModification) {
    auto ds = OpenWith({"A"});
    ds->OnNewRecord = [](TDataSet& d) { d.FieldByName("Count").SetAsInteger(7); };
    ds->Insert();
    EXPECT_FALSE(ds->Modified());
    EXPECT_EQ(ds->FieldByName("Count").AsInteger(), 7);
    ds->First();  // nothing typed: the new record is dropped
    EXPECT_EQ(ds->RecordCount(), 1);
    ds->Append();
    ds->FieldByName("Name").SetAsString("B");
    EXPECT_TRUE(ds->Modified());
    ds->First();
    EXPECT_EQ(ds->RecordCount(), 2);
    ds->Last();
    EXPECT_EQ(Name(*ds), "B");
    EXPECT_EQ(ds->FieldByName("Count").AsInteger(), 7);
}

TEST(DataSetEdit, EditOfAnEmptyDatasetInserts) {
    auto ds = OpenWith({});
    ds->Edit();
    EXPECT_EQ(ds->State(), TDataSetState::Insert);
    EXPECT_FALSE(ds->IsEmpty());
    ds->Cancel();
    EXPECT_TRUE(ds->IsEmpty());
    EXPECT_TRUE(ds->Bof() && ds->Eof());
}

// ---------------------------------------------------------------------------
// Field writes

TEST(DataSetFields, WriteRulesAndMessages) {
    TMemDataSet ds(TicketFields());
    ds.ReadOnlyFields = {"Name"};
    ds.Open();
    EXPECT_EQ(MessageOf([&] { ds.FieldByName("Count").SetAsInteger(1); }), "Dataset not in edit or insert mode");
    ds.Insert();
    EXPECT_EQ(MessageOf([&] { ds.FieldByName("Name").SetAsString("x"); }), "Field 'Name' cannot be modified");
    ds.FieldByName("Count").SetAsInteger(1);
    ds.Post();

    // Temporary states: key and filter buffers take read-only fields.
    const struct {
        TDataSetState state;
        const char* message;
    } cases[] = {
        {TDataSetState::SetKey, "(no error)"},
        {TDataSetState::Filter, "(no error)"},
        {TDataSetState::CalcFields, "Field 'Name' cannot be modified"},
        {TDataSetState::NewValue, "Field 'Name' cannot be modified"},
    };
    for (const auto& c : cases) {
        ds.InState(c.state, [&] {
            EXPECT_EQ(MessageOf([&] { ds.FieldByName("Name").SetAsString("k"); }), c.message) << int(c.state);
            EXPECT_EQ(MessageOf([&] { ds.FieldByName("Count").SetAsInteger(5); }), "(no error)") << int(c.state);
        });
        EXPECT_FALSE(ds.Modified());
        EXPECT_EQ(ds.State(), TDataSetState::Browse);
    }
    EXPECT_EQ(MessageOf([&] { ds.FieldByName("Nope"); }), "Field 'Nope' not found");
    EXPECT_EQ(ds.FindField("nAmE"), &ds.FieldByName("Name"));
    EXPECT_EQ(ds.FindField("Nope"), nullptr);
}

TEST(DataSetFields, EditWritesSetModifiedAndNotify) {
    auto ds = OpenWith({"A"});
    TDataSource source;
    TStrings links, changes;
    source.SetDataSet(ds.get());
    source.OnDataChange = [&](TDataSource&, TField* field) { changes.push_back(field ? field->FieldName() : "-"); };
    TLogLink link(links);
    link.SetDataSource(&source);
    ds->Edit();
    EXPECT_FALSE(ds->Modified());
    links.clear();
    changes.clear();
    ds->FieldByName("Count").SetAsInteger(9);
    EXPECT_TRUE(ds->Modified());
    EXPECT_EQ(links, TStrings{"RecordChanged:Count"});
    EXPECT_EQ(changes, TStrings{"Count"});
    ds->FieldByName("Count").Clear();
    EXPECT_TRUE(ds->FieldByName("Count").IsNull());
}

// ---------------------------------------------------------------------------
// Conversions

std::vector<uint8_t> RawOf(const TField& field) {
    std::vector<uint8_t> raw;
    EXPECT_TRUE(field.GetData(raw)) << field.FieldName();
    return raw;
}

int64_t Signed(const std::vector<uint8_t>& raw) {
    uint64_t v = 0;
    for (size_t i = 0; i < raw.size() && i < 8; ++i) v |= uint64_t(raw[i]) << (8 * i);
    const unsigned bits = unsigned(std::min<size_t>(raw.size(), 8) * 8);
    if (bits < 64 && (v >> (bits - 1)) & 1) v |= ~uint64_t(0) << bits;
    return int64_t(v);
}

double Double(const std::vector<uint8_t>& raw) {
    double d = 0;
    std::memcpy(&d, raw.data(), sizeof d);
    return d;
}

struct TConvertFixture {
    std::unique_ptr<TMemDataSet> ds = OpenWith({"A"});
    TConvertFixture() { ds->Edit(); }
    TField& F(const char* name) { return ds->FieldByName(name); }
};

TEST(DataSetConvert, DatesUseTheShortDateFormat) {
    TConvertFixture f;
    const struct {
        const char* text;
        int32_t dayNumber;
        double value;
    } cases[] = {
        {"7/4/2024", 739071, 45477}, {"12/30/1899", 693594, 0}, {"1/1/2000", 730120, 36526},
        {"1/1/0001", 1, -693593},    {"12/31/9999", 3652059, 2958465},
    };
    for (const auto& c : cases) {
        f.F("Day").SetAsString(c.text);
        EXPECT_EQ(Signed(RawOf(f.F("Day"))), c.dayNumber) << c.text;
        EXPECT_EQ(f.F("Day").AsDateTime(), c.value) << c.text;
        EXPECT_EQ(f.F("Day").AsString(), c.text);
    }
    f.F("Day").SetAsString(" 07/04/2024 ");
    EXPECT_EQ(f.F("Day").AsString(), "7/4/2024");
    for (const char* bad : {"2/30/2024", "abc", "1/2", "13/1/2024", "1-2-2024", "1/2/3/4"}) {
        EXPECT_EQ(MessageOf([&] { f.F("Day").SetAsString(bad); }), "'" + std::string(bad) + "' is not a valid date");
    }
    f.F("Day").SetAsDateTime(45477.75);  // the time part is dropped
    EXPECT_EQ(Signed(RawOf(f.F("Day"))), 739071);
    EXPECT_EQ(MessageOf([&] { f.F("Day").SetAsDateTime(3e6); }), "Value of field 'Day' is out of range");
}

TEST(DataSetConvert, TimesAndDateTimes) {
    TConvertFixture f;
    const struct {
        const char* text;
        int32_t ms;
        const char* shown;
    } times[] = {
        {"1:05:09 PM", 47109000, "1:05:09 PM"}, {"0:00", 0, "12:00:00 AM"},
        {"23:59:59", 86399000, "11:59:59 PM"},  {"12:30 am", 1800000, "12:30:00 AM"},
    };
    for (const auto& t : times) {
        f.F("At").SetAsString(t.text);
        EXPECT_EQ(Signed(RawOf(f.F("At"))), t.ms) << t.text;
        EXPECT_EQ(f.F("At").AsString(), t.shown) << t.text;
    }
    EXPECT_EQ(MessageOf([&] { f.F("At").SetAsString("25:00"); }), "'25:00' is not a valid time");

    f.F("Stamp").SetAsString("7/4/2024 1:05:09 PM");
    EXPECT_EQ(Double(RawOf(f.F("Stamp"))), 739071.0 * 86400000 + 47109000);
    EXPECT_EQ(f.F("Stamp").AsString(), "7/4/2024 1:05:09 PM");
    EXPECT_NEAR(f.F("Stamp").AsDateTime(), 45477 + 47109000.0 / 86400000, 1e-9);
    f.F("Stamp").SetAsString("7/4/2024");
    EXPECT_EQ(f.F("Stamp").AsString(), "7/4/2024");
    f.F("Stamp").SetAsDateTime(-1.25);  // before 1899-12-30 the fraction still counts from midnight
    EXPECT_EQ(f.F("Stamp").AsString(), "12/29/1899 6:00:00 AM");
    EXPECT_EQ(f.F("Stamp").AsDateTime(), -1.25);
    EXPECT_EQ(MessageOf([&] { f.F("Stamp").SetAsString("7/4/2024 noon"); }),
              "'7/4/2024 noon' is not a valid date and time");
}

TEST(DataSetConvert, DatesFollowTheSettingsInForce) {
    TConvertFixture f;
    TFormatSettings german = UsFormatSettings();
    german.ShortDateFormat = "dd.MM.yyyy";
    german.DateSeparator = '.';
    german.LongTimeFormat = "HH:mm:ss";
    TFormatSettingsScope scope(german);
    f.F("Day").SetAsString("4.7.2024");
    EXPECT_EQ(Signed(RawOf(f.F("Day"))), 739071);
    EXPECT_EQ(f.F("Day").AsString(), "04.07.2024");
    f.F("Stamp").SetAsString("31.12.1999 23:05");
    EXPECT_EQ(f.F("Stamp").AsString(), "31.12.1999 23:05:00");
    EXPECT_EQ(MessageOf([&] { f.F("Day").SetAsString("7/4/2024"); }), "'7/4/2024' is not a valid date");
}

TEST(DataSetConvert, StringsAreUtf8OutsideAndWindows1252Inside) {
    TConvertFixture f;
    f.F("Name").SetAsString("Müller €");
    const std::vector<uint8_t> raw = RawOf(f.F("Name"));
    ASSERT_EQ(raw.size(), 21u);
    EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.begin() + 9),
              (std::vector<uint8_t>{'M', 0xFC, 'l', 'l', 'e', 'r', ' ', 0x80, 0}));
    EXPECT_EQ(f.F("Name").AsString(), "Müller €");
    f.F("Name").SetAsString("漢字");
    EXPECT_EQ(f.F("Name").AsString(), "??");
    f.F("Name").SetAsString("abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(f.F("Name").AsString(), "abcdefghijklmnopqrst");
    f.F("Name").SetAsString("");
    EXPECT_TRUE(f.F("Name").IsNull());
    // Memo texts go to the BLOB behind the field's reference.
    f.F("Notes").SetAsString("Grüße");
    EXPECT_EQ(Signed(RawOf(f.F("Notes"))), int64_t(f.ds->Blobs.size()));
    EXPECT_EQ(f.ds->Blobs.back(), "Gr\xFC\xDF" "e");
    EXPECT_EQ(f.F("Notes").AsString(), "Grüße");
    f.F("Notes").SetAsString("");
    EXPECT_TRUE(f.F("Notes").IsNull());
    EXPECT_EQ(f.F("Notes").AsString(), "");
}

TEST(DataSetConvert, BcdUsesThePackedForm) {
    TConvertFixture f;
    const struct {
        double value;
        int64_t packed;
        const char* shown;
    } values[] = {
        {1.5, 1502, "1.5"},      {-1.5, -1502, "-1.5"},   {1.005, 1012, "1.01"},
        {12.3456, 12352, "12.35"}, {0, 2, "0"},           {-0.004, 2, "0"},
    };
    for (const auto& v : values) {
        f.F("Price").SetAsFloat(v.value);
        EXPECT_EQ(Signed(RawOf(f.F("Price"))), v.packed) << v.value;
        EXPECT_EQ(f.F("Price").AsString(), v.shown) << v.value;
    }
    f.F("Price").SetAsString("123.455");
    EXPECT_EQ(Signed(RawOf(f.F("Price"))), 123462);
    EXPECT_EQ(f.F("Price").AsFloat(), 123.46);
    f.F("Price").SetAsInteger(7);
    EXPECT_EQ(Signed(RawOf(f.F("Price"))), 7002);
    EXPECT_EQ(f.F("Price").AsInteger(), 7);
    EXPECT_EQ(MessageOf([&] { f.F("Price").SetAsFloat(1e30); }), "Value of field 'Price' is out of range");
    EXPECT_EQ(MessageOf([&] { f.F("Price").SetAsString("123456789012345678"); }),
              "Value of field 'Price' is out of range");
    EXPECT_EQ(MessageOf([&] { f.F("Price").SetAsString("1.2.3"); }), "'1.2.3' is not a valid floating point value");
}

TEST(DataSetConvert, NumbersCheckTheirRange) {
    TConvertFixture f;
    const struct {
        const char* field;
        int64_t value;
        bool fits;
    } cases[] = {
        {"Small", 32767, true},       {"Small", -32768, true},      {"Small", 32768, false},
        {"W", 65535, true},           {"W", -1, false},             {"Count", 2147483647, true},
        {"Count", 2147483648, false}, {"Count", -2147483649, false},
    };
    for (const auto& c : cases) {
        const std::string message = MessageOf([&] { f.F(c.field).SetAsInteger(c.value); });
        if (c.fits) {
            EXPECT_EQ(message, "(no error)") << c.field << " " << c.value;
            EXPECT_EQ(f.F(c.field).AsInteger(), c.value);
            EXPECT_EQ(f.F(c.field).AsString(), std::to_string(c.value));
        } else {
            EXPECT_EQ(message, "Value of field '" + std::string(c.field) + "' is out of range") << c.value;
        }
    }
    f.F("Small").SetAsString(" -12 ");
    EXPECT_EQ(Signed(RawOf(f.F("Small"))), -12);
    EXPECT_EQ(MessageOf([&] { f.F("Count").SetAsString("12x"); }), "'12x' is not a valid integer value");
    f.F("Count").SetAsFloat(2.5);
    EXPECT_EQ(f.F("Count").AsInteger(), 3);
    EXPECT_EQ(MessageOf([&] { f.F("Count").AsDateTime(); }), "Cannot access field 'Count' as type DateTime");

    const struct {
        const char* text;
        double value;
        const char* shown;
    } floats[] = {{"1.5e3", 1500, "1500"}, {"0.1", 0.1, "0.1"}, {"-2.25", -2.25, "-2.25"},
                  {"1e20", 1e20, "1E20"},  {".5", 0.5, "0.5"},  {"1.5E-7", 1.5e-7, "1.5E-7"}};
    for (const auto& c : floats) {
        f.F("Amount").SetAsString(c.text);
        EXPECT_EQ(Double(RawOf(f.F("Amount"))), c.value) << c.text;
        EXPECT_EQ(f.F("Amount").AsString(), c.shown) << c.text;
    }
    EXPECT_EQ(MessageOf([&] { f.F("Amount").SetAsString("abc"); }), "'abc' is not a valid floating point value");

    f.F("Flag").SetAsString("true");
    EXPECT_EQ(Signed(RawOf(f.F("Flag"))), 1);
    EXPECT_EQ(f.F("Flag").AsString(), "True");
    f.F("Flag").SetAsString("F");
    EXPECT_FALSE(f.F("Flag").AsBoolean());
    EXPECT_EQ(f.F("Flag").AsString(), "False");
    EXPECT_EQ(MessageOf([&] { f.F("Flag").SetAsString("maybe"); }), "'maybe' is not a valid boolean value");
    f.F("Flag").SetAsString("");
    EXPECT_TRUE(f.F("Flag").IsNull());
    EXPECT_EQ(f.F("Flag").AsString(), "");
}

// ---------------------------------------------------------------------------
// Data links and sources

TEST(DataSetLinks, NotificationsFollowStateAndData) {
    TMemDataSet ds(TicketFields());
    TDataSource source;
    TStrings links, sourceLog;
    source.OnStateChange = [&](TDataSource& s) { sourceLog.push_back("State:" + std::to_string(int(s.State()))); };
    source.OnDataChange = [&](TDataSource&, TField* field) {
        sourceLog.push_back("Data:" + (field ? field->FieldName() : std::string("-")));
    };
    source.SetDataSet(&ds);
    TLogLink link(links);
    link.SetDataSource(&source);
    EXPECT_TRUE(links.empty());  // nothing to follow while closed

    ds.Open();
    ds.Insert();
    ds.FieldByName("Name").SetAsString("A");
    ds.Post();
    ds.Edit();
    ds.Cancel();
    ds.Close();
    EXPECT_EQ(links, (TStrings{"ActiveChanged:on", "EditingChanged:on", "DataSetChanged", "RecordChanged:Name",
                               "UpdateData", "EditingChanged:off", "DataSetChanged", "EditingChanged:on",
                               "RecordChanged:-", "EditingChanged:off", "DataSetChanged", "ActiveChanged:off"}));
    const std::string browse = std::to_string(int(TDataSetState::Browse));
    const std::string insert = std::to_string(int(TDataSetState::Insert));
    const std::string edit = std::to_string(int(TDataSetState::Edit));
    const std::string inactive = std::to_string(int(TDataSetState::Inactive));
    EXPECT_EQ(sourceLog, (TStrings{"State:" + browse, "Data:-", "State:" + insert, "Data:-", "Data:Name",
                                   "State:" + browse, "Data:-", "State:" + edit, "Data:-", "State:" + browse,
                                   "Data:-", "State:" + inactive}));
}

TEST(DataSetLinks, DisabledControlsGetOneChangeAtTheEnd) {
    auto ds = OpenWith({"A", "B", "C"});
    TDataSource source;
    source.SetDataSet(ds.get());
    TStrings links;
    int dataChanges = 0;
    source.OnDataChange = [&](TDataSource&, TField*) { ++dataChanges; };
    TLogLink link(links);
    link.SetDataSource(&source);
    links.clear();

    ds->DisableControls();
    ds->DisableControls();
    EXPECT_TRUE(ds->ControlsDisabled());
    for (ds->First(); !ds->Eof(); ds->Next()) {
        ds->Edit();
        ds->FieldByName("Count").SetAsInteger(ds->FieldByName("Count").AsInteger() * 10);
        ds->Post();
    }
    ds->EnableControls();
    EXPECT_TRUE(links.empty());
    EXPECT_EQ(dataChanges, 0);
    ds->EnableControls();
    EXPECT_FALSE(ds->ControlsDisabled());
    EXPECT_EQ(links, TStrings{"DataSetChanged"});
    EXPECT_EQ(dataChanges, 1);

    // Nothing happened: nothing to tell. A state left pending is told once.
    links.clear();
    ds->DisableControls();
    ds->EnableControls();
    EXPECT_TRUE(links.empty());
    ds->DisableControls();
    ds->Edit();
    ds->EnableControls();
    EXPECT_EQ(links, (TStrings{"EditingChanged:on", "DataSetChanged"}));
    EXPECT_EQ(source.State(), TDataSetState::Edit);
    ds->First();
    EXPECT_EQ(ds->FieldByName("Count").AsInteger(), 10);
}

TEST(DataSetLinks, LinksAndSourcesMayGoInAnyOrder) {
    TStrings log;
    {  // link first
        TMemDataSet ds(TicketFields());
        ds.Open();
        auto source = std::make_unique<TDataSource>();
        source->SetDataSet(&ds);
        auto link = std::make_unique<TLogLink>(log);
        link->SetDataSource(source.get());
        EXPECT_EQ(source->Links().size(), 1u);
        link.reset();
        EXPECT_TRUE(source->Links().empty());
        ds.Close();
    }
    log.clear();
    {  // source first: its links are detached and told
        TMemDataSet ds(TicketFields());
        ds.Open();
        auto source = std::make_unique<TDataSource>();
        source->SetDataSet(&ds);
        TLogLink link(log);
        link.SetDataSource(source.get());
        source.reset();
        EXPECT_EQ(link.DataSource(), nullptr);
        EXPECT_EQ(link.DataSet(), nullptr);
        EXPECT_FALSE(link.Active());
        ds.Next();  // nothing left to notify
        ds.Close();
        EXPECT_EQ(log, (TStrings{"ActiveChanged:on", "ActiveChanged:off"}));
    }
    log.clear();
    {  // dataset first
        TDataSource source;
        TLogLink link(log);
        link.SetDataSource(&source);
        {
            TMemDataSet ds(TicketFields());
            source.SetDataSet(&ds);
            ds.Open();
        }
        EXPECT_EQ(source.DataSet(), nullptr);
        EXPECT_EQ(source.State(), TDataSetState::Inactive);
        EXPECT_EQ(link.DataSet(), nullptr);
        EXPECT_EQ(log, (TStrings{"ActiveChanged:on", "ActiveChanged:off"}));
    }
}

TEST(DataSetLinks, TemporaryStatesAreSilentAndKeepModified) {
    TStrings links, states;
    auto ds = OpenWith({"A"});
    TDataSource source;
    source.SetDataSet(ds.get());
    source.OnStateChange = [&](TDataSource&) { states.push_back("state"); };
    TLogLink link(links);
    link.SetDataSource(&source);
    ds->Edit();
    ds->FieldByName("Name").SetAsString("B");
    links.clear();
    states.clear();
    for (const TDataSetState state : {TDataSetState::SetKey, TDataSetState::CalcFields, TDataSetState::Filter,
                                      TDataSetState::NewValue}) {
        ds->InState(state, [&] {
            EXPECT_EQ(ds->State(), state);
            ds->FieldByName("Count").SetAsInteger(3);
        });
        EXPECT_EQ(ds->State(), TDataSetState::Edit);
        EXPECT_TRUE(ds->Modified()) << int(state);
    }
    EXPECT_TRUE(links.empty());
    EXPECT_TRUE(states.empty());
    EXPECT_EQ(source.State(), TDataSetState::Edit);
    ds->Post();
    EXPECT_EQ(Name(*ds), "B");
}

TEST(DataSetLinks, ALinkRemovedDuringANotificationIsNotCalled) {
    auto ds = OpenWith({"A", "B"});
    TDataSource source;
    source.SetDataSet(ds.get());
    TStrings log;
    TLogLink first(log, "1:");
    auto second = std::make_unique<TLogLink>(log, "2:");
    first.SetDataSource(&source);
    second->SetDataSource(&source);
    first.OnScrolled = [&] { second.reset(); };
    log.clear();
    ds->Next();
    EXPECT_EQ(log, TStrings{"1:DataSetScrolled:1"});
    EXPECT_EQ(source.Links().size(), 1u);
}

}  // namespace
}  // namespace veltra
