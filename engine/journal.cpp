// The rollback journal; its protocol and format are drawn in journal.h.
#include "journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "byte_order.h"
#include "errors.h"
#include "file_handler.h"
#include "lock_protocol.h"
#include "session.h"

namespace veltra {

namespace {

constexpr char kMagic[8] = {'V', 'L', 'J', 'R', 'N', 'L', '0', '1'};
constexpr size_t kHeaderSize = 64;
// The start of the data file (its header) before and after the change tells
// the journal's table from a new one that took the same inode.
constexpr size_t kIdentityBytes = 128;
constexpr size_t kEntryHeaderSize = 16;
constexpr size_t kChecksumSize = 8;

uint64_t Fnv1a64(const uint8_t* p, size_t n) {
    uint64_t h = 1469598103934665603ULL;
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ULL;
    }
    return h;
}

struct TFileIdentity {
    uint64_t Device = 0;
    uint64_t Inode = 0;
};

TFileIdentity IdentityOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return {};
    return {uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

std::string FolderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

// Makes a created or removed directory entry durable.
void SyncFolder(const std::string& path) {
    int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    FileIo().Sync(fd);
    ::close(fd);
}

// The OS error is kept in the session's error context, as the file
// handlers keep theirs.
[[noreturn]] void RaiseJournalError(int err, int code, const std::string& path) {
    if (EngineStarted()) CurrentSession().ErrorContext.OsError = uint16_t(err);
    RaiseEngineError(code, path);
}

struct TFd {
    int Fd = -1;
    ~TFd() {
        if (Fd >= 0) ::close(Fd);
    }
};

// One saved range of a parsed journal.
struct TSavedRange {
    int File = 0;
    int64_t Offset = 0;
    const uint8_t* Bytes = nullptr;
    size_t Length = 0;
};

struct TParsedJournal {
    TFileIdentity Data;
    std::vector<uint8_t> HeadBefore, HeadAfter;
    std::array<int64_t, 3> Lengths{};
    std::vector<TSavedRange> Ranges;
};

// Checks and splits a journal image; false when it is short, torn or not a
// journal (the writer died while writing it).
bool ParseJournal(const std::vector<uint8_t>& image, TParsedJournal& out) {
    if (image.size() < kHeaderSize + kChecksumSize) return false;
    if (std::memcmp(image.data(), kMagic, sizeof kMagic) != 0) return false;
    const size_t body = image.size() - kChecksumSize;
    if (GetU64(&image[body]) != Fnv1a64(image.data(), body)) return false;
    const uint32_t count = GetU32(&image[8]);
    out.Data = {GetU64(&image[16]), GetU64(&image[24])};
    for (size_t i = 0; i < 3; ++i) out.Lengths[i] = GetI64(&image[32 + 8 * i]);
    const size_t head = GetU32(&image[56]);
    if (head > kIdentityBytes || body - kHeaderSize < 2 * head) return false;
    out.HeadBefore.assign(image.begin() + kHeaderSize, image.begin() + long(kHeaderSize + head));
    out.HeadAfter.assign(image.begin() + long(kHeaderSize + head), image.begin() + long(kHeaderSize + 2 * head));
    size_t at = kHeaderSize + 2 * head;
    for (uint32_t e = 0; e < count; ++e) {
        if (body - at < kEntryHeaderSize) return false;
        TSavedRange r;
        r.File = image[at];
        r.Length = GetU32(&image[at + 4]);
        r.Offset = GetI64(&image[at + 8]);
        at += kEntryHeaderSize;
        if (r.File < 0 || r.File > 2 || r.Offset < 0 || body - at < r.Length) return false;
        r.Bytes = &image[at];
        at += r.Length;
        out.Ranges.push_back(r);
    }
    return at == body;
}

// Whether the journal belongs to the table of `data`: the same file, whose
// start holds, byte by byte, what it held before the change or what the
// change wrote there (a write cut short leaves a mix of the two). A table
// deleted and made again under the same name may reuse the inode, but its
// header (its last-update time above all) differs.
bool SameTable(const TParsedJournal& j, TFileHandler& data) {
    const TFileIdentity id = IdentityOf(data.ActualPath());
    if (id.Device != j.Data.Device || id.Inode != j.Data.Inode) return false;
    std::vector<uint8_t> head(j.HeadBefore.size());
    if (!head.empty() && data.ReadAt(0, head.data(), head.size(), true) != head.size()) return false;
    for (size_t i = 0; i < head.size(); ++i)
        if (head[i] != j.HeadBefore[i] && head[i] != j.HeadAfter[i]) return false;
    return true;
}

// Puts the saved bytes back, cuts each file to its saved length and raises
// its change counter. Raises what the writes raise.
void Restore(const TParsedJournal& j, const TTableFiles& files, bool durable) {
    for (const TSavedRange& r : j.Ranges) {
        TFileHandler* f = files[size_t(r.File)];
        if (f && j.Lengths[size_t(r.File)] >= 0) f->WriteAt(r.Offset, r.Bytes, r.Length);
    }
    for (size_t i = 0; i < 3; ++i) {
        TFileHandler* f = files[i];
        if (!f || j.Lengths[i] < 0) continue;
        if (f->GetSize() != j.Lengths[i]) f->WriteAt(j.Lengths[i], nullptr, 0);
        // Every process that cached a part of the interrupted change must
        // read the table again: raise the counter that change detection
        // compares.
        uint8_t counter[4] = {0, 0, 0, 0};
        if (j.Lengths[i] >= 4 && f->ReadAt(0, counter, 4, true) == 4) {
            PutI32(counter, GetI32(counter) + 1);
            f->WriteAt(0, counter, 4);
        }
        if (durable) f->Flush();
    }
}

void RemoveJournal(const std::string& journalPath, bool durable) {
    if (::unlink(journalPath.c_str()) != 0 && errno != ENOENT) RaiseJournalError(errno, ecWriteError, journalPath);
    if (durable) SyncFolder(journalPath);
}

// Reads the whole journal; false when there is none.
bool ReadJournal(const std::string& journalPath, std::vector<uint8_t>& image) {
    TFd fd{::open(journalPath.c_str(), O_RDONLY | O_CLOEXEC)};
    if (fd.Fd < 0) {
        if (errno == ENOENT) return false;
        RaiseJournalError(errno, ecReadError, journalPath);
    }
    struct stat st;
    if (::fstat(fd.Fd, &st) != 0) RaiseJournalError(errno, ecReadError, journalPath);
    image.resize(size_t(st.st_size));
    size_t done = 0;
    while (done < image.size()) {
        ssize_t n = FileIo().PRead(fd.Fd, image.data() + done, image.size() - done, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) RaiseJournalError(errno, ecReadError, journalPath);
        if (n == 0) break;
        done += size_t(n);
    }
    image.resize(done);
    return true;
}

}  // namespace

namespace {
bool g_Journalling = true;
}

void SetJournalling(bool on) { g_Journalling = on; }
bool Journalling() { return g_Journalling; }

void WriteBatch(const TTableFiles& files, const TWriteBatch& batch) {
    for (const TWriteBatch::TWrite& w : batch.Writes)
        files[size_t(w.File)]->WriteAt(w.Offset, w.Bytes.data(), w.Bytes.size());
}

void TWriteBatch::Add(int file, int64_t offset, const void* bytes, size_t count) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    Writes.push_back({file, offset, std::vector<uint8_t>(p, p + count)});
}

std::string JournalPathFor(const std::string& dataPath) {
    std::filesystem::path p(dataPath);
    p.replace_extension(".jnl");
    return p.string();
}

bool JournalExists(const std::string& journalPath) {
    struct stat st;
    return ::stat(journalPath.c_str(), &st) == 0;
}

void WriteThroughJournal(const std::string& journalPath, const TTableFiles& files,
                         const TWriteBatch& batch, bool durable) {
    // The image: header, then each write's overwritten bytes as far as its
    // file reaches; what lies beyond goes with the saved length.
    std::vector<uint8_t> image(kHeaderSize, 0);
    std::memcpy(image.data(), kMagic, sizeof kMagic);
    PutU32(&image[8], uint32_t(batch.Writes.size()));
    const TFileIdentity data = files[0] ? IdentityOf(files[0]->ActualPath()) : TFileIdentity{};
    PutU64(&image[16], data.Device);
    PutU64(&image[24], data.Inode);
    std::array<int64_t, 3> lengths{-1, -1, -1};
    for (size_t i = 0; i < 3; ++i) {
        if (files[i] && files[i]->IsOpen()) lengths[i] = files[i]->GetSize();
        PutI64(&image[32 + 8 * i], lengths[i]);
    }
    // The data file's start as it is and as the change leaves it.
    std::vector<uint8_t> headBefore(size_t(std::clamp<int64_t>(lengths[0], 0, kIdentityBytes)));
    if (!headBefore.empty()) files[0]->ReadAt(0, headBefore.data(), headBefore.size());
    std::vector<uint8_t> headAfter = headBefore;
    for (const TWriteBatch::TWrite& w : batch.Writes) {
        if (w.File != 0) continue;
        for (size_t i = 0; i < w.Bytes.size() && w.Offset + int64_t(i) < int64_t(headAfter.size()); ++i)
            if (w.Offset + int64_t(i) >= 0) headAfter[size_t(w.Offset) + i] = w.Bytes[i];
    }
    PutU32(&image[56], uint32_t(headBefore.size()));
    image.insert(image.end(), headBefore.begin(), headBefore.end());
    image.insert(image.end(), headAfter.begin(), headAfter.end());
    for (const TWriteBatch::TWrite& w : batch.Writes) {
        const int64_t length = lengths[size_t(w.File)];
        const int64_t end = std::min<int64_t>(w.Offset + int64_t(w.Bytes.size()), std::max<int64_t>(length, 0));
        const size_t saved = end > w.Offset ? size_t(end - w.Offset) : 0;
        const size_t at = image.size();
        image.resize(at + kEntryHeaderSize + saved, 0);
        image[at] = uint8_t(w.File);
        PutU32(&image[at + 4], uint32_t(saved));
        PutI64(&image[at + 8], w.Offset);
        if (saved > 0) files[size_t(w.File)]->ReadAt(w.Offset, &image[at + kEntryHeaderSize], saved);
    }
    const size_t body = image.size();
    image.resize(body + kChecksumSize);
    PutU64(&image[body], Fnv1a64(image.data(), body));

    {
        TFd fd{::open(journalPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)};
        if (fd.Fd < 0) RaiseJournalError(errno, ecWriteError, journalPath);
        size_t done = 0;
        while (done < image.size()) {
            ssize_t n = FileIo().PWrite(fd.Fd, image.data() + done, image.size() - done, off_t(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const int err = n < 0 ? errno : ENOSPC;
                ::unlink(journalPath.c_str());
                RaiseJournalError(err, ecWriteError, journalPath);
            }
            done += size_t(n);
        }
        if (durable && FileIo().Sync(fd.Fd) != 0) {
            const int err = errno;
            ::unlink(journalPath.c_str());
            RaiseJournalError(err, ecWriteError, journalPath);
        }
    }
    if (durable) SyncFolder(journalPath);

    try {
        WriteBatch(files, batch);
    } catch (...) {
        // Put the table back now rather than leave it to the next phase; if
        // that fails as well, the journal stays for whoever comes next.
        try {
            TParsedJournal parsed;
            if (ParseJournal(image, parsed)) {
                Restore(parsed, files, durable);
                RemoveJournal(journalPath, durable);
            }
        } catch (...) {
        }
        throw;
    }
    RemoveJournal(journalPath, durable);
}

bool UndoJournal(const std::string& journalPath, const TTableFiles& files, bool durable) {
    std::vector<uint8_t> image;
    if (!ReadJournal(journalPath, image)) return false;
    TParsedJournal parsed;
    const bool valid = ParseJournal(image, parsed);
    if (valid && files[0] && SameTable(parsed, *files[0])) {
        {
            Restore(parsed, files, durable);
            RemoveJournal(journalPath, durable);
            return true;
        }
    }
    // Torn (nothing was written in place yet) or another table's.
    RemoveJournal(journalPath, durable);
    return false;
}

bool UndoJournalWithOwnLocks(const std::string& dataPath, bool durable) {
    const std::string journalPath = JournalPathFor(dataPath);
    if (!JournalExists(journalPath)) return false;
    std::array<std::unique_ptr<TFileHandler>, 3> owned;
    TTableFiles files{nullptr, nullptr, nullptr};
    const char* extensions[3] = {"DAT", "IDX", "BLB"};
    for (size_t i = 0; i < 3; ++i) {
        const std::string path = ResolveExistingPath(ForceExtension(dataPath, extensions[i]));
        if (i > 0 && !std::filesystem::exists(path)) continue;
        owned[i] = std::make_unique<TFileHandler>();
        owned[i]->SetFileName(path);
        owned[i]->SetWriteThrough(durable);
        owned[i]->Open();
        files[i] = owned[i].get();
    }
    // The writer's locks, in the writer's order; closing the files drops them.
    auto lock = [](TFileHandler* f, int64_t offset, int64_t length) {
        if (f && !RetryLock([&] { return f->LockRange(offset, length); }, kPhaseLockRetries, kPhaseLockWaitMs))
            RaiseEngineError(ecLockFailure, f->FileName());
    };
    lock(files[0], kTableWriteLockOffset, 1);
    lock(files[1], kRangeWriteLockOffset, kRangeWriteLockLength);
    lock(files[2], kRangeWriteLockOffset, kRangeWriteLockLength);
    return UndoJournal(journalPath, files, durable);
}

}  // namespace veltra
