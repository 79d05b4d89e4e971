// Body of fuzz_filter: one filter text (or compiled filter) compiled and run
// against a small fixed table, through the data file and the table component.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/byte_order.h"
#include "engine/codec.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/filter_eval.h"
#include "engine/session.h"
#include "engine/table_builder.h"
#include "engine/veltra_table.h"
#include "fuzz_input.h"
#include "platform/db_error.h"
#include "tests/test_util.h"

namespace veltra_fuzz {

namespace {

using namespace veltra;

[[noreturn]] void Fault(const std::string& what) {
    std::fprintf(stderr, "fuzz_filter fault: %s\n", what.c_str());
    std::abort();
}

TTableDef FilterTableDef(bool indexed) {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc}, {"Title", ftString, 0, 30}, {"State", ftString, 0, 20},
                  {"Priority", ftSmallInt},          {"Close date", ftDate},       {"Paid", ftBoolean},
                  {"Cost", ftBCD, 0, 0, 2},          {"Amount", ftFloat},          {"Started", ftTime},
                  {"Updated", ftDateTime},           {"Units", ftWord},            {"Count", ftInteger},
                  {"Raw", ftBytes, 0, 4},            {"Notes", ftBlob}};
    def.Indexes = {{.Primary = true, .Fields = {"ID"}}, {.Name = "ByState", .Fields = {"State"}}};
    if (indexed) {
        def.Indexes.push_back({.Name = "ByClose", .Fields = {"Close date", "Title"}});
        def.Indexes.push_back({.Name = "ByPriority", .Fields = {"Priority"}, .Descending = true});
        def.Indexes.push_back({.Name = "ByTitle", .Fields = {"Title"}, .CaseInsensitive = true});
        def.Indexes.push_back({.Name = "ByUnits", .Fields = {"Units"}, .FieldDescending = {true}});
        def.Indexes.push_back({.Name = "ByCost", .Fields = {"Cost"}, .Compression = TCompression::Both});
        def.Indexes.push_back({.Name = "ByUpdated", .Fields = {"Updated"}});
        def.Indexes.push_back({.Name = "ByAmount", .Fields = {"Amount", "Count"}, .Unique = true});
    }
    return def;
}

// One row; a negative Priority, Units or Day stands for null.
struct TRow {
    const char* Title;
    const char* State;
    int Priority;
    int Day;  // of March 2002
    int Paid;  // -1 null
    int64_t CostCents;
    double Amount;
    int StartedMinute;
    int Units;
    int32_t Count;
    const char* Notes;
};

const TRow kRows[] = {
    {"abc", "Open", 1, -1, 1, 150, 2.5, 540, 10, -5, "first"},
    {"abcdef", "Closed", 5, 1, 0, 1025, -1, 780, 0, 100, ""},
    {"abc*", "open", 7, 14, 1, 1, 1000, 0, 65535, 7, "a longer note that spans a little"},
    {"*", "Under investigation", -1, 15, -1, -250, 0.5, -1, -1, 0, ""},
    {"it's", "Close pending", 6, 31, 0, 0, 0, 1439, 5, 1, "x"},
    {"ABC", "OPEN", 10, 14, 1, 150, 1.5, 720, 7, -1, ""},
    {"", "Closed", 2, 2, 0, 99, 3, 60, 3, 2, "deleted later"},
    {"zz top", "Open", 3, 3, 1, 5, 4, 61, 2, 3, ""},
};

void Put(TDataFile& t, uint8_t* buffer, const char* field, const void* value, size_t length) {
    t.SetFieldValue(t.FieldNumber(field), buffer, static_cast<const uint8_t*>(value), length);
}

}  // namespace

void CreateFilterTable(const std::string& path, bool indexed) {
    CreateTable(path, FilterTableDef(indexed));
    TDataFile t;
    t.SetFileName(path);
    t.SetExclusive(true);
    t.OpenTable();
    std::vector<uint8_t> buffer(size_t(t.RecordSize()));
    for (const TRow& row : kRows) {
        t.InitRecord(buffer.data());
        uint8_t v[8] = {};
        Put(t, buffer.data(), "Title", row.Title, std::char_traits<char>::length(row.Title));
        Put(t, buffer.data(), "State", row.State, std::char_traits<char>::length(row.State));
        if (row.Priority >= 0) PutI16(v, int16_t(row.Priority)), Put(t, buffer.data(), "Priority", v, 2);
        if (row.Day >= 0) PutI32(v, EncodeDayNumber(2002, 3, row.Day)), Put(t, buffer.data(), "Close date", v, 4);
        if (row.Paid >= 0) PutU16(v, uint16_t(row.Paid)), Put(t, buffer.data(), "Paid", v, 2);
        int64_t packed = 0;
        if (PackBcd(row.CostCents * 100, 2, packed)) PutI64(v, packed), Put(t, buffer.data(), "Cost", v, 8);
        PutF64(v, row.Amount), Put(t, buffer.data(), "Amount", v, 8);
        if (row.StartedMinute >= 0) PutI32(v, row.StartedMinute * 60000), Put(t, buffer.data(), "Started", v, 4);
        if (row.Day >= 0) {
            PutF64(v, DateTimeFromDayNumber(EncodeDayNumber(2002, 3, row.Day), row.StartedMinute * 60000));
            Put(t, buffer.data(), "Updated", v, 8);
        }
        if (row.Units >= 0) PutU16(v, uint16_t(row.Units)), Put(t, buffer.data(), "Units", v, 2);
        PutI32(v, row.Count), Put(t, buffer.data(), "Count", v, 4);
        Put(t, buffer.data(), "Raw", "\x01\x02\x03\x04", 4);
        if (*row.Notes) veltra_test::PutBlobText(t, buffer.data(), "Notes", row.Notes);
        t.InsertRecord(buffer.data(), false);
    }
    // Delete the seventh record, leaving a free slot and free BLOB blocks.
    t.SelectIndexByName("");
    t.GotoRecordNumber(7);
    if (t.GetCurrentRecord(buffer.data(), true) != ecOK) Fault("fixture: no seventh record");
    t.DeleteRecord(false);
    t.CloseTable();
}

namespace {

struct TFixture {
    TDataFile Files[2];         // plain, indexed: the data file level
    TVeltraTable Components[2];  // copies of the same, through the component

    TFixture() {
        EngineStartup();
        SetFilterCompiler([](TDataFile& table, const std::string& text, const TFilterOptions& o) {
            return CreateExpressionFilter(table, text,
                                          TFilterOptionSet((o.CaseInsensitive ? foCaseInsensitive : 0) |
                                                           (o.NoPartialCompare ? foNoPartialCompare : 0)));
        });
        for (int i = 0; i < 2; ++i) {
            const std::string base = ScratchFolder() + (i ? "/indexed" : "/plain");
            CreateFilterTable(base + ".dat", i == 1);
            CreateFilterTable(base + "2.dat", i == 1);
            Files[i].SetFileName(base + ".dat");
            Files[i].SetExclusive(true);
            Files[i].SetReadOnly(true);
            Files[i].OpenTable();
            Components[i].SetTableName(base + "2.dat");
            Components[i].SetExclusive(true);
            Components[i].SetReadOnly(true);
            Components[i].Open();
        }
    }
};

std::set<int32_t> Matching(TDataFile& t, const TFilterEvaluator& filter) {
    std::set<int32_t> ids;
    for (int32_t n = 1; n < t.NextRecordNo(); ++n) {
        TFetchResult f = t.FetchRecord(n);
        if (!f.Record) continue;
        if (!f.Record->IsDeleted() && filter.Matches(f.Record->Buffer.data())) ids.insert(f.Record->RecordID());
        f.Record->Unpin();
    }
    return ids;
}

// The filter active on the data file: count, walk both ways in every index.
void RunOnDataFile(TDataFile& t, std::unique_ptr<TExpressionFilter> filter) {
    const std::set<int32_t> read = Matching(t, *filter);
    if (Matching(t, *filter->Clone()) != read) Fault("a clone matches other records");
    // The filter leaves the list however the run ends, so that no input
    // changes the table the next one sees.
    struct TRemove {
        TDataFile& Table;
        TFilterHandle Handle;
        ~TRemove() {
            if (Table.RemoveFilter(Handle) != ecOK) Fault("removing the filter failed");
            Table.SelectIndexByName("");
        }
    } remove{t, t.AddFilter(std::move(filter), nullptr)};
    if (t.ActivateFilter(remove.Handle) != ecOK) Fault("activating a compiled filter failed");
    std::vector<uint8_t> buffer(size_t(t.RecordSize()));
    std::vector<std::string> names{""};
    for (int slot = 1; slot <= t.IndexFile().IndexCount(); ++slot) names.push_back(t.IndexFile().IndexName(slot));
    for (const std::string& index : names) {
        t.SelectIndexByName(index);
        const int64_t count = t.RecordCount();
        std::set<int32_t> seen;
        t.FirstRecord();
        while (t.NextRecord(buffer.data()) == ecOK) {
            if (!seen.insert(GetI32(&buffer[5])).second) Fault("a record shows twice in a filtered walk");
        }
        if (int64_t(seen.size()) != count) Fault("filtered count differs from the records walked");
        int64_t back = 0;
        t.LastRecord();
        while (t.PriorRecord(buffer.data()) == ecOK) ++back;
        if (back != count) Fault("filtered backward walk differs from the count");
    }
}

void RunOnComponent(TVeltraTable& table, const std::string& text, uint8_t options) {
    table.SetFiltered(false);
    table.SetFilterOptions({.CaseInsensitive = bool(options & kFilterCaseInsensitive),
                            .NoPartialCompare = bool(options & kFilterNoPartial)});
    table.SetFilter(text);
    table.SetFiltered(true);
    const int64_t count = table.RecordCount();
    int64_t walked = 0;
    for (table.First(); !table.Eof(); table.Next()) ++walked;
    if (walked != count) Fault("component: filtered count differs from the records walked");
    table.SetFiltered(false);
    table.SetFilter("");
}

template <typename F>
void ExpectFilterOutcome(F&& f) {
    try {
        f();
    } catch (const EDatabaseError&) {
        // Parser and compiler errors, engine errors (10051).
    } catch (const EConvertError&) {
        // A constant that does not convert to its field's type.
    }
}

}  // namespace

void RunFilterInput(const uint8_t* data, size_t size) {
    static TFixture fixture;
    if (size == 0) return;
    const uint8_t options = data[0];
    const int which = options & kFilterIndexedTable ? 1 : 0;
    TDataFile& t = fixture.Files[which];
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    if (options & kFilterCompiled) {
        ExpectFilterOutcome([&] {
            RunOnDataFile(t, std::make_unique<TExpressionFilter>(t, data + 1, size - 1));
        });
        return;
    }
    const TFilterOptionSet set = TFilterOptionSet((options & kFilterCaseInsensitive ? foCaseInsensitive : 0) |
                                                  (options & kFilterNoPartial ? foNoPartialCompare : 0));
    ExpectFilterOutcome([&] { RunOnDataFile(t, CreateExpressionFilter(t, rest, set)); });
    ExpectFilterOutcome([&] { RunOnComponent(fixture.Components[which], rest, options); });
}

}  // namespace veltra_fuzz
