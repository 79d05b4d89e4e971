#include "file_handler.h"
#include "journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "errors.h"
#include "session.h"

namespace veltra {

ssize_t TFileIo::PRead(int fd, void* buffer, size_t count, off_t offset) {
    return ::pread(fd, buffer, count, offset);
}
ssize_t TFileIo::PWrite(int fd, const void* buffer, size_t count, off_t offset) {
    return ::pwrite(fd, buffer, count, offset);
}
int TFileIo::Truncate(int fd, off_t size) { return ::ftruncate(fd, size); }
int TFileIo::Sync(int fd) { return ::fdatasync(fd); }
int TFileIo::Lock(int fd, short type, off_t offset, off_t length) {
    struct flock fl{};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = offset;
    fl.l_len = length;
    fl.l_pid = 0;  // required by F_OFD_SETLK
    return ::fcntl(fd, F_OFD_SETLK, &fl);
}

namespace {
TFileIo g_DefaultIo;
TFileIo* g_Io = &g_DefaultIo;

void StoreOsError(int err) {
    if (EngineStarted()) CurrentSession().ErrorContext.OsError = uint16_t(err);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
               return lower(x) == lower(y);
           });
}
}  // namespace

TFileIo& FileIo() { return *g_Io; }
void SetFileIo(TFileIo* io) { g_Io = io ? io : &g_DefaultIo; }

int MapOsError(int err) {
    switch (err) {
        case ENOENT: case ENOTDIR: case ENAMETOOLONG: case ELOOP:
            return ecInvalidPath;
        case EMFILE: case ENFILE:
            return ecTooManyFiles;
        case EACCES: case EPERM: case EROFS: case ETXTBSY: case EAGAIN:
            return ecAccessDenied;
        case EBADF:
            return ecInvalidHandle;
        case ENOMEM:
            return ecOutOfMemory;
        case ENODEV: case ENXIO:
            return ecDeviceAccessDenied;
        case EXDEV:
            return ecFileMoved;
        default:
            return ecUnknownOsError;
    }
}

void RaiseOsError(int err, const std::string& fileName) {
    StoreOsError(err);
    RaiseEngineError(MapOsError(err), fileName);
}

std::string ForceExtension(const std::string& name, const std::string& ext) {
    size_t b = name.find_first_not_of(' ');
    size_t e = name.find_last_not_of(' ');
    std::string n = b == std::string::npos ? std::string() : name.substr(b, e - b + 1);
    size_t slash = n.rfind('/');
    size_t dot = n.rfind('.');
    bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    if (hasExt && EqualNoCase(n.substr(dot + 1), ext)) return n;
    if (hasExt) n.resize(dot);
    return n + "." + ext;
}

std::string ResolveExistingPath(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return path;
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR* d = ::opendir(dir.c_str());
    if (!d) return path;
    std::vector<std::string> matches;
    while (dirent* ent = ::readdir(d)) {
        std::string n = ent->d_name;
        if (EqualNoCase(n, base)) matches.push_back(n);
    }
    ::closedir(d);
    if (matches.empty()) return path;
    std::sort(matches.begin(), matches.end());
    return (dir == "/" ? std::string() : dir) + "/" + matches.front();
}

TFileHandler::~TFileHandler() {
    if (m_Fd >= 0) ::close(m_Fd);
}

void TFileHandler::Raise(int code) const { RaiseEngineError(code, m_FileName); }

std::string TFileHandler::ExpandFileName(const std::string& name) const {
    size_t b = name.find_first_not_of(' ');
    size_t e = name.find_last_not_of(' ');
    std::string n = b == std::string::npos ? std::string() : name.substr(b, e - b + 1);
    if (n.empty()) return n;
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(n, ec);
    std::string full = ec ? n : p.lexically_normal().string();
    if (full.size() > 255) RaiseEngineError(ecInvalidPath, full.substr(0, 255));
    return full;
}

void TFileHandler::SetFileName(const std::string& name) {
    if (IsOpen()) Raise(ecInUse);
    m_FileName = ExpandFileName(name);
    m_ActualPath.clear();
}

void TFileHandler::SetExclusive(bool value) {
    if (IsOpen()) Raise(ecInUse);
    m_Exclusive = value;
}

void TFileHandler::SetReadOnly(bool value) {
    if (IsOpen()) Raise(ecInUse);
    m_ReadOnly = value;
    m_ReadOnlyForced = false;
}

void TFileHandler::SetWriteThrough(bool value) {
    if (!IsOpen()) m_WriteThrough = value;
}

void TFileHandler::Open() {
    if (IsOpen()) return;
    if (m_FileName.empty()) Raise(ecInvalidPath);
    m_ActualPath = ResolveExistingPath(m_FileName);
    struct stat st;
    if (::stat(m_ActualPath.c_str(), &st) != 0) RaiseOsError(errno, m_FileName);
    if (!S_ISREG(st.st_mode)) RaiseOsError(EACCES, m_FileName);
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 && !m_ReadOnly) {
        m_ReadOnly = true;
        m_ReadOnlyForced = true;
    }

    int extra = O_CLOEXEC | (m_WriteThrough ? O_DSYNC : 0);
    int fd = -1;
    m_FdWritable = false;
    if (!m_ReadOnlyForced) {
        fd = ::open(m_ActualPath.c_str(), O_RDWR | extra);
        m_FdWritable = fd >= 0;
        if (fd < 0 && !(m_ReadOnly && (errno == EACCES || errno == EPERM || errno == EROFS)))
            RaiseOsError(errno, m_FileName);
    }
    if (fd < 0) {
        fd = ::open(m_ActualPath.c_str(), O_RDONLY | extra);
        if (fd < 0) RaiseOsError(errno, m_FileName);
    }
    // An exclusive open needs a write lock on the share byte; a descriptor
    // that is read-only at the OS level can only take a shared one. Nobody can
    // write such a file anyway, so sharing it for reading loses nothing.
    short shareType = (m_Exclusive && m_FdWritable) ? F_WRLCK : F_RDLCK;
    if (FileIo().Lock(fd, shareType, kShareLockOffset, 1) != 0) {
        int err = errno;
        ::close(fd);
        RaiseOsError(err == EAGAIN || err == EACCES ? EAGAIN : err, m_FileName);
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    m_Fd = fd;
    m_Position = 0;
}

void TFileHandler::Close() {
    if (m_Fd >= 0) ::close(m_Fd);
    m_Fd = -1;
    m_Position = 0;
}

void TFileHandler::CreateFile() {
    if (IsOpen()) Raise(ecInUse);
    if (!m_Exclusive) Raise(ecMustBeExclusive);
    if (m_FileName.empty()) Raise(ecInvalidPath);
    m_ActualPath = ResolveExistingPath(m_FileName);
    int fd = ::open(m_ActualPath.c_str(),
                    O_RDWR | O_CREAT | O_CLOEXEC | (m_WriteThrough ? O_DSYNC : 0), 0666);
    if (fd < 0) RaiseOsError(errno, m_FileName);
    // Lock before truncating: another process may have the file open.
    if (FileIo().Lock(fd, F_WRLCK, kShareLockOffset, 1) != 0) {
        int err = errno;
        ::close(fd);
        RaiseOsError(err == EACCES ? EAGAIN : err, m_FileName);
    }
    if (FileIo().Truncate(fd, 0) != 0) {
        int err = errno;
        ::close(fd);
        RaiseOsError(err, m_FileName);
    }
    m_Fd = fd;
    m_FdWritable = true;
    m_ReadOnly = false;
    m_ReadOnlyForced = false;
    m_Position = 0;
}

void TFileHandler::DeleteFile() {
    if (IsOpen()) Raise(ecInUse);
    if (::unlink(ResolveExistingPath(m_FileName).c_str()) != 0) {
        StoreOsError(errno);
        Raise(ecCannotDelete);
    }
}

void TFileHandler::RenameFile(const std::string& newName) {
    if (IsOpen()) Raise(ecInUse);
    std::string target = ExpandFileName(newName);
    if (::rename(ResolveExistingPath(m_FileName).c_str(), target.c_str()) != 0)
        RaiseOsError(errno, m_FileName);
    m_FileName = target;
    m_ActualPath.clear();
}

void TFileHandler::CopyFile(const std::string& target) {
    std::error_code ec;
    std::filesystem::copy_file(ResolveExistingPath(m_FileName), ExpandFileName(target),
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) RaiseOsError(ec.value(), m_FileName);
}

size_t TFileHandler::Read(void* buffer, size_t count, bool allowShort) {
    if (!IsOpen()) RaiseOsError(EBADF, m_FileName);
    size_t done = 0;
    auto* p = static_cast<uint8_t*>(buffer);
    while (done < count) {
        ssize_t n = FileIo().PRead(m_Fd, p + done, count - done, off_t(m_Position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            StoreOsError(errno);
            Raise(ecReadError);
        }
        if (n == 0) break;
        done += size_t(n);
    }
    m_Position += int64_t(done);
    if (done < count && !allowShort) Raise(ecReadError);
    return done;
}

void TFileHandler::Write(const void* buffer, size_t count) {
    if (!IsOpen()) RaiseOsError(EBADF, m_FileName);
    if (m_ReadOnly || !m_FdWritable) RaiseOsError(EACCES, m_FileName);
    if (count == 0) {
        if (FileIo().Truncate(m_Fd, off_t(m_Position)) != 0) {
            StoreOsError(errno);
            Raise(ecWriteError);
        }
        return;
    }
    if (m_Batch) {
        m_Batch->Add(m_BatchFile, m_Position, buffer, count);
        m_Position += int64_t(count);
        return;
    }
    size_t done = 0;
    auto* p = static_cast<const uint8_t*>(buffer);
    while (done < count) {
        ssize_t n = FileIo().PWrite(m_Fd, p + done, count - done, off_t(m_Position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) StoreOsError(errno);
            m_Position += int64_t(done);
            Raise(ecWriteError);
        }
        done += size_t(n);
    }
    m_Position += int64_t(done);
}

void TFileHandler::Flush() {
    if (IsOpen() && m_FdWritable) FileIo().Sync(m_Fd);
}

int64_t TFileHandler::Seek(int64_t offset, int origin) {
    switch (origin) {
        case 0: m_Position = offset; break;
        case 1: m_Position += offset; break;
        default: {
            struct stat st;
            if (IsOpen() && ::fstat(m_Fd, &st) == 0) m_Position = st.st_size + offset;
        }
    }
    if (m_Position < 0) m_Position = 0;
    return m_Position;
}

int64_t TFileHandler::GetSize() {
    struct stat st;
    if (!IsOpen() || ::fstat(m_Fd, &st) != 0) {
        StoreOsError(IsOpen() ? errno : EBADF);
        Raise(ecReadError);
    }
    m_Position = st.st_size;
    return st.st_size;
}

size_t TFileHandler::ReadAt(int64_t offset, void* buffer, size_t count, bool allowShort) {
    Seek(offset, 0);
    return Read(buffer, count, allowShort);
}

void TFileHandler::WriteAt(int64_t offset, const void* buffer, size_t count) {
    Seek(offset, 0);
    Write(buffer, count);
}

bool TFileHandler::LockRange(int64_t offset, int64_t length) {
    if (!IsOpen()) return false;
    return FileIo().Lock(m_Fd, m_FdWritable ? F_WRLCK : F_RDLCK, off_t(offset), off_t(length)) == 0;
}

bool TFileHandler::UnlockRange(int64_t offset, int64_t length) {
    if (!IsOpen()) return false;
    return FileIo().Lock(m_Fd, F_UNLCK, off_t(offset), off_t(length)) == 0;
}

bool TFileHandler::FileExists() const {
    struct stat st;
    return !m_FileName.empty() && ::stat(ResolveExistingPath(m_FileName).c_str(), &st) == 0;
}

}  // namespace veltra
