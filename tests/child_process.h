// Forked child processes for tests of sharing between processes. The parent
// and child step each other through two pipes of int64 messages; a child
// leaves with _exit and never returns into the test framework.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>

#include "engine/errors.h"
#include "engine/session.h"

namespace veltra_test {

inline bool WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

// One int64 message; nullopt when the other side closed its end (it exited).
inline std::optional<int64_t> ReadMessage(int fd) {
    int64_t value = 0;
    auto* p = reinterpret_cast<uint8_t*>(&value);
    size_t done = 0;
    while (done < sizeof value) {
        ssize_t n = ::read(fd, p + done, sizeof value - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        done += size_t(n);
    }
    return value;
}

// Exit statuses of a child.
constexpr int kChildOk = 0;
constexpr int kChildCheckFailed = 2;     // an expectation inside the child failed
constexpr int kChildEngineError = 3;     // an unexpected veltra::EVeltraEngineError
constexpr int kChildOtherException = 4;  // any other exception
constexpr int kChildLostParent = 5;      // the parent's end of the pipe closed
// A child that hangs is ended by its alarm long before the test runner's timeout.
constexpr unsigned kChildAlarmSeconds = 90;

// The child's ends of the two pipes.
class TChildChannel {
public:
    TChildChannel(int in, int out) : m_In(in), m_Out(out) {}
    void Send(int64_t value) {
        if (!WriteAll(m_Out, &value, sizeof value)) ::_exit(kChildLostParent);
    }
    int64_t Receive() {
        std::optional<int64_t> v = ReadMessage(m_In);
        if (!v) ::_exit(kChildLostParent);
        return *v;
    }
    // Fails the child when `condition` does not hold.
    void Check(bool condition, const char* what) {
        if (condition) return;
        std::fprintf(stderr, "child check failed: %s\n", what);
        ::_exit(kChildCheckFailed);
    }

private:
    int m_In, m_Out;
};

// A forked child running `body`; its return value is the exit status. The
// destructor kills a child that is still running and reaps it.
class TChildProcess {
public:
    explicit TChildProcess(const std::function<int(TChildChannel&)>& body) {
        int toChild[2], toParent[2];
        if (::pipe(toChild) != 0 || ::pipe(toParent) != 0) return;
        std::fflush(nullptr);
        m_Pid = ::fork();
        if (m_Pid == 0) {
            ::close(toChild[1]);
            ::close(toParent[0]);
            ::alarm(kChildAlarmSeconds);
            int status = kChildOtherException;
            try {
                veltra::EngineStartup();
                TChildChannel channel(toChild[0], toParent[1]);
                status = body(channel);
            } catch (const veltra::EVeltraEngineError& e) {
                std::fprintf(stderr, "child: %s\n", e.what());
                status = kChildEngineError;
            } catch (const std::exception& e) {
                std::fprintf(stderr, "child: %s\n", e.what());
                status = kChildOtherException;
            } catch (...) {
                status = kChildOtherException;
            }
            std::fflush(stderr);
            ::_exit(status);
        }
        ::close(toChild[0]);
        ::close(toParent[1]);
        m_Out = toChild[1];
        m_In = toParent[0];
    }

    ~TChildProcess() {
        if (m_Pid > 0 && !m_Reaped) {
            ::kill(m_Pid, SIGKILL);
            int status;
            ::waitpid(m_Pid, &status, 0);
        }
        if (m_In >= 0) ::close(m_In);
        if (m_Out >= 0) ::close(m_Out);
    }

    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    bool Started() const { return m_Pid > 0 && m_In >= 0; }
    bool Send(int64_t value) { return WriteAll(m_Out, &value, sizeof value); }
    std::optional<int64_t> Receive() { return ReadMessage(m_In); }
    void Kill(int signal) { ::kill(m_Pid, signal); }

    // The raw wait status of the finished child.
    int Wait() {
        int status = 0;
        if (!m_Reaped) {
            while (::waitpid(m_Pid, &status, 0) < 0 && errno == EINTR) {
            }
            m_Status = status;
            m_Reaped = true;
        }
        return m_Status;
    }
    // The child's exit status, or -1 when it did not exit normally.
    int ExitCode() {
        int status = Wait();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_Pid = -1;
    int m_In = -1, m_Out = -1;
    bool m_Reaped = false;
    int m_Status = 0;
};

}  // namespace veltra_test
