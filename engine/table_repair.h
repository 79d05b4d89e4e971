// Repairing a damaged table: the data file is the source of truth, and the
// index file and the BLOB file's bookkeeping are rebuilt from it.
//
// What a repair does, in this order:
//   0. Opens the table once read-only, as any program would, so that what
//      the engine does at open after an interrupted change happens first;
//      a table too damaged to open is repaired as it is.
//   1. Opens the three files exclusively (11013 while any other process, or
//      another open in this process, has the table open, and for a file
//      without write permission) and copies them into
//      a backup folder beside the table before any byte changes:
//      <folder>/<name>.bak-YYYYMMDD-HHMMSS/ (local time; "-2", "-3", ... when
//      that folder exists), holding the files under their own names.
//   2. Data file. The header is checked against the field descriptors (the
//      record size and BLOB field count are set from them); the file is cut
//      to whole record slots and NextRecordNo set to the slots it holds. A
//      last slot written only in part is kept when its record header (status,
//      link, record ID) is whole and names an active record: the fields that
//      reach past the end of the file become null. Otherwise it is dropped.
//      A status byte other than 0 or 1 becomes active when the slot's link is
//      its own number and its ID is positive, else deleted; an active slot
//      whose bytes after the status are all zero was never written and
//      becomes deleted. An active record whose ID is below 1 or taken by an
//      earlier active record gets a new ID; so does a deleted slot whose ID
//      another deleted slot carries (their keys in the deleted-records index
//      would collide). LastRecordID ends at or above every ID in the file.
//   3. BLOB file. Cut to whole blocks; the end offset becomes the end of the
//      file (blocks written past a stale end offset are kept); version 3.
//      Every BLOB reference of an active record is walked: a chain whose
//      reference or link is not a block of the file, that returns to a block,
//      holds a block naming another owner, a wrong previous link, used bytes
//      or declared length the chain does not hold, or that shares a block
//      with a chain kept earlier (records in slot order, fields in field
//      order) is broken: the field is emptied (null, no reference) and the
//      record keeps its other fields. Deleted slots lose their references.
//      Every block in no kept chain goes on the free list, lowest first.
//   4. Index file. The header keeps every index definition; every tree is
//      dropped and built again from the records (the deleted-records index
//      with one entry per slot when the table has a primary index), and the
//      record count set. An active record whose key a unique index (or the
//      primary index) already holds for an earlier record cannot be indexed:
//      it is deleted and listed (its bytes stay in the backup).
//   5. The free slot chain is built again over every deleted slot (in a
//      table without primary index only its head is kept, as the engine
//      does).
// The repaired table is flushed, closed and verified (VerifyTable); the
// result is part of the report.
//
// Failures: 11010 when the data file does not exist; ETableRepairRefused when
// the table cannot be repaired (a data header or field descriptors that do
// not describe a table, a missing or shortened index file header, a table
// whose password the session lacks); engine errors of the files themselves.
// Once the backup exists, any failure puts the original files back from it
// (and removes a BLOB file the repair created) before it is raised; the
// backup folder is kept.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "table_verifier.h"

namespace veltra {

// The table cannot be repaired; what() says why. Nothing was changed.
class ETableRepairRefused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct TRepairReport {
    std::string BackupFolder;          // where the original files were copied
    std::vector<std::string> Backups;  // the copies, full paths
    // One self-contained line per thing mended, in the order found. Lines
    // about one record start "record N (ID X)"; an emptied BLOB field reads
    // "record N (ID X) field F (Name): BLOB ... ; the field is emptied".
    std::vector<std::string> Repairs;
    int64_t ActiveRecords = 0;  // after the repair
    int64_t DeletedSlots = 0;   // after the repair
    int64_t BlobChains = 0;     // BLOB references kept
    int64_t EmptiedBlobFields = 0;
    int64_t ReclaimedBlocks = 0;  // blocks that were in no chain and not free
    TTableReport After;           // VerifyTable of the repaired table
};

// Repairs the table at `path` (".dat" may be omitted) as described above.
// Needs EngineStartup (10758 otherwise).
TRepairReport RepairTable(const std::string& path);

}  // namespace veltra
