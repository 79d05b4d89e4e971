// The index file: key building and ordering, the B+-tree's fixed figures,
// the cursor and ranges, and randomized runs against a sorted model.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

#include "engine/index_verifier.h"
#include "engine/session.h"
#include "platform/locale_services.h"
#include "test_util.h"

using namespace veltra;
using veltra_test::EngineErrorOf;
using veltra_test::TTestDir;

namespace {

using TKey = std::vector<uint8_t>;

// A table opened exclusively, with helpers to build keys from field values.
class TIndexFixture {
public:
    TIndexFixture(const std::string& path, const TTableDef& def) {
        EngineStartup();
        CreateTable(path, def);
        Table.SetFileName(path);
        Table.SetExclusive(true);
        Table.OpenTable();
        Record.assign(size_t(Table.RecordSize()), 0);
    }

    TIndexFile& Index() { return Table.IndexFile(); }

    void Clear() { std::fill(Record.begin(), Record.end(), 0); }
    void SetString(const std::string& field, const std::string& text) {
        TFieldDescriptor d = Table.FieldDescriptorByName(field);
        uint8_t* p = &Record[d.Offset()];
        std::memset(p, 0, size_t(d.PhysicalSize()) + 1);
        p[0] = text.empty() ? 0 : 1;
        std::memcpy(p + 1, text.data(), std::min(text.size(), size_t(d.PhysicalSize()) - 1));
    }
    void SetInt(const std::string& field, int32_t v) {
        TFieldDescriptor d = Table.FieldDescriptorByName(field);
        Record[d.Offset()] = 1;
        PutI32(&Record[d.Offset() + 1u], v);
    }
    void SetFloat(const std::string& field, double v) {
        TFieldDescriptor d = Table.FieldDescriptorByName(field);
        Record[d.Offset()] = 1;
        PutF64(&Record[d.Offset() + 1u], v);
    }
    void SetNull(const std::string& field) {
        TFieldDescriptor d = Table.FieldDescriptorByName(field);
        std::memset(&Record[d.Offset()], 0, size_t(d.PhysicalSize()) + 1);
    }
    void SetId(int32_t id) { PutI32(&Record[5], id); }
    TKey Key(int slot) {
        TKey k(size_t(Index().Layout(slot).KeySize));
        Table.BuildKey(slot, Record.data(), k.data());
        return k;
    }

    // Keys of the current index in cursor order, with their record numbers.
    std::vector<std::pair<TKey, int32_t>> Scan() {
        std::vector<std::pair<TKey, int32_t>> out;
        Index().First();
        while (Index().OnEntry()) {
            out.emplace_back(Index().CurrentKey(), Index().CurrentRecord());
            Index().MoveBy(1);
        }
        return out;
    }

    TDataFile Table;
    std::vector<uint8_t> Record;
};

TTableDef OneIndexDef(uint8_t size, TIndexDef index) {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc}, {"Name", ftString, 0, size}, {"N", ftInteger},
                  {"F", ftFloat}};
    index.Name = "ByName";
    def.Indexes = {{.Primary = true, .Fields = {"ID"}}, index};
    return def;
}

void ExpectValid(TIndexFile& index, int slot, const char* when) {
    TIndexReport r = TIndexVerifier::Verify(index, slot);
    ASSERT_TRUE(r.Ok()) << when << "\n" << r.Text();
}

}  // namespace

TEST(IndexKeyTest, OrderingRules) {
    TTestDir dir;
    TTableDef def = OneIndexDef(10, {.Fields = {"N"}});
    def.Indexes.push_back({.Name = "Down", .Fields = {"N"}, .Descending = true});
    def.Indexes.push_back({.Name = "ByF", .Fields = {"F"}});
    TIndexFixture t(dir / "t.dat", def);
    auto intKey = [&](std::optional<int32_t> v, int slot) {
        t.Clear();
        v ? t.SetInt("N", *v) : t.SetNull("N");
        return t.Key(slot);
    };
    const TKeyLayout& up = t.Index().Layout(1);
    const TKeyLayout& down = t.Index().Layout(2);
    // Nulls first ascending, last descending; negatives before positives.
    std::vector<std::optional<int32_t>> order = {std::nullopt, INT32_MIN, -5, -1, 0, 1, 7, INT32_MAX};
    for (size_t i = 1; i < order.size(); ++i) {
        EXPECT_LT(up.Compare(intKey(order[i - 1], 1).data(), intKey(order[i], 1).data()), 0) << i;
        EXPECT_GT(down.Compare(intKey(order[i - 1], 2).data(), intKey(order[i], 2).data()), 0) << i;
    }
    auto floatKey = [&](double v) {
        t.Clear();
        t.SetFloat("F", v);
        return t.Key(3);
    };
    std::vector<double> floats = {-INFINITY, -1e300, -2.5, -1e-300, 0.0, 1e-300, 3.25, 1e300, INFINITY};
    const TKeyLayout& fl = t.Index().Layout(3);
    for (size_t i = 1; i < floats.size(); ++i)
        EXPECT_LT(fl.Compare(floatKey(floats[i - 1]).data(), floatKey(floats[i]).data()), 0) << floats[i];
    EXPECT_EQ(floatKey(-0.0), floatKey(0.0));
}

TEST(IndexKeyTest, CaseFoldingAndRecordIdSuffix) {
    TTestDir dir;
    TTableDef def = OneIndexDef(10, {.Fields = {"Name"}, .Unique = true, .CaseInsensitive = true});
    def.Indexes.push_back({.Name = "Exact", .Fields = {"Name"}, .Unique = true});
    def.Indexes.push_back({.Name = "Dups", .Fields = {"Name"}});
    TIndexFixture t(dir / "t.dat", def);
    auto key = [&](const char* s, int slot, int32_t id) {
        t.Clear();
        t.SetString("Name", s);
        t.SetId(id);
        return t.Key(slot);
    };
    EXPECT_EQ(key("Abc", 1, 1), key("ABC", 1, 2));
    EXPECT_NE(key("Abc", 2, 1), key("ABC", 2, 1));
    t.Index().InsertKey(1, key("Abc", 1, 1).data(), 1);
    EXPECT_EQ(EngineErrorOf([&] { t.Index().CheckKeyViolation(1, key("ABC", 1, 2).data()); }), 9729);
    t.Index().InsertKey(2, key("Abc", 2, 1).data(), 1);
    EXPECT_NO_THROW(t.Index().CheckKeyViolation(2, key("ABC", 2, 2).data()));
    try {
        t.Index().CheckKeyViolation(2, key("Abc", 2, 9).data());
        FAIL();
    } catch (const EVeltraEngineError& e) {
        EXPECT_NE(std::string(e.what()).find("index Exact of data file"), std::string::npos);
    }
    // Equal values in a non-unique index stay distinct and ordered by ID.
    TKey a = key("same", 3, 300), b = key("same", 3, 20);
    EXPECT_NE(a, b);
    EXPECT_GT(t.Index().Layout(3).Compare(a.data(), b.data()), 0);
    EXPECT_EQ(GetKeyRecordId(&a[a.size() - 4]), 300);
}

TEST(IndexTreeTest, FixedFiguresForTenByteKeys) {
    TTestDir dir;
    TIndexFixture t(dir / "t.dat", OneIndexDef(8, {.Fields = {"Name"}, .Unique = true}));
    TIndexFile& ix = t.Index();
    ASSERT_EQ(ix.Layout(1).KeySize, 10);
    auto key = [&](int i) {
        std::string s = std::to_string(i);
        t.Clear();
        t.SetString("Name", std::string(8 - s.size(), '0') + s);
        return t.Key(1);
    };
    for (int i = 1; i <= 255; ++i) ix.InsertKey(1, key(i).data(), i);
    int32_t root = ix.ReadDescriptor(1).Root();
    EXPECT_EQ(ix.ReadPage(1, root)->Kind, pkRootLeaf);
    EXPECT_EQ(ix.ReadPage(1, root)->Count(), 255);
    ix.InsertKey(1, key(256).data(), 256);
    TPageRef top = ix.ReadPage(1, ix.ReadDescriptor(1).Root());
    ASSERT_EQ(top->Kind, pkRoot);
    ASSERT_EQ(top->Count(), 2);
    EXPECT_EQ(top->SubCount(0), 128);
    EXPECT_EQ(top->SubCount(1), 128);
    top.Reset();

    // Ascending inserts fill leaves of 128; the root holds 204 of them.
    int n = 256;
    auto rootCount = [&] { return ix.ReadPage(1, ix.ReadDescriptor(1).Root())->Count(); };
    while (rootCount() < 204 && ix.ReadPage(1, ix.ReadDescriptor(1).Root())->Kind == pkRoot) {
        ++n;
        ix.InsertKey(1, key(n).data(), n);
    }
    EXPECT_EQ(rootCount(), 204);
    ExpectValid(ix, 1, "204 leaves");
    while (rootCount() == 204) {
        ++n;
        ix.InsertKey(1, key(n).data(), n);
    }
    TPageRef newRoot = ix.ReadPage(1, ix.ReadDescriptor(1).Root());
    EXPECT_EQ(newRoot->Count(), 2);
    EXPECT_EQ(ix.ReadPage(1, newRoot->Link(0))->Count(), 103);
    EXPECT_EQ(ix.ReadPage(1, newRoot->Link(1))->Count(), 102);
    newRoot.Reset();
    ExpectValid(ix, 1, "three levels");
}

TEST(IndexTreeTest, LastDeleteFreesTheRootAndTheNextInsertReusesIt) {
    TTestDir dir;
    TIndexFixture t(dir / "t.dat", OneIndexDef(8, {.Fields = {"Name"}, .Unique = true}));
    TIndexFile& ix = t.Index();
    t.SetString("Name", "only");
    TKey k = t.Key(1);
    ix.InsertKey(1, k.data(), 1);
    int32_t root = ix.ReadDescriptor(1).Root();
    EXPECT_EQ(root, 4096);
    ix.DeleteKey(1, k.data());
    EXPECT_EQ(ix.ReadDescriptor(1).Root(), 0);
    EXPECT_EQ(ix.ReadDescriptor(1).FreeHead(), root);
    EXPECT_EQ(EngineErrorOf([&] { ix.DeleteKey(1, k.data()); }), 8708);
    ix.InsertKey(1, k.data(), 1);
    EXPECT_EQ(ix.ReadDescriptor(1).Root(), root);
    EXPECT_EQ(ix.ReadDescriptor(1).FreeHead(), 0);
    EXPECT_EQ(ix.EndOffset(), 8192);
}

TEST(IndexTreeTest, SmallestKeyUpdatesTheLeftmostPath) {
    TTestDir dir;
    TIndexFixture t(dir / "t.dat", OneIndexDef(8, {.Fields = {"Name"}, .Unique = true}));
    TIndexFile& ix = t.Index();
    auto key = [&](int i) {
        t.Clear();
        t.SetString("Name", std::to_string(100000 + i));
        return t.Key(1);
    };
    for (int i = 1000; i < 60000; ++i) ix.InsertKey(1, key(i).data(), i);
    TKey smallest = key(1);
    ix.InsertKey(1, smallest.data(), 1);
    ExpectValid(ix, 1, "after the smallest key");
    int32_t o = ix.ReadDescriptor(1).Root();
    int levels = 0;
    for (;;) {
        TPageRef p = ix.ReadPage(1, o);
        EXPECT_EQ(TKey(p->Key(0), p->Key(0) + 10), smallest) << "level " << levels;
        ++levels;
        if (p->IsLeaf()) break;
        o = p->Link(0);
    }
    EXPECT_EQ(levels, 3);
}

TEST(IndexCursorTest, PositionsRangesAndCounts) {
    TTestDir dir;
    TIndexFixture t(dir / "t.dat", OneIndexDef(8, {.Fields = {"N"}}));
    TIndexFile& ix = t.Index();
    for (int i = 1; i <= 1000; ++i) {
        t.Clear();
        t.SetInt("N", i * 10);
        t.SetId(i);
        ix.InsertKey(1, t.Key(1).data(), i);
    }
    ix.SelectIndex(1);
    EXPECT_EQ(ix.VisibleCount(), 1000);
    ix.GotoRecordNumber(0);
    EXPECT_TRUE(ix.Bof());
    ix.GotoRecordNumber(1001);
    EXPECT_TRUE(ix.Eof());
    ix.GotoRecordNumber(777);
    EXPECT_EQ(ix.CurrentRecord(), 777);
    EXPECT_EQ(ix.RecordNumber(), 777);
    ix.MoveBy(-700);
    EXPECT_EQ(ix.CurrentRecord(), 77);
    ix.MoveBy(-77);
    EXPECT_TRUE(ix.Bof());
    ix.MoveBy(1);
    EXPECT_EQ(ix.CurrentRecord(), 1);

    auto keyFor = [&](int n, int32_t id) {
        t.Clear();
        t.SetInt("N", n);
        t.SetId(id);
        return t.Key(1);
    };
    EXPECT_TRUE(ix.FindNearest(keyFor(500, 0).data(), true, 5));  // value only, without the ID
    EXPECT_EQ(ix.CurrentRecord(), 50);
    EXPECT_FALSE(ix.FindNearest(keyFor(505, 0).data(), true, 5));
    EXPECT_EQ(ix.CurrentRecord(), 51);
    EXPECT_FALSE(ix.FindNearest(keyFor(505, 0).data(), false, 5));
    EXPECT_EQ(ix.CurrentRecord(), 50);
    EXPECT_FALSE(ix.FindNearest(keyFor(5, 0).data(), false, 5));
    EXPECT_EQ(ix.CurrentRecord(), 1);  // every entry is greater
    EXPECT_FALSE(ix.FindNearest(keyFor(20000, 0).data(), true, 5));
    EXPECT_TRUE(ix.Eof());

    EXPECT_EQ(ix.CountKeysInRange(keyFor(100, 0).data(), keyFor(200, 0).data(), 5), 11);
    ix.SetRangeStart(keyFor(100, INT32_MIN).data());
    ix.SetRangeEnd(keyFor(200, INT32_MAX).data());
    ix.ApplyRange();
    EXPECT_EQ(ix.VisibleCount(), 11);
    ix.First();
    EXPECT_EQ(ix.CurrentRecord(), 10);
    EXPECT_EQ(ix.RecordNumber(), 1);
    ix.Last();
    EXPECT_EQ(ix.CurrentRecord(), 20);
    ix.MoveBy(1);
    EXPECT_TRUE(ix.Eof());
    ix.GotoRecordNumber(3);
    EXPECT_EQ(ix.CurrentRecord(), 12);
    TRecordBitmap marked;
    ix.MarkKeysInRange(keyFor(100, 0).data(), keyFor(120, 0).data(), 5, marked);
    EXPECT_EQ(marked.Count(), 3);
    EXPECT_TRUE(marked.Test(11));

    ix.SetRangeStart(keyFor(300, 0).data());
    ix.SetRangeEnd(keyFor(200, 0).data());
    ix.ApplyRange();
    EXPECT_EQ(ix.VisibleCount(), 0);
    ix.First();
    EXPECT_FALSE(ix.OnEntry());
    ix.CancelRange();
    EXPECT_EQ(ix.VisibleCount(), 1000);
}

TEST(IndexCursorTest, FiltersAndConsecutiveRecords) {
    TTestDir dir;
    std::string path = dir / "t.dat";
    veltra_test::CreateSmallTable(path, 0);
    EngineStartup();
    TDataFile table;
    table.SetFileName(path);
    table.SetExclusive(true);
    table.OpenTable();
    TIndexFile& ix = table.IndexFile();
    veltra_test::AppendRecords(table, 40);
    // Index the appended records as an insertion would.
    for (int32_t n = 1; n <= 40; ++n) {
        TRecord* r = table.FetchRecord(n).Record;
        for (int slot : {0, 1, kDeletedIndexSlot}) {
            TKey k(size_t(ix.Layout(slot).KeySize));
            table.BuildKey(slot, r->Buffer.data(), k.data());
            ix.InsertKey(slot, k.data(), n);
        }
        r->Unpin();
    }
    ASSERT_TRUE(TIndexVerifier::VerifyAll(ix).Ok()) << TIndexVerifier::VerifyAll(ix).Text();
    ix.SelectIndex(0);
    ix.First();
    EXPECT_EQ(ix.ConsecutiveRecords(16, 1), 16);
    EXPECT_EQ(ix.ConsecutiveRecords(100, -1), 1);

    TFilterHandle even = nullptr;
    ASSERT_EQ(ix.AddFilter(nullptr, nullptr, even), 10051);
    ASSERT_EQ(ix.AddFilter(nullptr, [](const uint8_t* rec) { return GetI32(rec + 5) % 2 == 0; }, even), 0);
    EXPECT_EQ(ix.ActivateFilter(reinterpret_cast<TFilterHandle>(&ix)), 10050);
    ASSERT_EQ(ix.ActivateFilter(even), 0);
    EXPECT_EQ(ix.VisibleCount(), 20);
    ix.First();
    EXPECT_EQ(ix.CurrentRecord(), 2);
    ix.MoveBy(3);
    EXPECT_EQ(ix.CurrentRecord(), 8);
    EXPECT_EQ(ix.RecordNumber(), 4);
    ix.GotoRecordNumber(20);
    EXPECT_EQ(ix.CurrentRecord(), 40);
    ix.MoveBy(1);
    EXPECT_TRUE(ix.Eof());
    ix.RecordRemoved(8);
    EXPECT_EQ(ix.VisibleCount(), 19);

    ix.SelectIndex(kNaturalOrderSlot);
    ix.GotoRecordNumber(8);  // its bit is clear: the next visible record
    EXPECT_EQ(ix.CurrentRecord(), 10);
    EXPECT_EQ(ix.RecordNumber(), 4);
    EXPECT_EQ(ix.ConsecutiveRecords(10, 1), 1);
    EXPECT_EQ(ix.RemoveFilter(even), 0);
    ix.GotoRecordNumber(8);  // record 8 stays removed
    EXPECT_EQ(ix.CurrentRecord(), 9);
    EXPECT_EQ(ix.ConsecutiveRecords(100, 1), 32);
    ix.GotoRecordNumber(11);
    EXPECT_EQ(ix.ConsecutiveRecords(100, 1), 30);
    EXPECT_EQ(ix.RemoveFilter(even), 10050);
}

TEST(IndexKeyTest, LocaleTablesOrderAndSearchByTheLocale) {
    TTestDir dir;
    TTableDef def = OneIndexDef(12, {.Fields = {"Name"}, .CaseInsensitive = true});
    def.LanguageID = 0x0407;  // German
    TIndexFixture t(dir / "t.dat", def);
    TIndexFile& ix = t.Index();
    const TLocaleCollator* coll = t.Table.Collator();
    ASSERT_NE(coll, nullptr);
    // Windows-1252 texts: a umlaut, O umlaut, sharp s.
    std::vector<std::string> words = {"Zebra", "apfel", "\xE4pfel", "Apfel", "\xD6l", "oben", "Stra\xDF" "e",
                                      "strasse", "", "Mu\xDF", "mus", "!Achtung"};
    for (size_t i = 0; i < words.size(); ++i) {
        t.Clear();
        t.SetString("Name", words[i]);
        t.SetId(int32_t(i + 1));
        ix.InsertKey(1, t.Key(1).data(), int32_t(i + 1));
    }
    ExpectValid(ix, 1, "locale index");
    std::vector<size_t> expected(words.size());
    for (size_t i = 0; i < expected.size(); ++i) expected[i] = i;
    std::stable_sort(expected.begin(), expected.end(), [&](size_t a, size_t b) {
        std::string x = coll->Map(words[a], true), y = coll->Map(words[b], true);
        return coll->Compare(reinterpret_cast<const uint8_t*>(x.data()), x.size(),
                             reinterpret_cast<const uint8_t*>(y.data()), y.size()) < 0;
    });
    ix.SelectIndex(1);
    std::vector<size_t> seen;
    for (ix.First(); ix.OnEntry(); ix.MoveBy(1)) seen.push_back(size_t(ix.CurrentRecord() - 1));
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(words[seen.front()], "");  // null first

    // A search key built the same way finds the entries whatever their case.
    t.Clear();
    t.SetString("Name", "APFEL");
    TKey probe = t.Key(1);
    ASSERT_TRUE(ix.FindNearest(probe.data(), true, 13));
    std::string found = words[size_t(ix.CurrentRecord() - 1)];
    EXPECT_TRUE(found == "apfel" || found == "Apfel") << found;
    EXPECT_EQ(ix.CountKeysInRange(probe.data(), probe.data(), 13), 2);
}

// The flush after a change writes the changed pages that are not pinned; a
// changed page still pinned then is written by a later flush, once its pin
// is gone or every pin was dropped, and a change made before a scope that
// was rolled back is still written.
TEST(IndexPageCacheTest, ChangedPagesAreWrittenByALaterFlushWhenTheFirstCouldNot) {
    TTestDir dir;
    TIndexFixture t(dir / "t.dat", OneIndexDef(8, {.Fields = {"Name"}, .Unique = true}));
    TIndexFile& ix = t.Index();
    auto key = [&](const char* name) {
        t.Clear();
        t.SetString("Name", name);
        return t.Key(1);
    };
    struct TCase {
        const char* Name;
        void (*Release)(TPageRef& held, TIndexFile& ix);
    };
    const TCase cases[] = {
        {"the pin released", [](TPageRef& held, TIndexFile&) { held.Reset(); }},
        {"every pin dropped", [](TPageRef&, TIndexFile& ix) { ix.UnpinAllPages(); }},
    };
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string name = "k" + std::to_string(++n);
        ix.InsertKey(1, key(name.c_str()).data(), n);
        ix.UnpinAllPages();
        TPageRef held = ix.ReadPage(1, ix.ReadDescriptor(1).Root());
        const TPage* page = held.get();  // stays cached when released
        ASSERT_TRUE(page->Changed);
        const uint64_t writes = ix.PageWrites();
        ix.FlushPages();
        EXPECT_TRUE(page->Changed);
        EXPECT_EQ(ix.PageWrites(), writes);
        c.Release(held, ix);
        ix.FlushPages();
        EXPECT_FALSE(page->Changed);
        EXPECT_EQ(ix.PageWrites(), writes + 1);
        held.Reset();
    }

    ix.InsertKey(1, key("before").data(), 10);
    ix.UnpinAllPages();
    {
        TIndexChange change(ix);
        ix.InsertKey(1, key("rolled back").data(), 11);
    }
    ix.UnpinAllPages();
    TPageRef root = ix.ReadPage(1, ix.ReadDescriptor(1).Root());
    EXPECT_EQ(root->Count(), 3);
    EXPECT_TRUE(root->Changed);
    const uint64_t writes = ix.PageWrites();
    root.Reset();
    ix.FlushPages();
    EXPECT_EQ(ix.PageWrites(), writes + 1);
    EXPECT_FALSE(ix.ReadPage(1, ix.ReadDescriptor(1).Root())->Changed);
}
