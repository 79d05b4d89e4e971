#include "log_check.h"

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace veltra_stress {

namespace {

struct TEntry {
    char Kind = 0;
    int32_t Id = 0, Version = 0, Writer = 0, Seq = 0, Checksum = 0;
    bool Killed = false;
};

using TKey = std::pair<int32_t, int32_t>;  // writer, seq

}  // namespace

std::vector<std::string> CheckAgainstLogs(const std::vector<TLogFile>& logs,
                                          const std::map<int32_t, TObserved>& records) {
    std::vector<std::string> problems;
    std::map<TKey, TEntry> announced;
    std::set<TKey> committedKeys;
    std::vector<TEntry> committed;
    for (const TLogFile& log : logs) {
        std::ifstream in(log.Path);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            TEntry e;
            e.Killed = log.Killed;
            if (!(fields >> e.Kind >> e.Id >> e.Version >> e.Writer >> e.Seq >> e.Checksum)) {
                // A killed worker may have died in the middle of its last line.
                if (!log.Killed) problems.push_back("log: unreadable line in " + log.Path + ": " + line);
                continue;
            }
            if (e.Kind == 'i' || e.Kind == 'e' || e.Kind == 'd') {
                announced[{e.Writer, e.Seq}] = e;
            } else {
                committed.push_back(e);
                committedKeys.insert({e.Writer, e.Seq});
            }
        }
    }
    // Changes announced and never committed: failed ones (workers that ended
    // normally) and maybe-committed ones (killed workers).
    std::vector<TEntry> maybe;
    int pendingInserts = 0;
    for (const auto& [key, e] : announced) {
        if (committedKeys.count(key)) continue;
        if (e.Killed) {
            maybe.push_back(e);
            pendingInserts += e.Kind == 'i';
        } else if (e.Kind != 'd') {
            for (const auto& [id, r] : records)
                if (r.Writer == e.Writer && r.Seq == e.Seq)
                    problems.push_back("log: ID " + std::to_string(id) + " holds writer " + std::to_string(e.Writer) +
                                       " seq " + std::to_string(e.Seq) + ", a change that failed");
        }
    }

    struct THistory {
        std::map<int32_t, TEntry> Versions;  // committed, by version
        bool Deleted = false;
        std::vector<TEntry> Maybe;
    };
    std::map<int32_t, THistory> ids;
    for (const TEntry& e : committed) {
        THistory& h = ids[e.Id];
        if (e.Kind == 'D') {
            h.Deleted = true;
            continue;
        }
        if (!h.Versions.emplace(e.Version, e).second)
            problems.push_back("log: ID " + std::to_string(e.Id) + " version " + std::to_string(e.Version) +
                               " committed twice (lost update)");
    }
    for (const TEntry& e : maybe)
        if (e.Kind != 'i') ids[e.Id].Maybe.push_back(e);

    auto same = [](const TObserved& r, const TEntry& e) {
        return r.Version == e.Version && r.Writer == e.Writer && r.Seq == e.Seq && r.Checksum == e.Checksum;
    };
    for (auto& [id, h] : ids) {
        const std::string name = "ID " + std::to_string(id);
        auto found = records.find(id);
        bool maybeDeleted = false;
        for (const TEntry& e : h.Maybe) maybeDeleted |= e.Kind == 'd';
        if (h.Deleted) {
            if (found != records.end()) problems.push_back("log: " + name + " was deleted but is in the table");
            continue;
        }
        if (h.Versions.empty()) {
            // Only changes that may not have happened; the table may or may not show them.
            continue;
        }
        int32_t last = h.Versions.rbegin()->first;
        for (int32_t v = 0; v < last; ++v) {
            bool explained = h.Versions.count(v) > 0;
            for (const TEntry& e : h.Maybe) explained |= e.Kind == 'e' && e.Version == v;
            if (v == 0 && !explained && pendingInserts > 0) {
                --pendingInserts;  // inserted by a killed writer that died before logging the commit
                explained = true;
            }
            if (!explained) problems.push_back("log: " + name + " version " + std::to_string(v) + " was never committed");
        }
        if (found == records.end()) {
            if (!maybeDeleted) problems.push_back("log: " + name + " is missing from the table");
            continue;
        }
        bool ok = same(found->second, h.Versions.rbegin()->second);
        for (const TEntry& e : h.Maybe) ok |= e.Kind == 'e' && e.Version == last + 1 && same(found->second, e);
        if (!ok)
            problems.push_back("log: " + name + " holds version " + std::to_string(found->second.Version) + " (writer " +
                               std::to_string(found->second.Writer) + " seq " + std::to_string(found->second.Seq) +
                               "), the logs end at version " + std::to_string(last));
    }
    for (const auto& [id, r] : records) {
        if (ids.count(id) && !ids[id].Versions.empty()) continue;
        bool explained = false;
        for (const TEntry& e : maybe) explained |= e.Writer == r.Writer && e.Seq == r.Seq;
        if (!explained) problems.push_back("log: ID " + std::to_string(id) + " is in the table, no log wrote it");
    }
    return problems;
}

}  // namespace veltra_stress
