// Engine sessions: the per-session state the file layer and the error
// reporting share — the error context of the last engine error, the list of
// table passwords the user has given, and a private directory text.
//
// A process has one default session, created by EngineStartup. Session
// components may own further TFileSession objects and make them current with
// SetCurrentSession before the engine works for them. The current-session
// pointer is process-wide and guarded by a mutex; a TFileSession itself is used
// by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veltra {

// Short strings in the engine hold at most 255 characters; longer texts are cut.
std::string ShortString(const std::string& text, size_t capacity = 255);

// Context of the last engine error of a session; messages are built from it.
struct TErrorContext {
    uint16_t ErrorCode = 0;
    uint16_t OsError = 0;  // last OS error number (errno), kept across errors
    std::string FileName;
    std::string FieldName;
    std::string IndexName;
    std::string ExtraText;
};

// Table passwords given in this session: no empty entries, no duplicates,
// compared case-sensitively, each at most 255 characters.
class TPasswordList {
public:
    void Add(const std::string& password);     // ignored if empty or present
    void Remove(const std::string& password);  // exact match
    void Clear() { m_Items.clear(); }
    bool Contains(const std::string& password) const;
    const std::vector<std::string>& Items() const { return m_Items; }

private:
    std::vector<std::string> m_Items;
};

class TFileSession {
public:
    TErrorContext ErrorContext;
    TPasswordList Passwords;

    const std::string& PrivateDirectory() const { return m_PrivateDirectory; }
    void SetPrivateDirectory(const std::string& dir) { m_PrivateDirectory = ShortString(dir); }

private:
    std::string m_PrivateDirectory;
};

// Creates the default session once per process; further calls do nothing.
void EngineStartup();
// Drops the default session; CurrentSession fails afterwards until the next
// EngineStartup. A session set with SetCurrentSession is forgotten too.
void EngineShutdown();
bool EngineStarted();
// The session the engine currently works for. Raises 10758 before EngineStartup.
TFileSession& CurrentSession();
// Makes `session` current; nullptr returns to the default session. The caller
// keeps ownership and must reset before destroying the session.
void SetCurrentSession(TFileSession* session);

void SetPrivateDirectory(const std::string& dir);
std::string GetPrivateDirectory();
void AddPassword(const std::string& password);
void RemovePassword(const std::string& password);
void RemoveAllPasswords();
bool HasPassword(const std::string& password);

}  // namespace veltra
