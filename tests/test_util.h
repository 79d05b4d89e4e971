// Shared fixture helpers for engine tests: a temporary folder, a small table
// built with CreateTable and filled through the record cache and the indexes,
// raw file access for tests that damage files on purpose, and error-code
// capture.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "engine/byte_order.h"
#include "engine/codec.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/file_handler.h"
#include "engine/index_file.h"
#include "engine/table_builder.h"
#include "engine/table_format.h"

namespace veltra_test {

// A fresh temporary folder, removed with everything in it.
class TTestDir {
public:
    TTestDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "veltra-engine-XXXXXX").string();
        if (mkdtemp(tmpl.data()) != nullptr) m_Path = tmpl;
    }
    ~TTestDir() {
        std::error_code ec;
        if (!m_Path.empty()) std::filesystem::remove_all(m_Path, ec);
    }
    TTestDir(const TTestDir&) = delete;
    TTestDir& operator=(const TTestDir&) = delete;

    std::string operator/(const std::string& name) const { return (m_Path / name).string(); }
    const std::filesystem::path& Path() const { return m_Path; }

private:
    std::filesystem::path m_Path;
};

// Field names of the small table.
inline constexpr const char* kTitleField = "Title";
inline constexpr const char* kIdField = "ID";
inline constexpr const char* kDateField = "Opened";
inline constexpr const char* kNotesField = "Notes";
inline constexpr const char* kTitleIndex = "ByTitle";

// A String, an auto-increment Integer, a Date and a BLOB field; a primary index
// on the ID and a non-unique secondary index on the title.
inline veltra::TTableDef SmallTableDef() {
    using namespace veltra;
    TTableDef def;
    def.Fields = {{kTitleField, ftString, 0, 20},
                  {kIdField, ftInteger, kSubTypeAutoInc},
                  {kDateField, ftDate},
                  {kNotesField, ftBlob}};
    def.Indexes = {{.Name = "", .Primary = true, .Fields = {kIdField}},
                   {.Name = kTitleIndex, .Fields = {kTitleField}}};
    return def;
}

// Appends `count` records to an open table whose write phase the caller holds
// (or which is exclusive). Each gets the next record ID, the title
// "<prefix> <id>" and a date; the records and headers are flushed.
inline void AppendRecords(veltra::TDataFile& table, int count, const std::string& prefix = "Ticket") {
    using namespace veltra;
    TFieldDescriptor title = table.FieldDescriptorByName(kTitleField);
    TFieldDescriptor date = table.FieldDescriptorByName(kDateField);
    for (int i = 0; i < count; ++i) {
        TRecord* r = table.NewRecordSlot();
        r->SetLink(r->PhysicalNo);
        int32_t recordId = table.TakeRecordID();
        r->SetRecordID(recordId);
        std::string text = prefix + " " + std::to_string(recordId);
        uint8_t* t = &r->Buffer[title.Offset()];
        std::memset(t, 0, size_t(title.PhysicalSize()) + 1);
        t[0] = 1;
        std::memcpy(t + 1, text.data(), std::min(text.size(), size_t(title.PhysicalSize()) - 1));
        uint8_t* d = &r->Buffer[date.Offset()];
        d[0] = 1;
        PutI32(d + 1, EncodeDayNumber(2026, 12, 1 + (recordId % 28)));
        r->Dirty = true;
        r->Unpin();
        table.IndexFile().IncrementRecordCount();
    }
    table.UnpinAll();
    table.FlushBuffers(true);
}

// Enters records first..last of an open table into every index (primary,
// secondaries and the deleted-records index) as an insertion would, in one
// committed change, and flushes. The caller holds the write phase (or the
// table is exclusive).
inline void IndexRecords(veltra::TDataFile& table, int32_t first, int32_t last) {
    using namespace veltra;
    TIndexFile& index = table.IndexFile();
    std::vector<int> slots;
    if (index.HasPrimaryIndex()) slots.push_back(0);
    for (int slot = 1; slot <= index.IndexCount(); ++slot) slots.push_back(slot);
    slots.push_back(kDeletedIndexSlot);
    {
        TIndexChange change(index);
        for (int32_t n = first; n <= last; ++n) {
            TFetchResult f = table.FetchRecord(n);
            if (!f.Record) continue;
            for (int slot : slots) {
                std::vector<uint8_t> key(size_t(index.Layout(slot).KeySize));
                table.BuildKey(slot, f.Record->Buffer.data(), key.data());
                index.InsertKey(slot, key.data(), n);
            }
            f.Record->Unpin();
        }
        change.Commit();
    }
    table.UnpinAll();
    table.FlushBuffers(true);
}

// Creates the small table at `path` (a ".dat" name) with `records` records,
// entered in every index, and returns the data file's name. The table is
// closed again.
inline std::string CreateSmallTable(const std::string& path, int records) {
    using namespace veltra;
    CreateTable(path, SmallTableDef());
    if (records > 0) {
        TDataFile table;
        table.SetFileName(path);
        table.OpenTable();
        table.BeginWrite();
        AppendRecords(table, records);
        IndexRecords(table, 1, table.NextRecordNo() - 1);
        table.EndWrite();
        table.CloseTable();
    }
    return path;
}

// Names of the companion files as the engine derives them.
inline std::string IndexPathOf(const std::string& dataPath) {
    return veltra::ResolveExistingPath(veltra::ForceExtension(dataPath, "IDX"));
}
inline std::string BlobPathOf(const std::string& dataPath) {
    return veltra::ResolveExistingPath(veltra::ForceExtension(dataPath, "BLB"));
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The engine error code `f` raises, or 0 when it returns normally. Any other
// exception passes through and fails the calling test.
inline int EngineErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const veltra::EVeltraEngineError& e) {
        return e.ErrorCode();
    }
    return 0;
}

// Replaces the content of a BLOB field of a record buffer; the BLOB stays
// open in the buffer until the record is written or the field is closed.
inline void PutBlobText(veltra::TDataFile& table, uint8_t* buffer, const char* field, const std::string& text) {
    using namespace veltra;
    int f = table.FieldNumber(field);
    CheckEngineResult(table.OpenBlobField(f, kBlobWrite, buffer));
    CheckEngineResult(table.TruncateBlobField(f, buffer, 0));
    CheckEngineResult(table.WriteBlobField(f, buffer, 0, int64_t(text.size()),
                                           reinterpret_cast<const uint8_t*>(text.data())));
}

// The content of a BLOB field of a record buffer (opened and closed again).
inline std::string BlobText(veltra::TDataFile& table, uint8_t* buffer, const char* field) {
    using namespace veltra;
    int f = table.FieldNumber(field);
    CheckEngineResult(table.OpenBlobField(f, kBlobRead, buffer));
    int64_t size = 0, got = 0;
    CheckEngineResult(table.BlobFieldSize(f, buffer, size));
    std::string text(size_t(size), '\0');
    if (size) CheckEngineResult(table.ReadBlobField(f, buffer, 0, size, reinterpret_cast<uint8_t*>(text.data()), got));
    CheckEngineResult(table.CloseBlobField(f, buffer));
    return text;
}

}  // namespace veltra_test
