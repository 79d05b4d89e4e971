#include "stress_worker.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <functional>
#include <set>

#include "engine/errors.h"
#include "engine/veltra_table.h"
#include "stress_content.h"

namespace veltra_stress {

using namespace veltra;
using TClock = std::chrono::steady_clock;

void TShared::Reset() {
    Stop = 0;
    MaxId = 0;
    InWriteCall = 0;
    for (TWorkerStats& w : Workers) {
        for (auto& op : w.Ops) op = 0;
        w.Refusals = w.Vanished = w.Misses = w.Elsewhere = w.LooseMismatch = 0;
        for (auto& m : w.MaxWaitMicros) m = 0;
    }
    for (auto& c : Committed) c = -2;
}

namespace {

void RaiseMax(std::atomic<int64_t>& target, int64_t value) {
    int64_t old = target.load();
    while (value > old && !target.compare_exchange_weak(old, value)) {
    }
}
void RaiseMax(std::atomic<int32_t>& target, int32_t value) {
    int32_t old = target.load();
    while (value > old && !target.compare_exchange_weak(old, value)) {
    }
}

// Codes by which the engine reports files that disagree with themselves:
// damaged headers and buffers, short reads, bad BLOB references, and a change
// that misses a key the records imply (8708).
bool IsCorruptionCode(int code) {
    return (code >> 8) == 0x23 || code == ecReadError || code == ecInvalidBlobOffset || code == ecWrongVersion ||
           code == ecKeyNotFound;
}

std::string Upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A condition in the filter language together with the same condition in C++.
struct TFilterCase {
    std::string Text;
    bool CaseInsensitive;
    std::function<bool(const TObserved&)> Holds;
};

class TWorker {
public:
    TWorker(const TWorkerConfig& config, TShared& shared)
        : m_Config(config), m_Shared(shared), m_Stats(shared.Workers[config.Slot]), m_Random(config.Seed) {}

    int Run() {
        m_Log = ::open(m_Config.LogPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (m_Log < 0) return Fail(kExitOtherError, "cannot open the log " + m_Config.LogPath);
        m_Table.SetTableName(m_Config.TablePath);
        m_Table.SetStrictChangeDetection(m_Config.Strict);
        m_Table.Open();
        m_Id = &m_Table.FieldByName("ID");
        m_Code = &m_Table.FieldByName("Code");
        m_Name = &m_Table.FieldByName("Name");
        m_Score = &m_Table.FieldByName("Score");
        m_Bucket = &m_Table.FieldByName("Bucket");
        m_Writer = &m_Table.FieldByName("Writer");
        m_Seq = &m_Table.FieldByName("Seq");
        m_Version = &m_Table.FieldByName("Version");
        m_Checksum = &m_Table.FieldByName("Checksum");
        m_Memo = &m_Table.FieldByName("Memo");
        m_Data = &m_Table.FieldByName("Data");
        if (m_Config.ReadyFd >= 0) {
            char ready = 1;
            if (::write(m_Config.ReadyFd, &ready, 1) != 1) return kExitOtherError;
            ::close(m_Config.ReadyFd);
        }
        const auto end = TClock::now() + std::chrono::milliseconds(int64_t(m_Config.Seconds * 1000));
        while (m_Config.WriteOnly || (TClock::now() < end && m_Shared.Stop.load() == 0)) Step();
        m_Table.Close();
        ::close(m_Log);
        return kExitOk;
    }

private:
    [[noreturn]] int Fail(int status, const std::string& what) {
        std::fprintf(stderr, "worker %d (writer %d, seed %llu): %s\n", m_Config.Slot, m_Config.WriterNo,
                     static_cast<unsigned long long>(m_Config.Seed), what.c_str());
        std::fflush(stderr);
        ::_exit(status);
    }
    void Check(bool condition, const std::string& what) {
        if (!condition) Fail(kExitCheckFailed, what);
    }

    void Step() {
        TOpKind kind;
        if (m_Config.WriteOnly) {
            uint32_t r = m_Random.Below(10);
            kind = r < 4 ? opInsert : r < 8 ? opEdit : opDelete;
        } else {
            static constexpr int kWeights[kOpKinds] = {20, 26, 8, 4, 4, 20, 18};
            uint32_t r = m_Random.Below(100), sum = 0;
            kind = opLooseRead;
            for (int k = 0; k < kOpKinds; ++k)
                if (r < (sum += uint32_t(kWeights[k]))) {
                    kind = TOpKind(k);
                    break;
                }
        }
        if (kind == opInsert && m_Table.RecordCount() >= m_Config.MaxRecords) kind = opDelete;
        int32_t id = PickId();
        m_Kind = kind;
        // A refused lock is retried a few times; the operation then gives up.
        for (int attempt = 0; attempt < 3; ++attempt) {
            try {
                bool done = Perform(kind, id);
                if (done) m_Stats.Ops[kind]++;
                return;
            } catch (const EVeltraEngineError& e) {
                Cleanup();
                int code = e.ErrorCode();
                if (code == ecLockFailure || code == ecRecordInUse) {
                    // As a user would, wait a moment before trying again: a
                    // retry at once would mostly meet the same holder.
                    m_Stats.Refusals++;
                    ::usleep(useconds_t(1000 + m_Random.Below(50000)));
                    continue;
                }
                if (code == ecRecordNotFound && (kind == opEdit || kind == opDelete)) {
                    m_Stats.Vanished++;
                    return;
                }
                Fail(IsCorruptionCode(code) ? kExitCorruption : kExitEngineError,
                     std::string(kOpNames[kind]) + " of ID " + std::to_string(id) + ": " + e.what());
            } catch (const std::exception& e) {
                Fail(kExitOtherError, std::string(kOpNames[kind]) + " of ID " + std::to_string(id) + ": " + e.what());
            }
        }
    }

    int32_t PickId() {
        int32_t max = m_Shared.MaxId.load();
        if (max <= 0) return 1;
        int32_t low = std::max<int32_t>(1, max - 2 * m_Config.MaxRecords);
        return low + int32_t(m_Random.Below(uint32_t(max - low + 1)));
    }

    void Cleanup() {
        m_Shared.InWriteCall = 0;
        try {
            if (m_Table.State() == TDataSetState::Edit || m_Table.State() == TDataSetState::Insert) m_Table.Cancel();
        } catch (const EVeltraEngineError& e) {
            if (e.ErrorCode() != ecLockFailure && e.ErrorCode() != ecCannotUnlock)
                Fail(kExitEngineError, std::string("cancel: ") + e.what());
        }
        if (m_Table.DataFile()->InReadPhase()) m_Table.DataFile()->EndRead();
    }

    // Runs an engine call and keeps the longest time any call took.
    template <class F>
    void Timed(F f) {
        auto start = TClock::now();
        struct TRecordTime {
            TClock::time_point Start;
            std::atomic<int64_t>& Max;
            ~TRecordTime() {
                RaiseMax(Max,
                         std::chrono::duration_cast<std::chrono::microseconds>(TClock::now() - Start).count());
            }
        } record{start, m_Stats.MaxWaitMicros[m_Kind]};
        f();
    }

    void WriteLog(char kind, int32_t id, int32_t version, int32_t seq, int32_t checksum) {
        char line[96];
        int n = std::snprintf(line, sizeof line, "%c %d %d %d %d %d\n", kind, id, version, m_Config.WriterNo, seq,
                              checksum);
        if (::write(m_Log, line, size_t(n)) != n) Fail(kExitOtherError, "log write failed");
    }

    // BLOBs first: reading a BLOB of a browsed record brings the record up to
    // date, so the fields read after it belong to the same version.
    TObserved Observe(bool blobs) {
        TObserved o;
        if (blobs) {
            o.Memo = m_Memo->AsString();
            o.Data = m_Data->AsString();
            o.HasBlobs = true;
        }
        o.Id = int32_t(m_Id->AsInteger());
        o.Code = m_Code->AsString();
        o.Name = m_Name->AsString();
        o.Score = int32_t(m_Score->AsInteger());
        o.Bucket = m_Bucket->AsString();
        o.Writer = int(m_Writer->AsInteger());
        o.Seq = int32_t(m_Seq->AsInteger());
        o.Version = int32_t(m_Version->AsInteger());
        o.Checksum = int32_t(m_Checksum->AsInteger());
        return o;
    }

    void CheckRecord(const TObserved& o, const char* where) {
        std::string bad = CheckObserved(o);
        Check(bad.empty(), std::string(where) + ": " + bad);
    }

    void Store(const TContent& c, int32_t version) {
        m_Code->SetAsString(c.Code);
        m_Name->SetAsString(c.Name);
        m_Score->SetAsInteger(c.Score);
        m_Bucket->SetAsString(c.Bucket);
        m_Writer->SetAsInteger(c.Writer);
        m_Seq->SetAsInteger(c.Seq);
        m_Version->SetAsInteger(version);
        m_Checksum->SetAsInteger(ContentChecksum(c, version));
        m_Memo->SetAsString(c.Memo);
        m_Data->SetAsString(c.Data);
    }

    bool FindId(int32_t id) {
        if (!m_Table.IndexName().empty()) m_Table.SetIndexName("");
        bool found = false;
        Timed([&] { found = m_Table.FindKey({std::to_string(id)}); });
        if (!found) m_Stats.Misses++;
        return found;
    }

    void BeginRead() {
        Timed([&] { m_Table.DataFile()->BeginRead(); });
    }

    bool Perform(TOpKind kind, int32_t id) {
        switch (kind) {
            case opInsert: return Insert();
            case opEdit: return Edit(id);
            case opDelete: return Delete(id);
            case opScan: return Scan();
            case opFilter: return FilterCounts();
            case opBlobRead: return BlobRead(id, true);
            case opLooseRead: return BlobRead(id, false);
            default: return false;
        }
    }

    bool Insert() {
        int32_t seq = ++m_NextSeq;
        TContent c = MakeContent(m_Config.WriterNo, seq);
        int32_t checksum = ContentChecksum(c, 0);
        WriteLog('i', 0, 0, seq, checksum);
        m_Table.Append();
        Store(c, 0);
        m_Shared.InWriteCall = 1;
        Timed([&] { m_Table.Post(); });
        m_Shared.InWriteCall = 0;
        if (m_Code->AsString() != c.Code) {
            // Between the post and the dataset reading its new current record
            // another process may have changed the table, or already deleted
            // the new record: look it up by its unique code.
            m_Table.SetIndexName(kCodeIndex);
            bool found = m_Table.FindKey({c.Code});
            m_Table.SetIndexName("");
            if (!found) {
                m_Stats.Vanished++;
                return true;
            }
        }
        int32_t id = int32_t(m_Id->AsInteger());
        Check(m_Code->AsString() == c.Code, "the inserted record is not found by its code");
        WriteLog('I', id, 0, seq, checksum);
        if (id > 0 && id < kMaxTrackedIds) RaiseMax(m_Shared.Committed[id], 0);
        RaiseMax(m_Shared.MaxId, id);
        return true;
    }

    bool Edit(int32_t id) {
        if (!FindId(id)) return false;
        Timed([&] { m_Table.Edit(); });
        // Under the record lock the record and its BLOBs are the last committed ones.
        TObserved o = Observe(true);
        CheckRecord(o, "edit");
        if (o.Id != id) {
            // FindKey outside a read phase can report the key found and then,
            // when fetching the record shows another process's change, stand
            // on the record the cursor was moved to (see docs/reliability.md).
            m_Stats.Elsewhere++;
            m_Table.Cancel();
            return false;
        }
        if (id < kMaxTrackedIds) {
            int32_t committed = m_Shared.Committed[id].load();
            Check(committed != -1, "edit locked and read ID " + std::to_string(id) + ", which was deleted");
            Check(o.Version >= committed, "edit read version " + std::to_string(o.Version) + " of ID " +
                                              std::to_string(id) + " under its lock; version " +
                                              std::to_string(committed) + " was committed (lost update)");
        }
        int32_t version = o.Version + 1, seq = ++m_NextSeq;
        TContent c = MakeContent(m_Config.WriterNo, seq);
        int32_t checksum = ContentChecksum(c, version);
        WriteLog('e', id, version, seq, checksum);
        Store(c, version);
        m_Shared.InWriteCall = 1;
        Timed([&] { m_Table.Post(); });
        m_Shared.InWriteCall = 0;
        WriteLog('E', id, version, seq, checksum);
        if (id < kMaxTrackedIds) RaiseMax(m_Shared.Committed[id], version);
        return true;
    }

    bool Delete(int32_t id) {
        if (!FindId(id)) return false;
        TObserved shown = Observe(false);
        CheckRecord(shown, "delete");
        if (shown.Id != id) {
            m_Stats.Elsewhere++;
            return false;
        }
        int32_t seq = ++m_NextSeq;
        WriteLog('d', id, 0, seq, 0);
        m_Shared.InWriteCall = 1;
        Timed([&] { m_Table.Delete(); });
        m_Shared.InWriteCall = 0;
        WriteLog('D', id, 0, seq, 0);
        if (id < kMaxTrackedIds) m_Shared.Committed[id] = -1;
        return true;
    }

    // One index in full inside one read phase: every record valid, in the
    // index's order, as many as the table counts.
    bool Scan() {
        static const char* kIndexes[] = {"", kCodeIndex, kNameIndex, kScoreIndex};
        std::string index = kIndexes[m_Random.Below(4)];
        BeginRead();
        m_Table.SetIndexName(index);
        int64_t count = 0;
        std::set<int32_t> ids;
        TObserved prev;
        for (m_Table.First(); !m_Table.Eof(); m_Table.Next()) {
            TObserved o = Observe(m_Random.Below(8) == 0);
            CheckRecord(o, "scan");
            Check(ids.insert(o.Id).second, "scan met ID " + std::to_string(o.Id) + " twice");
            if (count > 0) {
                bool inOrder = index.empty()        ? prev.Id < o.Id
                               : index == kCodeIndex ? prev.Code < o.Code
                               : index == kNameIndex ? Upper(prev.Name) <= Upper(o.Name)
                                                     : prev.Score >= o.Score;
                Check(inOrder, "scan of index '" + index + "' out of order at ID " + std::to_string(o.Id));
            }
            prev = o;
            ++count;
        }
        int64_t counted = m_Table.RecordCount();
        Check(count == counted, "scan of index '" + index + "' met " + std::to_string(count) + " records, the table counts " +
                                    std::to_string(counted));
        m_Table.SetIndexName("");
        m_Table.DataFile()->EndRead();
        return true;
    }

    // Filtered counts and filtered rows inside one read phase, against the
    // same conditions evaluated here on every record.
    bool FilterCounts() {
        std::string prefix(1, char('A' + m_Random.Below(26)));
        if (m_Random.Below(2)) prefix += char('a' + m_Random.Below(26));
        int32_t limit = int32_t(m_Random.Below(100000));
        std::vector<TFilterCase> cases = {
            {"[Score] >= " + std::to_string(limit), false, [=](const TObserved& o) { return o.Score >= limit; }},
            {"[Bucket] = 'red'", false, [](const TObserved& o) { return o.Bucket == "red"; }},
            {"[Bucket] = 'blue' and [Score] < " + std::to_string(limit), false,
             [=](const TObserved& o) { return o.Bucket == "blue" && o.Score < limit; }},
            {"[Name] = '" + prefix + "*'", true,
             [=](const TObserved& o) { return Upper(o.Name).rfind(Upper(prefix), 0) == 0; }},
            {"not ([Bucket] = 'green') or [Score] <= 1000", false,
             [](const TObserved& o) { return o.Bucket != "green" || o.Score <= 1000; }},
        };
        BeginRead();
        if (!m_Table.IndexName().empty()) m_Table.SetIndexName("");
        std::vector<int64_t> expected(cases.size(), 0);
        for (m_Table.First(); !m_Table.Eof(); m_Table.Next()) {
            TObserved o = Observe(false);
            CheckRecord(o, "filter scan");
            for (size_t i = 0; i < cases.size(); ++i) expected[i] += cases[i].Holds(o);
        }
        for (size_t i = 0; i < cases.size(); ++i) {
            m_Table.SetFilterOptions({.CaseInsensitive = cases[i].CaseInsensitive});
            m_Table.SetFilter(cases[i].Text);
            m_Table.SetFiltered(true);
            int64_t counted = m_Table.RecordCount(), rows = 0;
            for (m_Table.First(); !m_Table.Eof(); m_Table.Next()) {
                TObserved o = Observe(false);
                Check(cases[i].Holds(o), "filter " + cases[i].Text + " let through ID " + std::to_string(o.Id));
                ++rows;
            }
            m_Table.SetFiltered(false);
            Check(counted == expected[i] && rows == expected[i],
                  "filter " + cases[i].Text + ": count " + std::to_string(counted) + ", rows " + std::to_string(rows) +
                      ", records that hold " + std::to_string(expected[i]));
        }
        m_Table.SetFilter("");
        m_Table.DataFile()->EndRead();
        return true;
    }

    // A record and its BLOBs. Inside one read phase they must agree; read
    // without one, as the program's browsing does, a disagreement is counted.
    bool BlobRead(int32_t id, bool oneReadPhase) {
        if (oneReadPhase) BeginRead();
        bool found = FindId(id);
        if (found) {
            TObserved o = Observe(true);
            if (oneReadPhase) {
                CheckRecord(o, "BLOB read");
                Check(o.Id == id, "found ID " + std::to_string(o.Id) + " for " + std::to_string(id));
            } else if (!CheckObserved(o).empty()) {
                m_Stats.LooseMismatch++;
            }
        }
        if (oneReadPhase) m_Table.DataFile()->EndRead();
        return found;
    }

    TWorkerConfig m_Config;
    TShared& m_Shared;
    TWorkerStats& m_Stats;
    TRandom m_Random;
    TVeltraTable m_Table;
    int m_Log = -1;
    int32_t m_NextSeq = 0;
    TOpKind m_Kind = opInsert;
    TField *m_Id = nullptr, *m_Code = nullptr, *m_Name = nullptr, *m_Score = nullptr, *m_Bucket = nullptr,
           *m_Writer = nullptr, *m_Seq = nullptr, *m_Version = nullptr, *m_Checksum = nullptr, *m_Memo = nullptr,
           *m_Data = nullptr;
};

}  // namespace

int RunWorker(const TWorkerConfig& config, TShared& shared) {
    try {
        TWorker worker(config, shared);
        return worker.Run();
    } catch (const EVeltraEngineError& e) {
        std::fprintf(stderr, "worker %d (seed %llu): %s\n", config.Slot, static_cast<unsigned long long>(config.Seed),
                     e.what());
        return IsCorruptionCode(e.ErrorCode()) ? kExitCorruption : kExitEngineError;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "worker %d (seed %llu): %s\n", config.Slot, static_cast<unsigned long long>(config.Seed),
                     e.what());
        return kExitOtherError;
    }
}

}  // namespace veltra_stress
