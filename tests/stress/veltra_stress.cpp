// veltra-stress: several processes on one shared table, and writers killed
// at random moments.
//
//   veltra-stress [--workers N] [--seconds S] [--seed X] [--max-records M]
//   veltra-stress --kill [--kills K] [--seconds S] [--survivors N] ...
//
// Stress mode: N worker processes (stress_worker.h) run for S seconds; then
// the table is verified deeply (stress_verify.h) and compared with what the
// workers' logs say was committed (log_check.h). Any failed check, engine
// error other than a lock refusal, crash or hang fails the run.
//
// Kill mode: survivors work on the table while writer processes, started one
// after another, run a busy insert/edit/delete loop and are killed with
// SIGKILL 0..20 ms after they opened the table; the table is verified after
// every kill. Every change goes through the rollback journal
// (engine/journal.h), so a kill anywhere, inside a flush too, must leave a
// table that verifies clean once the journal is undone: damage after any
// kill fails the run (it is still reported by kind, and the run goes on to
// its end on a fresh table, a new epoch, so that one run shows all it finds).
// BLOB blocks in no chain and not free, and nothing else, are reported as a
// finding: such a leak loses no data and was once seen without any kill. The
// run also fails on a survivor that crashes, hangs, meets an unexpected
// error (corruption codes and failed checks are expected only once damage
// was found), or waits in one engine call longer than the lock retry limits
// explain; and on an undamaged epoch whose table disagrees with the logs.
//
// Exit status 0 when the run passed, 1 otherwise.
#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "engine/lock_protocol.h"
#include "engine/session.h"
#include "engine/table_builder.h"
#include "log_check.h"
#include "stress_verify.h"
#include "stress_worker.h"

using namespace veltra_stress;
using TClock = std::chrono::steady_clock;

namespace {

struct TOptions {
    bool Kill = false;
    int Workers = 4;
    double Seconds = 45;
    uint64_t Seed = 20261210;
    int MaxRecords = 300;
    int Kills = 100;
    int Survivors = 2;
    int KillsPerEpoch = 25;
    int KillWindowMs = 20;
    std::string Dir;
    bool Keep = false;
};

[[noreturn]] void Usage() {
    std::fprintf(stderr,
                 "usage: veltra-stress [--kill] [--workers N (1..16)] [--seconds S] [--seed X] [--max-records M]\n"
                 "                     [--kills K] [--survivors N] [--kills-per-epoch K] [--kill-window-ms MS]\n"
                 "                     [--dir PATH] [--keep]\n");
    std::exit(2);
}

TOptions ParseOptions(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Usage();
            return argv[++i];
        };
        if (a == "--kill") o.Kill = true;
        else if (a == "--keep") o.Keep = true;
        else if (a == "--workers") o.Workers = std::atoi(value().c_str());
        else if (a == "--seconds") o.Seconds = std::atof(value().c_str());
        else if (a == "--seed") o.Seed = std::strtoull(value().c_str(), nullptr, 10);
        else if (a == "--max-records") o.MaxRecords = std::atoi(value().c_str());
        else if (a == "--kills") o.Kills = std::atoi(value().c_str());
        else if (a == "--survivors") o.Survivors = std::atoi(value().c_str());
        else if (a == "--kills-per-epoch") o.KillsPerEpoch = std::atoi(value().c_str());
        else if (a == "--kill-window-ms") o.KillWindowMs = std::atoi(value().c_str());
        else if (a == "--dir") o.Dir = value();
        else Usage();
    }
    if (o.Workers < 1 || o.Workers > kMaxWorkers || o.Survivors < 1 || o.Survivors > kMaxWorkers || o.Seconds <= 0 ||
        o.MaxRecords < 10 || o.Kills < 0 || o.KillsPerEpoch < 1 || o.KillWindowMs < 0)
        Usage();
    return o;
}

double SecondsSince(TClock::time_point start) {
    return std::chrono::duration<double>(TClock::now() - start).count();
}

// A forked worker process.
struct TProcess {
    pid_t Pid = -1;
    int Status = 0;
    bool Reaped = false;
    int ExitCode() const { return Reaped && WIFEXITED(Status) ? WEXITSTATUS(Status) : -1; }
    std::string Describe() const {
        if (!Reaped) return "still running";
        if (WIFSIGNALED(Status)) return std::string("killed by signal ") + strsignal(WTERMSIG(Status));
        return "exit status " + std::to_string(WEXITSTATUS(Status));
    }
};

TProcess StartWorker(const TWorkerConfig& config, TShared& shared, unsigned alarmSeconds) {
    std::fflush(nullptr);
    TProcess p;
    p.Pid = ::fork();
    if (p.Pid == 0) {
        ::alarm(alarmSeconds);  // a worker that hangs ends by SIGALRM, which the parent reports
        veltra::EngineStartup();
        ::_exit(RunWorker(config, shared));
    }
    return p;
}

// Waits for every process until `deadline`; those still running then are
// killed and reported as hung. Returns false when any hung.
bool WaitAll(std::vector<TProcess>& processes, TClock::time_point deadline) {
    bool ok = true;
    for (;;) {
        bool running = false;
        for (TProcess& p : processes) {
            if (p.Reaped || p.Pid <= 0) continue;
            pid_t r = ::waitpid(p.Pid, &p.Status, WNOHANG);
            if (r == p.Pid) p.Reaped = true;
            else running = true;
        }
        if (!running) return ok;
        if (TClock::now() > deadline) {
            for (TProcess& p : processes)
                if (!p.Reaped && p.Pid > 0) {
                    std::fprintf(stderr, "process %d hangs; killed\n", int(p.Pid));
                    ::kill(p.Pid, SIGKILL);
                    ::waitpid(p.Pid, &p.Status, 0);
                    p.Reaped = true;
                    ok = false;
                }
            return ok;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TShared* MapShared() {
    void* m = ::mmap(nullptr, sizeof(TShared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) {
        std::perror("mmap");
        std::exit(1);
    }
    return new (m) TShared;
}

struct TTotals {
    int64_t Ops[kOpKinds] = {};
    int64_t Refusals = 0, Vanished = 0, Misses = 0, Elsewhere = 0, LooseMismatch = 0, MaxWaitMicros = 0;
    int64_t MaxWaitByOp[kOpKinds] = {};
    void Add(const TWorkerStats& w) {
        for (int k = 0; k < kOpKinds; ++k) Ops[k] += w.Ops[k].load();
        Refusals += w.Refusals.load();
        Vanished += w.Vanished.load();
        Misses += w.Misses.load();
        Elsewhere += w.Elsewhere.load();
        LooseMismatch += w.LooseMismatch.load();
        for (int k = 0; k < kOpKinds; ++k) {
            MaxWaitByOp[k] = std::max(MaxWaitByOp[k], w.MaxWaitMicros[k].load());
            MaxWaitMicros = std::max(MaxWaitMicros, MaxWaitByOp[k]);
        }
    }
    void Print(const char* who) const {
        int64_t all = 0;
        std::printf("%s operations:", who);
        for (int k = 0; k < kOpKinds; ++k) {
            std::printf(" %s %lld", kOpNames[k], static_cast<long long>(Ops[k]));
            all += Ops[k];
        }
        std::printf(" (total %lld)\n", static_cast<long long>(all));
        std::printf("%s longest engine call by operation (ms):", who);
        for (int k = 0; k < kOpKinds; ++k) std::printf(" %s %.1f", kOpNames[k], MaxWaitByOp[k] / 1000.0);
        std::printf("\n");
        std::printf("%s lock refusals retried %lld, records gone before their lock %lld, IDs not found %lld, "
                    "FindKey found but stood elsewhere %lld, record/BLOB disagreements outside a read phase %lld, "
                    "longest engine call %.1f ms\n",
                    who, static_cast<long long>(Refusals), static_cast<long long>(Vanished),
                    static_cast<long long>(Misses), static_cast<long long>(Elsewhere),
                    static_cast<long long>(LooseMismatch), MaxWaitMicros / 1000.0);
    }
};

// The longest a single engine call may wait under the lock retry limits: the
// retries of one phase lock (the longest pattern) plus a record lock's, plus
// a margin for the work itself on a loaded machine.
constexpr double kWaitLimitMs =
    veltra::kPhaseLockRetries * veltra::kPhaseLockWaitMs + 15 * 100 + 5000;

void PrintProblems(const std::vector<std::string>& problems, size_t limit) {
    for (size_t i = 0; i < problems.size() && i < limit; ++i) std::printf("  %s\n", problems[i].c_str());
    if (problems.size() > limit) std::printf("  ... %zu more\n", problems.size() - limit);
}

int RunStress(const TOptions& o, TShared& shared) {
    const std::string table = o.Dir + "/stress.dat";
    veltra::CreateTable(table, StressTableDef());
    shared.Reset();
    std::printf("stress: %d workers for %.0f s on %s (max %d records)\n", o.Workers, o.Seconds, table.c_str(),
                o.MaxRecords);
    std::vector<TProcess> workers;
    std::vector<TLogFile> logs;
    auto start = TClock::now();
    for (int i = 0; i < o.Workers; ++i) {
        TWorkerConfig c;
        c.TablePath = table;
        c.LogPath = o.Dir + "/worker-" + std::to_string(i) + ".log";
        c.Slot = i;
        c.WriterNo = i + 1;
        c.Seed = o.Seed * 1000 + uint64_t(i);
        c.Strict = i % 2 == 1;
        c.MaxRecords = o.MaxRecords;
        c.Seconds = o.Seconds;
        std::printf("  worker %d: seed %llu, %s change detection\n", i, static_cast<unsigned long long>(c.Seed),
                    c.Strict ? "strict" : "lazy");
        logs.push_back({c.LogPath, false});
        workers.push_back(StartWorker(c, shared, unsigned(o.Seconds) + 120));
    }
    bool ok = WaitAll(workers, start + std::chrono::milliseconds(int64_t(o.Seconds * 1000) + 90000));
    double elapsed = SecondsSince(start);
    for (size_t i = 0; i < workers.size(); ++i)
        if (workers[i].ExitCode() != kExitOk) {
            std::printf("FAIL: worker %zu ended with %s\n", i, workers[i].Describe().c_str());
            ok = false;
        }
    TTotals totals;
    for (int i = 0; i < o.Workers; ++i) totals.Add(shared.Workers[i]);
    if (totals.MaxWaitMicros / 1000.0 > kWaitLimitMs) {
        std::printf("FAIL: an engine call waited %.0f ms, beyond the retry limits\n", totals.MaxWaitMicros / 1000.0);
        ok = false;
    }
    TVerifyResult verify = DeepVerify(table);
    if (!verify.Ok()) {
        std::printf("FAIL: the table is damaged:\n");
        PrintProblems(verify.Problems, 20);
        ok = false;
    }
    std::vector<std::string> logProblems = CheckAgainstLogs(logs, verify.Records);
    if (!logProblems.empty()) {
        std::printf("FAIL: the table disagrees with the committed changes:\n");
        PrintProblems(logProblems, 20);
        ok = false;
    }
    std::printf("summary: %d processes, %.1f s, %zu records at the end (%lld deleted slots)\n", o.Workers, elapsed,
                verify.Records.size(), static_cast<long long>(verify.Deleted));
    totals.Print("  all workers");
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

struct TKillStats {
    int Kills = 0, KillsInWriteCall = 0, Epochs = 0, DamagedEpochs = 0, Verifies = 0;
    int DamageAfterKillInWrite = 0;
    std::map<std::string, int> DamageKinds;  // kind -> epochs showing it
    std::vector<std::string> Samples;
    TTotals Survivors, Killed;
};

// One kill of a busy writer; returns whether the kill landed inside a write
// call (Post or Delete), or -1 when the writer failed on its own.
int KillOneWriter(const TOptions& o, TShared& shared, const std::string& table, const std::string& logPath,
                  int writerNo, TRandom& random) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return -1;
    TWorkerConfig c;
    c.TablePath = table;
    c.LogPath = logPath;
    c.Slot = kKilledSlot;
    c.WriterNo = writerNo;
    c.Seed = o.Seed * 1000 + uint64_t(writerNo);
    c.WriteOnly = true;
    c.MaxRecords = o.MaxRecords;
    c.ReadyFd = pipeFds[1];
    TProcess writer = StartWorker(c, shared, 120);
    ::close(pipeFds[1]);
    pollfd p{pipeFds[0], POLLIN, 0};
    ::poll(&p, 1, 30000);
    char ready = 0;
    bool started = ::read(pipeFds[0], &ready, 1) == 1;
    ::close(pipeFds[0]);
    if (started) {
        int delayUs = int(random.Below(uint32_t(o.KillWindowMs * 1000 + 1)));
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
    }
    ::kill(writer.Pid, SIGKILL);
    int inWrite = shared.InWriteCall.load();
    ::waitpid(writer.Pid, &writer.Status, 0);
    writer.Reaped = true;
    shared.InWriteCall = 0;
    if (!started || !WIFSIGNALED(writer.Status)) {
        std::printf("FAIL: killed writer %d ended with %s before it was killed\n", writerNo, writer.Describe().c_str());
        return -1;
    }
    return inWrite;
}

int RunKills(const TOptions& o, TShared& shared) {
    std::printf("kill test: %d survivors, at least %d kills and %.0f s, kills 0..%d ms into a writer's busy loop\n",
                o.Survivors, o.Kills, o.Seconds, o.KillWindowMs);
    TKillStats s;
    bool ok = true;
    bool failedOnDamage = false;
    TRandom random(o.Seed);
    auto start = TClock::now();
    int writerNo = 100;
    while (ok && (s.Kills < o.Kills || SecondsSince(start) < o.Seconds)) {
        const std::string dir = o.Dir + "/epoch-" + std::to_string(s.Epochs);
        std::filesystem::create_directories(dir);
        const std::string table = dir + "/stress.dat";
        veltra::CreateTable(table, StressTableDef());
        shared.Reset();
        ++s.Epochs;
        std::vector<TProcess> survivors;
        std::vector<TLogFile> logs;
        for (int i = 0; i < o.Survivors; ++i) {
            TWorkerConfig c;
            c.TablePath = table;
            c.LogPath = dir + "/survivor-" + std::to_string(i) + ".log";
            c.Slot = i;
            c.WriterNo = i + 1;
            c.Seed = o.Seed * 1000 + uint64_t(s.Epochs) * 100 + uint64_t(i);
            c.Strict = i % 2 == 1;
            c.MaxRecords = o.MaxRecords;
            c.Seconds = 3600;  // until told to stop
            logs.push_back({c.LogPath, false});
            survivors.push_back(StartWorker(c, shared, 600));
        }
        bool damaged = false;
        for (int k = 0; k < o.KillsPerEpoch && ok && (s.Kills < o.Kills || SecondsSince(start) < o.Seconds); ++k) {
            ++writerNo;
            std::string logPath = dir + "/killed-" + std::to_string(writerNo) + ".log";
            logs.push_back({logPath, true});
            int inWrite = KillOneWriter(o, shared, table, logPath, writerNo, random);
            if (inWrite < 0) {
                ok = false;
                break;
            }
            ++s.Kills;
            s.KillsInWriteCall += inWrite;
            TVerifyResult v = DeepVerify(table);
            ++s.Verifies;
            if (!v.Ok()) {
                damaged = true;
                ++s.DamagedEpochs;
                s.DamageAfterKillInWrite += inWrite;
                std::map<std::string, int> kinds;
                for (const std::string& p : v.Problems) kinds[ProblemKind(p)]++;
                for (const auto& [kind, n] : kinds) s.DamageKinds[kind]++;
                std::printf("epoch %d: damage after kill %d (writer %d, %s a write call):\n", s.Epochs, s.Kills,
                            writerNo, inWrite ? "inside" : "outside");
                PrintProblems(v.Problems, 6);
                if (s.Samples.size() < 12) s.Samples.push_back(v.Problems.front());
                // Blocks in no chain and not free waste space but lose nothing;
                // such a leak has also been seen once without any kill and is
                // still unexplained (docs/reliability.md), so it is reported
                // here as a finding. Any other damage fails the run.
                const bool onlyLeak = std::all_of(v.Problems.begin(), v.Problems.end(), [](const std::string& p) {
                    return p.find("in no chain and not on the free list") != std::string::npos;
                });
                if (onlyLeak) {
                    std::printf("finding: leaked BLOB blocks after a kill\n");
                } else {
                    std::printf("FAIL: the journal did not keep the table whole\n");
                    failedOnDamage = true;
                }
                break;
            }
        }
        shared.Stop = 1;
        bool noHang = WaitAll(survivors, TClock::now() + std::chrono::seconds(90));
        if (!noHang) {
            std::printf("FAIL: a survivor hung in epoch %d\n", s.Epochs);
            ok = false;
        }
        for (size_t i = 0; i < survivors.size(); ++i) {
            int code = survivors[i].ExitCode();
            bool expected = code == kExitOk || (damaged && (code == kExitCorruption || code == kExitCheckFailed));
            if (!expected) {
                std::printf("FAIL: survivor %zu of epoch %d ended with %s\n", i, s.Epochs,
                            survivors[i].Describe().c_str());
                ok = false;
            } else if (code != kExitOk) {
                std::printf("epoch %d: survivor %zu stopped on the damage (%s)\n", s.Epochs, i,
                            survivors[i].Describe().c_str());
            }
        }
        TTotals epochSurvivors;
        for (int i = 0; i < o.Survivors; ++i) {
            s.Survivors.Add(shared.Workers[i]);
            epochSurvivors.Add(shared.Workers[i]);
        }
        s.Killed.Add(shared.Workers[kKilledSlot]);
        if (epochSurvivors.MaxWaitMicros / 1000.0 > kWaitLimitMs) {
            std::printf("FAIL: a survivor waited %.0f ms in one engine call\n", epochSurvivors.MaxWaitMicros / 1000.0);
            ok = false;
        }
        if (!damaged && ok) {
            TVerifyResult v = DeepVerify(table);
            std::vector<std::string> problems = v.Problems;
            for (const std::string& p : CheckAgainstLogs(logs, v.Records)) problems.push_back(p);
            if (!problems.empty()) {
                std::printf("FAIL: epoch %d ended without damage after its kills, but:\n", s.Epochs);
                PrintProblems(problems, 20);
                ok = false;
            }
        }
        if (!o.Keep && ok) {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    }
    double elapsed = SecondsSince(start);
    std::printf("summary: %.1f s, %d epochs, %d kills (%d inside a write call), %d deep verifies\n", elapsed, s.Epochs,
                s.Kills, s.KillsInWriteCall, s.Verifies);
    std::printf("  damage found after %d kills (%.1f%% of all kills, %.1f%% of kills inside a write call)\n",
                s.DamagedEpochs, s.Kills ? 100.0 * s.DamagedEpochs / s.Kills : 0.0,
                s.KillsInWriteCall ? 100.0 * s.DamageAfterKillInWrite / s.KillsInWriteCall : 0.0);
    for (const auto& [kind, n] : s.DamageKinds) std::printf("  damage kind %-10s in %d damaged tables\n", kind.c_str(), n);
    for (const std::string& sample : s.Samples) std::printf("  e.g. %s\n", sample.c_str());
    s.Survivors.Print("  survivors");
    s.Killed.Print("  killed writers");
    ok = ok && !failedOnDamage;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions o = ParseOptions(argc, argv);
    bool madeDir = false;
    if (o.Dir.empty()) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "veltra-stress-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        o.Dir = tmpl;
        madeDir = true;
    } else {
        std::filesystem::create_directories(o.Dir);
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    veltra::EngineStartup();
    TShared* shared = MapShared();
    int status = 1;
    try {
        status = o.Kill ? RunKills(o, *shared) : RunStress(o, *shared);
    } catch (const std::exception& e) {
        std::printf("FAIL: %s\n", e.what());
    }
    if (madeDir && !o.Keep && status == 0) {
        std::error_code ec;
        std::filesystem::remove_all(o.Dir, ec);
    } else {
        std::printf("files kept in %s\n", o.Dir.c_str());
    }
    return status;
}
