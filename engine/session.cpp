#include "session.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "errors.h"

namespace veltra {

std::string ShortString(const std::string& text, size_t capacity) {
    return text.size() <= capacity ? text : text.substr(0, capacity);
}

void TPasswordList::Add(const std::string& password) {
    std::string p = ShortString(password);
    if (p.empty() || Contains(p)) return;
    m_Items.push_back(std::move(p));
}

void TPasswordList::Remove(const std::string& password) {
    auto it = std::find(m_Items.begin(), m_Items.end(), password);
    if (it != m_Items.end()) m_Items.erase(it);
}

bool TPasswordList::Contains(const std::string& password) const {
    return std::find(m_Items.begin(), m_Items.end(), password) != m_Items.end();
}

namespace {

std::mutex g_SessionMutex;
std::unique_ptr<TFileSession> g_DefaultSession;
TFileSession* g_Current = nullptr;

}  // namespace

void EngineStartup() {
    std::lock_guard lock(g_SessionMutex);
    if (!g_DefaultSession) {
        g_DefaultSession = std::make_unique<TFileSession>();
        g_Current = g_DefaultSession.get();
    }
}

void EngineShutdown() {
    std::lock_guard lock(g_SessionMutex);
    g_Current = nullptr;
    g_DefaultSession.reset();
}

bool EngineStarted() {
    std::lock_guard lock(g_SessionMutex);
    return g_Current != nullptr;
}

TFileSession& CurrentSession() {
    TFileSession* s;
    {
        std::lock_guard lock(g_SessionMutex);
        s = g_Current;
    }
    if (!s) RaiseEngineError(10758);
    return *s;
}

void SetCurrentSession(TFileSession* session) {
    std::lock_guard lock(g_SessionMutex);
    if (!g_DefaultSession) return;
    g_Current = session ? session : g_DefaultSession.get();
}

void SetPrivateDirectory(const std::string& dir) { CurrentSession().SetPrivateDirectory(dir); }
std::string GetPrivateDirectory() { return CurrentSession().PrivateDirectory(); }
void AddPassword(const std::string& password) { CurrentSession().Passwords.Add(password); }
void RemovePassword(const std::string& password) { CurrentSession().Passwords.Remove(password); }
void RemoveAllPasswords() { CurrentSession().Passwords.Clear(); }
bool HasPassword(const std::string& password) { return CurrentSession().Passwords.Contains(password); }

}  // namespace veltra
