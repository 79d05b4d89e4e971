// The state one run of VerifyTable shares between its parts: the data file
// and free chain (table_verifier.cpp), index keys (table_verifier_keys.cpp)
// and BLOB chains (table_verifier_blobs.cpp). Not part of the engine's API.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "index_format.h"
#include "table_verifier.h"

namespace veltra {

class TDataFile;

namespace verify {

// One leaf entry of an index as the tree walk met it: the record number it
// points at and a 64-bit hash of its key (the whole key is not kept, so the
// memory needed stays a few bytes per entry).
struct TIndexEntry {
    int32_t Record;
    uint64_t KeyHash;
};

// A non-zero BLOB reference of an active record.
struct TBlobRef {
    int32_t Record;
    int FieldNo;
    int32_t Offset;
};

struct TRun {
    TRun(TDataFile& table, const TVerifyOptions& options, TTableReport& report)
        : Table(table), Options(options), Report(report) {}

    TDataFile& Table;
    const TVerifyOptions& Options;
    TTableReport& Report;
    size_t Omitted = 0;  // problems beyond MaxProblems

    void Problem(const std::string& line);

    // Data file: slots 1..Slots exist in the file (NextRecordNo - 1, or fewer
    // when the file is shorter than its header says).
    int32_t Slots = 0;
    // The record pass read slots 1..SlotsRead; the checks that need every
    // record run only when it got through all of them.
    int32_t SlotsRead = 0;
    bool RecordsComplete() const { return SlotsRead == Slots; }
    std::vector<uint8_t> Status;  // per slot, [0] unused
    std::vector<int32_t> Link;    // the link of each deleted slot, else 0
    std::vector<int32_t> Id;      // record ID of each slot
    std::vector<TBlobRef> BlobRefs;

    // Indexes whose entries are compared with the records (the primary index
    // when there is one, the secondaries, the deleted-records index).
    std::vector<int> KeySlots;
    std::array<std::vector<TIndexEntry>, kIndexSlotCount> Entries;
    std::array<size_t, kIndexSlotCount> NextEntry{};  // record pass position per slot
    std::array<bool, kIndexSlotCount> TreeDamaged{};
    std::array<int64_t, kIndexSlotCount> Missing{};  // records without entry in a damaged tree
    std::array<int32_t, kIndexSlotCount> FirstMissing{};
    bool IndexesWalked = false;

    // "record 7 (ID 12)", from what the record pass saw.
    std::string RecordLabel(int32_t record) const;
};

// "index slot 2 (ByTitle)".
std::string IndexLabel(TDataFile& table, int slot);
// FNV-1a over the key bytes.
uint64_t KeyHash(const uint8_t* key, int length);

// table_verifier_keys.cpp
// Walks every tree once (structure checks and entry collection) and reports
// entries outside the data file.
void WalkIndexes(TRun& run);
// Compares one record's keys with the entries that point at it.
void MatchRecordKeys(TRun& run, int32_t record, const uint8_t* image);
// After the record pass: damaged-tree summaries and the header record count.
void FinishIndexChecks(TRun& run);

// table_verifier_blobs.cpp
void CheckBlobs(TRun& run);

}  // namespace verify
}  // namespace veltra
