// The rollback journal: a change of a table reaches its three files whole or
// not at all, even when the writing process dies half-way through.
//
// Why
// ---
// A flush is a dozen separate writes (records, data header, index pages,
// index header, BLOB blocks, BLOB header). A process killed between the first
// and the last leaves the files disagreeing with each other, and the lock
// protocol releases its locks at once, so every other process would go on
// over the damage. The journal lets the next process put the files back as
// they were before the interrupted change.
//
// Protocol
// --------
// Writer (TDataFile::FlushBuffers, inside its write phase or on an exclusive
// table):
//   1. The flush is collected, not written: every write of the three files
//      goes into a TWriteBatch (TFileHandler::DeferWrites).
//   2. For each write, the bytes it will overwrite (as far as the file
//      reaches) are read, with the three files' lengths, into the journal
//      image, which is written to the journal file beside the table
//      (<table>.jnl) and, with write-through, synced together with its
//      folder.
//   3. The writes are made in place.
//   4. The journal file is removed (the commit point); with write-through
//      the folder is synced so that the removal is durable too.
//   A flush that writes nothing creates no journal.
//
// Recovery: a journal file that exists while nobody holds the write locks
// was left by a writer that died between steps 2 and 4 (a live writer holds
// the write locks from before step 2 until after step 4). It is checked:
//   - at open, before the data file is read, taking the three write locks on
//     descriptors of its own;
//   - at every write phase, once the write locks are held (the last moment
//     before this process could write over the damage);
//   - at every read phase, before the read locks are taken, with descriptors
//     and write locks of its own (so that a read-only open recovers too).
// The check is one stat() of a file that normally does not exist. A valid
// journal is undone: the saved bytes go back, each file is cut to its saved
// length, and the change counter at the start of each file is raised by one,
// so that every process that cached anything of the interrupted change reads
// the table again. Then the journal is removed. An invalid journal (short,
// a bad checksum: the writer died while writing it, before step 3) and a
// journal of another table are removed without touching the table. A journal
// is the table's when the data file has the device and inode it names and
// each byte of the data file's header equals the byte before the change or
// the one the change writes: a table deleted and made again under the same
// name may get the same inode, but not the same header (its last-update
// time differs).
//
// Format (little-endian)
// ----------------------
//   offset  size  field
//   0       8     magic "VLJRNL01"
//   8       4     entry count
//   12      4     0
//   16      8     device of the data file
//   24      8     inode of the data file
//   32      8x3   lengths of the data, index and BLOB files before the change
//                 (-1: the file is not part of the table or not open)
//   56      4     H: bytes of the data file's start kept below (at most 128)
//   60      4     0
//   64      H     the data file's first H bytes before the change
//   64+H    H     the same bytes as the change leaves them
//   64+2H   ...   entries: u8 file (0 data, 1 index, 2 BLOB), 3 bytes 0,
//                 u32 length, i64 offset, then `length` saved bytes
//   end     8     FNV-1a 64 of every byte before it
//
// What survives what
// ------------------
// Without write-through (the default) the files and the journal reach the
// OS cache in order, so a killed or crashed process never leaves a damaged
// table. A power failure or an OS crash can: the OS may write the in-place
// changes before the journal. With write-through (ForceBufferFlush) every
// write is synchronous, the journal and its folder are synced before the
// first in-place write, and the removal is synced after the last: a power
// failure loses at most the change in progress, on disks that honour a sync.
//
// Writes an exclusive table makes while evicting from a full cache (outside
// a flush) are not journalled: such a table keeps its changes in memory by
// design and only its flushes are whole.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace veltra {

class TFileHandler;

// The writes of one flush, in the order they were made.
struct TWriteBatch {
    struct TWrite {
        int File = 0;  // 0 data, 1 index, 2 BLOB
        int64_t Offset = 0;
        std::vector<uint8_t> Bytes;
    };
    std::vector<TWrite> Writes;
    bool Empty() const { return Writes.empty(); }
    void Add(int file, int64_t offset, const void* bytes, size_t count);
};

// The data, index and BLOB files of one table; nullptr for one that is not
// open (a table without BLOB fields).
using TTableFiles = std::array<TFileHandler*, 3>;

// Whether flushes go through the journal (the default, process-wide). Off
// only to measure what the journal costs (the benchmark's --no-journal): a
// writer killed while it is off can leave a damaged table. Leftover journals
// are undone either way.
void SetJournalling(bool on);
bool Journalling();

// Makes the writes of `batch` in place, in order, without a journal.
void WriteBatch(const TTableFiles& files, const TWriteBatch& batch);

// <base>.jnl beside the data file `dataPath`.
std::string JournalPathFor(const std::string& dataPath);
// Whether the journal file exists (one stat()).
bool JournalExists(const std::string& journalPath);

// Steps 2 to 4 above. The caller holds the write locks (or the table is
// exclusive) and has collected `batch` without writing. Raises 9218 when the
// journal cannot be written (nothing was written in place then). When an
// in-place write fails, the saved bytes are put back at once; the journal
// is removed only if that succeeded, else the next phase undoes the change.
void WriteThroughJournal(const std::string& journalPath, const TTableFiles& files,
                         const TWriteBatch& batch, bool durable);

// Undoes a journal left behind, with the caller's open files; the caller
// holds the three write locks. Returns whether the table was restored.
// Raises 9218 when a restoring write fails (the journal is kept).
bool UndoJournal(const std::string& journalPath, const TTableFiles& files, bool durable);

// Undoes a journal left behind for the table whose data file is `dataPath`,
// opening the three files itself and taking their write locks (10249 when
// they cannot be had). For callers that hold no write lock. Returns whether
// the table was restored.
bool UndoJournalWithOwnLocks(const std::string& dataPath, bool durable);

}  // namespace veltra
