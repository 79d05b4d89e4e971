// The deep table verifier: a table kept by the record operations through a
// randomised mix of inserts, edits and deletes verifies clean at every step;
// each damage planted in the bytes of a fresh table's files is reported with
// a line naming it; random byte damage never crashes it; and no verify ever
// changes a byte of the files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/index_file.h"
#include "engine/index_page.h"
#include "engine/session.h"
#include "engine/table_verifier.h"
#include "test_util.h"

using namespace veltra;
using namespace veltra_test;

namespace {

using TBytes = std::vector<uint8_t>;

// Slots of the test table's indexes.
constexpr int kPrimarySlot = 0, kTitleSlot = 2;

// ID (auto-increment), a unique case-insensitive code, a title, an owner, a
// priority and two BLOB fields; the primary index on the ID (uncompressed, so
// that tests can find its entries), a unique case-insensitive index on the
// code, a non-unique uncompressed title index (several leaves), a descending
// owner-and-priority index and a priority index descending by field.
TTableDef VerifierTableDef() {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc}, {"Code", ftString, 0, 8, 0, true},
                  {"Title", ftString, 0, 30},          {"Owner", ftString, 0, 12},
                  {"Priority", ftSmallInt},            {"Notes", ftBlob, 22},
                  {"Body", ftBlob, 22}};
    def.Indexes = {{.Primary = true, .Fields = {"ID"}},
                   {.Name = "ByCode", .Fields = {"Code"}, .Unique = true, .CaseInsensitive = true,
                    .Compression = TCompression::Leading},
                   {.Name = "ByTitle", .Fields = {"Title"}},
                   {.Name = "ByOwner", .Fields = {"Owner", "Priority"}, .Descending = true,
                    .Compression = TCompression::Both},
                   {.Name = "ByPriority", .Fields = {"Priority"}, .FieldDescending = {true}}};
    return def;
}

// An open table and one record buffer, with field helpers.
class TTable {
public:
    explicit TTable(const std::string& path) {
        Table.SetFileName(path);
        Table.OpenTable();
        Buffer.assign(size_t(Table.RecordSize()), 0);
    }
    void SetText(const char* field, const std::string& s) {
        Table.SetFieldValue(Table.FieldNumber(field), Buffer.data(), reinterpret_cast<const uint8_t*>(s.data()),
                            s.size());
    }
    void SetPriority(int16_t p) {
        uint8_t b[2];
        PutI16(b, p);
        Table.SetFieldValue(Table.FieldNumber("Priority"), Buffer.data(), b, 2);
    }
    void CloseBlobs() {
        for (const char* f : {"Notes", "Body"})
            if (Table.IsBlobFieldOpen(Table.FieldNumber(f), Buffer.data()))
                Table.CloseBlobField(Table.FieldNumber(f), Buffer.data());
    }
    // Positions on the record with this ID through the primary index.
    bool FindId(int32_t id) {
        Table.SelectIndexByName("");
        std::vector<uint8_t> key(size_t(Table.IndexFile().Layout(0).KeySize), 0);
        key[0] = 1;
        PutKeyRecordId(&key[1], id);
        return Table.FindKey(nullptr, key.data(), 1, Buffer.data());
    }
    // Fills the buffer with random field values; returns false when the code
    // was taken (the unique index must refuse it).
    void Fill(std::mt19937& gen, const std::string& code) {
        static const char* kTitles[] = {"printer", "Printer jam", "login", "LOGIN slow", "", "crash on start"};
        static const char* kOwners[] = {"ann", "Bob", "", "carol"};
        SetText("Code", code);
        SetText("Title", kTitles[gen() % 6]);
        SetText("Owner", kOwners[gen() % 4]);
        SetPriority(int16_t(gen() % 5) - 2);
    }
    void SetBlob(const char* field, std::mt19937& gen) {
        static const size_t kSizes[] = {0, 1, 493, 494, 495, 988, 2000, 5000};
        std::string text(kSizes[gen() % 8], char('a' + gen() % 26));
        PutBlobText(Table, Buffer.data(), field, text);
    }

    TDataFile Table;
    std::vector<uint8_t> Buffer;
};

// Codes are unique without regard to case; "k12" and "K12" collide.
std::string RandomCode(std::mt19937& gen) { return (gen() % 2 ? "K" : "k") + std::to_string(gen() % 500); }

// Inserts, edits and deletes at random; returns live record IDs by code.
void RandomMix(TTable& t, std::mt19937& gen, int operations, std::map<std::string, int32_t>& live) {
    auto upper = [](std::string s) {
        for (char& c : s) c = char(toupper(static_cast<unsigned char>(c)));
        return s;
    };
    for (int op = 0; op < operations; ++op) {
        const unsigned kind = gen() % 100;
        if (live.empty() || kind < 55) {
            const std::string code = RandomCode(gen);
            t.Table.InitRecord(t.Buffer.data());
            t.Fill(gen, code);
            if (gen() % 3) t.SetBlob("Notes", gen);
            if (gen() % 4 == 0) t.SetBlob("Body", gen);
            const int result = EngineErrorOf([&] { t.Table.InsertRecord(t.Buffer.data(), true); });
            t.CloseBlobs();
            ASSERT_EQ(result, live.count(upper(code)) ? ecDuplicateKey : 0);
            if (result == 0) live[upper(code)] = t.Table.CurrentRecord()->RecordID();
        } else if (kind < 80) {
            auto it = std::next(live.begin(), long(gen() % live.size()));
            ASSERT_TRUE(t.FindId(it->second));
            ASSERT_EQ(t.Table.GetCurrentRecord(t.Buffer.data(), true), 0);
            const std::string code = gen() % 4 == 0 ? RandomCode(gen) : it->first;
            t.Fill(gen, code);
            if (gen() % 2) t.SetBlob("Notes", gen);
            if (gen() % 3 == 0) t.SetBlob("Body", gen);
            const int result = EngineErrorOf([&] { t.Table.ModifyRecord(t.Buffer.data(), true, true); });
            t.CloseBlobs();
            if (result == ecDuplicateKey) {
                ASSERT_TRUE(upper(code) != it->first && live.count(upper(code)));
                t.Table.UnlockCurrentRecord();
                continue;
            }
            ASSERT_EQ(result, 0);
            const int32_t id = it->second;
            live.erase(it);
            live[upper(code)] = id;
        } else {
            auto it = std::next(live.begin(), long(gen() % live.size()));
            ASSERT_TRUE(t.FindId(it->second));
            t.Table.DeleteRecord(true);
            live.erase(it);
        }
    }
}

TBytes Contents(const std::string& path) { return ReadFileBytes(path); }

// ------------------------------------------------------------ clean tables

// Table variants: keys without a locale, with a locale's collation, and the
// whole table scrambled.
struct TVariant {
    const char* Name;
    uint16_t LanguageID;
    const char* Password;
};

class TableVerifierCleanTest : public ::testing::TestWithParam<TVariant> {};

TEST_P(TableVerifierCleanTest, RandomMixOfChangesVerifiesClean) {
    EngineStartup();
    RemoveAllPasswords();
    TTestDir dir;
    const std::string path = dir / "log.dat";
    TTableDef def = VerifierTableDef();
    def.LanguageID = GetParam().LanguageID;
    def.Password = GetParam().Password;
    if (!def.Password.empty()) AddPassword(def.Password);
    CreateTable(path, def);
    auto t = std::make_unique<TTable>(path);
    std::map<std::string, int32_t> live;
    std::mt19937 gen(4711 + GetParam().LanguageID);
    for (int batch = 0; batch < 6; ++batch) {
        RandomMix(*t, gen, 150, live);
        if (HasFatalFailure()) return;
        // Deletions last, so that deleted slots are still there to check
        // (insertions reuse them).
        for (int i = 0; i < 6 && !live.empty(); ++i) {
            auto it = std::next(live.begin(), long(gen() % live.size()));
            ASSERT_TRUE(t->FindId(it->second));
            t->Table.DeleteRecord(true);
            live.erase(it);
        }
        if (batch % 3 == 2) {  // everything from disk again
            t->Table.CloseTable();
            t->Table.OpenTable();
        }
        TTableReport open = VerifyTable(t->Table);
        ASSERT_TRUE(open.Ok()) << "batch " << batch << ":\n" << open.Text();
        EXPECT_EQ(open.ActiveRecords, int64_t(live.size()));
        EXPECT_EQ(open.ActiveRecords + open.DeletedSlots, int64_t(t->Table.NextRecordNo() - 1));
        TTableReport fromPath = VerifyTable(path);
        ASSERT_TRUE(fromPath.Ok()) << "batch " << batch << ":\n" << fromPath.Text();
        EXPECT_EQ(fromPath.ActiveRecords, open.ActiveRecords);
        EXPECT_EQ(fromPath.BlobChains, open.BlobChains);
        EXPECT_GT(fromPath.BlobChains, 0);
        EXPECT_GT(fromPath.DeletedSlots, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, TableVerifierCleanTest,
                         ::testing::Values(TVariant{"Plain", 0, ""}, TVariant{"German", 0x0407, ""},
                                           TVariant{"Encrypted", 0, "Open Sesame"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A table without primary index never reuses slots: deleted slots stay off
// the free chain (only the last one is its head) and slot 31 stays empty.
TEST(TableVerifierTest, TableWithoutPrimaryIndexVerifiesClean) {
    EngineStartup();
    TTestDir dir;
    const std::string path = dir / "plain.dat";
    TTableDef def = VerifierTableDef();
    def.Indexes.erase(def.Indexes.begin());
    CreateTable(path, def);
    TTable t(path);
    std::mt19937 gen(5);
    for (int i = 0; i < 40; ++i) {
        t.Table.InitRecord(t.Buffer.data());
        t.Fill(gen, "C" + std::to_string(i));
        if (i % 2) t.SetBlob("Notes", gen);
        t.Table.InsertRecord(t.Buffer.data(), true);
        t.CloseBlobs();
    }
    t.Table.SelectIndexByName("");
    t.Table.FirstRecord();
    int deleted = 0;
    for (int i = 0; i < 40 && t.Table.NextRecord(t.Buffer.data()) == 0; ++i) {
        if (i % 5 != 1) continue;
        t.Table.DeleteRecord(false);
        ++deleted;
    }
    ASSERT_GE(deleted, 2);
    TTableReport report = VerifyTable(path);
    EXPECT_TRUE(report.Ok()) << report.Text();
    EXPECT_EQ(report.DeletedSlots, deleted);
    EXPECT_EQ(report.ActiveRecords, 40 - deleted);
    EXPECT_NE(t.Table.FirstFreeRecord(), 0);
}

TEST(TableVerifierTest, UsageErrorsRaiseAndAClosedTableIsOneProblem) {
    EngineStartup();
    TTestDir dir;
    EXPECT_EQ(EngineErrorOf([&] { VerifyTable(dir / "none.dat"); }), ecInvalidPath);
    TDataFile closed;
    TTableReport report = VerifyTable(closed);
    ASSERT_EQ(report.Problems.size(), 1u);
    EXPECT_NE(report.Text().find("not open"), std::string::npos);
    // ".dat" may be omitted.
    CreateTable(dir / "log.dat", VerifierTableDef());
    EXPECT_TRUE(VerifyTable(dir / "log").Ok()) << VerifyTable(dir / "log").Text();
}

// ------------------------------------------------------------ planted damage

// A fresh table of kRecords records with BLOBs, every kDeleteEvery-th deleted,
// closed; its pristine bytes, and the layout the planting needs.
class TableVerifierDamageTest : public ::testing::Test {
protected:
    static constexpr int kRecords = 260;
    static constexpr int kDeleteEvery = 9;

    void SetUp() override {
        EngineStartup();
        RemoveAllPasswords();
        m_Path = m_Dir / "log.dat";
        CreateTable(m_Path, VerifierTableDef());
        {
            TTable t(m_Path);
            std::mt19937 gen(99);
            for (int i = 1; i <= kRecords; ++i) {
                t.Table.InitRecord(t.Buffer.data());
                t.Fill(gen, "C" + std::to_string(i));
                // Record 1's notes take several blocks.
                const size_t notes = i == 1 ? 1500 : 100 + size_t(i * 37) % 1200;
                PutBlobText(t.Table, t.Buffer.data(), "Notes", std::string(notes, 'n'));
                if (i % 3 == 0) PutBlobText(t.Table, t.Buffer.data(), "Body", std::string(700, 'b'));
                t.Table.InsertRecord(t.Buffer.data(), true);
                t.CloseBlobs();
            }
            for (int i = kDeleteEvery; i <= kRecords; i += kDeleteEvery) {
                ASSERT_TRUE(t.FindId(i));
                t.Table.DeleteRecord(true);
            }
            m_RecordSize = t.Table.RecordSize();
            m_DataOffset = t.Table.DataOffset();
            m_NotesAt = t.Table.FieldDescriptorByName("Notes").Offset();
            m_CodeAt = t.Table.FieldDescriptorByName("Code").Offset();
            m_BlockSize = t.Table.BlobBlockSize();
            t.Table.CloseTable();
        }
        m_Paths = {m_Path, IndexPathOf(m_Path), BlobPathOf(m_Path)};
        for (const auto& p : m_Paths) m_Pristine.push_back(Contents(p));
        TTableReport clean = VerifyTable(m_Path);
        ASSERT_TRUE(clean.Ok()) << clean.Text();
        ASSERT_EQ(clean.ActiveRecords, kRecords - kRecords / kDeleteEvery);
    }

    TBytes& Data() { return m_Work[0]; }
    TBytes& Index() { return m_Work[1]; }
    TBytes& Blob() { return m_Work[2]; }

    size_t RecordAt(int32_t slot) const { return size_t(m_DataOffset + int64_t(slot - 1) * m_RecordSize); }
    int32_t NotesOf(int32_t slot) { return GetI32(&Data()[RecordAt(slot) + m_NotesAt + 1]); }
    size_t SlotAt(int slot) const { return size_t(ih::Descriptors) + size_t(slot) * kIndexDescriptorSize; }
    int32_t Root(int slot) { return GetI32(&Index()[SlotAt(slot) + id::Root]); }
    int KeySize(int slot) { return GetU16(&Index()[SlotAt(slot) + id::KeySize]); }
    // Byte offset of entry i of an uncompressed leaf, and of internal entry i.
    size_t LeafEntry(int32_t page, int slot, int i) {
        return size_t(page) + kPageHeaderSize + size_t(i) * size_t(KeySize(slot) + 4);
    }
    size_t InternalEntry(int32_t page, int slot, int i) {
        return size_t(page) + kPageHeaderSize + size_t(i) * size_t(KeySize(slot) + 8);
    }
    // Slots of the free chain in chain order, from the data header.
    std::vector<int32_t> FreeChain() {
        std::vector<int32_t> chain;
        for (int32_t s = GetI32(&Data()[dh::FirstFreeRecord]); s != 0 && chain.size() < 1000;
             s = GetI32(&Data()[RecordAt(s) + 1]))
            chain.push_back(s);
        return chain;
    }

    struct TCase {
        const char* Name;
        std::function<void()> Plant;  // edits Data(), Index(), Blob()
        std::vector<const char*> Expected;  // substrings of one line each
    };

    void Run(const std::vector<TCase>& cases) {
        for (const TCase& c : cases) {
            SCOPED_TRACE(c.Name);
            m_Work = m_Pristine;
            c.Plant();
            for (size_t f = 0; f < m_Paths.size(); ++f) WriteFileBytes(m_Paths[f], m_Work[f]);
            TTableReport report;
            ASSERT_EQ(EngineErrorOf([&] { report = VerifyTable(m_Path); }), 0);
            EXPECT_FALSE(report.Ok());
            // VERIFIER_SHOW=1 prints every report, to read the lines.
            if (std::getenv("VERIFIER_SHOW")) std::printf("== %s\n%s\n", c.Name, report.Text().c_str());
            for (const char* expected : c.Expected)
                EXPECT_NE(report.Text().find(expected), std::string::npos)
                    << "no line holds \"" << expected << "\" in:\n" << report.Text();
            for (size_t f = 0; f < m_Paths.size(); ++f) EXPECT_EQ(Contents(m_Paths[f]), m_Work[f]) << m_Paths[f];
        }
        for (size_t f = 0; f < m_Paths.size(); ++f) WriteFileBytes(m_Paths[f], m_Pristine[f]);
    }

    TTestDir m_Dir;
    std::string m_Path;
    std::vector<std::string> m_Paths;
    std::vector<TBytes> m_Pristine, m_Work;
    int m_RecordSize = 0, m_BlockSize = 0;
    int64_t m_DataOffset = 0;
    size_t m_NotesAt = 0, m_CodeAt = 0;
};

TEST_F(TableVerifierDamageTest, IndexDamageIsNamed) {
    m_Work = m_Pristine;
    // The title index has internal pages; the primary index is one leaf.
    ASSERT_EQ(Index()[size_t(Root(kTitleSlot))], pkRoot);
    ASSERT_EQ(Index()[size_t(Root(kPrimarySlot))], pkRootLeaf);
    ASSERT_GE(GetI16(&Index()[size_t(Root(kTitleSlot)) + 1]), 2);

    auto firstLeaf = [&] { return GetI32(&Index()[InternalEntry(Root(kTitleSlot), kTitleSlot, 0) + size_t(KeySize(kTitleSlot))]); };
    auto primaryRecord = [&](int i) { return LeafEntry(Root(kPrimarySlot), kPrimarySlot, i) + size_t(KeySize(kPrimarySlot)); };
    Run({
        {"broken sibling link",
         [&] { PutI32(&Index()[size_t(firstLeaf()) + 7], 0); },
         {"index slot 2 (ByTitle): page ", "next link 0, expected"}},
        {"wrong subtree count",
         [&] {
             const size_t count = InternalEntry(Root(kTitleSlot), kTitleSlot, 0) + size_t(KeySize(kTitleSlot)) + 4;
             PutI32(&Index()[count], GetI32(&Index()[count]) + 1);
         },
         {"index slot 2 (ByTitle): page ", "its subtree holds"}},
        {"record missing from an index (its entry names another record)",
         [&] { PutI32(&Index()[primaryRecord(0)], 2); },
         {"index slot 0 (Primary): record 1 (ID 1) is missing",
          "index slot 0 (Primary): an entry for record 2 (ID 2) holds a key that is not the record's key"}},
        {"key present twice (an entry copied over its neighbour)",
         [&] {
             const size_t width = size_t(KeySize(kPrimarySlot)) + 4;
             std::copy_n(&Index()[LeafEntry(Root(kPrimarySlot), kPrimarySlot, 4)], width,
                         &Index()[LeafEntry(Root(kPrimarySlot), kPrimarySlot, 5)]);
         },
         {"index slot 0 (Primary): the key of record 5 (ID 5) is present 2 times", "keys out of order"}},
        {"entry pointing at a deleted slot",
         [&] { PutI32(&Index()[primaryRecord(0)], kDeleteEvery); },
         {"index slot 0 (Primary): an entry points at deleted slot 9"}},
        {"entry pointing outside the data file",
         [&] { PutI32(&Index()[primaryRecord(0)], kRecords + 5); },
         {"index slot 0 (Primary): an entry points at slot 265, not a slot of the data file"}},
        {"wrong record count in the index header",
         [&] { PutI32(&Index()[ih::RecordCount], GetI32(&Index()[ih::RecordCount]) + 1); },
         {"index file: the header counts 233 active records, the data file holds 232"}},
        {"deleted-records index disagreeing with a status",
         [&] {
             // The first entry of slot 31 is an active record's (status 0).
             Index()[LeafEntry(Root(kDeletedIndexSlot), kDeletedIndexSlot, 0)] = 1;
         },
         {"index slot 31 (Sys Deleted): an entry for record 1 (ID 1) holds a key that is not the record's key"}},
        {"a page lost to every index",
         [&] {
             Index().resize(Index().size() + kIndexBlockSize, 0);
             PutI32(&Index()[ih::EndOffset], int32_t(Index().size()));
         },
         {"index file: 1 page belongs to no index and no free list (the first is page "}},
        {"unreadable page",
         [&] { PutI16(&Index()[size_t(firstLeaf()) + 1], int16_t(kPageSpace)); },
         {"index slot 2 (ByTitle): page ", "cannot be read: Veltra Engine Error # 8965",
          "have no entry (the first is record "}},
    });
}

TEST_F(TableVerifierDamageTest, DataFileDamageIsNamed) {
    m_Work = m_Pristine;
    const std::vector<int32_t> chain = FreeChain();
    ASSERT_EQ(chain.size(), size_t(kRecords / kDeleteEvery));
    Run({
        {"cycle in the free chain",
         [&] { PutI32(&Data()[RecordAt(chain.back()) + 1], chain.front()); },
         {"free chain: slot 252 is reached twice"}},
        {"live slot on the free chain",
         [&] { PutI32(&Data()[RecordAt(chain.back()) + 1], 3); },
         {"free chain: record 3 (ID 3) is active but on the chain (linked from slot 9)"}},
        {"free chain link outside the file",
         [&] { PutI32(&Data()[RecordAt(chain.back()) + 1], 5000); },
         {"free chain: link 5000 from slot 9 is not a slot of the data file (1..260)"}},
        {"deleted slot off the free chain",
         [&] { PutI32(&Data()[RecordAt(chain[chain.size() - 2]) + 1], 0); },
         {"free chain: deleted slot 9 is not on the chain"}},
        {"record key changed behind the indexes",
         [&] { Data()[RecordAt(4) + m_CodeAt + 1] ^= 0x01; },
         {"index slot 1 (ByCode): record 4 (ID 4) is missing",
          "index slot 1 (ByCode): an entry for record 4 (ID 4) holds a key that is not the record's key"}},
        {"deleted slot made active",
         [&] { Data()[RecordAt(18)] = 0; },
         {"index slot 1 (ByCode): record 18 (ID 18) is missing",
          "index slot 31 (Sys Deleted): an entry for record 18 (ID 18) holds a key that is not the record's key",
          "free chain: record 18 (ID 18) is active but on the chain"}},
        {"status byte out of range",
         [&] { Data()[RecordAt(7)] = 5; },
         {"data file: slot 7: status byte 5, expected 0 (active) or 1 (deleted)"}},
        {"duplicate record ID",
         [&] { PutI32(&Data()[RecordAt(11) + 5], 10); },
         {"data file: record ID 10 is used by active records 10 and 11"}},
        {"truncated data file",
         [&] { Data().pop_back(); },
         {"verify: the table cannot be opened: Veltra Engine Error # 8961",
          "the header expects", "not a whole number of slots"}},
        {"one slot missing from the data file",
         [&] { Data().resize(Data().size() - size_t(m_RecordSize)); },
         {"8961", "(DataOffset"}},
    });
}

TEST_F(TableVerifierDamageTest, BlobDamageIsNamed) {
    m_Work = m_Pristine;
    ASSERT_NE(GetI32(&Blob()[bh::FirstFreeBlock]), 0);  // deletions freed chains
    const int32_t notes1 = NotesOf(1), notes2 = NotesOf(2);
    ASSERT_NE(notes1, 0);
    ASSERT_NE(notes2, 0);
    Run({
        {"a BLOB block in two chains",
         [&] { PutI32(&Data()[RecordAt(2) + m_NotesAt + 1], notes1); },
         {": in the chains of record 1 (ID 1) field 6 (Notes) and record 2 (ID 2) field 6 (Notes)",
          "in no chain and not on the free list"}},
        {"a BLOB block in a chain and on the free list",
         [&] { PutI32(&Blob()[bh::FirstFreeBlock], notes2); },
         {": in the chain of record 2 (ID 2) field 6 (Notes) and on the free list"}},
        {"a cycle in a BLOB chain",
         [&] {
             // Record 1's Notes has several blocks; its second links back to the first.
             const int32_t second = GetI32(&Blob()[size_t(notes1) + 4]);
             ASSERT_NE(second, 0);
             PutI32(&Blob()[size_t(second) + 4], notes1);
         },
         {"record 1 (ID 1) field 6 (Notes): the BLOB chain returns to block"}},
        {"declared length disagreeing with the chain",
         [&] { PutI32(&Blob()[size_t(notes2) + 14], GetI32(&Blob()[size_t(notes2) + 14]) + m_BlockSize); },
         {"record 2 (ID 2) field 6 (Notes): BLOB declared"}},
        {"wrong owner",
         [&] { PutI32(&Blob()[size_t(notes2) + 10], 77); },
         {"(chain of record 2 (ID 2) field 6 (Notes)): names record 77 as owner, expected 2"}},
        {"reference that is not a block",
         [&] { PutI32(&Data()[RecordAt(2) + m_NotesAt + 1], notes2 + 3); },
         {"record 2 (ID 2) field 6 (Notes): BLOB reference", "is not a block of the BLOB file"}},
        {"free list cycle",
         [&] {
             const int32_t head = GetI32(&Blob()[bh::FirstFreeBlock]);
             int32_t last = head;
             for (int i = 0; i < 10000 && GetI32(&Blob()[size_t(last) + 4]) != 0; ++i)
                 last = GetI32(&Blob()[size_t(last) + 4]);
             PutI32(&Blob()[size_t(last) + 4], head);
         },
         {"BLOB file: free list: block", "is reached twice"}},
        {"BLOB file longer than its end offset",
         [&] { Blob().resize(Blob().size() + size_t(m_BlockSize), 0); },
         {"the header's end offset is"}},
    });
}

TEST_F(TableVerifierDamageTest, ProblemListIsCapped) {
    m_Work = m_Pristine;
    for (int32_t s = 1; s <= kRecords; ++s) Data()[RecordAt(s) + m_CodeAt + 1] ^= 0x01;
    WriteFileBytes(m_Paths[0], m_Work[0]);
    TTableReport all = VerifyTable(m_Path);
    ASSERT_GT(all.Problems.size(), 10u);
    TTableReport capped = VerifyTable(m_Path, {.MaxProblems = 4});
    ASSERT_EQ(capped.Problems.size(), 5u);
    EXPECT_EQ(capped.Problems.back(),
              "verify: " + std::to_string(all.Problems.size() - 4) + " more problems not listed");
    EXPECT_TRUE(std::equal(capped.Problems.begin(), capped.Problems.end() - 1, all.Problems.begin()));
    WriteFileBytes(m_Paths[0], m_Pristine[0]);
}

// Random byte damage anywhere: the verify always returns, never changes a
// file, and (under the sanitizers) never reads outside its buffers.
TEST_F(TableVerifierDamageTest, RandomByteDamageNeverCrashes) {
    std::mt19937 gen(123);
    int found = 0;
    const int kRounds = 60;
    for (int round = 0; round < kRounds; ++round) {
        m_Work = m_Pristine;
        const size_t f = gen() % 3;
        TBytes& bytes = m_Work[f];
        for (int i = 0, n = 1 + int(gen() % 8); i < n; ++i) bytes[gen() % bytes.size()] = uint8_t(gen());
        for (size_t g = 0; g < m_Paths.size(); ++g) WriteFileBytes(m_Paths[g], m_Work[g]);
        TTableReport report;
        ASSERT_EQ(EngineErrorOf([&] { report = VerifyTable(m_Path, {.MaxProblems = 50}); }), 0) << "round " << round;
        if (!report.Ok()) ++found;
        for (size_t g = 0; g < m_Paths.size(); ++g) ASSERT_EQ(Contents(m_Paths[g]), m_Work[g]) << "round " << round;
    }
    // Most random damage lands in bytes the check reads.
    EXPECT_GT(found, kRounds / 3);
    for (size_t f = 0; f < m_Paths.size(); ++f) WriteFileBytes(m_Paths[f], m_Pristine[f]);
}

}  // namespace
