// Private-profile (INI) files with the Windows semantics the window layout
// settings rely on.
//
// File form: lines ended by CR LF or LF (both read; a UTF-8 byte order mark
// at the start is passed over). A line whose first non-blank character is
// '[' starts a section, named by the text up to ']' (blanks around the name
// removed); other lines of a section that hold '=' are entries, key before
// the first '=' and value after it, blanks around both removed. Lines before
// the first section, comment lines (';') and other lines are kept as they
// are but never match. Section and key names match without regard to ASCII
// case; the first matching section and, in it, the first matching key count.
//
// Every call opens the file for the one operation; nothing is cached. Writes
// hold an exclusive lock (flock) on the file's folder for their
// read-modify-write, so that programs writing the same file at once do not
// lose each other's keys, and write the whole new content to a temporary
// file in the same folder that is flushed to disk and then renamed over the
// old one: a crash leaves the old file or the new one, never half of one.
// Written files keep the line ends of the file they replace (CR LF for a new
// file); the temporary file takes the old file's permissions.
//
// Names and values are bytes (UTF-8 by convention) and are not converted.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace veltra {

// The longest value a read returns, in characters (UTF-8 sequences).
inline constexpr size_t kProfileValueMax = 2047;

// The value of `key` in `section` of `fileName`, or `defaultValue` when the
// file, the section or the key is missing. One pair of enclosing double or
// single quotes is removed from a value read; both a value read and the
// default are cut to kProfileValueMax characters. An entry with an empty
// value gives "" (not the default). Never throws.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName);

// Sets `key` of `section` to `value`: an existing entry's line is replaced
// in place, a new key is added after the last entry of its section, a new
// section is added at the end of the file, and a missing file is created.
// Every other line keeps its place. Returns false, leaving the file as it
// was, when the file cannot be read or written, or when the names or the
// value cannot be stored: a key that is empty, holds '=' or begins with
// '[' or ';', a section name that holds ']', or any of them holding CR or LF.
// Never throws.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& fileName);

// Removes every section named `section` (its header and every line up to
// the next section). True when the file no longer holds the section,
// including when it never did or does not exist (no file is created);
// false when the file cannot be read or written. Never throws.
bool EraseProfileSection(const std::string& section, const std::string& fileName);

// Many writes and section erasures to one file as one operation: Write and
// Erase only queue; Commit applies them in the order given, each with the
// meaning of WritePrivateProfileString and EraseProfileSection, under one
// folder lock, one read and one replacement of the file. A program that
// saves hundreds of keys thus rewrites the file once rather than once per
// key, and a reader never sees half of the keys written.
class TProfileBatch {
public:
    explicit TProfileBatch(std::string fileName);
    const std::string& FileName() const { return m_FileName; }
    // Queues a write; false (nothing queued) for names or a value that
    // WritePrivateProfileString refuses.
    bool Write(const std::string& section, const std::string& key, const std::string& value);
    // Queues the removal of every section named `section`.
    void Erase(const std::string& section);
    size_t Pending() const { return m_Changes.size(); }
    // Applies the queued changes and empties the queue. True when the file
    // now holds them (the file is left untouched when they change nothing;
    // a missing file is created only when something is written); false,
    // leaving the file as it was, when it cannot be read or written. Never
    // throws.
    bool Commit();

private:
    struct TChange {
        bool Erase = false;
        std::string Section;
        std::string Key;
        std::string Value;
    };
    std::string m_FileName;
    std::vector<TChange> m_Changes;
};

}  // namespace veltra
