// The lock protocol by which several processes share one table.
//
// Every lock is an exclusive OS byte-range lock taken without waiting; the
// engine retries refused locks itself. All offsets lie far beyond any real
// file size, so locks never cover data:
//
//   file   range                     length  meaning
//   .DAT   0x7FFFFFFF                1       table write lock
//   .DAT   0x7FFFFFFE - n            1       record lock of physical record n
//   .IDX   0x7FFF0000                65535   index write lock (covers all
//                                            read-lock bytes below)
//   .IDX   0x7FFFFFFF - r            1       a reader's read lock, r random in
//                                            1..65534, drawn before each attempt
//   .BLB   0x7FFF0000                65535   BLOB write lock
//   .BLB   0x7FFFFFFF - r            1       a reader's BLOB read lock
//
// OS primitive: Linux open-file-description locks (fcntl F_OFD_SETLK). They
// are owned by the open file, not the process, so two opens of one table in
// one process conflict exactly as two processes do, and closing one descriptor
// never drops the locks of another (the flaw of classic POSIX record locks).
// They are non-blocking, may lie beyond end of file, and vanish when the file
// is closed or the process dies. The sharing-mode lock of file_handler.h sits
// at 0x80000000, outside this map.
//
// Phases (TDataFile):
//   reader: BeginRead takes the index read lock, then the BLOB read lock
//           (tables with BLOB fields), then runs DetectChanges; EndRead
//           releases BLOB then index.
//   writer: BeginWrite takes the table write lock, the index write lock, the
//           BLOB write lock, in that order, then runs DetectChanges; EndWrite
//           releases them in reverse order.
//   Readers never hold the table write lock, and every writer takes the locks
//   in the same order, so no cycle can form.
//
//         BeginRead                 BeginWrite
//   idle -----------> reading   idle ----------> writing
//        <-----------                <----------
//          EndRead                     EndWrite
//
//   Inside a write phase BeginRead does nothing (the write locks exclude every
//   reader already). Tables opened exclusively or forced read-only take no
//   locks at all.
//
// Retry patterns (one attempt first, then):
//   table write lock:             8192 retries, 3 ms apart           -> 10249
//   index/BLOB read/write locks:  8192 retries, 3 ms apart, a read
//                                 lock draws a new byte each time    -> 10249
//   record lock:                  LockRetryCount retries (15),
//                                 LockWaitTime ms apart (100)        -> 10258
// Waiting sleeps until the interval has passed rather than spinning on the
// tick counter: the timing is the same and no core is burnt.
#pragma once

#include <cstdint>
#include <functional>

namespace veltra {

constexpr int64_t kTableWriteLockOffset = 0x7FFFFFFF;
constexpr int64_t kRecordLockBase = 0x7FFFFFFE;  // record n locks kRecordLockBase - n
constexpr int64_t kRangeWriteLockOffset = 0x7FFF0000;
constexpr int64_t kRangeWriteLockLength = 65535;
constexpr int64_t kReadLockBase = 0x7FFFFFFF;  // a read lock is kReadLockBase - r
constexpr int kPhaseLockRetries = 8192;
constexpr int kPhaseLockWaitMs = 3;

// Calls attempt() once and then up to `retries` more times, waiting waitMs
// between attempts (beforeRetry, if set, runs before each retry). Returns
// whether an attempt succeeded.
bool RetryLock(const std::function<bool()>& attempt, int retries, int waitMs,
               const std::function<void()>& beforeRetry = {});

// A random read-lock byte number r in 1..65534.
int32_t RandomReadLockByte();

class TFileHandler;

// The reader and writer locks of an index or BLOB file. Taking a lock that is
// held, or releasing one that is not, succeeds without touching the OS.
class TReaderWriterLocks {
public:
    explicit TReaderWriterLocks(TFileHandler& file) : m_File(file) {}
    bool AcquireRead();
    bool ReleaseRead();
    bool AcquireWrite();
    bool ReleaseWrite();
    bool HasReadLock() const { return m_ReadLocked; }
    bool HasWriteLock() const { return m_WriteLocked; }
    // Forgets the flags after the file was closed (the OS dropped the locks).
    void Reset() { m_ReadLocked = m_WriteLocked = false; }
    // Reads and checks a header at open, where the open order takes no lock.
    // A process flushing at that moment may have written the header only in
    // part, and a header caught half written fails its checks: before such a
    // failure counts, `readAndCheck` runs once more holding the read lock,
    // which waits until no writer is at work. With `locksDisabled` (an
    // exclusive or forced read-only table) the first failure stands. Raises
    // what `readAndCheck` raises, or 10249 when the lock cannot be released.
    void ReadHeaderAtOpen(bool locksDisabled, const std::function<void()>& readAndCheck);

private:
    TFileHandler& m_File;
    bool m_ReadLocked = false;
    bool m_WriteLocked = false;
    int32_t m_ReadByte = 0;
};

}  // namespace veltra
