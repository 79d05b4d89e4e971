// Data files: creation, opening and its checks, slots and the free chain,
// record IDs, limits, scrambling, locales and the record cache.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "engine/blob_file.h"
#include "engine/codec.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/session.h"
#include "engine/table_builder.h"
#include "test_util.h"

using namespace veltra;

namespace {


TTableDef TicketDef() {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc},
                  {"Title", ftString, 0, 20},
                  {"Priority", ftSmallInt},
                  {"Submit date", ftDate},
                  {"Cost", ftBCD, 0, 0, 2},
                  {"Description", ftBlob, 22}};
    def.Indexes = {{.Primary = true, .Fields = {"ID"}},
                   {.Name = "ByTitle", .Fields = {"Title"}, .CaseInsensitive = true}};
    return def;
}

// Patches bytes of a closed file.
void Patch(const std::string& path, int64_t offset, const void* bytes, size_t n) {
    int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes, n, offset), ssize_t(n));
    ::close(fd);
}

void PatchI32(const std::string& path, int64_t offset, int32_t v) {
    uint8_t b[4];
    PutI32(b, v);
    Patch(path, offset, b, 4);
}

class DataFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineStartup();
        RemoveAllPasswords();
    }

    std::unique_ptr<TDataFile> Open(const std::string& path, bool exclusive = false, size_t cacheBytes = 0) {
        auto t = std::make_unique<TDataFile>();
        t->SetFileName(path);
        t->SetExclusive(exclusive);
        t->SetRecordCacheBytes(cacheBytes);
        t->OpenTable();
        return t;
    }

    // Appends `count` records through a write phase, as an insertion would.
    static void Append(TDataFile& t, int count) {
        t.BeginWrite();
        for (int i = 0; i < count; ++i) {
            TRecord* r = t.NewRecordSlot();
            r->SetStatus(0);
            r->SetLink(r->PhysicalNo);
            r->SetRecordID(t.TakeRecordID());
            r->Dirty = true;
            r->Unpin();
        }
        t.UnpinAll();
        t.FlushBuffers(true);
        t.EndWrite();
    }

    veltra_test::TTestDir m_Dir;
};

}  // namespace

TEST_F(DataFileTest, CreatedTablePassesEveryOpenCheck) {
    std::string path = m_Dir / "log.dat";
    CreateTable(path, TicketDef());
    auto t = Open(path);
    EXPECT_EQ(t->FieldCount(), 6);
    EXPECT_EQ(t->RecordSize(), 9 + 22 + 3 + 5 + 9 + 5);
    EXPECT_EQ(t->BlobFieldCount(), 1);
    EXPECT_EQ(t->NextRecordNo(), 1);
    EXPECT_EQ(t->LastRecordID(), 0);
    TFieldDescriptor title = t->FieldDescriptorByName("TITLE");
    EXPECT_EQ(title.PhysicalSize(), 21);
    EXPECT_EQ(title.Offset(), 9);
    EXPECT_EQ(t->FieldDescriptor(1).Offset(), 5);
    EXPECT_TRUE(t->HasPrimaryIndex());

    TIndexDescriptor byTitle = t->IndexFile().ReadDescriptor(1);
    EXPECT_EQ(byTitle.Name(), "ByTitle");
    EXPECT_EQ(byTitle.KeySize(), 22 + 4);  // non-unique: record ID suffix
    EXPECT_EQ(t->IndexFile().ReadDescriptor(0).KeySize(), 5);
    TIndexDescriptor deleted = t->IndexFile().ReadDescriptor(kDeletedIndexSlot);
    EXPECT_EQ(deleted.Name(), "Sys Deleted");
    EXPECT_EQ(deleted.KeySize(), 5);
    EXPECT_EQ(t->IndexFile().EndOffset(), 4096);
    EXPECT_EQ(std::filesystem::file_size(m_Dir / "log.IDX"), 4096u);
    EXPECT_EQ(std::filesystem::file_size(m_Dir / "log.BLB"), 512u);
    ASSERT_NE(t->BlobFile(), nullptr);
    EXPECT_EQ(t->BlobFile()->EndOffset(), 512);
}

TEST_F(DataFileTest, AutoIncrementOnlyTableHasRecordSizeNine) {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc}};
    CreateTable(m_Dir / "a", def);
    auto t = Open(m_Dir / "a");
    EXPECT_EQ(t->RecordSize(), 9);
    EXPECT_FALSE(t->HasPrimaryIndex());
    EXPECT_EQ(t->BlobFile(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(m_Dir / "a.BLB"));
}

TEST_F(DataFileTest, FileLengthMustMatchTheRecordCount) {
    std::string path = m_Dir / "log.dat";
    CreateTable(path, TicketDef());
    const int64_t rs = Open(path)->RecordSize();
    Append(*Open(path), 2);
    const auto size = std::filesystem::file_size(path);
    struct {
        int64_t Delta;
        int Code;
    } cases[] = {{0, 0}, {1, 8961}, {-1, 8961}, {-rs, 0}, {rs, 8961}};
    for (const auto& c : cases) {
        std::filesystem::resize_file(path, size);
        if (c.Delta == -rs) {  // one record fewer, and the header says so
            std::filesystem::resize_file(path, size - rs);
            PatchI32(path, dh::NextRecordNo, 2);
        } else {
            std::filesystem::resize_file(path, size + c.Delta);
        }
        EXPECT_EQ(veltra_test::EngineErrorOf([&] { Open(path); }), c.Code) << c.Delta;
        PatchI32(path, dh::NextRecordNo, 3);
    }
}

TEST_F(DataFileTest, DeletedSlotsAreReusedLastFreedFirst) {
    std::string path = m_Dir / "log.dat";
    CreateTable(path, TicketDef());
    auto t = Open(path);
    Append(*t, 8);
    t->BeginWrite();
    for (int32_t n : {4, 7}) {
        TRecord* r = t->FetchRecord(n).Record;
        t->FreeRecordSlot(*r);
        r->Unpin();
    }
    EXPECT_EQ(t->FirstFreeRecord(), 7);
    EXPECT_EQ(t->FetchRecord(7).Record->Link(), 4);
    EXPECT_EQ(t->FetchRecord(4).Record->Link(), 0);
    t->UnpinAll();
    t->FlushBuffers(true);
    t->EndWrite();
    t->CloseTable();

    t = Open(path);  // the chain survives on disk
    EXPECT_EQ(t->FirstFreeRecord(), 7);
    t->BeginWrite();
    std::vector<int32_t> slots;
    for (int i = 0; i < 3; ++i) {
        TRecord* r = t->NewRecordSlot();
        r->SetStatus(0);
        r->Dirty = true;
        slots.push_back(r->PhysicalNo);
    }
    EXPECT_EQ(slots, (std::vector<int32_t>{7, 4, 9}));
    EXPECT_EQ(t->FirstFreeRecord(), 0);
    EXPECT_EQ(t->NextRecordNo(), 10);
    t->UnpinAll();
    t->FlushBuffers(true);
    t->EndWrite();
}

TEST_F(DataFileTest, WithoutPrimaryIndexInsertionsAlwaysAppend) {
    TTableDef def = TicketDef();
    def.Indexes.erase(def.Indexes.begin());
    std::string path = m_Dir / "plain.dat";
    CreateTable(path, def);
    auto t = Open(path);
    Append(*t, 5);
    t->BeginWrite();
    TRecord* r = t->FetchRecord(2).Record;
    t->FreeRecordSlot(*r);
    EXPECT_EQ(r->Link(), 0);
    EXPECT_EQ(t->FirstFreeRecord(), 2);
    r->Unpin();
    TRecord* fresh = t->NewRecordSlot();
    EXPECT_EQ(fresh->PhysicalNo, 6);
    EXPECT_EQ(t->FirstFreeRecord(), 0);  // the head is forgotten
    fresh->Dirty = true;
    t->UnpinAll();
    t->FlushBuffers(true);
    t->EndWrite();
}

TEST_F(DataFileTest, RecordIdWrapsAfterTheLargestInteger) {
    std::string path = m_Dir / "log.dat";
    CreateTable(path, TicketDef());
    PatchI32(path, dh::LastRecordID, INT32_MAX);
    auto t = Open(path);
    EXPECT_EQ(t->TakeRecordID(), 1);
    EXPECT_EQ(t->TakeRecordID(), 2);
    EXPECT_TRUE(t->HeaderDirty());
}

TEST_F(DataFileTest, AppendLimits) {
    // Sparse files stand in for tables near the limits.
    TTableDef small;
    small.Fields = {{"ID", ftInteger, kSubTypeAutoInc}};
    small.Indexes = {{.Primary = true, .Fields = {"ID"}}};  // natural order would read every slot
    std::string path = m_Dir / "big.dat";
    CreateTable(path, small);
    int64_t d = kDataHeaderSize + kDescriptorSize;
    PatchI32(path, dh::NextRecordNo, 99'999'999);
    std::filesystem::resize_file(path, d + int64_t(99'999'998) * 9);
    auto t = Open(path, true);
    TRecord* last = t->FetchRecord(99'999'999).Record;
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->PhysicalNo, 99'999'999);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { t->FetchRecord(100'000'000); }), 9479);
    t->DiscardBuffers();
    t->CloseTable();

    TTableDef wide;
    wide.Fields = {{"Text", ftString, 0, 90}};  // record size 9 + 92 = 101
    wide.Indexes = {{.Primary = true, .Fields = {"Text"}}};
    std::string widePath = m_Dir / "wide.dat";
    CreateTable(widePath, wide);
    int32_t next = 2'000'000'000 / 101 + 1;  // next x 101 passes 2,000,000,000
    PatchI32(widePath, dh::NextRecordNo, next);
    std::filesystem::resize_file(widePath, d + int64_t(next - 1) * 101);
    auto w = Open(widePath, true);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { w->FetchRecord(next); }), 9479);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { w->FetchRecord(next + 1); }), 8710);
}

TEST_F(DataFileTest, HeaderWritesCountChanges) {
    std::string path = m_Dir / "log.dat";
    CreateTable(path, TicketDef());
    auto t = Open(path);
    int32_t before = t->ChangeCount();
    t->BeginWrite();
    t->UnpinAll();
    t->FlushBuffers(true);
    t->EndWrite();
    EXPECT_EQ(t->ChangeCount(), before + 1);
    auto other = Open(path);
    EXPECT_EQ(other->ChangeCount(), before + 1);
    EXPECT_FALSE(other->HeaderChanged());
    Append(*t, 1);
    EXPECT_TRUE(other->HeaderChanged());
    EXPECT_EQ(other->NextRecordNo(), 2);
}

TEST_F(DataFileTest, EncryptedTablesNeedTheirPassword) {
    TTableDef def = TicketDef();
    def.Password = "Open Sesame";
    std::string path = m_Dir / "secret.dat";
    CreateTable(path, def);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { Open(path); }), 10498);

    int asked = 0;
    auto t = std::make_unique<TDataFile>();
    t->SetFileName(path);
    t->SetPasswordCallback([&] {
        ++asked;
        AddPassword(asked == 1 ? "open sesame" : "Open Sesame");  // case matters
        return true;
    });
    t->OpenTable();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(t->StoredPassword(), "Open Sesame");
    EXPECT_EQ(t->FieldDescriptor(2).Name(), "Title");
    Append(*t, 3);
    TRecord* r = t->FetchRecord(3).Record;
    EXPECT_EQ(r->RecordID(), 3);
    EXPECT_EQ(r->Link(), 3);
    r->Unpin();
    t->CloseTable();

    // Nothing readable on disk: not the descriptors, not the record IDs.
    std::vector<uint8_t> raw(std::filesystem::file_size(path));
    TFileHandler h;
    h.SetFileName(path);
    h.Open();
    h.ReadAt(0, raw.data(), raw.size());
    std::string bytes(raw.begin(), raw.end());
    EXPECT_EQ(bytes.find("Title"), std::string::npos);
    EXPECT_EQ(bytes.find("Open Sesame"), std::string::npos);
    EXPECT_EQ(raw[dh::Password], 11);
    int64_t rec3 = kDataHeaderSize + 6 * kDescriptorSize + 2 * 53;
    EXPECT_NE(GetI32(&raw[size_t(rec3) + 5]), 3);
}

TEST_F(DataFileTest, LocaleTablesBuildTheirCollation) {
    TTableDef def = TicketDef();
    def.LanguageID = 0x0407;  // German
    std::string path = m_Dir / "de.dat";
    CreateTable(path, def);
    auto t = Open(path);
    ASSERT_NE(t->Collator(), nullptr);
    const auto& c = t->CollationTable();
    auto pos = [&](uint8_t b) { return std::find(c.begin(), c.end(), b) - c.begin(); };
    EXPECT_LT(pos('a'), pos('B'));
    EXPECT_LT(pos('B'), pos('c'));
    EXPECT_LT(pos(0xE4 /* a umlaut */), pos('b'));
    EXPECT_EQ(c[0], 0);

    auto plain = Open(m_Dir / "de.dat");  // a second open shares it
    EXPECT_EQ(plain->LanguageID(), 0x0407);

    def.LanguageID = 0x7777;
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { CreateTable(m_Dir / "xx.dat", def); }), 15878);
    PatchI32(path, dh::LanguageID, 0x7777);
    t.reset();
    plain.reset();
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { Open(path); }), 15878);
}

TEST_F(DataFileTest, UnknownFieldsRaise9985NamingThem) {
    std::string path = m_Dir / "log.dat";
    CreateTable(path, TicketDef());
    auto t = Open(path);
    for (int n : {0, 7}) {
        try {
            t->FieldDescriptor(n);
            FAIL();
        } catch (const EVeltraEngineError& e) {
            EXPECT_EQ(e.ErrorCode(), 9985);
            EXPECT_NE(e.Errors()[0].Message.find("name " + std::to_string(n) + " specified"),
                      std::string::npos);
        }
    }
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { t->FieldDescriptorByName("Owner"); }), 9985);
    EXPECT_EQ(t->FieldNumber("submit DATE"), 4);
}

TEST_F(DataFileTest, DefinitionErrors) {
    auto with = [](auto change) {
        TTableDef def = TicketDef();
        change(def);
        return def;
    };
    struct {
        const char* What;
        TTableDef Def;
        int Code;
    } cases[] = {
        {"no fields", with([](TTableDef& d) { d.Fields.clear(); d.Indexes.clear(); }), 9492},
        {"duplicate name", with([](TTableDef& d) { d.Fields[2].Name = "title"; }), 10038},
        {"name starts with digit", with([](TTableDef& d) { d.Fields[2].Name = "1st"; }), 10038},
        {"name too long", with([](TTableDef& d) { d.Fields[2].Name = std::string(31, 'n'); }), 10038},
        {"unknown type", with([](TTableDef& d) { d.Fields[2].Type = 16; }), 10000},
        {"string too long", with([](TTableDef& d) { d.Fields[1].Size = 251; }), 9492},
        {"empty string", with([](TTableDef& d) { d.Fields[1].Size = 0; }), 9492},
        {"two counters", with([](TTableDef& d) { d.Fields[2] = {"N", ftInteger, kSubTypeAutoInc}; }), 10000},
        {"decimals", with([](TTableDef& d) { d.Fields[4].Decimals = 5; }), 10000},
        {"long default", with([](TTableDef& d) { d.Fields[1].DefaultValue = std::string(51, 'x'); }), 10006},
        {"block size", with([](TTableDef& d) { d.BlobBlockSize = 18; }), 9498},
        {"two primaries", with([](TTableDef& d) { d.Indexes.push_back({.Primary = true, .Fields = {"Title"}}); }), 9993},
        {"unnamed", with([](TTableDef& d) { d.Indexes[1].Name = ""; }), 10010},
        {"bad index name", with([](TTableDef& d) { d.Indexes[1].Name = "_x"; }), 10022},
        {"duplicate index", with([](TTableDef& d) { d.Indexes.push_back({.Name = "BYTITLE", .Fields = {"Priority"}}); }), 10027},
        {"unknown field", with([](TTableDef& d) { d.Indexes[1].Fields = {"Owner"}; }), 10023},
        {"blob in index", with([](TTableDef& d) { d.Indexes[1].Fields = {"Description"}; }), 12292},
        {"no index fields", with([](TTableDef& d) { d.Indexes[1].Fields.clear(); }), 9487},
        {"17 index fields", with([](TTableDef& d) { d.Indexes[1].Fields.assign(17, "Priority"); }), 9487},
        {"key too long", with([](TTableDef& d) {
             for (int i = 0; i < 5; ++i) d.Fields.push_back({"S" + std::to_string(i), ftString, 0, 250});
             d.Indexes[1].Fields = {"S0", "S1", "S2", "S3", "S4"};
         }), 10026},
        {"password too long", with([](TTableDef& d) { d.Password = std::string(16, 'p'); }), 10015},
    };
    for (auto& c : cases) {
        std::string path = m_Dir / "bad.dat";
        EXPECT_EQ(veltra_test::EngineErrorOf([&] { CreateTable(path, c.Def); }), c.Code) << c.What;
        EXPECT_FALSE(std::filesystem::exists(path)) << c.What;
    }
    TTableDef many = TicketDef();
    for (int i = 0; i < 31; ++i) many.Indexes.push_back({.Name = "I" + std::to_string(i), .Fields = {"Priority"}});
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { CreateTable(m_Dir / "many.dat", many); }), 9487);
}

namespace {

// Counts the writes that reach the table's files (not its journal), to see
// how flushes are coalesced. Installed for its lifetime.
class TCountingIo : public TFileIo {
public:
    TCountingIo() { SetFileIo(this); }
    ~TCountingIo() override { SetFileIo(nullptr); }
    std::vector<std::pair<off_t, size_t>> Writes;
    ssize_t PWrite(int fd, const void* buffer, size_t count, off_t offset) override {
        if (!IsJournal(fd)) Writes.emplace_back(offset, count);
        return TFileIo::PWrite(fd, buffer, count, offset);
    }

private:
    static bool IsJournal(int fd) {
        char target[512];
        std::string link = "/proc/self/fd/" + std::to_string(fd);
        ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        return n > 4 && std::string(target, size_t(n)).ends_with(".jnl");
    }
};

TTableDef WideDef() {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc}};
    for (int i = 0; i < 4; ++i) def.Fields.push_back({"S" + std::to_string(i), ftString, 0, 250});
    def.Indexes = {{.Primary = true, .Fields = {"ID"}}};
    return def;  // record size 9 + 4 x 252 = 1017: a cache of 128 records in 131070 bytes
}

}  // namespace

TEST_F(DataFileTest, DirtyRecordsAreWrittenSortedAndCoalesced) {
    std::string path = m_Dir / "log.dat";
    CreateTable(path, TicketDef());
    auto t = Open(path, true);
    const int rs = t->RecordSize();
    for (int i = 0; i < 10; ++i) {
        TRecord* r = t->NewRecordSlot();
        r->SetRecordID(t->TakeRecordID());
        r->Dirty = true;
        r->Unpin();
    }
    TCountingIo io;
    t->FlushBuffers(false);
    ASSERT_EQ(io.Writes.size(), 2u);  // records in one run, then the data header
    EXPECT_EQ(io.Writes[0], std::make_pair(off_t(t->DataOffset()), size_t(10 * rs)));
    EXPECT_EQ(io.Writes[1].first, 0);

    io.Writes.clear();
    for (int32_t n : {9, 2, 3, 5}) {
        TRecord* r = t->FetchRecord(n).Record;
        r->Dirty = true;
        r->Unpin();
    }
    t->FlushBuffers(false);
    std::vector<std::pair<off_t, size_t>> expected = {
        {off_t(t->DataOffset() + 1 * rs), size_t(2 * rs)},
        {off_t(t->DataOffset() + 4 * rs), size_t(rs)},
        {off_t(t->DataOffset() + 8 * rs), size_t(rs)}};
    EXPECT_EQ(io.Writes, expected);  // the header is clean and stays unwritten
}

TEST_F(DataFileTest, CacheEvictsCleanThenWritesDirtyAndNeverPinned) {
    std::string path = m_Dir / "wide.dat";
    CreateTable(path, WideDef());
    auto t = Open(path, true, 131070);
    ASSERT_EQ(t->CacheCapacity(), 128u);
    std::vector<TRecord*> pinned;
    for (int i = 0; i < 128; ++i) {
        TRecord* r = t->NewRecordSlot();
        r->SetRecordID(t->TakeRecordID());
        r->Dirty = true;
        pinned.push_back(r);
    }
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { t->NewRecordSlot(); }), 8962);  // all pinned
    for (int i = 0; i < 127; ++i) pinned[size_t(i)]->Unpin();
    TRecord* r129 = t->NewRecordSlot();  // forces the dirty unpinned ones out
    EXPECT_EQ(r129->PhysicalNo, 129);
    EXPECT_EQ(pinned[127]->PhysicalNo, 128);  // still pinned, still cached, still dirty
    EXPECT_TRUE(pinned[127]->Dirty);
    EXPECT_EQ(std::filesystem::file_size(path),
              uint64_t(t->DataOffset() + 127 * int64_t(t->RecordSize())));
    r129->SetRecordID(t->TakeRecordID());
    r129->Dirty = true;
    t->UnpinAll();
    t->CloseTable();

    t = Open(path, true);
    EXPECT_EQ(t->NextRecordNo(), 130);
    for (int32_t n = 1; n <= 129; ++n) {
        TRecord* r = t->FetchRecord(n, TReadAhead::Physical).Record;
        ASSERT_EQ(r->RecordID(), n);
        r->Unpin();
    }
}

TEST_F(DataFileTest, ReadAheadLoadsNeighboursInOneRequest) {
    std::string path = m_Dir / "wide.dat";
    CreateTable(path, WideDef());
    Append(*Open(path), 100);
    auto t = Open(path);
    const int perRead = 32767 / t->RecordSize();  // 32
    t->FetchRecord(10, TReadAhead::Physical).Record->Unpin();
    EXPECT_EQ(t->Statistics().DiskReads, 1u);
    EXPECT_EQ(t->CachedRecords(), size_t(perRead));
    for (int32_t n = 10; n < 10 + perRead; ++n) t->FetchRecord(n).Record->Unpin();
    EXPECT_EQ(t->Statistics().DiskReads, 1u);
    t->FetchRecord(90, TReadAhead::Physical, -1).Record->Unpin();
    EXPECT_EQ(t->Statistics().DiskReads, 2u);
    t->FetchRecord(90 - perRead + 1).Record->Unpin();
    EXPECT_EQ(t->Statistics().DiskReads, 2u);
    t->FetchRecord(90 - perRead).Record->Unpin();
    EXPECT_EQ(t->Statistics().DiskReads, 3u);
}

TEST_F(DataFileTest, PinningAbove64Raises8962) {
    std::string path = m_Dir / "log.dat";
    CreateTable(path, TicketDef());
    auto t = Open(path);
    Append(*t, 1);
    for (int i = 0; i < 64; ++i) t->FetchRecord(1);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { t->FetchRecord(1); }), 8962);
    t->UnpinAll();
    EXPECT_NO_THROW(t->FetchRecord(1));
}

TEST_F(DataFileTest, ExclusiveTablesTakeNoLocksAndWriteOnClose) {
    std::string path = m_Dir / "log.dat";
    CreateTable(path, TicketDef());
    auto t = Open(path, true);
    EXPECT_FALSE(t->BeginRead());
    EXPECT_FALSE(t->InReadPhase());
    t->BeginWrite();
    EXPECT_FALSE(t->InWritePhase());
    TRecord* r = t->NewRecordSlot();
    r->SetRecordID(t->TakeRecordID());
    r->Dirty = true;
    r->Unpin();
    auto size = std::filesystem::file_size(path);
    t->CloseTable();
    EXPECT_GT(std::filesystem::file_size(path), size);
    EXPECT_EQ(Open(path)->NextRecordNo(), 2);
}

TEST_F(DataFileTest, ChangingSettingsOfAnOpenTable) {
    std::string path = m_Dir / "log.dat";
    CreateTable(path, TicketDef());
    auto t = Open(path);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { t->SetFileName(m_Dir / "x.dat"); }), 10031);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { t->SetExclusive(true); }), 10031);
    t->SetStrictChangeDetection(true);
    EXPECT_FALSE(t->StrictChangeDetection());
    t->SetLockRetryCount(3);
    EXPECT_EQ(t->LockRetryCount(), 3);
}
