#include "engine/folder_locks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "engine/lock_protocol.h"

namespace veltra {

namespace {

// mountinfo escapes blanks, tabs, new lines and backslashes as \ooo.
std::string Unescape(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3' &&
            text[i + 2] >= '0' && text[i + 2] <= '7' && text[i + 3] >= '0' && text[i + 3] <= '7') {
            out += char((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

bool Contains(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/") return !path.empty() && path[0] == '/';
    return path == mountPoint ||
           (path.size() > mountPoint.size() &&
            path.compare(0, mountPoint.size(), mountPoint) == 0 && path[mountPoint.size()] == '/');
}

bool HasOption(const std::string& options, const std::string& option) {
    std::stringstream list(options);
    std::string item;
    while (std::getline(list, item, ','))
        if (item == option) return true;
    return false;
}

std::string SystemError(const std::string& what, int err) {
    return what + " (" + std::strerror(err) + ")";
}

int OfdLock(int fd, short type, off_t offset, int command) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = offset;
    fl.l_len = 1;
    return ::fcntl(fd, command, &fl);
}

// Probes the locks on a fresh file of the folder: Missing, NotWritable or
// Shared (the mount check comes after).
TFolderLockCheck ProbeLocks(const std::string& folder) {
    TFolderLockCheck check;
    const std::string probe = folder + (folder.ends_with('/') ? "" : "/") + ".veltra-lock-probe-" +
                              std::to_string(::getpid());
    const int first = ::open(probe.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (first < 0) {
        check.Verdict = TFolderLocks::NotWritable;
        check.Reason = SystemError("cannot create a file in it", errno);
        return check;
    }
    const int second = ::open(probe.c_str(), O_RDWR | O_CLOEXEC);
    // The byte the table write lock uses: some servers treat offsets near
    // 2 GB differently from small ones.
    const off_t byte = kTableWriteLockOffset;
    if (second < 0) {
        check.Verdict = TFolderLocks::NotWritable;
        check.Reason = SystemError("cannot open a file it created", errno);
    } else if (OfdLock(first, F_WRLCK, byte, F_OFD_SETLK) != 0) {
        check.Verdict = TFolderLocks::Missing;
        check.Reason = SystemError("a byte-range lock was refused", errno);
    } else if (OfdLock(second, F_WRLCK, byte, F_OFD_SETLK) == 0) {
        check.Verdict = TFolderLocks::Missing;
        check.Reason = "a byte-range lock did not keep a second holder out";
    } else if (errno != EAGAIN && errno != EACCES) {
        check.Verdict = TFolderLocks::Missing;
        check.Reason = SystemError("a byte-range lock could not be tested", errno);
    }
    if (second >= 0) ::close(second);
    ::close(first);
    ::unlink(probe.c_str());
    return check;
}

}  // namespace

std::optional<TMountEntry> MountOf(std::string_view mountinfo, const std::string& path) {
    std::optional<TMountEntry> best;
    size_t start = 0;
    while (start < mountinfo.size()) {
        size_t end = mountinfo.find('\n', start);
        if (end == std::string_view::npos) end = mountinfo.size();
        const std::vector<std::string_view> words = Words(mountinfo.substr(start, end - start));
        start = end + 1;
        // id parent major:minor root mount-point options [optional...] - type source super-options
        size_t dash = 6;
        while (dash < words.size() && words[dash] != "-") ++dash;
        if (words.size() < 6 || dash + 2 >= words.size()) continue;
        TMountEntry entry;
        entry.MountPoint = Unescape(words[4]);
        if (!Contains(path, entry.MountPoint)) continue;
        entry.FileSystem = std::string(words[dash + 1]);
        entry.Options = std::string(words[5]);
        if (dash + 3 < words.size()) entry.Options += "," + std::string(words[dash + 3]);
        if (!best || entry.MountPoint.size() >= best->MountPoint.size()) best = std::move(entry);
    }
    return best;
}

std::string LocalOnlyReason(const TMountEntry& mount) {
    const std::string& fs = mount.FileSystem;
    if (fs == "nfs" || fs == "nfs4") {
        for (const char* option : {"nolock", "local_lock=posix", "local_lock=all"})
            if (HasOption(mount.Options, option)) return std::string("mounted with ") + option;
    } else if (fs == "cifs" || fs == "smb3") {
        if (HasOption(mount.Options, "nobrl")) return "mounted with nobrl";
    } else if (fs == "fuse.sshfs") {
        return "SSHFS does not pass locks to the server";
    }
    return {};
}

TFolderLockCheck CheckFolderLocks(const std::string& folder) {
    TFolderLockCheck check = ProbeLocks(folder);
    char resolved[PATH_MAX];
    if (::realpath(folder.c_str(), resolved) == nullptr) return check;
    std::ifstream file("/proc/self/mountinfo");
    std::stringstream text;
    text << file.rdbuf();
    const std::optional<TMountEntry> mount = MountOf(text.str(), resolved);
    if (!mount) return check;
    check.FileSystem = mount->FileSystem;
    if (check.Verdict == TFolderLocks::Shared) {
        const std::string reason = LocalOnlyReason(*mount);
        if (!reason.empty()) {
            check.Verdict = TFolderLocks::LocalOnly;
            check.Reason = reason;
        }
    }
    return check;
}

}  // namespace veltra
