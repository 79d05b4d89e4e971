// Randomized runs of the B+-tree against a sorted model, over every leaf
// compression mode, unique and non-unique, ascending and descending, short
// and near-maximal keys; and a change that fails half-way.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>

#include "engine/index_verifier.h"
#include "engine/session.h"
#include "test_util.h"

using namespace veltra;
using veltra_test::EngineErrorOf;
using veltra_test::TTestDir;

namespace {

using TKey = std::vector<uint8_t>;

// Short keys fill pages with hundreds of entries, medium ones (about 200
// bytes) with tens, long ones (near the 1036-byte limit) with three.
enum class TKeyLength { Short, Medium, Long };

struct ModelParams {
    int Compression;
    bool Unique;
    bool Descending;
    TKeyLength Length;
};

std::string Name(const ::testing::TestParamInfo<ModelParams>& info) {
    const ModelParams& p = info.param;
    return "Mode" + std::to_string(p.Compression) + (p.Unique ? "Unique" : "Dups") +
           (p.Descending ? "Down" : "Up") +
           (p.Length == TKeyLength::Short ? "Short" : p.Length == TKeyLength::Medium ? "Medium" : "Long");
}

class IndexModelTest : public ::testing::TestWithParam<ModelParams> {
protected:
    void SetUp() override {
        EngineStartup();
        const ModelParams& p = GetParam();
        TTableDef def;
        def.Fields = {{"ID", ftInteger, kSubTypeAutoInc}};
        std::vector<std::string> keyFields;
        int parts = p.Length == TKeyLength::Long ? 4 : p.Length == TKeyLength::Medium ? 2 : 1;
        uint8_t size = p.Length == TKeyLength::Long ? 250 : p.Length == TKeyLength::Medium ? 100 : 12;
        for (int i = 0; i < parts; ++i) {
            def.Fields.push_back({"S" + std::to_string(i), ftString, 0, size});
            keyFields.push_back("S" + std::to_string(i));
        }
        def.Indexes = {{.Primary = true, .Fields = {"ID"}},
                       {.Name = "Model", .Fields = keyFields, .Unique = p.Unique, .Descending = p.Descending,
                        .Compression = TCompression(p.Compression)}};
        m_Path = m_Dir / "model.dat";
        CreateTable(m_Path, def);
        m_Table.SetFileName(m_Path);
        m_Table.SetExclusive(true);
        m_Table.OpenTable();
        m_Record.assign(size_t(m_Table.RecordSize()), 0);
        m_Parts = parts;
    }

    TIndexFile& Index() { return m_Table.IndexFile(); }
    const TKeyLayout& Layout() { return Index().Layout(1); }

    // Values with shared prefixes, zero padding and nulls, so that every
    // compression mode finds something to drop.
    TKey RandomKey(std::mt19937& gen, int32_t id) {
        std::fill(m_Record.begin(), m_Record.end(), 0);
        for (int i = 0; i < m_Parts; ++i) {
            TFieldDescriptor d = m_Table.FieldDescriptor(2 + i);
            int maxLen = d.PhysicalSize() - 1;
            std::string text;
            if (gen() % 10 != 0) {
                int prefix = GetParam().Length != TKeyLength::Short ? int(gen() % 2) * (maxLen - 20) : 0;
                text.assign(size_t(prefix), 'x');
                int len = int(gen() % 6);
                for (int c = 0; c < len; ++c) text += char('a' + gen() % 3);
            }
            uint8_t* f = &m_Record[d.Offset()];
            f[0] = text.empty() ? 0 : 1;
            std::memcpy(f + 1, text.data(), text.size());
        }
        PutI32(&m_Record[5], id);
        TKey key(size_t(Layout().KeySize));
        m_Table.BuildKey(1, m_Record.data(), key.data());
        return key;
    }

    struct Less {
        const TKeyLayout* L;
        bool operator()(const TKey& a, const TKey& b) const { return L->Compare(a.data(), b.data()) < 0; }
    };

    TTestDir m_Dir;
    std::string m_Path;
    TDataFile m_Table;
    std::vector<uint8_t> m_Record;
    int m_Parts = 1;
};

TEST_P(IndexModelTest, MatchesSortedModel) {
    std::mt19937 gen(12345 + GetParam().Compression * 7 + GetParam().Unique * 3 + GetParam().Descending +
                     int(GetParam().Length) * 11);
    std::map<TKey, int32_t, Less> model(Less{&Layout()});
    TIndexFile& ix = Index();
    ix.SelectIndex(1);
    const int batches = 12;
    const int perBatch = GetParam().Length == TKeyLength::Long ? 250 : 600;
    int32_t nextRecord = 1;
    for (int batch = 0; batch < batches; ++batch) {
        bool growing = batch < batches * 2 / 3;
        for (int op = 0; op < perBatch; ++op) {
            bool insert = model.empty() || gen() % 100 < (growing ? 70u : 30u);
            if (insert) {
                int32_t rec = nextRecord++;
                TKey key = RandomKey(gen, rec);
                if (model.count(key)) {
                    ASSERT_TRUE(GetParam().Unique);
                    ASSERT_EQ(EngineErrorOf([&] { ix.CheckKeyViolation(1, key.data()); }), 9729);
                    continue;
                }
                ix.InsertKey(1, key.data(), rec);
                model.emplace(key, rec);
            } else if (gen() % 20 == 0) {
                TKey missing = RandomKey(gen, nextRecord + 1000000);
                if (!model.count(missing)) {
                    ASSERT_EQ(EngineErrorOf([&] { ix.DeleteKey(1, missing.data()); }), 8708);
                }
            } else {
                auto it = std::next(model.begin(), long(gen() % model.size()));
                ix.DeleteKey(1, it->first.data());
                model.erase(it);
            }
        }
        if (batch % 3 == 2) {  // through the file: write, forget, read back
            m_Table.UnpinAll();
            m_Table.FlushBuffers(false);
            ix.InvalidatePages();
            ix.SelectIndex(1);
        }
        TIndexReport report = TIndexVerifier::Verify(ix, 1);
        ASSERT_TRUE(report.Ok()) << "batch " << batch << "\n" << report.Text();
        ASSERT_EQ(report.Entries, int64_t(model.size()));

        // The whole order.
        std::vector<std::pair<TKey, int32_t>> expected(model.begin(), model.end()), seen;
        ix.First();
        while (ix.OnEntry()) {
            seen.emplace_back(ix.CurrentKey(), ix.CurrentRecord());
            ix.MoveBy(1);
        }
        ASSERT_EQ(seen, expected) << "batch " << batch;
        ASSERT_EQ(ix.VisibleCount(), int64_t(model.size()));
        if (model.empty()) continue;

        // Positions by number, both ways.
        for (int s = 0; s < 20; ++s) {
            int64_t n = 1 + int64_t(gen() % model.size());
            ix.GotoRecordNumber(n);
            ASSERT_EQ(ix.CurrentRecord(), expected[size_t(n - 1)].second);
            ASSERT_EQ(ix.RecordNumber(), n);
        }
        // Counts between keys and nearest matches.
        for (int s = 0; s < 20; ++s) {
            TKey a = RandomKey(gen, int32_t(gen() % nextRecord)), b = RandomKey(gen, int32_t(gen() % nextRecord));
            if (Layout().Compare(a.data(), b.data()) > 0) std::swap(a, b);
            int64_t inModel = std::distance(model.lower_bound(a), model.upper_bound(b));
            ASSERT_EQ(ix.CountKeysInRange(a.data(), b.data(), Layout().KeySize), inModel);
            auto lb = model.lower_bound(a);
            bool found = ix.FindNearest(a.data(), true, Layout().KeySize);
            ASSERT_EQ(found, lb != model.end() && lb->first == a);
            ASSERT_EQ(ix.CurrentRecord(), lb == model.end() ? 0 : lb->second);
        }
    }
    // Emptying the index frees every page back to its free list.
    while (!model.empty()) {
        ix.DeleteKey(1, model.begin()->first.data());
        model.erase(model.begin());
    }
    EXPECT_EQ(ix.ReadDescriptor(1).Root(), 0);
    TIndexReport report = TIndexVerifier::Verify(ix, 1);
    EXPECT_TRUE(report.Ok()) << report.Text();
    EXPECT_EQ(report.FreePages.size(), size_t((ix.EndOffset() - 4096) / 4096));
}

std::vector<ModelParams> AllParams() {
    std::vector<ModelParams> all;
    for (int mode = 0; mode < 4; ++mode)
        for (bool unique : {true, false})
            for (bool down : {false, true})
                for (TKeyLength length : {TKeyLength::Short, TKeyLength::Medium, TKeyLength::Long})
                    all.push_back({mode, unique, down, length});
    return all;
}

INSTANTIATE_TEST_SUITE_P(Matrix, IndexModelTest, ::testing::ValuesIn(AllParams()), Name);

// A change that fails half-way (the file cannot grow for the new root of a
// split) leaves the index, in memory and on disk, as it was.
TEST(IndexRollbackTest, FailedSplitLeavesIndexUnchanged) {
    EngineStartup();
    TTestDir dir;
    std::string path = dir / "t.dat";
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc}, {"Name", ftString, 0, 8}};
    def.Indexes = {{.Primary = true, .Fields = {"ID"}}, {.Name = "ByName", .Fields = {"Name"}, .Unique = true}};
    CreateTable(path, def);
    auto keyOf = [](TDataFile& t, int i) {
        std::vector<uint8_t> rec(size_t(t.RecordSize()), 0);
        std::string s = std::to_string(10000000 + i);
        rec[9] = 1;
        std::memcpy(&rec[10], s.data(), 8);
        TKey k(10);
        t.BuildKey(1, rec.data(), k.data());
        return k;
    };
    {
        TDataFile t;
        t.SetFileName(path);
        t.SetExclusive(true);
        t.OpenTable();
        for (int i = 0; i < 254; ++i) t.IndexFile().InsertKey(1, keyOf(t, i).data(), i + 1);
        t.CloseTable();
    }
    // Room for exactly one more page before offset 2,000,000,000.
    std::string idx = veltra_test::IndexPathOf(path);
    const int32_t end = 4096 * 488282;
    std::vector<uint8_t> header = veltra_test::ReadFileBytes(idx);
    PutI32(&header[ih::EndOffset], end);
    header.resize(8192);
    veltra_test::WriteFileBytes(idx, header);
    std::filesystem::resize_file(idx, uint64_t(end));

    TDataFile t;
    t.SetFileName(path);
    t.SetExclusive(true);
    t.OpenTable();
    TIndexFile& ix = t.IndexFile();
    ix.InsertKey(1, keyOf(t, 254).data(), 255);  // the root leaf is now full
    {
        TIndexChange whole(ix);  // a record's changes: one key goes, one comes
        ix.DeleteKey(1, keyOf(t, 0).data());
        EXPECT_EQ(EngineErrorOf([&] { ix.InsertKey(1, keyOf(t, 1000).data(), 1001); }), 0);
        EXPECT_EQ(EngineErrorOf([&] { ix.InsertKey(1, keyOf(t, 1001).data(), 1002); }), 9479);
    }
    EXPECT_EQ(ix.EndOffset(), end);
    TIndexReport r = TIndexVerifier::Verify(ix, 1);
    EXPECT_TRUE(r.Ok()) << r.Text();
    EXPECT_EQ(r.Entries, 255);
    EXPECT_TRUE(ix.KeyExists(1, keyOf(t, 0).data()));
    EXPECT_FALSE(ix.KeyExists(1, keyOf(t, 1000).data()));
    t.CloseTable();
    // The page the failed split appended never reached the file.
    EXPECT_EQ(std::filesystem::file_size(idx), uint64_t(end));
    std::ifstream in(idx, std::ios::binary);
    uint8_t head[kIndexBlockSize];
    in.read(reinterpret_cast<char*>(head), sizeof head);
    EXPECT_EQ(GetI32(&head[ih::EndOffset]), end);
}

}  // namespace
