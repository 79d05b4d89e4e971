// Table repair: each kind of damage the verifier names, planted in the bytes
// of a fresh table, is repaired so that the table verifies clean; every
// readable record keeps its field values and BLOBs (a broken BLOB chain
// empties that field only); the backup holds the damaged files byte for
// byte; a clean table keeps its records; a table that cannot be repaired is
// left as it was.
#include "engine/table_repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
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

constexpr int kPrimarySlot = 0, kTitleSlot = 2;

// As the verifier's tests: an auto-increment ID, a unique case-insensitive
// code, title, owner, priority and two BLOB fields, five indexes.
TTableDef RepairTableDef(const std::string& password = {}) {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc},
                  {"Code", ftString, 0, 8, 0, true},
                  {"Title", ftString, 0, 30},
                  {"Owner", ftString, 0, 12},
                  {"Priority", ftSmallInt},
                  {"Notes", ftBlob, 22},
                  {"Body", ftBlob, 22}};
    def.Indexes = {{.Primary = true, .Fields = {"ID"}},
                   {.Name = "ByCode",
                    .Fields = {"Code"},
                    .Unique = true,
                    .CaseInsensitive = true,
                    .Compression = TCompression::Leading},
                   {.Name = "ByTitle", .Fields = {"Title"}},
                   {.Name = "ByOwner",
                    .Fields = {"Owner", "Priority"},
                    .Descending = true,
                    .Compression = TCompression::Both},
                   {.Name = "ByPriority", .Fields = {"Priority"}, .FieldDescending = {true}}};
    def.Password = password;
    return def;
}

// What a record holds: its field bytes (BLOB references left out) and the
// contents of its two BLOBs.
struct TRow {
    TBytes Fields;
    std::string Notes, Body;
    bool operator==(const TRow&) const = default;
};
using TModel = std::map<int32_t, TRow>;  // by record ID

// Field bytes of a record image without the 5 bytes of each BLOB field.
TBytes FieldBytes(const uint8_t* image, int recordSize, std::initializer_list<size_t> blobOffsets) {
    TBytes bytes(image + kRecordHeaderSize, image + recordSize);
    for (size_t at : blobOffsets)
        std::fill_n(bytes.begin() + long(at - kRecordHeaderSize), 5, uint8_t(0));
    return bytes;
}

// Every active record of the table, read through the engine.
TModel Snapshot(const std::string& path) {
    TDataFile t;
    t.SetFileName(path);
    t.SetReadOnly(true);
    t.OpenTable();
    TModel model;
    for (int32_t r = 1; r < t.NextRecordNo(); ++r) {
        TRecord* rec = t.FetchRecord(r).Record;
        TBytes image = rec->Buffer;
        rec->Unpin();
        if (image[0] != 0) continue;
        const size_t notes = t.FieldDescriptorByName("Notes").Offset(),
                     body = t.FieldDescriptorByName("Body").Offset();
        TRow row{FieldBytes(image.data(), t.RecordSize(), {notes, body}),
                 BlobText(t, image.data(), "Notes"), BlobText(t, image.data(), "Body")};
        model[GetI32(&image[5])] = row;
    }
    t.CloseTable();
    return model;
}

void Fill(TDataFile& t, uint8_t* buffer, int i) {
    auto text = [&](const char* field, const std::string& s) {
        t.SetFieldValue(t.FieldNumber(field), buffer, reinterpret_cast<const uint8_t*>(s.data()),
                        s.size());
    };
    static const char* kTitles[] = {"printer", "Printer jam",   "login", "LOGIN slow",
                                    "",        "crash on start"};
    static const char* kOwners[] = {"ann", "Bob", "", "carol"};
    text("Code", "C" + std::to_string(i));
    text("Title", kTitles[i % 6]);
    text("Owner", kOwners[i % 4]);
    uint8_t p[2];
    PutI16(p, int16_t(i % 5 - 2));
    t.SetFieldValue(t.FieldNumber("Priority"), buffer, p, 2);
}

// Inserts `records` records with BLOBs (record 1's notes over several blocks,
// a body in every third) and deletes every `deleteEvery`-th.
void FillTable(const std::string& path, int records, int deleteEvery) {
    TDataFile t;
    t.SetFileName(path);
    t.OpenTable();
    TBytes buffer(size_t(t.RecordSize()), 0);
    for (int i = 1; i <= records; ++i) {
        t.InitRecord(buffer.data());
        Fill(t, buffer.data(), i);
        PutBlobText(t, buffer.data(), "Notes",
                    std::string(i == 1 ? 1500 : 100 + size_t(i * 37) % 1200, 'n'));
        if (i % 3 == 0) PutBlobText(t, buffer.data(), "Body", std::string(700, char('a' + i % 26)));
        t.InsertRecord(buffer.data(), true);
        for (const char* f : {"Notes", "Body"})
            if (t.IsBlobFieldOpen(t.FieldNumber(f), buffer.data()))
                t.CloseBlobField(t.FieldNumber(f), buffer.data());
    }
    std::vector<uint8_t> key(size_t(t.IndexFile().Layout(0).KeySize), 0);
    for (int i = deleteEvery; i <= records; i += deleteEvery) {
        t.SelectIndexByName("");
        key[0] = 1;
        PutKeyRecordId(&key[1], i);
        ASSERT_TRUE(t.FindKey(nullptr, key.data(), 1, buffer.data()));
        t.DeleteRecord(true);
    }
    t.CloseTable();
}

bool Holds(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return text;
}

class TableRepairTest : public ::testing::Test {
  protected:
    static constexpr int kRecords = 260;
    static constexpr int kDeleteEvery = 9;

    void SetUp() override {
        EngineStartup();
        RemoveAllPasswords();
        m_Path = m_Dir / "log.dat";
        CreateTable(m_Path, RepairTableDef());
        FillTable(m_Path, kRecords, kDeleteEvery);
        {
            TDataFile t;
            t.SetFileName(m_Path);
            t.OpenTable();
            m_RecordSize = t.RecordSize();
            m_DataOffset = t.DataOffset();
            m_NotesAt = t.FieldDescriptorByName("Notes").Offset();
            m_BodyAt = t.FieldDescriptorByName("Body").Offset();
            m_CodeAt = t.FieldDescriptorByName("Code").Offset();
            m_BlockSize = t.BlobBlockSize();
            t.CloseTable();
        }
        m_Paths = {m_Path, IndexPathOf(m_Path), BlobPathOf(m_Path)};
        for (const auto& p : m_Paths) m_Pristine.push_back(ReadFileBytes(p));
        ASSERT_TRUE(VerifyTable(m_Path).Ok());
        m_Model = Snapshot(m_Path);
        ASSERT_EQ(m_Model.size(), size_t(kRecords - kRecords / kDeleteEvery));
    }

    TBytes& Data() { return m_Work[0]; }
    TBytes& Index() { return m_Work[1]; }
    TBytes& Blob() { return m_Work[2]; }

    size_t RecordAt(int32_t slot) const {
        return size_t(m_DataOffset + int64_t(slot - 1) * m_RecordSize);
    }
    int32_t NotesOf(int32_t slot) { return GetI32(&Data()[RecordAt(slot) + m_NotesAt + 1]); }
    size_t SlotAt(int slot) const {
        return size_t(ih::Descriptors) + size_t(slot) * kIndexDescriptorSize;
    }
    int32_t Root(int slot) { return GetI32(&Index()[SlotAt(slot) + id::Root]); }
    int KeySize(int slot) { return GetU16(&Index()[SlotAt(slot) + id::KeySize]); }
    size_t LeafEntry(int32_t page, int slot, int i) {
        return size_t(page) + kPageHeaderSize + size_t(i) * size_t(KeySize(slot) + 4);
    }
    size_t InternalEntry(int32_t page, int slot, int i) {
        return size_t(page) + kPageHeaderSize + size_t(i) * size_t(KeySize(slot) + 8);
    }
    std::vector<int32_t> FreeChain() {
        std::vector<int32_t> chain;
        for (int32_t s = GetI32(&Data()[dh::FirstFreeRecord]); s != 0 && chain.size() < 1000;
             s = GetI32(&Data()[RecordAt(s) + 1]))
            chain.push_back(s);
        return chain;
    }
    // The last byte any block of a BLOB chain in the pristine file occupies.
    int64_t ChainEnd(int32_t first) const {
        const TBytes& blob = m_Pristine[2];
        int64_t end = 0;
        for (int32_t o = first; o != 0; o = GetI32(&blob[size_t(o) + 4]))
            end = std::max<int64_t>(end, o + m_BlockSize);
        return end;
    }
    // A record as the damaged data file holds it, with the given BLOBs.
    TRow RowInWork(int32_t slot) {
        return TRow{
            FieldBytes(&Data()[RecordAt(slot)], m_RecordSize, {m_NotesAt, m_BodyAt}), {}, {}};
    }

    struct TCase {
        const char* Name;
        std::function<void()> Plant;          // edits Data(), Index(), Blob()
        std::vector<const char*> Expected;    // substrings of repair lines
        std::function<void(TModel&)> Expect;  // the records expected afterwards, from m_Model
    };

    void Run(const std::vector<TCase>& cases) {
        for (const TCase& c : cases) {
            SCOPED_TRACE(c.Name);
            m_Work = m_Pristine;
            c.Plant();
            TModel expected = m_Model;
            if (c.Expect) c.Expect(expected);
            for (size_t f = 0; f < m_Paths.size(); ++f) WriteFileBytes(m_Paths[f], m_Work[f]);
            ASSERT_FALSE(VerifyTable(m_Path).Ok()) << "the planted damage is not seen";

            TRepairReport report;
            ASSERT_EQ(EngineErrorOf([&] { report = RepairTable(m_Path); }), 0);
            if (std::getenv("REPAIR_SHOW"))
                std::printf("== %s\n%s", c.Name, Joined(report.Repairs).c_str());
            EXPECT_TRUE(report.After.Ok()) << report.After.Text();
            const TTableReport again = VerifyTable(m_Path);
            EXPECT_TRUE(again.Ok()) << again.Text();
            for (const char* part : c.Expected)
                EXPECT_TRUE(Holds(report.Repairs, part)) << part << " in\n"
                                                         << Joined(report.Repairs);

            // The backup holds the damaged files as they were.
            ASSERT_EQ(report.Backups.size(), 3u);
            for (size_t f = 0; f < m_Paths.size(); ++f) {
                EXPECT_EQ(std::filesystem::path(report.Backups[f]).parent_path(),
                          report.BackupFolder);
                EXPECT_EQ(ReadFileBytes(report.Backups[f]), m_Work[f]) << report.Backups[f];
            }
            std::filesystem::remove_all(report.BackupFolder);

            const TModel after = Snapshot(m_Path);
            EXPECT_EQ(after.size(), expected.size());
            EXPECT_EQ(report.ActiveRecords, int64_t(expected.size()));
            for (const auto& [id, row] : expected) {
                auto it = after.find(id);
                if (it == after.end()) {
                    ADD_FAILURE() << "record ID " << id << " lost";
                    continue;
                }
                EXPECT_TRUE(it->second.Fields == row.Fields) << "fields of ID " << id;
                EXPECT_EQ(it->second.Notes.size(), row.Notes.size()) << "Notes of ID " << id;
                EXPECT_TRUE(it->second.Notes == row.Notes) << "Notes of ID " << id;
                EXPECT_TRUE(it->second.Body == row.Body) << "Body of ID " << id;
            }
        }
        for (size_t f = 0; f < m_Paths.size(); ++f) WriteFileBytes(m_Paths[f], m_Pristine[f]);
    }

    TTestDir m_Dir;
    std::string m_Path;
    std::vector<std::string> m_Paths;
    std::vector<TBytes> m_Pristine, m_Work;
    TModel m_Model;
    int m_RecordSize = 0, m_BlockSize = 0;
    int64_t m_DataOffset = 0;
    size_t m_NotesAt = 0, m_BodyAt = 0, m_CodeAt = 0;
};

TEST_F(TableRepairTest, IndexDamageIsRebuiltFromTheRecords) {
    m_Work = m_Pristine;
    ASSERT_EQ(Index()[size_t(Root(kTitleSlot))], pkRoot);
    ASSERT_EQ(Index()[size_t(Root(kPrimarySlot))], pkRootLeaf);
    auto firstLeaf = [&] {
        return GetI32(
            &Index()[InternalEntry(Root(kTitleSlot), kTitleSlot, 0) + size_t(KeySize(kTitleSlot))]);
    };
    auto primaryRecord = [&](int i) {
        return LeafEntry(Root(kPrimarySlot), kPrimarySlot, i) + size_t(KeySize(kPrimarySlot));
    };
    Run({
        {"broken sibling link",
         [&] { PutI32(&Index()[size_t(firstLeaf()) + 7], 0); },
         {"indexes built again"},
         {}},
        {"wrong subtree count",
         [&] {
             const size_t count =
                 InternalEntry(Root(kTitleSlot), kTitleSlot, 0) + size_t(KeySize(kTitleSlot)) + 4;
             PutI32(&Index()[count], GetI32(&Index()[count]) + 1);
         },
         {},
         {}},
        {"index missing an entry (its entry names another record)",
         [&] { PutI32(&Index()[primaryRecord(0)], 2); },
         {},
         {}},
        {"key present twice",
         [&] {
             const size_t width = size_t(KeySize(kPrimarySlot)) + 4;
             std::copy_n(&Index()[LeafEntry(Root(kPrimarySlot), kPrimarySlot, 4)], width,
                         &Index()[LeafEntry(Root(kPrimarySlot), kPrimarySlot, 5)]);
         },
         {},
         {}},
        {"entry pointing at a deleted slot",
         [&] { PutI32(&Index()[primaryRecord(0)], kDeleteEvery); },
         {},
         {}},
        {"entry pointing outside the data file",
         [&] { PutI32(&Index()[primaryRecord(0)], kRecords + 5); },
         {},
         {}},
        {"wrong record count in the index header",
         [&] { PutI32(&Index()[ih::RecordCount], GetI32(&Index()[ih::RecordCount]) + 1); },
         {"index file: the header counted 233 active records, the data file holds 232"},
         {}},
        {"deleted-records index disagreeing with a status",
         [&] { Index()[LeafEntry(Root(kDeletedIndexSlot), kDeletedIndexSlot, 0)] = 1; },
         {},
         {}},
        {"a page lost to every index",
         [&] {
             Index().resize(Index().size() + kIndexBlockSize, 0);
             PutI32(&Index()[ih::EndOffset], int32_t(Index().size()));
         },
         {},
         {}},
        {"unreadable page",
         [&] { PutI16(&Index()[size_t(firstLeaf()) + 1], int16_t(kPageSpace)); },
         {},
         {}},
    });
}

TEST_F(TableRepairTest, DataFileDamageKeepsEveryReadableRecord) {
    m_Work = m_Pristine;
    const std::vector<int32_t> chain = FreeChain();
    ASSERT_EQ(chain.size(), size_t(kRecords / kDeleteEvery));
    const int32_t lastId = kRecords;
    Run({
        {"cycle in the free chain",
         [&] { PutI32(&Data()[RecordAt(chain.back()) + 1], chain.front()); },
         {"free chain: slot 252 is reached twice; built again"},
         {}},
        {"live slot on the free chain",
         [&] { PutI32(&Data()[RecordAt(chain.back()) + 1], 3); },
         {"free chain: slot 3 on it is not deleted"},
         {}},
        {"free chain link outside the file",
         [&] { PutI32(&Data()[RecordAt(chain.back()) + 1], 5000); },
         {"free chain: link 5000 is not a slot of the file"},
         {}},
        {"deleted slot off the free chain",
         [&] { PutI32(&Data()[RecordAt(chain[chain.size() - 2]) + 1], 0); },
         {"free chain: 27 slots on it, 28 deleted slots"},
         {}},
        {"record key changed behind the indexes",
         [&] { Data()[RecordAt(4) + m_CodeAt + 1] ^= 0x01; },
         {},
         [&](TModel& m) { m[4].Fields[m_CodeAt + 1 - kRecordHeaderSize] ^= 0x01; }},
        {"deleted slot made active",
         [&] { Data()[RecordAt(18)] = 0; },
         {},
         [&](TModel& m) { m[18] = RowInWork(18); }},
        {"status byte out of range, link its own number",
         [&] { Data()[RecordAt(7)] = 5; },
         {"data file: slot 7: status byte 5; taken as active"},
         {}},
        {"status byte out of range on a deleted slot",
         [&] { Data()[RecordAt(27)] = 7; },
         {"data file: slot 27: status byte 7; taken as deleted"},
         {}},
        {"duplicate record ID",
         [&] { PutI32(&Data()[RecordAt(11) + 5], 10); },
         {"record 11 (ID 10): record ID carried by an earlier record; given ID 261"},
         [&](TModel& m) {
             TRow row = m[11];
             m.erase(11);
             m[lastId + 1] = row;
         }},
        {"last record ID below the records' IDs",
         [&] { PutI32(&Data()[dh::LastRecordID], 5); },
         {"data file: header last record ID 5, records carry IDs up to 260: set to 260"},
         {}},
        {"next record number beyond the file",
         [&] { PutI32(&Data()[dh::NextRecordNo], kRecords + 40); },
         {"data file: header next record number 300, the file holds 260 slots: set to 261"},
         {}},
        {"slots beyond the header's next record number",
         [&] { PutI32(&Data()[dh::NextRecordNo], kRecords - 1); },
         {"header next record number 259, the file holds 260 slots"},
         {}},
        {"truncated data file: the last record loses its last byte",
         [&] { Data().pop_back(); },
         {"record 260 (ID 260): the last slot was written only in part", "kept, with Body null"},
         {}},
        {"truncated data file: the last record cut after its header",
         [&] { Data().resize(RecordAt(kRecords) + m_CodeAt + 3); },
         {"record 260 (ID 260): the last slot was written only in part",
          "kept, with Code, Title, Owner"},
         [&](TModel& m) {
             TRow& row = m[260];
             std::fill(row.Fields.begin() + long(m_CodeAt - kRecordHeaderSize), row.Fields.end(),
                       uint8_t(0));
             row.Notes.clear();
             row.Body.clear();
         }},
        {"truncated data file: the record header incomplete",
         [&] { Data().resize(RecordAt(kRecords) + 4); },
         {"the last slot 260 was written only in part (4 of",
          "unreadable (its record header is incomplete): dropped"},
         [&](TModel& m) { m.erase(260); }},
        {"one slot missing from the data file",
         [&] { Data().resize(Data().size() - size_t(m_RecordSize)); },
         {"header next record number 261, the file holds 259 slots", "put on the free list"},
         [&](TModel& m) { m.erase(260); }},
        {"header record size and BLOB field count wrong",
         [&] {
             PutU16(&Data()[dh::RecordSize], uint16_t(m_RecordSize + 3));
             PutI16(&Data()[dh::BlobFieldCount], 1);
         },
         {"header record size", "header BLOB field count 1, the descriptors hold 2"},
         {}},
    });
}

TEST_F(TableRepairTest, BrokenBlobChainsEmptyOnlyTheirField) {
    m_Work = m_Pristine;
    ASSERT_NE(GetI32(&Blob()[bh::FirstFreeBlock]), 0);
    const int32_t notes1 = NotesOf(1), notes2 = NotesOf(2);
    auto noNotes = [](int32_t id) { return [id](TModel& m) { m[id].Notes.clear(); }; };
    // Cut the BLOB file in the middle: every chain reaching past the cut is broken.
    const int64_t cut =
        512 + (int64_t(m_Pristine[2].size()) - 512) / m_BlockSize / 2 * m_BlockSize + 100;
    auto pastCut = [&](TModel& m) {
        for (int32_t slot = 1; slot <= kRecords; ++slot) {
            if (!m.count(slot)) continue;  // slot = ID in this table
            if (ChainEnd(GetI32(&Data()[RecordAt(slot) + m_NotesAt + 1])) > cut - 100)
                m[slot].Notes.clear();
            if (ChainEnd(GetI32(&Data()[RecordAt(slot) + m_BodyAt + 1])) > cut - 100)
                m[slot].Body.clear();
        }
    };
    Run({
        {"a BLOB block in two chains",
         [&] { PutI32(&Data()[RecordAt(2) + m_NotesAt + 1], notes1); },
         {"record 2 (ID 2) field 6 (Notes): BLOB block",
          "is in the chain of record 1 as well; the field is emptied", "put on the free list"},
         noNotes(2)},
        {"a BLOB block in a chain and on the free list",
         [&] { PutI32(&Blob()[bh::FirstFreeBlock], notes2); },
         {"BLOB file: 1 block of sound chains reached from the free list; taken off it"},
         {}},
        {"a cycle in a BLOB chain",
         [&] {
             const int32_t second = GetI32(&Blob()[size_t(notes1) + 4]);
             PutI32(&Blob()[size_t(second) + 4], notes1);
         },
         {"record 1 (ID 1) field 6 (Notes): BLOB chain returns to block"},
         noNotes(1)},
        {"declared length disagreeing with the chain",
         [&] {
             PutI32(&Blob()[size_t(notes2) + 14],
                    GetI32(&Blob()[size_t(notes2) + 14]) + m_BlockSize);
         },
         {"record 2 (ID 2) field 6 (Notes): BLOB declares"},
         noNotes(2)},
        {"wrong owner",
         [&] { PutI32(&Blob()[size_t(notes2) + 10], 77); },
         {"names record 77 as owner; the field is emptied"},
         noNotes(2)},
        {"reference that is not a block",
         [&] { PutI32(&Data()[RecordAt(2) + m_NotesAt + 1], notes2 + 3); },
         {"record 2 (ID 2) field 6 (Notes): BLOB reference"},
         noNotes(2)},
        {"reference past the end of the BLOB file",
         [&] {
             PutI32(&Data()[RecordAt(2) + m_NotesAt + 1],
                    int32_t(Blob().size()) + 10 * m_BlockSize);
         },
         {"record 2 (ID 2) field 6 (Notes): BLOB reference"},
         noNotes(2)},
        {"free list cycle",
         [&] {
             const int32_t head = GetI32(&Blob()[bh::FirstFreeBlock]);
             int32_t last = head;
             for (int i = 0; i < 10000 && GetI32(&Blob()[size_t(last) + 4]) != 0; ++i)
                 last = GetI32(&Blob()[size_t(last) + 4]);
             PutI32(&Blob()[size_t(last) + 4], head);
         },
         {"BLOB file: free list: block", "is reached twice; built again"},
         {}},
        {"leaked blocks (the free list lost)",
         [&] { PutI32(&Blob()[bh::FirstFreeBlock], 0); },
         {"blocks in no sound chain and not reached from the free list put on the free list"},
         {}},
        {"BLOB file longer than its end offset",
         [&] { Blob().resize(Blob().size() + size_t(m_BlockSize), 0); },
         {"BLOB file: header end offset"},
         {}},
        {"truncated BLOB file",
         [&] { Blob().resize(size_t(cut)); },
         {"BLOB file: a partly written last block (100 of", "; the field is emptied"},
         pastCut},
        {"deleted slot still referencing a BLOB",
         [&] { PutI32(&Data()[RecordAt(kDeleteEvery) + m_NotesAt + 1], notes1); },
         {"data file: deleted slot 9 field 6 (Notes): still referenced BLOB block"},
         {}},
    });
}

TEST_F(TableRepairTest, ACleanTableKeepsItsRecordsAndStaysClean) {
    TRepairReport report = RepairTable(m_Path);
    EXPECT_TRUE(report.After.Ok()) << report.After.Text();
    ASSERT_EQ(report.Repairs.size(), 1u) << Joined(report.Repairs);
    EXPECT_EQ(report.Repairs[0], "index file: 6 indexes built again from the data file (" +
                                     std::to_string(5 * m_Model.size() + kRecords) + " entries)");
    EXPECT_EQ(report.EmptiedBlobFields, 0);
    EXPECT_EQ(report.ReclaimedBlocks, 0);
    EXPECT_EQ(report.DeletedSlots, kRecords / kDeleteEvery);
    EXPECT_EQ(Snapshot(m_Path), m_Model);
    // The data file's records are untouched; only its header changed.
    const TBytes data = ReadFileBytes(m_Path);
    ASSERT_EQ(data.size(), m_Pristine[0].size());
    EXPECT_TRUE(
        std::equal(data.begin() + m_DataOffset, data.end(), m_Pristine[0].begin() + m_DataOffset));
    // A second backup in the same second gets a folder of its own.
    TRepairReport second = RepairTable(m_Path);
    EXPECT_NE(second.BackupFolder, report.BackupFolder);
    EXPECT_TRUE(second.After.Ok());
}

TEST_F(TableRepairTest, TheRepairedTableTakesChangesWithFreshIds) {
    m_Work = m_Pristine;
    PutI32(&Data()[dh::LastRecordID], 3);
    PutI32(&Blob()[bh::FirstFreeBlock], 0);
    for (size_t f = 0; f < m_Paths.size(); ++f) WriteFileBytes(m_Paths[f], m_Work[f]);
    ASSERT_TRUE(RepairTable(m_Path).After.Ok());

    TDataFile t;
    t.SetFileName(m_Path);
    t.OpenTable();
    TBytes buffer(size_t(t.RecordSize()), 0);
    t.InitRecord(buffer.data());
    Fill(t, buffer.data(), 1000);
    PutBlobText(t, buffer.data(), "Notes", std::string(3000, 'z'));
    t.InsertRecord(buffer.data(), true);
    EXPECT_EQ(t.CurrentRecord()->RecordID(), kRecords + 1);
    // The insertion reused a deleted slot and freed blocks.
    EXPECT_LE(t.CurrentRecord()->PhysicalNo, kRecords);
    EXPECT_LE(t.BlobFile()->EndOffset(), int32_t(m_Pristine[2].size()));
    t.CloseTable();
    EXPECT_TRUE(VerifyTable(m_Path).Ok()) << VerifyTable(m_Path).Text();
}

TEST_F(TableRepairTest, AUniqueKeyHeldTwiceKeepsTheEarlierRecord) {
    m_Work = m_Pristine;
    // Record 5's code made equal to record 4's ("C4"), behind the indexes.
    std::copy_n(&Data()[RecordAt(4) + m_CodeAt], 10, &Data()[RecordAt(5) + m_CodeAt]);
    for (size_t f = 0; f < m_Paths.size(); ++f) WriteFileBytes(m_Paths[f], m_Work[f]);
    const TRepairReport report = RepairTable(m_Path);
    EXPECT_TRUE(report.After.Ok()) << report.After.Text();
    EXPECT_TRUE(Holds(report.Repairs,
                      "record 5 (ID 5): its key in index slot 1 (ByCode) is already held by an "
                      "earlier record; the record is deleted (the backup keeps it)"))
        << Joined(report.Repairs);
    TModel expected = m_Model;
    expected.erase(5);
    EXPECT_EQ(Snapshot(m_Path), expected);
}

TEST_F(TableRepairTest, ATableThatCannotBeRepairedIsLeftAsItWas) {
    struct TRefusal {
        const char* Name;
        std::function<void()> Plant;
        const char* Expected;
    };
    const TRefusal refusals[] = {
        {"index header cut short", [&] { Index().resize(100); }, "the index definitions are lost"},
        {"data file version", [&] { Data()[dh::Version] = 4; }, "version byte 4"},
        {"field descriptor offset",
         [&] { PutU16(&Data()[kDataHeaderSize + fd::Offset + kDescriptorSize], 77); },
         "field descriptor 2 is damaged"},
        // Found only when the mended files are opened: the originals come back.
        {"index definition with an impossible key size",
         [&] { PutU16(&Index()[SlotAt(1) + id::KeySize], 2000); }, "do not open"},
    };
    for (const TRefusal& r : refusals) {
        SCOPED_TRACE(r.Name);
        m_Work = m_Pristine;
        r.Plant();
        for (size_t f = 0; f < m_Paths.size(); ++f) WriteFileBytes(m_Paths[f], m_Work[f]);
        try {
            RepairTable(m_Path);
            ADD_FAILURE() << "repaired";
        } catch (const ETableRepairRefused& e) {
            EXPECT_NE(std::string(e.what()).find(r.Expected), std::string::npos) << e.what();
        }
        for (size_t f = 0; f < m_Paths.size(); ++f)
            EXPECT_EQ(ReadFileBytes(m_Paths[f]), m_Work[f]) << m_Paths[f];
    }
    for (size_t f = 0; f < m_Paths.size(); ++f) WriteFileBytes(m_Paths[f], m_Pristine[f]);
    // Without its index file a table has no index definitions left.
    std::filesystem::remove(m_Paths[1]);
    try {
        RepairTable(m_Path);
        ADD_FAILURE() << "repaired without an index file";
    } catch (const ETableRepairRefused& e) {
        EXPECT_NE(std::string(e.what()).find("missing: the index definitions are lost"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(ReadFileBytes(m_Paths[0]), m_Pristine[0]);
    EXPECT_EQ(ReadFileBytes(m_Paths[2]), m_Pristine[2]);
}

TEST_F(TableRepairTest, ATableInUseIsRefusedBeforeAnythingIsWritten) {
    TDataFile user;
    user.SetFileName(m_Path);
    user.OpenTable();
    EXPECT_EQ(EngineErrorOf([&] { RepairTable(m_Path); }), ecAccessDenied);
    user.CloseTable();
    for (size_t f = 0; f < m_Paths.size(); ++f) EXPECT_EQ(ReadFileBytes(m_Paths[f]), m_Pristine[f]);
    EXPECT_EQ(EngineErrorOf([&] { RepairTable(m_Dir / "nothing.dat"); }), ecInvalidPath);
    // A file without write permission is refused as well, before the backup.
    namespace fs = std::filesystem;
    fs::permissions(m_Paths[1],
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(EngineErrorOf([&] { RepairTable(m_Path); }), ecAccessDenied);
    fs::permissions(m_Paths[1], fs::perms::owner_write, fs::perm_options::add);
    for (size_t f = 0; f < m_Paths.size(); ++f) EXPECT_EQ(ReadFileBytes(m_Paths[f]), m_Pristine[f]);
    for (const auto& entry : fs::directory_iterator(m_Dir.Path()))
        EXPECT_EQ(entry.path().string().find(".bak-"), std::string::npos) << entry.path();
}

// Random byte damage anywhere: the repair either leaves a table that verifies
// clean or refuses and leaves the damaged files as they were; it never
// crashes (under the sanitizers: never reads outside its buffers).
TEST_F(TableRepairTest, RandomByteDamageIsRepairedOrLeftAsItWas) {
    // REPAIR_SEED=n runs other damage.
    std::mt19937 gen(std::getenv("REPAIR_SEED") ? unsigned(std::atoi(std::getenv("REPAIR_SEED")))
                                                : 321u);
    int repaired = 0;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        m_Work = m_Pristine;
        const size_t f = gen() % 3;
        TBytes& bytes = m_Work[f];
        for (int i = 0, n = 1 + int(gen() % 12); i < n; ++i)
            bytes[gen() % bytes.size()] = uint8_t(gen());
        if (gen() % 4 == 0)
            bytes.resize(bytes.size() - gen() % std::min<size_t>(bytes.size(), 3000));
        for (size_t g = 0; g < m_Paths.size(); ++g) WriteFileBytes(m_Paths[g], m_Work[g]);
        try {
            const TRepairReport report = RepairTable(m_Path);
            EXPECT_TRUE(report.After.Ok()) << report.After.Text() << "\nafter:\n"
                                           << Joined(report.Repairs);
            std::filesystem::remove_all(report.BackupFolder);
            ++repaired;
        } catch (const ETableRepairRefused&) {
            for (size_t g = 0; g < m_Paths.size(); ++g)
                EXPECT_EQ(ReadFileBytes(m_Paths[g]), m_Work[g]);
        } catch (const EVeltraEngineError& e) {
            ADD_FAILURE() << e.what();
            for (size_t g = 0; g < m_Paths.size(); ++g)
                EXPECT_EQ(ReadFileBytes(m_Paths[g]), m_Work[g]);
        }
    }
    // Most damage lies in bytes a repair can mend.
    EXPECT_GT(repaired, 25);
    for (size_t g = 0; g < m_Paths.size(); ++g) WriteFileBytes(m_Paths[g], m_Pristine[g]);
}

TEST_F(TableRepairTest, AMissingBlobFileIsCreatedAndEveryBlobFieldEmptied) {
    std::filesystem::remove(m_Paths[2]);
    const TRepairReport report = RepairTable(m_Path);
    EXPECT_TRUE(report.After.Ok()) << report.After.Text();
    EXPECT_EQ(report.Backups.size(), 2u);
    EXPECT_TRUE(Holds(report.Repairs, "BLOB file: missing; created empty"))
        << Joined(report.Repairs);
    EXPECT_EQ(report.BlobChains, 0);
    TModel expected = m_Model;
    for (auto& [id, row] : expected) row.Notes.clear(), row.Body.clear();
    EXPECT_EQ(Snapshot(m_Path), expected);
    EXPECT_EQ(std::filesystem::path(BlobPathOf(m_Path)).extension(), ".blb");
}

// A table without primary index: no deleted-records index, and a free chain
// that only ever holds the last deleted slot's head.
TEST(TableRepairNaturalOrderTest, ATableWithoutPrimaryIndexIsRepaired) {
    EngineStartup();
    RemoveAllPasswords();
    TTestDir dir;
    const std::string path = dir / "plain.dat";
    TTableDef def = RepairTableDef();
    def.Indexes.erase(def.Indexes.begin());
    CreateTable(path, def);
    {
        TDataFile t;
        t.SetFileName(path);
        t.OpenTable();
        TBytes buffer(size_t(t.RecordSize()), 0), source(buffer.size(), 0);
        for (int i = 1; i <= 30; ++i) {
            t.InitRecord(buffer.data());
            Fill(t, buffer.data(), i);
            PutBlobText(t, buffer.data(), "Notes", std::string(size_t(200 + 40 * i), 'p'));
            if (i % 3 == 0) PutBlobText(t, buffer.data(), "Body", "body " + std::to_string(i));
            t.InsertRecord(buffer.data(), true);
            for (const char* f : {"Notes", "Body"})
                if (t.IsBlobFieldOpen(t.FieldNumber(f), buffer.data()))
                    t.CloseBlobField(t.FieldNumber(f), buffer.data());
        }
        t.SelectIndexByName("ByCode");
        for (int i = 4; i <= 30; i += 4) {
            t.InitRecord(source.data());
            Fill(t, source.data(), i);
            ASSERT_TRUE(t.FindKey(source.data(), nullptr, 1, buffer.data()));
            t.DeleteRecord(true);
        }
        t.CloseTable();
    }
    ASSERT_TRUE(VerifyTable(path).Ok()) << VerifyTable(path).Text();
    TModel expected = Snapshot(path);
    ASSERT_EQ(expected.size(), 23u);

    TBytes data = ReadFileBytes(path), index = ReadFileBytes(IndexPathOf(path)),
           blob = ReadFileBytes(BlobPathOf(path));
    data.pop_back();  // record 30 loses its Body
    PutI32(&index[ih::RecordCount], 40);
    PutI32(&blob[bh::FirstFreeBlock], 0);  // the freed chains leak
    WriteFileBytes(path, data);
    WriteFileBytes(IndexPathOf(path), index);
    WriteFileBytes(BlobPathOf(path), blob);
    const TRepairReport report = RepairTable(path);
    EXPECT_TRUE(report.After.Ok()) << report.After.Text();
    EXPECT_EQ(report.DeletedSlots, 7);
    EXPECT_GT(report.ReclaimedBlocks, 0);
    EXPECT_TRUE(Holds(report.Repairs, "index file: 4 indexes built again"))
        << Joined(report.Repairs);
    expected[30].Body.clear();
    EXPECT_EQ(Snapshot(path), expected);
}

// Variants whose keys or bytes differ: a table with a locale (keys compared
// by its collation) and an encrypted one (records, index and BLOB file
// scrambled). The last record loses a byte, the BLOB free list head and the
// index header's record count are damaged.
struct TVariant {
    const char* Name;
    uint16_t LanguageID;
    const char* Password;
};

class TableRepairVariantTest : public ::testing::TestWithParam<TVariant> {};

TEST_P(TableRepairVariantTest, TheDamagedTableIsRepairedWithItsRecords) {
    EngineStartup();
    RemoveAllPasswords();
    TTestDir dir;
    const std::string path = dir / "variant.dat";
    const std::string password = GetParam().Password;
    TTableDef def = RepairTableDef(password);
    def.LanguageID = GetParam().LanguageID;
    CreateTable(path, def);
    if (!password.empty()) AddPassword(password);
    FillTable(path, 40, 7);
    const TModel model = Snapshot(path);
    TBytes data = ReadFileBytes(path);
    data.pop_back();
    WriteFileBytes(path, data);
    TBytes blob = ReadFileBytes(BlobPathOf(path));
    PutI32(&blob[bh::FirstFreeBlock], 0);
    WriteFileBytes(BlobPathOf(path), blob);
    TBytes index = ReadFileBytes(IndexPathOf(path));
    index[ih::RecordCount] ^= 0x5A;
    WriteFileBytes(IndexPathOf(path), index);

    if (!password.empty()) {
        RemoveAllPasswords();
        EXPECT_THROW(RepairTable(path), ETableRepairRefused);
        EXPECT_EQ(ReadFileBytes(path), data);
        AddPassword(password);
    }
    const TRepairReport report = RepairTable(path);
    EXPECT_TRUE(report.After.Ok()) << report.After.Text();
    EXPECT_TRUE(Holds(report.Repairs, "record 40 (ID 40): the last slot was written only in part"))
        << Joined(report.Repairs);
    EXPECT_TRUE(Holds(report.Repairs, "index file: the header counted ")) << Joined(report.Repairs);
    EXPECT_EQ(Snapshot(path), model);
    RemoveAllPasswords();
}

INSTANTIATE_TEST_SUITE_P(Variants, TableRepairVariantTest,
                         ::testing::Values(TVariant{"German", 0x0407, ""},
                                           TVariant{"Encrypted", 0, "Key1"}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
