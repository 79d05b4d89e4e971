// File access for the table engine: TFileHandler, the base of the data, index
// and BLOB file classes, and the replaceable low-level I/O layer under it.
//
// Open modes and sharing
// ----------------------
// Files are always opened as existing files. Sharing between opens (in this
// process or any other) follows the table below and is enforced with an
// open-file-description lock (F_OFD_SETLK) on byte kShareLockOffset, which
// lies beyond every byte range of the table lock protocol (all of which are at
// or below 0x7FFFFFFF), so the two never interfere:
//
//   Exclusive  ReadOnly  access       sharing          share lock
//   no         no        read, write  read and write   shared (F_RDLCK)
//   no         yes       read         read and write   shared (F_RDLCK)
//   yes        no        read, write  none             exclusive (F_WRLCK)
//   yes        yes       read         none             exclusive (F_WRLCK)
//
// An open that the share lock refuses fails with 11013 (sharing violation).
//
// Read-only files: a file with no write permission bit at all (the read-only
// attribute) opens with ReadOnly forced on. The decision is taken from the mode
// bits, not from access(2), because root may write anything.
//
// A ReadOnly open that is not forced still opens the descriptor for reading
// and writing (the handler itself refuses every write with 11013): the lock
// protocol needs exclusive byte-range locks, which Linux grants only on a
// descriptor open for writing. When the OS refuses write access anyway
// (permissions of another user, read-only mount) the file is opened for
// reading only and its locks are taken as shared locks, which still exclude
// every writer's exclusive lock; a read-only table never needs to exclude
// another reader.
//
// File names
// ----------
// ExpandFileName trims blanks and makes the name absolute; the subclasses also
// force their extension (".DAT", ".IDX", ".BLB"). Linux names are
// case-sensitive while logs are created with lower-case extensions, so when the
// exact name does not exist the file is looked up in its folder without regard
// to ASCII letter case; if several names match, the one that sorts first by
// bytes is used. FileName keeps the expanded name (it appears in messages);
// ActualPath is the name the OS opened.
//
// OS errors
// ---------
// A failed open, attribute read, rename or copy stores errno in the session's
// error context and raises the engine code for its meaning:
//   ENOENT, ENOTDIR, ENAMETOOLONG, ELOOP              -> 11010 invalid path or name
//   EMFILE, ENFILE                                    -> 11012 too many files
//   EACCES, EPERM, EROFS, ETXTBSY, EAGAIN             -> 11013 access denied / sharing
//   EBADF                                             -> 11014 invalid handle
//   ENOMEM                                            -> 11016 out of memory
//   ENODEV, ENXIO                                     -> 11023 device
//   EXDEV                                             -> 11025 moved / other device
//   anything else (EIO, EISDIR, ENOSPC, ...)          -> 11047 showing errno
// A refused share lock is reported as EAGAIN, the sharing violation.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace veltra {

struct TWriteBatch;

// Byte of the sharing-mode lock; above the protocol's highest byte 0x7FFFFFFF.
constexpr int64_t kShareLockOffset = 0x80000000LL;

// Low-level operations behind every TFileHandler. Tests install a subclass with
// SetFileIo to inject short writes, full disks and refused locks. Each returns
// what the POSIX call returns; errors are reported through errno.
class TFileIo {
public:
    virtual ~TFileIo() = default;
    virtual ssize_t PRead(int fd, void* buffer, size_t count, off_t offset);
    virtual ssize_t PWrite(int fd, const void* buffer, size_t count, off_t offset);
    virtual int Truncate(int fd, off_t size);
    virtual int Sync(int fd);
    // Non-blocking open-file-description lock: type is F_RDLCK, F_WRLCK or F_UNLCK.
    virtual int Lock(int fd, short type, off_t offset, off_t length);
};

// The I/O layer in use; SetFileIo(nullptr) restores the real one. Not
// synchronised: change it only while no table is in use.
TFileIo& FileIo();
void SetFileIo(TFileIo* io);

// Maps an errno value onto the engine code of its meaning (table above).
int MapOsError(int err);
// Stores `err` as the session's OS error number and raises the mapped code.
[[noreturn]] void RaiseOsError(int err, const std::string& fileName);

// Trims blanks and replaces the extension with "." + ext unless it already is
// ext without regard to case; a name without extension gets one.
std::string ForceExtension(const std::string& name, const std::string& ext);

// `path` itself when it exists, else the unique-or-first entry of its folder
// whose name equals it without regard to ASCII case, else `path`.
std::string ResolveExistingPath(const std::string& path);

class TFileHandler {
public:
    TFileHandler() = default;  // the virtual constructor's work: a closed handler
    virtual ~TFileHandler();
    TFileHandler(const TFileHandler&) = delete;
    TFileHandler& operator=(const TFileHandler&) = delete;

    // Slot 1. Base: trims blanks and makes the name absolute. Names longer
    // than 255 characters raise 11010.
    virtual std::string ExpandFileName(const std::string& name) const;
    // Slot 2. Does nothing if open. 11010 if the file does not exist; OS errors
    // mapped; 11013 when the sharing mode conflicts with another open.
    virtual void Open();
    // Slot 3. Closes the descriptor (dropping every lock it holds).
    virtual void Close();
    // Slot 4. 10031 if open, 10253 if not Exclusive. Creates or truncates the
    // file and leaves it open for reading and writing with no sharing.
    virtual void CreateFile();
    // Slot 5. 10031 if open; a failed delete raises 9220.
    virtual void DeleteFile();
    // Slot 6. 10031 if open; renames the file and takes the new name.
    virtual void RenameFile(const std::string& newName);
    // Slot 7. Copies the file's bytes to `target` (replacing it).
    virtual void CopyFile(const std::string& target);
    // Slot 8. Reads at the current position; a short read without allowShort,
    // or any read error, raises 9217.
    virtual size_t Read(void* buffer, size_t count, bool allowShort = false);
    // Slot 9. Writes at the current position; a short write raises 9218; count
    // 0 truncates the file there. A read-only handler raises 11013.
    virtual void Write(const void* buffer, size_t count);
    // Slot 10. Asks the OS to write this file's buffers to disk.
    virtual void Flush();

    // origin: 0 start, 1 current, 2 end. Reports no errors.
    int64_t Seek(int64_t offset, int origin = 0);
    // File size; leaves the position at the end. OS failure raises 9217.
    int64_t GetSize();
    // Positional helpers: Seek then Read / Write.
    size_t ReadAt(int64_t offset, void* buffer, size_t count, bool allowShort = false);
    void WriteAt(int64_t offset, const void* buffer, size_t count);

    // Exclusive non-blocking byte-range lock owned by this open file (shared
    // when the descriptor could only be opened for reading). Returns false
    // when refused or failed; no error is raised.
    bool LockRange(int64_t offset, int64_t length);
    // While `batch` is set, Write does not reach the file: each write is
    // added to the batch as file number `fileNo` and the position moves on
    // as if it had been written (journal.h). A truncation (Write of 0 bytes)
    // is never deferred. nullptr writes through again.
    void DeferWrites(TWriteBatch* batch, int fileNo) {
        m_Batch = batch;
        m_BatchFile = fileNo;
    }
    bool UnlockRange(int64_t offset, int64_t length);
    bool FileExists() const;

    const std::string& FileName() const { return m_FileName; }
    void SetFileName(const std::string& name);  // 10031 if open
    bool Exclusive() const { return m_Exclusive; }
    void SetExclusive(bool value);  // 10031 if open
    bool ReadOnly() const { return m_ReadOnly; }
    void SetReadOnly(bool value);  // 10031 if open
    bool ReadOnlyForced() const { return m_ReadOnlyForced; }
    bool WriteThrough() const { return m_WriteThrough; }
    void SetWriteThrough(bool value);  // ignored while open
    bool IsOpen() const { return m_Fd >= 0; }
    const std::string& ActualPath() const { return m_ActualPath; }

protected:
    [[noreturn]] void Raise(int code) const;

private:
    std::string m_FileName;
    std::string m_ActualPath;
    bool m_Exclusive = false;
    bool m_ReadOnly = false;
    bool m_ReadOnlyForced = false;
    bool m_WriteThrough = false;
    bool m_FdWritable = false;
    int m_Fd = -1;
    int64_t m_Position = 0;
    TWriteBatch* m_Batch = nullptr;
    int m_BatchFile = 0;
};

}  // namespace veltra
