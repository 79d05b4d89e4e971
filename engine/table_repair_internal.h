// The state one run of RepairTable shares between its parts: mending the
// three files' headers and lengths in place (table_repair_files.cpp) and
// rebuilding indexes, BLOB chains and the free lists through the engine
// (table_repair_rebuild.cpp). Not part of the engine's API.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "table_repair.h"

namespace veltra {

class TFileHandler;

namespace repair {

struct TRun {
    explicit TRun(TRepairReport& report) : Report(report) {}

    TRepairReport& Report;
    std::string DataPath, IndexPath, BlobPath;  // as the OS opened them
    bool BlobCreated = false;                   // the repair made the BLOB file

    // Found while mending the files, used by the rebuild.
    int32_t OldIndexRecordCount = 0;  // the index header's record count before
    std::vector<bool> OldFreeBlocks;  // per block: on the old BLOB free list

    void Note(const std::string& line) { Report.Repairs.push_back(line); }
};

// table_repair_files.cpp. Mends the data file (header, descriptors' record
// size, length, record headers), writes an index header without trees and
// cuts the BLOB file to whole blocks with a header of its own, so that the
// table opens. `blob` is nullptr when the BLOB file does not exist (it is
// created when the table has BLOB fields). ETableRepairRefused for a table
// that cannot be repaired; nothing is written before the checks that refuse.
void MendFiles(TRun& run, TFileHandler& data, TFileHandler& index, TFileHandler* blob);

// table_repair_rebuild.cpp. Opens the mended table exclusively and rebuilds
// its indexes, BLOB chains and free lists; flushes and closes it.
void Rebuild(TRun& run);

std::string Str(int64_t v);

}  // namespace repair
}  // namespace veltra
