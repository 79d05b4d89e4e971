// Record cache tests: the capacity taken from the cache size, long runs of
// exclusive changes that keep the caches at their size, and a randomised run
// of reads, changes, evictions and flushes against a model of the file, with
// a cache far smaller than the table.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/index_verifier.h"
#include "engine/session.h"
#include "test_util.h"

using namespace veltra;
using veltra_test::TTestDir;

namespace {

TTableDef NotesDef() {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc}, {"Title", ftString, 0, 40}, {"Notes", ftBlob, 22}};
    def.Indexes = {{.Primary = true, .Fields = {"ID"}},
                   {.Name = "ByTitle", .Fields = {"Title"}, .Compression = TCompression::Both}};
    return def;
}

TTableDef TitlesDef() {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc}, {"Title", ftString, 0, 40}};
    def.Indexes = {{.Primary = true, .Fields = {"ID"}}};
    return def;
}

void SetTitle(TDataFile& t, uint8_t* record, const std::string& title) {
    t.SetFieldValue(t.FieldNumber("Title"), record, reinterpret_cast<const uint8_t*>(title.data()), title.size());
}

std::string Title(TDataFile& t, const uint8_t* record) {
    std::vector<uint8_t> value(64, 0);
    if (t.GetFieldValue(t.FieldNumber("Title"), record, value.data())) return "";
    return reinterpret_cast<const char*>(value.data());
}

class RecordCacheTest : public ::testing::Test {
protected:
    void SetUp() override { EngineStartup(); }
    TTestDir m_Dir;
};

TEST_F(RecordCacheTest, CapacityFollowsTheCacheSize) {
    const std::string path = m_Dir / "t.dat";
    CreateTable(path, TitlesDef());
    struct TCase {
        size_t Bytes;
        size_t (*Expected)(size_t recordSize);
    } cases[] = {
        {0, [](size_t rs) { return std::min(kRecordCacheBytes / rs, kMaxCachedRecords); }},
        {131070, [](size_t rs) { return 131070 / rs; }},
        {1000, [](size_t rs) { return 1000 / rs; }},
        {1, [](size_t) { return size_t(1); }},
    };
    for (const TCase& c : cases) {
        TDataFile t;
        t.SetFileName(path);
        t.SetRecordCacheBytes(c.Bytes);
        t.OpenTable();
        EXPECT_EQ(t.CacheCapacity(), c.Expected(size_t(t.RecordSize()))) << c.Bytes << " bytes";
    }
}

// An exclusive table keeps its changes in the caches; a change scope grows a
// full cache rather than write. After each committed change the caches must
// be back at their size, and everything must reach the file in the end.
TEST_F(RecordCacheTest, ExclusiveInsertsKeepTheCacheAtItsSizeAndStoreEverything) {
    const std::string path = m_Dir / "notes.dat";
    CreateTable(path, NotesDef());
    std::mt19937 gen(11);
    std::vector<std::pair<std::string, std::string>> rows;
    {
        TDataFile t;
        t.SetFileName(path);
        t.SetExclusive(true);
        t.SetRecordCacheBytes(1);  // capacity 1: every insertion outgrows it
        t.OpenTable();
        const int notes = t.FieldNumber("Notes");
        std::vector<uint8_t> record(size_t(t.RecordSize()));
        for (int i = 0; i < 300; ++i) {
            std::string title = "T" + std::to_string(gen() % 1000) + "-" + std::to_string(i);
            std::string text(300 + gen() % 1500, char('a' + i % 26));
            t.InitRecord(record.data());
            SetTitle(t, record.data(), title);
            veltra_test::PutBlobText(t, record.data(), "Notes", text);
            t.InsertRecord(record.data(), false);
            ASSERT_EQ(t.CloseBlobField(notes, record.data()), 0);
            ASSERT_LE(t.CachedRecords(), t.CacheCapacity()) << "after insertion " << i;
            rows.emplace_back(title, text);
        }
        t.CloseTable();
    }
    TDataFile t;
    t.SetFileName(path);
    t.OpenTable();
    TIndexReport report = TIndexVerifier::VerifyAll(t.IndexFile());
    ASSERT_TRUE(report.Ok()) << report.Text();
    ASSERT_EQ(t.RecordCount(), int64_t(rows.size()));
    std::vector<uint8_t> record(size_t(t.RecordSize()));
    t.FirstRecord();
    for (const auto& [title, text] : rows) {
        ASSERT_EQ(t.NextRecord(record.data()), 0);
        EXPECT_EQ(Title(t, record.data()), title);
        EXPECT_EQ(veltra_test::BlobText(t, record.data(), "Notes"), text);
    }
    EXPECT_EQ(t.NextRecord(record.data()), ecEOF);
}

// Reads with and without read-ahead, in both directions, changes of cached
// and evicted records, appends and flushes at random, against a model of
// every slot's title: a read always sees the latest image, and the file holds
// every change once the table is closed.
TEST_F(RecordCacheTest, RandomReadsAndChangesMatchAModel) {
    for (bool exclusive : {false, true}) {
        SCOPED_TRACE(exclusive ? "exclusive" : "shared");
        const std::string path = m_Dir / (exclusive ? "x.dat" : "s.dat");
        CreateTable(path, TitlesDef());
        std::vector<std::string> model;  // slot n - 1
        std::mt19937 gen(exclusive ? 5 : 6);
        {
            TDataFile t;
            t.SetFileName(path);
            t.SetExclusive(exclusive);
            t.SetRecordCacheBytes(size_t(8 * 51));  // 8 records of 51 bytes
            t.OpenTable();
            ASSERT_EQ(t.RecordSize(), 51);
            ASSERT_EQ(t.CacheCapacity(), 8u);
            auto flush = [&] {
                t.UnpinAll();
                t.FlushBuffers(true);
            };
            for (int op = 0; op < 4000; ++op) {
                const unsigned kind = gen() % 100;
                if (model.empty() || kind < 15) {  // append
                    t.BeginWrite();
                    TRecord* r = t.NewRecordSlot();
                    r->SetLink(r->PhysicalNo);
                    r->SetRecordID(t.TakeRecordID());
                    std::string title = "new " + std::to_string(op);
                    SetTitle(t, r->Buffer.data(), title);
                    r->Dirty = true;
                    r->Unpin();
                    model.push_back(title);
                    if (!exclusive || gen() % 4 == 0) flush();
                    t.EndWrite();
                    continue;
                }
                const int32_t n = int32_t(1 + gen() % model.size());
                const TReadAhead readAhead = gen() % 2 ? TReadAhead::Physical : TReadAhead::None;
                const int direction = gen() % 2 ? 1 : -1;
                if (kind < 55) {  // change
                    t.BeginWrite();
                    TFetchResult f = t.FetchRecord(n, readAhead, direction);
                    ASSERT_NE(f.Record, nullptr);
                    t.MarkRecordDirty(*f.Record);
                    std::string title = "changed " + std::to_string(op);
                    SetTitle(t, f.Record->Buffer.data(), title);
                    f.Record->Unpin();
                    model[size_t(n - 1)] = title;
                    if (!exclusive || gen() % 4 == 0) flush();
                    t.EndWrite();
                } else {  // read
                    TFetchResult f = t.FetchRecord(n, readAhead, direction);
                    ASSERT_NE(f.Record, nullptr);
                    ASSERT_EQ(Title(t, f.Record->Buffer.data()), model[size_t(n - 1)]) << "slot " << n;
                    f.Record->Unpin();
                }
                ASSERT_LE(t.CachedRecords(), t.CacheCapacity());
            }
            t.CloseTable();
        }
        TDataFile t;
        t.SetFileName(path);
        t.OpenTable();
        ASSERT_EQ(t.NextRecordNo(), int32_t(model.size()) + 1);
        for (int32_t n = 1; n <= int32_t(model.size()); ++n) {
            TFetchResult f = t.FetchRecord(n, TReadAhead::Physical);
            ASSERT_NE(f.Record, nullptr);
            EXPECT_EQ(Title(t, f.Record->Buffer.data()), model[size_t(n - 1)]) << "slot " << n;
            f.Record->Unpin();
        }
    }
}

}  // namespace
