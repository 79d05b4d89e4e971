// The table and the record contents of the stress program.
//
// Every record's fields other than ID, Version and Checksum are a pure
// function of (Writer, Seq): the writer process number and that writer's
// running change number. A reader that finds (Writer, Seq) in a record can
// therefore rebuild what the record must hold, BLOBs included, and the
// Checksum (over that content and the Version) ties the version to it. A torn
// record, a BLOB of another change or a version that belongs to other content
// all fail the check.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/table_builder.h"

namespace veltra_stress {

inline constexpr const char* kCodeIndex = "ByCode";    // unique
inline constexpr const char* kNameIndex = "ByName";    // case-insensitive
inline constexpr const char* kScoreIndex = "ByScore";  // descending
inline constexpr const char* kBuckets[] = {"red", "green", "blue", "amber"};

inline veltra::TTableDef StressTableDef() {
    using namespace veltra;
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc},
                  {"Code", ftString, 0, 20},
                  {"Name", ftString, 0, 30},
                  {"Score", ftInteger},
                  {"Bucket", ftString, 0, 8},
                  {"Writer", ftSmallInt},
                  {"Seq", ftInteger},
                  {"Version", ftInteger},
                  {"Checksum", ftInteger},
                  {"Memo", ftBlob, 22},
                  {"Data", ftBlob, 0}};
    def.Indexes = {{.Name = "", .Primary = true, .Fields = {"ID"}},
                   {.Name = kCodeIndex, .Fields = {"Code"}, .Unique = true},
                   {.Name = kNameIndex, .Fields = {"Name"}, .CaseInsensitive = true},
                   {.Name = kScoreIndex, .Fields = {"Score"}, .Descending = true}};
    def.BlobBlockSize = 256;  // small blocks: most BLOBs span several
    return def;
}

// SplitMix64: small, fast and good enough to draw contents from a seed.
class TRandom {
public:
    explicit TRandom(uint64_t seed) : m_State(seed) {}
    uint64_t Next() {
        uint64_t z = (m_State += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in 0 .. n-1 (n > 0).
    uint32_t Below(uint32_t n) { return uint32_t(Next() % n); }

private:
    uint64_t m_State;
};

struct TContent {
    int Writer = 0;
    int32_t Seq = 0;
    std::string Code, Name, Bucket, Memo, Data;
    int32_t Score = 0;
};

inline TContent MakeContent(int writer, int32_t seq) {
    TContent c;
    c.Writer = writer;
    c.Seq = seq;
    TRandom r((uint64_t(uint32_t(writer)) << 32) ^ uint64_t(uint32_t(seq)) ^ 0x5EED5EEDull);
    char code[24];
    std::snprintf(code, sizeof code, "W%03d-%08d", writer % 1000, seq);
    c.Code = code;
    size_t nameLength = 3 + r.Below(18);
    for (size_t i = 0; i < nameLength; ++i) c.Name += char((r.Below(2) ? 'a' : 'A') + r.Below(26));
    c.Score = int32_t(r.Below(100000));
    c.Bucket = kBuckets[r.Below(4)];
    size_t memoLength = r.Below(4) == 0 ? 0 : r.Below(3000);
    for (size_t i = 0; i < memoLength; ++i) c.Memo += char(r.Below(8) == 0 ? ' ' : 'a' + r.Below(26));
    size_t dataLength = r.Below(4) == 0 ? 0 : r.Below(5000);
    for (size_t i = 0; i < dataLength; ++i) c.Data += char(r.Below(256));
    return c;
}

// FNV-1a over the content and the version, as the record stores it (int32).
inline int32_t ContentChecksum(const TContent& c, int32_t version) {
    uint32_t h = 2166136261u;
    auto mix = [&h](const std::string& s) {
        for (unsigned char ch : s) h = (h ^ ch) * 16777619u;
        h = (h ^ 0xFFu) * 16777619u;  // field separator
    };
    mix(c.Code);
    mix(c.Name);
    mix(std::to_string(c.Score));
    mix(c.Bucket);
    mix(std::to_string(c.Writer));
    mix(std::to_string(c.Seq));
    mix(std::to_string(version));
    mix(c.Memo);
    mix(c.Data);
    return int32_t(h);
}

// What a reader found in one record.
struct TObserved {
    int32_t Id = 0, Version = 0, Checksum = 0, Score = 0, Seq = 0;
    int Writer = 0;
    std::string Code, Name, Bucket, Memo, Data;
    bool HasBlobs = false;
};

// Empty when the record is one some change could have written; otherwise
// what is wrong with it.
inline std::string CheckObserved(const TObserved& o) {
    if (o.Writer < 0 || o.Writer > 30000 || o.Seq <= 0) return "writer/seq out of range";
    TContent c = MakeContent(o.Writer, o.Seq);
    std::string bad;
    if (o.Code != c.Code) bad += " Code";
    if (o.Name != c.Name) bad += " Name";
    if (o.Score != c.Score) bad += " Score";
    if (o.Bucket != c.Bucket) bad += " Bucket";
    if (o.HasBlobs && o.Memo != c.Memo) bad += " Memo";
    if (o.HasBlobs && o.Data != c.Data) bad += " Data";
    if (o.Version < 0) bad += " Version";
    if (o.Checksum != ContentChecksum(c, o.Version)) bad += " Checksum";
    if (bad.empty()) return {};
    return "id " + std::to_string(o.Id) + " (writer " + std::to_string(o.Writer) + " seq " +
           std::to_string(o.Seq) + " version " + std::to_string(o.Version) + ") differs in" + bad;
}

}  // namespace veltra_stress
