// Damaged table files: every damage is reported as the engine error of its
// kind, and no damage makes opening or reading a table crash or read outside
// its buffers (this suite also runs under AddressSanitizer and UBSan).
//
// Each test starts from a small valid table (a String, an auto-increment
// Integer, a Date and a BLOB field; a primary and a secondary index; three
// records entered in every index), damages one of its three files, opens it
// again and reads it: every record by number and every index in key order.
// Offsets come from the layout constants of the file formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/index_file.h"
#include "engine/index_page.h"
#include "engine/session.h"
#include "engine/table_format.h"
#include "platform/locale_services.h"
#include "test_util.h"

using namespace veltra;
using namespace veltra_test;

namespace {

enum TWhichFile { kDataFile = 0, kIndexFile = 1, kBlobFile = 2 };
constexpr const char* kFileNames[] = {"data", "index", "BLOB"};

using TBytes = std::vector<uint8_t>;
using TDamage = std::function<void(TBytes&)>;

struct TDamageCase {
    const char* Name;
    TWhichFile File;
    TDamage Damage;
    int Expected;  // engine error code; 0 = the table opens and reads through
};

// 1-based number of a field of the small table.
int FieldNo(const char* name) {
    const auto fields = SmallTableDef().Fields;
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i].Name == name) return int(i) + 1;
    return 0;
}

// Offset of field `fieldNo`'s descriptor in the data file.
size_t DescriptorAt(int fieldNo) { return size_t(kDataHeaderSize) + size_t(fieldNo - 1) * kDescriptorSize; }

// Offset of an index descriptor slot in the index header.
size_t IndexSlotAt(int slot) { return size_t(ih::Descriptors) + size_t(slot) * kIndexDescriptorSize; }

// Page header fields as drawn in index_page.h.
constexpr int kPageKindAt = 0, kPageCountAt = 1;

// More cursor steps than any index of the small table can have entries.
constexpr int kMaxWalkSteps = 1000;

// Opens the table, fetches every record by number, walks the primary and the
// secondary index in key order fetching each record, and closes. Returns the
// number of index entries visited; engine errors pass through.
int OpenAndReadAll(const std::string& path) {
    TDataFile table;
    table.SetFileName(path);
    table.OpenTable();
    for (int32_t n = 1; n < table.NextRecordNo(); ++n) {
        TFetchResult f = table.FetchRecord(n, n % 2 ? TReadAhead::Physical : TReadAhead::None);
        if (f.Record) f.Record->Unpin();
    }
    int visited = 0;
    TIndexFile& index = table.IndexFile();
    for (int slot = 0; slot <= index.IndexCount(); ++slot) {
        index.SelectIndex(slot);
        index.First();
        for (int step = 0; index.OnEntry(); ++step) {
            if (step == kMaxWalkSteps) {
                ADD_FAILURE() << "index " << slot << " never reaches its end";
                break;
            }
            TFetchResult f = table.FetchRecord(index.CurrentRecord(), TReadAhead::IndexOrder);
            if (f.Record) f.Record->Unpin();
            ++visited;
            index.MoveBy(1);
        }
    }
    table.CloseTable();
    return visited;
}

class CorruptionTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineStartup();
        RemoveAllPasswords();
        m_Paths[kDataFile] = CreateSmallTable(m_Dir / "log.dat", kRecords);
        m_Paths[kIndexFile] = IndexPathOf(m_Paths[kDataFile]);
        m_Paths[kBlobFile] = BlobPathOf(m_Paths[kDataFile]);
        for (int f : {kDataFile, kIndexFile, kBlobFile}) {
            m_Pristine[f] = ReadFileBytes(m_Paths[f]);
            ASSERT_FALSE(m_Pristine[f].empty()) << m_Paths[f];
        }
        m_BlobBlockSize = BlobBlockSizeFrom(GetI32(&m_Pristine[kDataFile][dh::BlobBlockSize]));
    }

    // Puts every file back as built, then damages one.
    void Damage(TWhichFile file, const TDamage& damage) {
        for (int f : {kDataFile, kIndexFile, kBlobFile}) {
            if (f == file) continue;
            WriteFileBytes(m_Paths[f], m_Pristine[f]);
        }
        TBytes bytes = m_Pristine[file];
        damage(bytes);
        WriteFileBytes(m_Paths[file], bytes);
    }

    // Damages, then opens and reads; an undamaged outcome must have visited
    // every record once per index.
    void RunCases(const std::vector<TDamageCase>& cases) {
        const int indexes = 1 + m_Pristine[kIndexFile][ih::SecondaryCount];
        for (const TDamageCase& c : cases) {
            SCOPED_TRACE(std::string(kFileNames[c.File]) + " file: " + c.Name);
            Damage(c.File, c.Damage);
            int visited = -1;
            EXPECT_EQ(EngineErrorOf([&] { visited = OpenAndReadAll(m_Paths[kDataFile]); }), c.Expected);
            if (c.Expected == 0) {
                EXPECT_EQ(visited, kRecords * indexes);
            }
        }
    }

    static constexpr int kRecords = 3;

    TTestDir m_Dir;
    std::string m_Paths[3];
    TBytes m_Pristine[3];
    int m_BlobBlockSize = 0;
};

void AddI32(uint8_t* p, int32_t delta) { PutI32(p, GetI32(p) + delta); }
void AddU16(uint8_t* p, int delta) { PutU16(p, uint16_t(GetU16(p) + delta)); }

// ----------------------------------------------------------------- data file

TEST_F(CorruptionTest, DataFileDamageIsReportedByKind) {
    ASSERT_FALSE(IsLocaleInstalled(MakeLcid(0x7777, 0)));
    const int date = FieldNo(kDateField);
    const int id = FieldNo(kIdField);
    ASSERT_GT(date, 0);
    ASSERT_GT(id, 0);

    RunCases({
        {"undamaged", kDataFile, [](TBytes&) {}, 0},
        {"older version", kDataFile, [](TBytes& b) { b[dh::Version] = kFileVersion - 1; },
         ecWrongVersion},
        {"newer version", kDataFile, [](TBytes& b) { b[dh::Version] = kFileVersion + 1; },
         ecWrongVersion},
        {"one byte longer", kDataFile, [](TBytes& b) { b.push_back(0); }, ecHeaderCorrupt},
        {"one byte shorter", kDataFile, [](TBytes& b) { b.pop_back(); }, ecHeaderCorrupt},
        {"NextRecordNo beyond the records present", kDataFile,
         [](TBytes& b) { AddI32(&b[dh::NextRecordNo], 1); }, ecHeaderCorrupt},
        {"descriptor Offset moved", kDataFile,
         [&](TBytes& b) { AddU16(&b[DescriptorAt(date) + fd::Offset], 1); }, ecHeaderCorrupt},
        {"auto-increment descriptor Offset moved", kDataFile,
         [&](TBytes& b) { AddU16(&b[DescriptorAt(id) + fd::Offset], 1); }, ecHeaderCorrupt},
        {"descriptor FieldNo changed", kDataFile,
         [&](TBytes& b) { PutI16(&b[DescriptorAt(date) + fd::FieldNo], int16_t(date + 1)); },
         ecHeaderCorrupt},
        {"RecordSize changed", kDataFile, [](TBytes& b) { AddU16(&b[dh::RecordSize], 1); },
         ecHeaderCorrupt},
        // FieldCount: 0 and counts above the field limit are impossible
        // headers (8961); a count within the limit makes the descriptor block
        // run past the end of the file, a short read (9217).
        {"FieldCount 0", kDataFile, [](TBytes& b) { PutU16(&b[dh::FieldCount], 0); },
         ecHeaderCorrupt},
        {"FieldCount above the limit", kDataFile,
         [](TBytes& b) { PutU16(&b[dh::FieldCount], uint16_t(kMaxFields + 1)); }, ecHeaderCorrupt},
        {"FieldCount 65535", kDataFile, [](TBytes& b) { PutU16(&b[dh::FieldCount], 0xFFFF); },
         ecHeaderCorrupt},
        {"FieldCount at the limit, beyond the file", kDataFile,
         [](TBytes& b) { PutU16(&b[dh::FieldCount], uint16_t(kMaxFields)); }, ecReadError},
        {"unknown LanguageID", kDataFile, [](TBytes& b) { PutU16(&b[dh::LanguageID], 0x7777); },
         ecLanguageDriver},
        {"encrypted without a password", kDataFile, [](TBytes& b) { b[dh::Encrypted] = 1; },
         ecPasswordRequired},
        {"truncated to 50 bytes", kDataFile, [](TBytes& b) { b.resize(50); }, ecReadError},
    });
}

// ----------------------------------------------------------------- index file

TEST_F(CorruptionTest, IndexFileDamageIsReportedByKind) {
    const TBytes& pristine = m_Pristine[kIndexFile];
    const int32_t end = GetI32(&pristine[ih::EndOffset]);
    ASSERT_EQ(pristine.size(), size_t(end));
    ASSERT_EQ(pristine[ih::SecondaryCount], 1);
    // Root pages of the primary and the secondary index: with three records
    // each is a root that is also the only leaf, holding uncompressed entries.
    const int32_t primaryRoot = GetI32(&pristine[IndexSlotAt(0) + id::Root]);
    const int32_t secondaryRoot = GetI32(&pristine[IndexSlotAt(1) + id::Root]);
    ASSERT_GE(primaryRoot, kIndexBlockSize);
    ASSERT_GE(secondaryRoot, kIndexBlockSize);
    ASSERT_EQ(pristine[size_t(secondaryRoot) + kPageKindAt], pkRootLeaf);
    ASSERT_EQ(pristine[IndexSlotAt(1) + id::Compression], 0);
    const size_t secondaryKeySize = GetU16(&pristine[IndexSlotAt(1) + id::KeySize]);
    // One appended page, so that an end offset up to one block further stays
    // inside the file and only the property under test is wrong.
    auto withPage = [end](TBytes& b, int32_t newEnd) {
        b.resize(size_t(end) + kIndexBlockSize, 0);
        PutI32(&b[ih::EndOffset], newEnd);
    };

    RunCases({
        {"undamaged", kIndexFile, [](TBytes&) {}, 0},
        {"a page appended and covered by the end offset", kIndexFile,
         [&](TBytes& b) { withPage(b, end + kIndexBlockSize); }, 0},
        {"wrong version", kIndexFile, [](TBytes& b) { b[ih::Version] = kFileVersion + 1; },
         ecWrongVersion},
        {"truncated to 100 bytes", kIndexFile, [](TBytes& b) { b.resize(100); }, ecReadError},
        {"truncated inside the pages", kIndexFile,
         [&](TBytes& b) { b.resize(size_t(end) - kIndexBlockSize / 2); }, ecHeaderCorrupt},
        {"end offset inside a block", kIndexFile,
         [&](TBytes& b) { withPage(b, end + kIndexBlockSize / 2); }, ecHeaderCorrupt},
        {"end offset beyond the file", kIndexFile,
         [&](TBytes& b) { PutI32(&b[ih::EndOffset], end + kIndexBlockSize); }, ecHeaderCorrupt},
        {"primary root at the end offset", kIndexFile,
         [&](TBytes& b) { PutI32(&b[IndexSlotAt(0) + id::Root], end); }, ecHeaderCorrupt},
        {"secondary root far beyond the end", kIndexFile,
         [&](TBytes& b) { PutI32(&b[IndexSlotAt(1) + id::Root], end + 64 * kIndexBlockSize); },
         ecHeaderCorrupt},
        {"secondary root inside a block", kIndexFile,
         [](TBytes& b) { AddI32(&b[IndexSlotAt(1) + id::Root], kIndexBlockSize / 2); },
         ecHeaderCorrupt},
        {"secondary index count above the limit", kIndexFile,
         [](TBytes& b) { b[ih::SecondaryCount] = uint8_t(kMaxSecondaryIndexes + 1); },
         ecHeaderCorrupt},
        {"primary key size does not match its field", kIndexFile,
         [](TBytes& b) { AddU16(&b[IndexSlotAt(0) + id::KeySize], 1); }, ecHeaderCorrupt},
        {"secondary key size does not match its field", kIndexFile,
         [](TBytes& b) { AddU16(&b[IndexSlotAt(1) + id::KeySize], -1); }, ecHeaderCorrupt},
        {"key field number beyond the fields", kIndexFile,
         [](TBytes& b) { PutU16(&b[IndexSlotAt(1) + id::FieldNumbers], 99); }, ecHeaderCorrupt},
        // Damaged pages are found when they are read: 8965.
        {"primary root page of an unknown kind", kIndexFile,
         [&](TBytes& b) { b[size_t(primaryRoot) + kPageKindAt] = pkRootLeaf + 1; },
         ecIndexBuffersCorrupt},
        {"primary root page with more entries than a page holds", kIndexFile,
         [&](TBytes& b) { PutI16(&b[size_t(primaryRoot) + kPageCountAt], int16_t(kPageSpace)); },
         ecIndexBuffersCorrupt},
        {"primary root page with a negative entry count", kIndexFile,
         [&](TBytes& b) { PutI16(&b[size_t(primaryRoot) + kPageCountAt], -1); },
         ecIndexBuffersCorrupt},
        {"secondary root page no longer a root", kIndexFile,
         [&](TBytes& b) { b[size_t(secondaryRoot) + kPageKindAt] = pkLeaf; }, ecIndexBuffersCorrupt},
        {"secondary entry naming record 0", kIndexFile,
         [&](TBytes& b) {
             PutI32(&b[size_t(secondaryRoot) + kPageHeaderSize + secondaryKeySize], 0);
         },
         ecIndexBuffersCorrupt},
        {"secondary entry naming a record beyond the table", kIndexFile,
         [&](TBytes& b) {
             PutI32(&b[size_t(secondaryRoot) + kPageHeaderSize + secondaryKeySize], kRecords + 2);
         },
         ecRecordNotFound},
    });
}

// Key searches and range counts descend from the root without the cursor's
// walk: a root that claims to be a multi-level root but holds no entries is
// 8965 for each of them, never a child link read past the page's entries.
TEST_F(CorruptionTest, KeySearchesOnAnEmptyMultiLevelRootReportCorruption) {
    const int32_t primaryRoot = GetI32(&m_Pristine[kIndexFile][IndexSlotAt(0) + id::Root]);
    Damage(kIndexFile, [&](TBytes& b) {
        b[size_t(primaryRoot) + kPageKindAt] = pkRoot;
        PutI16(&b[size_t(primaryRoot) + kPageCountAt], 0);
    });
    TDataFile table;
    table.SetFileName(m_Paths[kDataFile]);
    table.OpenTable();
    TIndexFile& index = table.IndexFile();
    const int k = index.Layout(0).KeySize;
    const std::vector<uint8_t> low(size_t(k), 0), high(size_t(k), 0xFF);
    index.SelectIndex(0);
    EXPECT_EQ(EngineErrorOf([&] { index.FindNearest(low.data(), false, k); }), ecIndexBuffersCorrupt);
    EXPECT_EQ(EngineErrorOf([&] { index.CountKeysInRange(0, low.data(), high.data(), k); }),
              ecIndexBuffersCorrupt);
    table.CloseTable();
}

// ----------------------------------------------------------------- BLOB file

TEST_F(CorruptionTest, BlobFileDamageIsReportedByKind) {
    ASSERT_EQ(m_Pristine[kBlobFile].size(), size_t(kBlobHeaderSize));
    ASSERT_GT(m_BlobBlockSize, kBlobBlockHeaderSize);
    const int b = m_BlobBlockSize;
    // One appended (free-standing) block covered by the end offset.
    auto withBlock = [b](TBytes& bytes, int32_t end) {
        bytes.resize(size_t(kBlobHeaderSize + b), 0);
        PutI32(&bytes[bh::EndOffset], end);
    };

    RunCases({
        {"undamaged", kBlobFile, [](TBytes&) {}, 0},
        {"a block appended and covered by the end offset", kBlobFile,
         [&](TBytes& bytes) { withBlock(bytes, kBlobHeaderSize + b); }, 0},
        {"wrong version", kBlobFile, [](TBytes& bytes) { bytes[bh::Version] = kFileVersion - 1; },
         ecWrongVersion},
        {"end offset inside a block", kBlobFile,
         [&](TBytes& bytes) { withBlock(bytes, kBlobHeaderSize + b / 2); }, ecHeaderCorrupt},
        {"end offset below the header", kBlobFile,
         [](TBytes& bytes) { PutI32(&bytes[bh::EndOffset], 0); },
         ecHeaderCorrupt},
        {"free chain head at the appended block", kBlobFile,
         [&](TBytes& bytes) {
             withBlock(bytes, kBlobHeaderSize + b);
             PutI32(&bytes[bh::FirstFreeBlock], kBlobHeaderSize);
         },
         0},
        {"free chain head outside the blocks", kBlobFile,
         [&](TBytes& bytes) {
             withBlock(bytes, kBlobHeaderSize + b);
             PutI32(&bytes[bh::FirstFreeBlock], kBlobHeaderSize + b);
         },
         ecHeaderCorrupt},
        // Truncation: inside the header the read comes up short (9217); after
        // the header the file no longer holds the blocks it claims (8961).
        {"truncated inside the header", kBlobFile,
         [](TBytes& bytes) { bytes.resize(kBlobHeaderSize / 2); }, ecReadError},
        {"truncated inside a block", kBlobFile,
         [&](TBytes& bytes) {
             withBlock(bytes, kBlobHeaderSize + b);
             bytes.resize(bytes.size() - size_t(b / 2));
         },
         ecHeaderCorrupt},
    });
}

// ----------------------------------------------------------------- damage while open

// Offset of each file's change counter, which other processes bump on every
// header write and which makes the next read phase re-read and re-check it.
int CounterOffset(TWhichFile file) {
    switch (file) {
        case kDataFile: return dh::ChangeCount;
        case kIndexFile: return ih::ChangeCount;
        default: return bh::ChangeCount;
    }
}

// The damage, then the file's change counter bumped as a writer would.
TDamage Rewritten(TWhichFile file, TDamage damage) {
    return [file, damage](TBytes& b) {
        damage(b);
        AddI32(&b[size_t(CounterOffset(file))], 1);
    };
}

struct TOpenDamageCase {
    const char* Name;
    TWhichFile File;      // damaged, with its change counter bumped
    TDamage Damage;
    TWhichFile AlsoBump;  // a second file whose counter is bumped (== File: none)
    int Expected;
};

class CorruptionWhileOpenTest : public CorruptionTest {
protected:
    // Opens the intact table and caches a record, then damages a file behind
    // its back and starts a read phase, which must raise the expected code.
    void RunOpenCases(const std::vector<TOpenDamageCase>& cases) {
        for (const TOpenDamageCase& c : cases) {
            SCOPED_TRACE(std::string(kFileNames[c.File]) + " file: " + c.Name);
            Damage(c.File, [](TBytes&) {});
            TDataFile table;
            table.SetFileName(m_Paths[kDataFile]);
            ASSERT_EQ(EngineErrorOf([&] { table.OpenTable(); }), 0);
            TFetchResult first = table.FetchRecord(1);
            ASSERT_NE(first.Record, nullptr);
            first.Record->Unpin();

            TBytes bytes = m_Pristine[c.File];
            Rewritten(c.File, c.Damage)(bytes);
            WriteFileBytes(m_Paths[c.File], bytes);
            if (c.AlsoBump != c.File) {
                TBytes other = m_Pristine[c.AlsoBump];
                AddI32(&other[size_t(CounterOffset(c.AlsoBump))], 1);
                WriteFileBytes(m_Paths[c.AlsoBump], other);
            }
            bool changed = false;
            EXPECT_EQ(EngineErrorOf([&] { changed = table.BeginRead(); }), c.Expected);
            if (c.Expected == 0) {
                EXPECT_TRUE(changed);
                // A data or index change discards the cached records; a change
                // of the BLOB file alone only concerns BLOB blocks.
                EXPECT_EQ(table.CachedRecords() == 0, c.File != kBlobFile);
            }
        }
    }
};

TEST_F(CorruptionWhileOpenTest, DamageBehindAnOpenTableIsReportedAtTheNextReadPhase) {
    const auto none = [](TBytes&) {};
    RunOpenCases({
        {"counter only", kDataFile, none, kDataFile, 0},
        {"wrong version", kDataFile, [](TBytes& b) { b[dh::Version] = kFileVersion + 1; }, kDataFile,
         ecWrongVersion},
        {"FieldCount changed", kDataFile, [](TBytes& b) { AddU16(&b[dh::FieldCount], 1); },
         kDataFile, ecHeaderCorrupt},
        {"NextRecordNo negative", kDataFile, [](TBytes& b) { PutI32(&b[dh::NextRecordNo], -5); },
         kDataFile, ecHeaderCorrupt},
        // The open table's buffers are sized from the record size: a header
        // that changes it is damaged, never taken over.
        {"RecordSize smaller", kDataFile, [](TBytes& b) { AddU16(&b[dh::RecordSize], -1); },
         kDataFile, ecHeaderCorrupt},
        {"RecordSize larger", kDataFile, [](TBytes& b) { AddU16(&b[dh::RecordSize], 8); },
         kDataFile, ecHeaderCorrupt},
        {"Encrypted switched on", kDataFile, [](TBytes& b) { b[dh::Encrypted] = 1; }, kDataFile,
         ecHeaderCorrupt},
        {"counter only", kIndexFile, none, kIndexFile, 0},
        {"wrong version", kIndexFile, [](TBytes& b) { b[ih::Version] = kFileVersion + 1; },
         kIndexFile, ecWrongVersion},
        {"end offset inside a block", kIndexFile,
         [](TBytes& b) { PutI32(&b[ih::EndOffset], kIndexBlockSize + 1); }, kIndexFile,
         ecHeaderCorrupt},
        // With the index counter changed the data header is re-read through
        // the index path; it gets the same checks.
        {"data NextRecordNo negative, index changed too", kDataFile,
         [](TBytes& b) { PutI32(&b[dh::NextRecordNo], -5); }, kIndexFile, ecHeaderCorrupt},
        {"data version wrong, index changed too", kDataFile,
         [](TBytes& b) { b[dh::Version] = kFileVersion + 1; }, kIndexFile, ecWrongVersion},
        {"data RecordSize smaller, index changed too", kDataFile,
         [](TBytes& b) { AddU16(&b[dh::RecordSize], -1); }, kIndexFile, ecHeaderCorrupt},
        {"counter only", kBlobFile, none, kBlobFile, 0},
        {"wrong version", kBlobFile, [](TBytes& b) { b[bh::Version] = kFileVersion + 1; }, kBlobFile,
         ecWrongVersion},
        {"end offset inside a block", kBlobFile,
         [](TBytes& b) { PutI32(&b[bh::EndOffset], kBlobHeaderSize + 1); }, kBlobFile,
         ecHeaderCorrupt},
    });
}

// ----------------------------------------------------------------- random damage

TEST_F(CorruptionTest, RandomDamageOnlyEverRaisesEngineErrors) {
    constexpr uint32_t kSeed = 0x5EED2026;
    constexpr int kRuns = 3000;
    std::mt19937 random(kSeed);
    auto below = [&](size_t n) { return size_t(std::uniform_int_distribution<size_t>(0, n - 1)(random)); };
    // Half of the flips land in each file's header, where the engine takes
    // its offsets and counts from; the rest anywhere (descriptors, records,
    // index pages).
    const size_t headerSpan[3] = {size_t(kDataHeaderSize), size_t(IndexSlotAt(2)), size_t(kBlobHeaderSize)};

    int opened = 0, refused = 0;
    for (int run = 0; run < kRuns; ++run) {
        const auto file = TWhichFile(below(3));
        const size_t size = m_Pristine[file].size();
        std::ostringstream what;
        what << "run " << run << ", " << kFileNames[file] << " file:";
        TDamage damage;
        if (below(4) == 0) {
            size_t length = below(size);
            what << " truncated to " << length;
            damage = [length](TBytes& b) { b.resize(length); };
        } else {
            std::vector<std::pair<size_t, uint8_t>> flips(1 + below(8));
            for (auto& [offset, mask] : flips) {
                offset = below(2) == 0 ? below(std::min(size, headerSpan[file])) : below(size);
                mask = uint8_t(1 + below(255));
                what << " [" << offset << "]^" << int(mask);
            }
            damage = [flips](TBytes& b) {
                for (const auto& [offset, mask] : flips) b[offset] ^= mask;
            };
        }
        Damage(file, damage);
        try {
            OpenAndReadAll(m_Paths[kDataFile]);
            ++opened;
        } catch (const EVeltraEngineError&) {
            ++refused;
        } catch (const std::exception& e) {
            ADD_FAILURE() << what.str() << ": escaped as " << e.what();
        } catch (...) {
            ADD_FAILURE() << what.str() << ": escaped as a foreign exception";
        }
    }
    // Both outcomes occur, so the damage really reached the engine's checks
    // and harmless damage really was read through.
    EXPECT_GT(opened, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
