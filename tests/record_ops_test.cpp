// Record operations: defaults and checks, field values, insertion,
// modification and deletion with their keys, slots and BLOBs; failures that
// leave the table unchanged; and a randomized run against a model.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>

#include "engine/index_verifier.h"
#include "engine/session.h"
#include "platform/db_error.h"
#include "test_util.h"

using namespace veltra;
using veltra_test::EngineErrorOf;
using veltra_test::TTestDir;

namespace {

TTableDef LogDef() {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc},
                  {"Code", ftString, 0, 10, 0, true},
                  {"Title", ftString, 0, 40, 0, false, "", "", "Untitled"},
                  {"Priority", ftSmallInt, 0, 0, 0, false, "1", "5", "3"},
                  {"Done", ftBoolean, 0, 0, 0, false, "", "", "false"},
                  {"Created", ftDateTime, 0, 0, 0, false, "", "", "NOW"},
                  {"Cost", ftBCD, 0, 0, 2, false, "0", "", ""},
                  {"Notes", ftBlob, 22},
                  {"Text", ftBlob, 22}};
    def.Indexes = {{.Primary = true, .Fields = {"Code"}},
                   {.Name = "ByTitle", .Fields = {"Title"}, .CaseInsensitive = true,
                    .Compression = TCompression::Both},
                   {.Name = "ByPriority", .Fields = {"Priority"}, .Descending = true}};
    return def;
}

class RecordOpsTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineStartup();
        m_Path = m_Dir / "log.dat";
        CreateTable(m_Path, LogDef());
    }

    std::unique_ptr<TDataFile> Open(bool exclusive = false) {
        auto t = std::make_unique<TDataFile>();
        t->SetFileName(m_Path);
        t->SetExclusive(exclusive);
        t->OpenTable();
        return t;
    }

    static void SetText(TDataFile& t, uint8_t* buf, const char* field, const std::string& text) {
        t.SetFieldValue(t.FieldNumber(field), buf, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    static std::string Text(TDataFile& t, const uint8_t* buf, const char* field) {
        std::vector<uint8_t> v(256);
        if (t.GetFieldValue(t.FieldNumber(field), buf, v.data())) return "(null)";
        return std::string(reinterpret_cast<const char*>(v.data()));
    }
    static void SetSmall(TDataFile& t, uint8_t* buf, const char* field, int16_t v) {
        uint8_t b[2];
        PutI16(b, v);
        t.SetFieldValue(t.FieldNumber(field), buf, b, 2);
    }
    static void SetBlob(TDataFile& t, uint8_t* buf, const char* field, const std::string& content) {
        veltra_test::PutBlobText(t, buf, field, content);
    }
    static std::string Blob(TDataFile& t, uint8_t* buf, const char* field) {
        return veltra_test::BlobText(t, buf, field);
    }

    // Inserts a record with the given code and title; returns its buffer.
    std::vector<uint8_t> Insert(TDataFile& t, const std::string& code, const std::string& title,
                                int16_t priority = 3, const std::string& notes = "") {
        std::vector<uint8_t> buf(size_t(t.RecordSize()));
        t.InitRecord(buf.data());
        SetText(t, buf.data(), "Code", code);
        SetText(t, buf.data(), "Title", title);
        SetSmall(t, buf.data(), "Priority", priority);
        if (!notes.empty()) SetBlob(t, buf.data(), "Notes", notes);
        t.InsertRecord(buf.data(), true);
        for (const char* f : {"Notes", "Text"})
            if (t.IsBlobFieldOpen(t.FieldNumber(f), buf.data())) t.CloseBlobField(t.FieldNumber(f), buf.data());
        return buf;
    }

    // The primary key (on Code) of a code.
    static std::vector<uint8_t> CodeKey(TDataFile& t, const std::string& code) {
        std::vector<uint8_t> key(size_t(t.IndexFile().Layout(0).KeySize), 0);
        key[0] = 1;
        std::memcpy(&key[1], code.data(), code.size());
        return key;
    }

    std::vector<std::vector<uint8_t>> Files() {
        return {veltra_test::ReadFileBytes(m_Path), veltra_test::ReadFileBytes(veltra_test::IndexPathOf(m_Path)),
                veltra_test::ReadFileBytes(veltra_test::BlobPathOf(m_Path))};
    }

    void ExpectConsistent(TDataFile& t) {
        TIndexReport r = TIndexVerifier::VerifyAll(t.IndexFile());
        EXPECT_TRUE(r.Ok()) << r.Text();
    }

    TTestDir m_Dir;
    std::string m_Path;
};

}  // namespace

TEST_F(RecordOpsTest, DefaultsAndConversionErrors) {
    auto t = Open();
    std::vector<uint8_t> buf(size_t(t->RecordSize()), 0xEE);
    double before = NowAsDateTime();
    t->InitRecord(buf.data());
    double after = NowAsDateTime();
    EXPECT_EQ(Text(*t, buf.data(), "Title"), "Untitled");
    EXPECT_EQ(Text(*t, buf.data(), "Code"), "(null)");
    uint8_t v[8];
    EXPECT_FALSE(t->GetFieldValue(t->FieldNumber("Priority"), buf.data(), v));
    EXPECT_EQ(GetI16(v), 3);
    EXPECT_FALSE(t->GetFieldValue(t->FieldNumber("Done"), buf.data(), v));
    EXPECT_EQ(GetU16(v), 0);
    EXPECT_FALSE(t->GetFieldValue(t->FieldNumber("Created"), buf.data(), v));
    double created = GetF64(v) / 86400000.0 - kDayNumberOf18991230;
    EXPECT_GE(created, before - 1e-6);
    EXPECT_LE(created, after + 1e-6);
    EXPECT_TRUE(t->GetFieldValue(t->FieldNumber("Notes"), buf.data(), v));
    t->CloseTable();

    TTableDef bad = LogDef();
    bad.Fields[4].DefaultValue = "maybe";
    CreateTable(m_Dir / "bad.dat", bad);
    TDataFile b;
    b.SetFileName(m_Dir / "bad.dat");
    b.OpenTable();
    try {
        b.InitRecord(buf.data());
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'maybe' is not a valid boolean value");
    }
}

TEST_F(RecordOpsTest, FieldValueRules) {
    auto t = Open();
    std::vector<uint8_t> buf(size_t(t->RecordSize()), 0);
    SetText(*t, buf.data(), "Code", "abc   ");
    EXPECT_EQ(Text(*t, buf.data(), "Code"), "abc");
    SetText(*t, buf.data(), "Code", "    ");
    EXPECT_EQ(Text(*t, buf.data(), "Code"), "(null)");
    SetText(*t, buf.data(), "Code", "0123456789ABCDEF");  // ten characters fit
    EXPECT_EQ(Text(*t, buf.data(), "Code"), "0123456789");
    uint8_t seven[2] = {7, 0}, v[2];
    t->SetFieldValue(t->FieldNumber("Done"), buf.data(), seven, 2);
    t->GetFieldValue(t->FieldNumber("Done"), buf.data(), v);
    EXPECT_EQ(GetU16(v), 1);
    t->SetFieldValue(t->FieldNumber("Done"), buf.data(), nullptr, 0);
    EXPECT_TRUE(t->GetFieldValue(t->FieldNumber("Done"), buf.data(), v));
}

TEST_F(RecordOpsTest, ValidityChecks) {
    auto t = Open();
    std::vector<uint8_t> buf(size_t(t->RecordSize()));
    struct {
        const char* What;
        std::function<void()> Change;
        int Code;
    } cases[] = {
        {"blank required code", [&] { SetText(*t, buf.data(), "Code", "   "); }, 9732},
        {"priority below 1", [&] { SetSmall(*t, buf.data(), "Priority", 0); }, 9730},
        {"priority above 5", [&] { SetSmall(*t, buf.data(), "Priority", 6); }, 9731},
        {"negative cost", [&] {
             uint8_t c[8];
             int64_t packed;
             PackBcd(-100, 2, packed);
             PutI64(c, packed);
             t->SetFieldValue(t->FieldNumber("Cost"), buf.data(), c, 8);
         }, 9730},
        {"all fine", [] {}, 0},
    };
    for (auto& c : cases) {
        t->InitRecord(buf.data());
        SetText(*t, buf.data(), "Code", "A1");
        c.Change();
        EXPECT_EQ(EngineErrorOf([&] { t->ValidateRecord(buf.data()); }), c.Code) << c.What;
    }
    try {
        t->InitRecord(buf.data());
        t->ValidateRecord(buf.data());
        FAIL();
    } catch (const EVeltraEngineError& e) {
        EXPECT_NE(std::string(e.what()).find("for the field Code in data file"), std::string::npos);
    }
}

TEST_F(RecordOpsTest, InsertNavigateModifyDelete) {
    auto t = Open();
    Insert(*t, "C", "charlie", 2, "third note");
    Insert(*t, "A", "alpha", 5);
    Insert(*t, "B", "Bravo", 1, std::string(2000, 'n'));
    ExpectConsistent(*t);
    EXPECT_EQ(t->RecordCount(), 3);

    std::vector<uint8_t> buf(size_t(t->RecordSize()));
    std::vector<std::string> codes;
    t->FirstRecord();
    while (t->NextRecord(buf.data()) == 0) codes.push_back(Text(*t, buf.data(), "Code"));
    EXPECT_EQ(codes, (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(Text(*t, buf.data(), "Title"), "Untitled");  // past the end: a fresh record

    t->SelectIndexByName("ByPriority");
    t->FirstRecord();
    ASSERT_EQ(t->NextRecord(buf.data()), 0);
    EXPECT_EQ(Text(*t, buf.data(), "Code"), "A");  // descending: 5 first
    EXPECT_EQ(EngineErrorOf([&] { t->SelectIndexByName("Nope"); }), 10022);

    // Edit B: a new title moves it in ByTitle; the note grows.
    t->SelectIndexByName("");
    std::vector<uint8_t> key = CodeKey(*t, "B");
    ASSERT_TRUE(t->FindKey(nullptr, key.data(), 1, buf.data()));
    ASSERT_EQ(t->GetCurrentRecord(buf.data(), true), 0);
    EXPECT_EQ(Blob(*t, buf.data(), "Notes"), std::string(2000, 'n'));
    SetText(*t, buf.data(), "Title", "zulu");
    SetBlob(*t, buf.data(), "Notes", std::string(5000, 'N'));
    t->ModifyRecord(buf.data(), true, true);
    t->CloseBlobField(t->FieldNumber("Notes"), buf.data());
    EXPECT_TRUE(t->LockedRecords().empty());
    ExpectConsistent(*t);
    t->SelectIndexByName("bytitle");
    t->LastRecord();
    ASSERT_EQ(t->PriorRecord(buf.data()), 0);
    EXPECT_EQ(Text(*t, buf.data(), "Title"), "zulu");
    EXPECT_EQ(Blob(*t, buf.data(), "Notes"), std::string(5000, 'N'));

    // Delete it; its slot and blocks are free again.
    int32_t slot = t->CurrentRecord()->PhysicalNo;
    t->DeleteRecord(true);
    ExpectConsistent(*t);
    EXPECT_EQ(t->RecordCount(), 2);
    EXPECT_EQ(t->FirstFreeRecord(), slot);
    EXPECT_NE(t->BlobFile()->FirstFreeBlock(), 0);
    t->CloseTable();

    t = Open();
    t->SelectIndexByName("ByTitle");
    codes.clear();
    t->FirstRecord();
    while (t->NextRecord(buf.data()) == 0) codes.push_back(Text(*t, buf.data(), "Title"));
    EXPECT_EQ(codes, (std::vector<std::string>{"alpha", "charlie"}));
}

TEST_F(RecordOpsTest, FreedSlotIsReusedWithItsDeletedIndexEntry) {
    auto t = Open();
    for (const char* c : {"A", "B", "C"}) Insert(*t, c, c);
    std::vector<uint8_t> buf(size_t(t->RecordSize()));
    std::vector<uint8_t> key = CodeKey(*t, "B");
    ASSERT_TRUE(t->FindKey(nullptr, key.data(), 1, buf.data()));
    const int32_t slot = t->CurrentRecord()->PhysicalNo;
    t->DeleteRecord(true);
    Insert(*t, "D", "delta");
    EXPECT_EQ(t->CurrentRecord()->PhysicalNo, slot);
    EXPECT_EQ(t->CurrentRecord()->RecordID(), 4);
    EXPECT_EQ(t->NextRecordNo(), 4);
    uint8_t live[5] = {0}, gone[5] = {1};
    PutKeyRecordId(live + 1, 4);
    PutKeyRecordId(gone + 1, 2);
    EXPECT_TRUE(t->IndexFile().KeyExists(kDeletedIndexSlot, live));
    EXPECT_FALSE(t->IndexFile().KeyExists(kDeletedIndexSlot, gone));
    ExpectConsistent(*t);
}

TEST_F(RecordOpsTest, DuplicateKeyChangesNothing) {
    auto t = Open();
    Insert(*t, "A", "alpha", 3, "note");
    const auto before = Files();
    EXPECT_EQ(EngineErrorOf([&] { Insert(*t, "A", "again"); }), 9729);
    EXPECT_EQ(Files(), before);
    EXPECT_TRUE(t->LockedRecords().empty());
    EXPECT_FALSE(t->InWritePhase());
    Insert(*t, "B", "bravo");  // still usable
    ExpectConsistent(*t);
}

TEST_F(RecordOpsTest, ModificationWithoutKeyChangesWritesNoIndexPage) {
    auto t = Open();
    Insert(*t, "A", "alpha");
    std::vector<uint8_t> buf(size_t(t->RecordSize()));
    ASSERT_EQ(t->GetCurrentRecord(buf.data(), true), 0);
    uint8_t cost[8];
    int64_t packed;
    PackBcd(123450, 2, packed);
    PutI64(cost, packed);
    t->SetFieldValue(t->FieldNumber("Cost"), buf.data(), cost, 8);
    const auto idxBefore = veltra_test::ReadFileBytes(veltra_test::IndexPathOf(m_Path));
    uint64_t writes = t->IndexFile().PageWrites();
    t->ModifyRecord(buf.data(), true, true);
    EXPECT_EQ(t->IndexFile().PageWrites(), writes);
    EXPECT_EQ(veltra_test::ReadFileBytes(veltra_test::IndexPathOf(m_Path)), idxBefore);
}

// Failures after changes began: each leaves all three files and the open
// table as they were.
TEST_F(RecordOpsTest, FailuresHalfWayLeaveTheTableUnchanged) {
    auto t = Open();
    Insert(*t, "A", "alpha", 3, std::string(1200, 'a'));
    Insert(*t, "B", "bravo", 3, std::string(1200, 'b'));
    std::vector<uint8_t> buf(size_t(t->RecordSize()));

    // A key missing from a secondary index makes the deletion fail after the
    // primary key went.
    {
        std::vector<uint8_t> key = CodeKey(*t, "A");
        ASSERT_TRUE(t->FindKey(nullptr, key.data(), 1, buf.data()));
        std::vector<uint8_t> titleKey(size_t(t->IndexFile().Layout(1).KeySize));
        t->BuildKey(1, t->CurrentRecord()->Buffer.data(), titleKey.data());
        t->BeginWrite();
        t->IndexFile().DeleteKey(1, titleKey.data());
        t->UnpinAll();
        t->FlushBuffers(true);
        t->RepinCurrent();
        t->EndWrite();
        const auto before = Files();
        EXPECT_EQ(EngineErrorOf([&] { t->DeleteRecord(true); }), 8708);
        EXPECT_EQ(Files(), before);
        EXPECT_EQ(t->RecordCount(), 2);
        std::vector<uint8_t> primary = CodeKey(*t, "A");
        EXPECT_TRUE(t->IndexFile().KeyExists(0, primary.data()));
        t->BeginWrite();
        t->IndexFile().InsertKey(1, titleKey.data(), t->CurrentRecord()->PhysicalNo);
        t->UnpinAll();
        t->FlushBuffers(true);
        t->RepinCurrent();
        t->EndWrite();
        ExpectConsistent(*t);
    }

    // A BLOB chain owned by another record breaks the modification after the
    // keys moved.
    {
        std::vector<uint8_t> key = CodeKey(*t, "B");
        ASSERT_TRUE(t->FindKey(nullptr, key.data(), 1, buf.data()));
        ASSERT_EQ(t->GetCurrentRecord(buf.data(), true), 0);
        int f = t->FieldNumber("Notes");
        int32_t bChain = GetI32(&buf[t->FieldDescriptor(f).Offset() + 1u]);
        std::vector<uint8_t> akey = CodeKey(*t, "A");
        std::vector<uint8_t> abuf(size_t(t->RecordSize()));
        t->UnlockCurrentRecord();
        ASSERT_TRUE(t->FindKey(nullptr, akey.data(), 1, abuf.data()));
        ASSERT_EQ(t->GetCurrentRecord(abuf.data(), true), 0);
        SetText(*t, abuf.data(), "Title", "renamed");
        SetBlob(*t, abuf.data(), "Notes", "short");
        // The open BLOB now believes it is stored in B's chain.
        int32_t handle = GetI32(&abuf[t->FieldDescriptor(f).Offset() + 1u]);
        ASSERT_TRUE(IsBlobHandle(handle));
        t->BlobFile()->OpenBlobBuffer(handle)->FirstBlock = bChain;
        const auto before = Files();
        EXPECT_EQ(EngineErrorOf([&] { t->ModifyRecord(abuf.data(), true, true); }), 8963);
        t->CloseBlobField(f, abuf.data());
        EXPECT_EQ(Files(), before);
        t->UnlockCurrentRecord();
        ExpectConsistent(*t);
        std::vector<uint8_t> stored = t->CurrentRecord()->Buffer;
        EXPECT_EQ(Blob(*t, stored.data(), "Notes"), std::string(1200, 'a'));
    }
    t->CloseTable();

    // The data file is full when the insertion appends its slot, after the
    // keys went in.
    {
        std::string path = m_Path;
        const int64_t d = kDataHeaderSize + int64_t(LogDef().Fields.size()) * kDescriptorSize;
        auto probe = Open();
        const int rs = probe->RecordSize();
        probe->CloseTable();
        // Pretend the file holds as many slots as it may (sparse), keeping the
        // two real records at its start.
        const int32_t next = int32_t(std::min<int64_t>(kMaxRecordNumber, kMaxDataBytes / rs)) + 1;
        std::vector<uint8_t> head = veltra_test::ReadFileBytes(path);
        PutI32(&head[dh::NextRecordNo], next);
        veltra_test::WriteFileBytes(path, head);
        std::filesystem::resize_file(path, uint64_t(d + int64_t(next - 1) * rs));
        auto full = Open();
        // The data file is too large to compare whole: its header and size.
        auto sideFiles = [&] {
            std::vector<uint8_t> h(kDataHeaderSize);
            std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(h.data()), kDataHeaderSize);
            return std::make_tuple(h, std::filesystem::file_size(path),
                                   veltra_test::ReadFileBytes(veltra_test::IndexPathOf(path)),
                                   veltra_test::ReadFileBytes(veltra_test::BlobPathOf(path)));
        };
        const auto before = sideFiles();
        EXPECT_EQ(EngineErrorOf([&] { Insert(*full, "Z", "zulu"); }), 9479);
        EXPECT_EQ(sideFiles(), before);
        EXPECT_EQ(full->RecordCount(), 2);
        TIndexReport r = TIndexVerifier::VerifyAll(full->IndexFile());
        EXPECT_TRUE(r.Ok()) << r.Text();
    }
}
