// Runs the vltable tool as a separate process, the way scripts use it: the
// arguments, a text on stdin, and the exit status, stdout and stderr back.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace veltra_test {

struct TToolResult {
    int Status = -1;  // exit status; -1 when the tool did not exit normally
    std::string Out;
    std::string Err;
};

inline std::string ReadAllFrom(int fd) {
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, size_t(n));
    return text;
}

// A running tool process with its stdout on a pipe.
class TToolProcess {
public:
    TToolProcess(const std::vector<std::string>& args, const std::string& input = {}) {
        std::vector<char*> argv;
        std::vector<std::string> all{VLTABLE_PATH};
        all.insert(all.end(), args.begin(), args.end());
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        int in[2], out[2], err[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) posix_spawn_file_actions_addclose(&actions, fd);
        if (posix_spawn(&m_Pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_Pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        // Feed stdin from a thread so a large input cannot deadlock against
        // a full stdout pipe.
        m_Writer = std::thread([fd = in[1], input] {
            ::signal(SIGPIPE, SIG_IGN);
            size_t done = 0;
            while (done < input.size()) {
                const ssize_t n = ::write(fd, input.data() + done, input.size() - done);
                if (n <= 0) break;
                done += size_t(n);
            }
            ::close(fd);
        });
        m_Out = out[0];
        m_Err = err[0];
    }
    ~TToolProcess() {
        if (m_Pid > 0 && m_Status == -2) {
            ::kill(m_Pid, SIGKILL);
            Wait();
        }
        if (m_Writer.joinable()) m_Writer.join();
        if (m_Out >= 0) ::close(m_Out);
        if (m_Err >= 0) ::close(m_Err);
    }

    // Reads stdout up to and including the next newline ("" at the end).
    std::string ReadLine() {
        std::string line;
        char c;
        while (::read(m_Out, &c, 1) == 1) {
            line += c;
            if (c == '\n') break;
        }
        return line;
    }

    TToolResult Wait() {
        TToolResult r;
        std::thread errReader([&] { r.Err = ReadAllFrom(m_Err); });
        r.Out = ReadAllFrom(m_Out);
        errReader.join();
        int status = 0;
        if (m_Pid > 0 && ::waitpid(m_Pid, &status, 0) == m_Pid && WIFEXITED(status)) r.Status = WEXITSTATUS(status);
        m_Status = r.Status;
        if (m_Writer.joinable()) m_Writer.join();
        return r;
    }

private:
    pid_t m_Pid = -1;
    int m_Out = -1, m_Err = -1;
    int m_Status = -2;
    std::thread m_Writer;
};

inline TToolResult RunTool(const std::vector<std::string>& args, const std::string& input = {}) {
    return TToolProcess(args, input).Wait();
}

}  // namespace veltra_test
