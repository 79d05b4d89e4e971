#include "profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace veltra {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view s) {
    const size_t b = s.find_first_not_of(kBlanks);
    if (b == std::string_view::npos) return {};
    const size_t e = s.find_last_not_of(kBlanks);
    return s.substr(b, e - b + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The section a line starts, if it is a section header.
std::optional<std::string_view> SectionOf(std::string_view line) {
    const std::string_view t = Trim(line);
    if (t.empty() || t[0] != '[') return std::nullopt;
    const size_t close = t.find(']');
    return Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

struct TEntry {
    std::string_view Key;
    std::string_view Value;
};

std::optional<TEntry> EntryOf(std::string_view line) {
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = Trim(line.substr(0, equals));
    if (!key.empty() && key[0] == ';') return std::nullopt;
    return TEntry{key, Trim(line.substr(equals + 1))};
}

// Cuts UTF-8 text after kProfileValueMax characters.
std::string Cut(std::string_view text) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (chars++ == kProfileValueMax) return std::string(text.substr(0, i));
    }
    return std::string(text);
}

struct TFileLines {
    std::vector<std::string> Lines;
    bool Exists = false;
    bool CrLf = true;
};

// Reads and splits the file; nullopt when it exists but cannot be read.
std::optional<TFileLines> ReadLines(const std::string& fileName) {
    TFileLines file;
    FILE* f = std::fopen(fileName.c_str(), "rb");
    if (!f) {
        if (errno == ENOENT) return file;
        return std::nullopt;
    }
    std::string content;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return std::nullopt;
    file.Exists = true;
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) content.erase(0, 3);
    const size_t firstLf = content.find('\n');
    file.CrLf = firstLf == std::string::npos || (firstLf > 0 && content[firstLf - 1] == '\r');
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        file.Lines.push_back(std::move(line));
        start = end + 1;
    }
    return file;
}

// Index range [Begin, End) of a section's lines after its header.
struct TSectionRange {
    size_t Header;
    size_t Begin;
    size_t End;
};

std::vector<TSectionRange> Sections(const std::vector<std::string>& lines, std::string_view name) {
    std::vector<TSectionRange> found;
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto section = SectionOf(lines[i]);
        if (!section || !SameName(*section, name)) continue;
        size_t end = i + 1;
        while (end < lines.size() && !SectionOf(lines[end])) ++end;
        found.push_back({i, i + 1, end});
    }
    return found;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(size_t(n));
    }
    return true;
}

std::string FolderOf(const std::string& fileName) {
    const std::filesystem::path parent = std::filesystem::path(fileName).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// Writes the lines to a temporary file beside `fileName`, flushes it and
// renames it into place.
bool ReplaceFile(const std::string& fileName, const TFileLines& file) {
    std::string content;
    for (const std::string& line : file.Lines) content += line + (file.CrLf ? "\r\n" : "\n");
    std::string temp = fileName + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    struct stat old {};
    mode_t mode;
    if (::stat(fileName.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temp.c_str(), fileName.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(FolderOf(fileName).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

// Holds an exclusive lock on the file's folder for one read-modify-write.
class TFolderLock {
  public:
    explicit TFolderLock(const std::string& fileName)
        : Fd(::open(FolderOf(fileName).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (Fd < 0) return;
        int r;
        do r = ::flock(Fd, LOCK_EX);
        while (r != 0 && errno == EINTR);
        Locked = r == 0;
    }
    ~TFolderLock() {
        if (Fd >= 0) ::close(Fd);  // closing releases the lock
    }
    bool Locked = false;

  private:
    int Fd;
};

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Whether a key, section and value can be stored (see the header).
bool Storable(const std::string& section, const std::string& key, const std::string& value) {
    const std::string_view name = Trim(key);
    return !(name.empty() || name.find('=') != std::string_view::npos || name[0] == '[' ||
             name[0] == ';' || HasLineBreak(key) || HasLineBreak(value) ||
             HasLineBreak(section) || section.find(']') != std::string::npos);
}

// Sets the key in the lines; false when they already held it so.
bool ApplyWrite(std::vector<std::string>& lines, const std::string& section,
                const std::string& key, const std::string& value) {
    const std::string_view name = Trim(key);
    const std::string line = std::string(name) + "=" + value;
    const auto sections = Sections(lines, Trim(section));
    if (sections.empty()) {
        lines.push_back("[" + std::string(Trim(section)) + "]");
        lines.push_back(line);
        return true;
    }
    const TSectionRange& s = sections.front();
    size_t lastEntry = s.Header;
    for (size_t i = s.Begin; i < s.End; ++i) {
        const auto entry = EntryOf(lines[i]);
        if (entry && SameName(entry->Key, name)) {
            if (lines[i] == line) return false;  // already so
            lines[i] = line;
            return true;
        }
        if (!Trim(lines[i]).empty()) lastEntry = i;
    }
    lines.insert(lines.begin() + std::ptrdiff_t(lastEntry + 1), line);
    return true;
}

// Removes every section of that name from the lines; false when none was there.
bool ApplyErase(std::vector<std::string>& lines, const std::string& section) {
    const auto sections = Sections(lines, Trim(section));
    for (auto it = sections.rbegin(); it != sections.rend(); ++it)
        lines.erase(lines.begin() + std::ptrdiff_t(it->Header),
                    lines.begin() + std::ptrdiff_t(it->End));
    return !sections.empty();
}

}  // namespace


std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName) {
    try {
        const auto file = ReadLines(fileName);
        if (file) {
            const auto sections = Sections(file->Lines, Trim(section));
            if (!sections.empty()) {
                const TSectionRange& s = sections.front();
                for (size_t i = s.Begin; i < s.End; ++i) {
                    const auto entry = EntryOf(file->Lines[i]);
                    if (!entry || !SameName(entry->Key, Trim(key))) continue;
                    std::string_view value = entry->Value;
                    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
                        value.back() == value[0])
                        value = value.substr(1, value.size() - 2);
                    return Cut(value);
                }
            }
        }
        return Cut(defaultValue);
    } catch (...) {
        return std::string();
    }
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& fileName) {
    if (!Storable(section, key, value)) return false;
    try {
        TFolderLock lock(fileName);
        if (!lock.Locked) return false;
        auto file = ReadLines(fileName);
        if (!file) return false;
        if (!ApplyWrite(file->Lines, section, key, value)) return true;
        return ReplaceFile(fileName, *file);
    } catch (...) {
        return false;
    }
}

bool EraseProfileSection(const std::string& section, const std::string& fileName) {
    try {
        TFolderLock lock(fileName);
        if (!lock.Locked) return false;
        auto file = ReadLines(fileName);
        if (!file) return false;
        if (!ApplyErase(file->Lines, section)) return true;
        return ReplaceFile(fileName, *file);
    } catch (...) {
        return false;
    }
}

TProfileBatch::TProfileBatch(std::string fileName) : m_FileName(std::move(fileName)) {}

bool TProfileBatch::Write(const std::string& section, const std::string& key,
                          const std::string& value) {
    if (!Storable(section, key, value)) return false;
    m_Changes.push_back({false, section, key, value});
    return true;
}

void TProfileBatch::Erase(const std::string& section) {
    m_Changes.push_back({true, section, {}, {}});
}

bool TProfileBatch::Commit() {
    std::vector<TChange> changes;
    changes.swap(m_Changes);
    if (changes.empty()) return true;
    try {
        TFolderLock lock(m_FileName);
        if (!lock.Locked) return false;
        auto file = ReadLines(m_FileName);
        if (!file) return false;
        bool changed = false;
        for (const TChange& c : changes) {
            // An erasure of a section that is not there creates no file.
            changed = (c.Erase ? ApplyErase(file->Lines, c.Section)
                               : ApplyWrite(file->Lines, c.Section, c.Key, c.Value)) ||
                      changed;
        }
        if (!changed) return true;
        return ReplaceFile(m_FileName, *file);
    } catch (...) {
        return false;
    }
}

}  // namespace veltra
