// VerifyTable: opening, the read phase, the problem list, and the data file's
// own checks (header, length, records, free chain). Index keys and BLOB chains
// are checked in table_verifier_keys.cpp and table_verifier_blobs.cpp.
#include "table_verifier.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>

#include "byte_order.h"
#include "data_file.h"
#include "errors.h"
#include "file_handler.h"
#include "table_format.h"
#include "table_verifier_internal.h"

namespace veltra {

std::string TTableReport::Text() const {
    std::string text;
    for (size_t i = 0; i < Problems.size(); ++i) {
        if (i > 0) text += '\n';
        text += Problems[i];
    }
    return text;
}

namespace verify {

void TRun::Problem(const std::string& line) {
    if (Report.Problems.size() < Options.MaxProblems) Report.Problems.push_back(line);
    else ++Omitted;
}

std::string TRun::RecordLabel(int32_t record) const {
    std::string label = "record " + std::to_string(record);
    if (record >= 1 && size_t(record) < Id.size() && record <= SlotsRead)
        label += " (ID " + std::to_string(Id[size_t(record)]) + ")";
    return label;
}

std::string IndexLabel(TDataFile& table, int slot) {
    return "index slot " + std::to_string(slot) + " (" + table.IndexFile().IndexName(slot) + ")";
}

uint64_t KeyHash(const uint8_t* key, int length) {
    uint64_t h = 1469598103934665603ULL;
    for (int i = 0; i < length; ++i) {
        h ^= key[i];
        h *= 1099511628211ULL;
    }
    return h;
}

namespace {

std::string Str(int64_t v) { return std::to_string(v); }

// Header fields against the descriptors, and the file's length against the
// header. Sets run.Slots to the slots the file really holds.
void CheckDataHeader(TRun& run) {
    TDataFile& t = run.Table;
    const int fields = t.FieldCount();
    if (fields < 1 || fields > kMaxFields)
        run.Problem("data file: header field count " + Str(fields) + " outside 1.." + Str(kMaxFields));
    int running = kRecordHeaderSize;
    int blobFields = 0;
    for (int f = 1; f <= fields; ++f) {
        TFieldDescriptor d = t.FieldDescriptor(f);
        const std::string label = "data file: field " + Str(f) + " (" + d.Name() + ")";
        if (d.FieldNo() != f) run.Problem(label + ": descriptor numbered " + Str(d.FieldNo()));
        if (d.FieldType() == ftBlob) ++blobFields;
        const int expected = d.IsAutoIncrement() ? 5 : d.IsComputed() ? 0 : running;
        if (d.Offset() != expected)
            run.Problem(label + ": offset " + Str(d.Offset()) + ", expected " + Str(expected));
        running += d.StoredWidth();
    }
    if (running != t.RecordSize())
        run.Problem("data file: header record size " + Str(t.RecordSize()) + ", the field descriptors add up to " +
                    Str(running));
    if (blobFields != t.BlobFieldCount())
        run.Problem("data file: header BLOB field count " + Str(t.BlobFieldCount()) + ", the descriptors hold " +
                    Str(blobFields) + " BLOB fields");
    if (t.BlobFieldCount() > 0 && !t.BlobFile())
        run.Problem("BLOB file: not open although the table has BLOB fields");
    if (t.LastRecordID() < 0) run.Problem("data file: header last record ID " + Str(t.LastRecordID()) + " is negative");

    const int64_t d = t.DataOffset();
    const int64_t rs = t.RecordSize();
    const int32_t headerSlots = std::max(0, t.NextRecordNo() - 1);
    const int64_t expected = d + headerSlots * rs;
    const int64_t size = t.GetSize();
    run.Slots = headerSlots;
    // An exclusive table may hold appended slots that are not written yet.
    if (size != expected && !(t.Exclusive() && size < expected)) {
        std::string line = "data file: " + Str(size) + " bytes; the header expects " + Str(expected) +
                           " (DataOffset " + Str(d) + " + " + Str(headerSlots) + " slots x " + Str(rs) + " bytes)";
        if (size >= d && rs > 0 && (size - d) % rs != 0) line += "; not a whole number of slots";
        run.Problem(line);
        if (size < expected) run.Slots = rs > 0 && size > d ? int32_t((size - d) / rs) : 0;
    }
}

// Reads every slot once in physical order: statuses, links, IDs, BLOB
// references, and each record's keys against the index entries.
void ReadRecords(TRun& run) {
    TDataFile& t = run.Table;
    const size_t n = size_t(run.Slots) + 1;
    run.Status.assign(n, 0);
    run.Link.assign(n, 0);
    run.Id.assign(n, 0);
    std::vector<int> blobFields;
    for (int f = 1; f <= t.FieldCount(); ++f) {
        TFieldDescriptor d = t.FieldDescriptor(f);
        if (d.FieldType() == ftBlob && !d.IsComputed() && d.Offset() + 5 <= t.RecordSize()) blobFields.push_back(f);
    }
    std::vector<std::pair<int32_t, int32_t>> ids;  // (record ID, slot) of active records
    for (int32_t r = 1; r <= run.Slots; ++r) {
        TFetchResult fetched;
        try {
            fetched = t.FetchRecord(r, TReadAhead::Physical, 1);
        } catch (const EVeltraEngineError& e) {
            run.Problem("data file: slot " + Str(r) + " cannot be read (" + e.what() +
                        "); slots from there on are not checked");
            return;
        }
        if (!fetched.Record) {
            run.Problem("verify: another process changed the table during the check; slots from " + Str(r) +
                        " on are not checked");
            return;
        }
        TRecord& rec = *fetched.Record;
        const uint8_t* image = rec.Buffer.data();
        const uint8_t status = rec.Status();
        run.Status[size_t(r)] = status;
        run.Id[size_t(r)] = rec.RecordID();
        if (status > 1)
            run.Problem("data file: slot " + Str(r) + ": status byte " + Str(status) +
                        ", expected 0 (active) or 1 (deleted)");
        if (status == 0) {
            ++run.Report.ActiveRecords;
            ids.emplace_back(rec.RecordID(), r);
            if (rec.RecordID() < 1 || rec.RecordID() > t.LastRecordID())
                run.Problem("data file: " + run.RecordLabel(r) + ": record ID outside 1.." + Str(t.LastRecordID()) +
                            " (the header's last record ID)");
        } else {
            ++run.Report.DeletedSlots;
            run.Link[size_t(r)] = rec.Link();
        }
        run.SlotsRead = r;
        for (int f : blobFields) {
            TFieldDescriptor d = t.FieldDescriptor(f);
            const uint8_t* p = image + d.Offset();
            const int32_t offset = GetI32(p + 1);
            const std::string field = " field " + Str(f) + " (" + d.Name() + ")";
            if (status != 0) {
                if (offset != 0)
                    run.Problem("data file: deleted slot " + Str(r) + field + " still references BLOB block " +
                                Str(offset));
                continue;
            }
            if ((p[0] != 0) != (offset != 0))
                run.Problem(run.RecordLabel(r) + field + ": null byte " + Str(p[0]) + " with BLOB reference " +
                            Str(offset));
            if (offset != 0) run.BlobRefs.push_back({r, f, offset});
        }
        if (run.IndexesWalked) MatchRecordKeys(run, r, image);
        rec.Unpin();
    }
    std::sort(ids.begin(), ids.end());
    for (size_t i = 1; i < ids.size(); ++i) {
        if (ids[i].first == ids[i - 1].first && (i == 1 || ids[i - 2].first != ids[i].first))
            run.Problem("data file: record ID " + Str(ids[i].first) + " is used by active records " +
                        Str(ids[i - 1].second) + " and " + Str(ids[i].second));
    }
}

// The free slot chain from the header's FirstFreeRecord.
void CheckFreeChain(TRun& run) {
    TDataFile& t = run.Table;
    const int32_t head = t.FirstFreeRecord();
    std::vector<bool> onChain(size_t(run.Slots) + 1, false);
    int32_t from = 0;  // 0: the header
    int64_t length = 0;
    auto origin = [&] { return from == 0 ? std::string("the header") : "slot " + Str(from); };
    for (int32_t s = head; s != 0;) {
        if (s < 1 || s > run.Slots) {
            run.Problem("free chain: link " + Str(s) + " from " + origin() + " is not a slot of the data file (1.." +
                        Str(run.Slots) + ")");
            break;
        }
        if (onChain[size_t(s)]) {
            run.Problem("free chain: slot " + Str(s) + " is reached twice (a cycle after " + Str(length) +
                        " slots, the link from " + origin() + ")");
            break;
        }
        onChain[size_t(s)] = true;
        ++length;
        if (s > run.SlotsRead) break;  // not read: its link is unknown
        if (run.Status[size_t(s)] == 0) {
            run.Problem("free chain: " + run.RecordLabel(s) + " is active but on the chain (linked from " + origin() +
                        ")");
            break;  // an active slot's link is its own number, not a chain link
        }
        from = s;
        s = run.Link[size_t(s)];
    }
    // A table without primary index never takes slots from the chain, so
    // only the last deleted slot is on it; elsewhere every deleted slot is.
    if (!t.HasPrimaryIndex() || !run.RecordsComplete()) return;
    for (int32_t s = 1; s <= run.Slots; ++s)
        if (run.Status[size_t(s)] != 0 && !onChain[size_t(s)])
            run.Problem("free chain: deleted slot " + Str(s) + " is not on the chain");
}

// Runs one part of the check; an engine error it raises becomes a problem
// line and the next part goes on.
void RunPart(TRun& run, const char* part, const std::function<void()>& body) {
    try {
        body();
    } catch (const EVeltraEngineError& e) {
        run.Problem(std::string("verify: the ") + part + " check stopped: " + e.what());
    } catch (const std::bad_alloc&) {
        run.Problem(std::string("verify: the ") + part + " check stopped: out of memory");
    }
}

// The cause of a data file that does not open with 8961 or 9217, read from
// its raw bytes; empty when none is found.
std::string DiagnoseDataFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::error_code ec;
    const auto size = int64_t(std::filesystem::file_size(path, ec));
    if (ec) return {};
    if (size < kDataHeaderSize)
        return "data file: " + Str(size) + " bytes, shorter than its " + Str(kDataHeaderSize) + "-byte header";
    std::array<uint8_t, kDataHeaderSize> h{};
    in.read(reinterpret_cast<char*>(h.data()), kDataHeaderSize);
    if (!in) return {};
    const int64_t fields = GetU16(&h[dh::FieldCount]);
    const int64_t rs = GetU16(&h[dh::RecordSize]);
    const int64_t next = GetI32(&h[dh::NextRecordNo]);
    if (fields < 1 || fields > kMaxFields)
        return "data file: header field count " + Str(fields) + " outside 1.." + Str(kMaxFields);
    if (rs < kRecordHeaderSize) return "data file: header record size " + Str(rs) + " below " + Str(kRecordHeaderSize);
    if (next < 1 || next > int64_t(kMaxRecordNumber) + 1)
        return "data file: header next record number " + Str(next) + " outside 1.." + Str(int64_t(kMaxRecordNumber) + 1);
    const int64_t d = kDataHeaderSize + fields * kDescriptorSize;
    const int64_t expected = d + (next - 1) * rs;
    if (size != expected) {
        std::string line = "data file: " + Str(size) + " bytes; the header expects " + Str(expected) + " (DataOffset " +
                           Str(d) + " + " + Str(next - 1) + " slots x " + Str(rs) + " bytes)";
        if (size >= d && (size - d) % rs != 0) line += "; not a whole number of slots";
        return line;
    }
    return {};
}

}  // namespace
}  // namespace verify

TTableReport VerifyTable(TDataFile& table, const TVerifyOptions& options) {
    using namespace verify;
    TTableReport report;
    TRun run(table, options, report);
    if (!table.Active()) {
        run.Problem("verify: the table is not open");
        return report;
    }
    const uint8_t savedRetries = table.LockRetryCount();
    const uint16_t savedWait = table.LockWaitTime();
    if (options.LockRetryCount != 0) table.SetLockRetryCount(options.LockRetryCount);
    if (options.LockWaitTime != 0) table.SetLockWaitTime(options.LockWaitTime);

    const bool ownPhase = !table.InReadPhase() && !table.InWritePhase() && !table.LocksDisabled();
    bool phase = !ownPhase;
    try {
        if (ownPhase) table.BeginRead();
        phase = true;
    } catch (const EVeltraEngineError& e) {
        run.Problem(std::string("verify: the read lock was not obtained: ") + e.what());
    }
    if (phase) {
        RunPart(run, "data file header", [&] { CheckDataHeader(run); });
        RunPart(run, "index structure", [&] { WalkIndexes(run); });
        RunPart(run, "record", [&] { ReadRecords(run); });
        RunPart(run, "index key", [&] { FinishIndexChecks(run); });
        RunPart(run, "free chain", [&] { CheckFreeChain(run); });
        RunPart(run, "BLOB", [&] { CheckBlobs(run); });
        table.UnpinAll();
        if (ownPhase) {
            try {
                table.EndRead();
            } catch (const EVeltraEngineError& e) {
                run.Problem(std::string("verify: releasing the read lock failed: ") + e.what());
            }
        }
    }
    table.SetLockRetryCount(savedRetries);
    table.SetLockWaitTime(savedWait);
    if (run.Omitted > 0)
        report.Problems.push_back("verify: " + std::to_string(run.Omitted) + " more problems not listed");
    return report;
}

TTableReport VerifyTable(const std::string& path, const TVerifyOptions& options) {
    TDataFile table;
    table.SetFileName(path);
    // Only a missing data file is the caller's mistake; a missing index or
    // BLOB file is damage of the table and reported.
    const std::string dataPath = ResolveExistingPath(table.FileName());
    std::error_code ec;
    if (!std::filesystem::is_regular_file(dataPath, ec)) RaiseEngineError(ecInvalidPath, table.FileName());
    table.SetReadOnly(true);
    if (options.LockRetryCount != 0) table.SetLockRetryCount(options.LockRetryCount);
    if (options.LockWaitTime != 0) table.SetLockWaitTime(options.LockWaitTime);
    TTableReport report;
    try {
        table.OpenTable();
    } catch (const EVeltraEngineError& e) {
        if (e.ErrorCode() == ecNotInitialized) throw;
        std::string line = std::string("verify: the table cannot be opened: ") + e.what();
        if (e.ErrorCode() == ecHeaderCorrupt || e.ErrorCode() == ecReadError) {
            std::string cause = verify::DiagnoseDataFile(dataPath);
            if (!cause.empty()) line += " (" + cause + ")";
        }
        report.Problems.push_back(line);
        return report;
    }
    report = VerifyTable(table, options);
    try {
        table.CloseTable();
    } catch (const EVeltraEngineError& e) {
        report.Problems.push_back(std::string("verify: closing the table failed: ") + e.what());
    }
    return report;
}

}  // namespace veltra
