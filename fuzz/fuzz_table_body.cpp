// Body of fuzz_table: one arbitrary table opened and read through every path
// a reader of a damaged table may take.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/index_file.h"
#include "engine/session.h"
#include "engine/table_verifier.h"
#include "engine/veltra_table.h"
#include "fuzz_input.h"
#include "platform/db_error.h"
#include "tests/test_util.h"

namespace veltra_fuzz {

namespace {

using namespace veltra;

// More cursor steps than a table that fits in a fuzz input can have records;
// a walk that takes more never ends.
constexpr int64_t kMaxSteps = 1'000'000;
// BLOB bytes read per field; a reader of a huge BLOB reads it in pieces.
constexpr int64_t kBlobChunk = 64 * 1024;
constexpr int64_t kMaxBlobBytes = 4 * 1024 * 1024;

[[noreturn]] void Fault(const std::string& what) {
    std::fprintf(stderr, "fuzz_table fault: %s\n", what.c_str());
    std::abort();
}

void CountStep(int64_t& steps, const char* walk) {
    if (++steps > kMaxSteps) Fault(std::string(walk) + " never reaches its end");
}

// Reads every BLOB field of a copy of a record image.
void ReadBlobs(TDataFile& table, const uint8_t* record) {
    std::vector<uint8_t> buffer(record, record + table.RecordSize());
    std::vector<uint8_t> chunk;
    for (int f = 1; f <= table.FieldCount(); ++f) {
        if (table.FieldDescriptor(f).FieldType() != ftBlob) continue;
        if (table.OpenBlobField(f, kBlobRead, buffer.data()) != 0) continue;
        int64_t size = 0;
        if (table.BlobFieldSize(f, buffer.data(), size) == 0) {
            if (size < 0) Fault("negative BLOB size");
            for (int64_t at = 0; at < size && at < kMaxBlobBytes; at += kBlobChunk) {
                const int64_t want = std::min(kBlobChunk, size - at);
                chunk.assign(size_t(want), 0);
                int64_t got = 0;
                if (table.ReadBlobField(f, buffer.data(), at, want, chunk.data(), got) != 0) break;
                if (got < 0 || got > want) Fault("BLOB read returned more than asked");
            }
        }
        table.CloseBlobField(f, buffer.data());
    }
}

template <typename F>
void ExpectEngineOutcome(F&& f) {
    try {
        f();
    } catch (const EDatabaseError&) {
        // Engine errors derive from the dataset's error: a damaged table is reported.
    } catch (const EConvertError&) {
        // A stored value that has no text form.
    }
}

// Three changes, each of which succeeds or raises an engine error that
// leaves the table as it was: a new record with every String field and every
// BLOB field set, the first record with its String fields changed, and the
// last record deleted.
void ChangeTable(TDataFile& table) {
    std::vector<uint8_t> buffer(size_t(table.RecordSize()));
    auto setFields = [&](const std::string& text) {
        for (int f = 1; f <= table.FieldCount(); ++f) {
            const TFieldDescriptor d = table.FieldDescriptor(f);
            if (d.FieldType() == ftString)
                table.SetFieldValue(f, buffer.data(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
            else if (d.FieldType() == ftBlob)
                veltra_test::PutBlobText(table, buffer.data(), d.Name().c_str(), std::string(700, text[0]));
        }
    };
    ExpectEngineOutcome([&] {
        table.InitRecord(buffer.data());
        setFields("fuzz");
        table.InsertRecord(buffer.data(), false);
    });
    ExpectEngineOutcome([&] {
        table.FirstRecord();
        if (table.NextRecord(buffer.data()) != ecOK || table.GetCurrentRecord(buffer.data(), true) != ecOK) return;
        setFields("changed");
        table.ModifyRecord(buffer.data(), true, false);
    });
    ExpectEngineOutcome([&] {
        table.LastRecord();
        if (table.PriorRecord(buffer.data()) != ecOK || table.GetCurrentRecord(buffer.data(), true) != ecOK) return;
        table.DeleteRecord(false);
    });
}

// The data file level: slots by number, every index both ways through the
// record operations and through the index cursor, the verifier.
void WalkDataFile(const std::string& path, uint8_t options) {
    TDataFile table;
    table.SetFileName(path);
    table.SetExclusive(options & kOpenExclusive);
    table.SetReadOnly(options & kOpenReadOnly);
    table.SetStrictChangeDetection(options & kOpenStrict);
    table.SetLockRetryCount(0);
    table.SetLockWaitTime(0);
    table.OpenTable();
    TIndexFile& index = table.IndexFile();

    for (int32_t n = 1; n < table.NextRecordNo(); ++n) {
        TFetchResult f = table.FetchRecord(n, n % 2 ? TReadAhead::Physical : TReadAhead::None);
        if (!f.Record) continue;
        std::vector<uint8_t> image = f.Record->Buffer;
        f.Record->Unpin();
        if (image[0] == 0) ReadBlobs(table, image.data());
    }

    std::vector<std::string> names{""};
    for (int slot = 1; slot <= index.IndexCount(); ++slot) names.push_back(index.IndexName(slot));
    std::vector<uint8_t> buffer(size_t(table.RecordSize()));
    // Per index: records walked forwards, backwards, and the record count.
    std::vector<std::array<int64_t, 3>> counts;
    for (const std::string& name : names) {
        table.SelectIndexByName(name);
        int64_t steps = 0, forward = 0, backward = 0;
        table.FirstRecord();
        int rc;
        while ((rc = table.NextRecord(buffer.data())) == ecOK) {
            CountStep(steps, "forward walk");
            ReadBlobs(table, buffer.data());
            ++forward;
        }
        if (rc != ecEOF) CheckEngineResult(rc);
        table.LastRecord();
        while ((rc = table.PriorRecord(buffer.data())) == ecOK) {
            CountStep(steps, "backward walk");
            ++backward;
        }
        if (rc != ecBOF) CheckEngineResult(rc);
        counts.push_back({forward, backward, table.RecordCount()});
        // Key searches and a range on the first record's key.
        table.FirstRecord();
        if (!index.NaturalOrder() && table.NextRecord(buffer.data()) == ecOK) {
            const std::vector<uint8_t> first = buffer;
            table.FindKey(first.data(), nullptr, 1, buffer.data());
            table.SetRange(first.data(), 1, first.data(), 1);
            table.FirstRecord();
            while (table.NextRecord(buffer.data()) == ecOK) CountStep(steps, "walk in a range");
            table.CancelRange();
        }
        if (forward > 0) {
            table.GotoRecordNumber(1 + forward / 2);
            if (table.GetCurrentRecord(buffer.data(), false) == ecOK) {
                std::vector<uint8_t> mark = table.GetBookmark();
                table.GotoBookmark(mark);
                table.CurrentRecordNumber();
            }
        }
    }

    for (int slot = 0; slot <= index.IndexCount(); ++slot) {
        index.SelectIndex(slot);
        int64_t steps = 0;
        for (index.First(); index.OnEntry(); index.MoveBy(1)) {
            CountStep(steps, "index cursor");
            TFetchResult f = table.FetchRecord(index.CurrentRecord(), TReadAhead::IndexOrder);
            if (f.Record) f.Record->Unpin();
        }
        for (index.Last(); index.OnEntry(); index.MoveBy(-1)) CountStep(steps, "index cursor backwards");
    }
    // A table the verifier passes is one every walk reads completely.
    const TTableReport report = VerifyTable(table, {.MaxProblems = 50});
    for (size_t i = 0; i < counts.size() && report.Ok(); ++i)
        if (counts[i][0] != counts[i][1] || counts[i][0] != counts[i][2])
            Fault("index '" + names[i] + "' walks " + std::to_string(counts[i][0]) + " records forwards, " +
                  std::to_string(counts[i][1]) + " backwards and counts " + std::to_string(counts[i][2]) +
                  ", yet the verifier finds no problem");
    // Changes keep a table the verifier passes passing.
    if ((options & kOpenWrite) && !(options & kOpenReadOnly) && !table.ReadOnlyForced()) {
        ChangeTable(table);
        const TTableReport after = VerifyTable(table, {.MaxProblems = 5});
        if (report.Ok() && !after.Ok()) Fault("changes damaged a sound table: " + after.Text());
    }
    table.CloseTable();
}

// The table component: every index both ways, every field as text, every
// BLOB, and rows by position.
void WalkComponent(const std::string& path, uint8_t options) {
    TVeltraTable table;
    table.SetTableName(path);
    table.SetExclusive(options & kOpenExclusive);
    table.SetReadOnly(options & kOpenReadOnly);
    table.SetStrictChangeDetection(options & kOpenStrict);
    table.SetLockRetryCount(0);
    table.SetLockWaitTime(0);
    table.Open();
    std::vector<std::string> names{""};
    for (const std::string& name : table.GetIndexNames()) names.push_back(name);
    for (const std::string& name : names) {
        table.SetIndexName(name);
        int64_t steps = 0;
        for (table.First(); !table.Eof(); table.Next()) {
            CountStep(steps, "component forward walk");
            for (const auto& field : table.Fields()) {
                if (field->IsBlob())
                    table.ReadBlob(*field);
                else
                    field->AsString();
            }
        }
        for (table.Last(); !table.Bof(); table.Prior()) CountStep(steps, "component backward walk");
        const int64_t rows = table.RecordCount();
        if (rows > 0) table.SetRecNo(1 + rows / 2);
    }
    {
        TRowReader reader(table);
        const int64_t rows = reader.RowCount();
        std::vector<uint8_t> record;
        for (int64_t n = 1; n <= rows && n <= kMaxSteps; ++n) reader.ReadRow(n, record);
    }
    table.Close();
}

}  // namespace

void RunTableInput(const uint8_t* data, size_t size) {
    static const bool started = [] {
        EngineStartup();
        return true;
    }();
    (void)started;
    const TTableInput input = DecodeTableInput(data, size);
    const std::string path = WriteTableFiles(input, ScratchFolder());
    ExpectEngineOutcome([&] { WalkDataFile(path, input.Options); });
    // Opening writable may have repaired or rewritten headers: start again
    // from the input's bytes.
    WriteTableFiles(input, ScratchFolder());
    ExpectEngineOutcome([&] { WalkComponent(path, input.Options); });
    WriteTableFiles(input, ScratchFolder());
    ExpectEngineOutcome([&] { VerifyTable(path, {.LockRetryCount = 1, .LockWaitTime = 1, .MaxProblems = 50}); });
}

}  // namespace veltra_fuzz
