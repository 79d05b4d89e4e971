// One process working on the shared stress table: a random mix of inserts,
// edits through the record lock, deletes, ordered scans, filtered counts and
// BLOB reads, each result checked (stress_content.h), every committed change
// logged. A failed check or an engine error other than a lock refusal ends
// the process with one of the exit codes below.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace veltra_stress {

enum TOpKind { opInsert, opEdit, opDelete, opScan, opFilter, opBlobRead, opLooseRead, kOpKinds };
inline constexpr const char* kOpNames[kOpKinds] = {"insert", "edit", "delete", "scan", "filter", "blob-read",
                                                   "loose-read"};

// Exit statuses of a worker.
enum : int {
    kExitOk = 0,
    kExitCheckFailed = 2,   // a record, BLOB, order or count was wrong
    kExitEngineError = 3,   // an engine error that is not a lock refusal
    kExitOtherError = 4,    // any other exception
    kExitCorruption = 6,    // an engine error reporting damaged files
};

constexpr int kMaxWorkers = 16;
constexpr int kKilledSlot = kMaxWorkers;  // shared statistics of all killed writers
constexpr int kMaxTrackedIds = 1 << 20;

struct TWorkerStats {
    std::atomic<int64_t> Ops[kOpKinds];
    std::atomic<int64_t> Refusals;      // 10249 / 10258, retried
    std::atomic<int64_t> Vanished;      // 8710: deleted by another process meanwhile
    std::atomic<int64_t> Misses;        // the ID drawn was not in the table
    std::atomic<int64_t> Elsewhere;     // FindKey reported the ID found but stood on another record
    std::atomic<int64_t> LooseMismatch; // record and BLOB read outside one read phase disagreed
    std::atomic<int64_t> MaxWaitMicros[kOpKinds]; // longest single engine call, by operation
};

// Lives in memory shared by the parent and every worker (mapped before fork).
struct TShared {
    std::atomic<int> Stop;
    std::atomic<int32_t> MaxId;
    std::atomic<int> InWriteCall;  // the killed writer is inside Post / Delete
    TWorkerStats Workers[kMaxWorkers + 1];
    // Last committed version per ID: -2 unknown, -1 deleted.
    std::atomic<int32_t> Committed[kMaxTrackedIds];
    void Reset();
};

struct TWorkerConfig {
    std::string TablePath, LogPath;
    int Slot = 0;           // statistics slot
    int WriterNo = 1;       // stored in the records it writes
    uint64_t Seed = 1;
    bool Strict = false;    // strict change detection
    bool WriteOnly = false; // a writer to be killed: inserts, edits and deletes only
    int MaxRecords = 300;
    double Seconds = 10;    // ignored by write-only workers, which run until killed
    int ReadyFd = -1;       // receives one byte once the table is open
};

// Runs in a forked child; returns the exit status.
int RunWorker(const TWorkerConfig& config, TShared& shared);

}  // namespace veltra_stress
