// A deep integrity check of one table: its data file, every index and its
// BLOB file, each against the others. Used by the command-line tool's verify
// command, multi-process stress tests and fuzzers.
//
// What is checked (each problem is one self-contained line naming the file,
// the slot, page, block or record number, what was expected and what was
// found):
//   data file   its length against the header (DataOffset + (NextRecordNo - 1)
//               x RecordSize), the header against the field descriptors
//               (record size, BLOB field count), every status byte, record
//               IDs (1..LastRecordID, no two active records alike);
//   free chain  from FirstFreeRecord: every link a slot of the file, no cycle
//               (the walk is bounded by the slot count), only deleted slots on
//               it; in a table with a primary index every deleted slot is on
//               it. A table without primary index never reuses slots, so
//               there deleted slots may lie off the chain;
//   indexes     the structure of every tree (TIndexVerifier: page kinds,
//               levels, sibling links, key order, separators, subtree counts,
//               free lists, pages shared between indexes);
//               every active record's key, built as the engine builds it,
//               present exactly once in every index; no entry that points at
//               a deleted slot or outside the file, or holds a key that is not
//               its record's; the deleted-records index (slot 31) holding one
//               entry per slot with the slot's status and record ID (none in a
//               table without primary index); the index header's record count
//               against the active records;
//   BLOB file   its length against the end offset; the free list (links,
//               cycles); every chain a record's BLOB field references: every
//               link a block of the file, no cycle, every block naming the
//               record as owner and linking back to its predecessor, used
//               bytes and the declared length agreeing with the blocks of the
//               chain, no block in two chains or in a chain and on the free
//               list; the field's null byte agreeing with its reference;
//               deleted records holding no reference; no block that belongs to
//               no chain and is not free.
//
// Problem lines start with the part they concern: "data file: ",
// "free chain: ", "index slot N (Name): ", "index file: ", "record N: ",
// "BLOB file: ", "BLOB block O: ", "verify: ".
//
// Costs: the records are read once in physical order and every tree is walked
// once; memory grows with the number of record slots, index entries and BLOB
// blocks actually in the files (a few bytes each), never with a count merely
// read from a header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace veltra {

class TDataFile;

struct TTableReport {
    std::vector<std::string> Problems;  // one precise, self-contained line each
    int64_t ActiveRecords = 0;
    int64_t DeletedSlots = 0;
    int64_t BlobChains = 0;  // BLOB references of active records walked
    bool Ok() const { return Problems.empty(); }
    std::string Text() const;  // problems joined by '\n'
};

struct TVerifyOptions {
    uint8_t LockRetryCount = 0;  // 0 = engine defaults
    uint16_t LockWaitTime = 0;
    size_t MaxProblems = 1000;  // stop listing after this many (a last line says how many more)
};

// Opens the table at `path` (".dat" may be omitted) read-only and shared,
// takes a read phase for the whole check so it sees one consistent state,
// checks everything above, and closes. It never changes any file, except
// that, as every open of a table does, it first undoes a change that a dead
// writer left half-written (journal.h): the table is checked as every
// program will see it. A table that
// cannot be opened at all is reported as one problem carrying the engine's
// message (for a data file whose header or length is wrong, with the cause),
// not raised. Only usage errors raise EVeltraEngineError: 11010 when there is
// no such file, 10758 before EngineStartup.
TTableReport VerifyTable(const std::string& path, const TVerifyOptions& options = {});

// The same on an already open TDataFile (tests and fuzzers that hold one).
// Reads through the table's caches, so it sees changes not yet flushed; a
// read phase is taken unless the caller holds one (or a write phase). Reading
// may evict cached records and pages as any read does (an evicted dirty
// buffer is written as the engine always does), but nothing else is written.
// A table that is not open is reported as one problem.
TTableReport VerifyTable(TDataFile& table, const TVerifyOptions& options = {});

}  // namespace veltra
