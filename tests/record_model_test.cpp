// A randomized run of record insertions, modifications and deletions with
// BLOBs of random sizes against a simple model: after every batch each
// record, each index order, each BLOB, the record count and the free slot
// chain must match, and the index verifier must pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "engine/index_verifier.h"
#include "engine/session.h"
#include "test_util.h"

using namespace veltra;
using veltra_test::EngineErrorOf;
using veltra_test::TTestDir;

namespace {

struct TModelRecord {
    int32_t Id = 0;
    std::string Title;
    int16_t Priority = 3;
    std::string Notes, Text;
};

class TLog {
public:
    explicit TLog(const std::string& path) {
        TTableDef def;
        def.Fields = {{"ID", ftInteger, kSubTypeAutoInc}, {"Code", ftString, 0, 8, 0, true},
                      {"Title", ftString, 0, 30},          {"Priority", ftSmallInt},
                      {"Notes", ftBlob, 22},               {"Text", ftBlob, 22}};
        def.Indexes = {{.Primary = true, .Fields = {"Code"}, .Compression = TCompression::Leading},
                       {.Name = "ByTitle", .Fields = {"Title"}, .CaseInsensitive = true,
                        .Compression = TCompression::Both},
                       {.Name = "ByPriority", .Fields = {"Priority"}, .Descending = true}};
        CreateTable(path, def);
        Table.SetFileName(path);
        Table.OpenTable();
        Buffer.assign(size_t(Table.RecordSize()), 0);
    }

    void SetText(const char* field, const std::string& s) {
        Table.SetFieldValue(Table.FieldNumber(field), Buffer.data(), reinterpret_cast<const uint8_t*>(s.data()),
                            s.size());
    }
    std::string GetText(const char* field) {
        std::vector<uint8_t> v(64, 0);
        return Table.GetFieldValue(Table.FieldNumber(field), Buffer.data(), v.data())
                   ? std::string()
                   : std::string(reinterpret_cast<const char*>(v.data()));
    }
    void SetPriority(int16_t p) {
        uint8_t b[2];
        PutI16(b, p);
        Table.SetFieldValue(Table.FieldNumber("Priority"), Buffer.data(), b, 2);
    }
    int16_t GetPriority() {
        uint8_t b[2];
        Table.GetFieldValue(Table.FieldNumber("Priority"), Buffer.data(), b);
        return GetI16(b);
    }
    void SetBlob(const char* field, const std::string& content) {
        veltra_test::PutBlobText(Table, Buffer.data(), field, content);
    }
    std::string GetBlob(const char* field) { return veltra_test::BlobText(Table, Buffer.data(), field); }
    void CloseBlobs() {
        for (const char* f : {"Notes", "Text"})
            if (Table.IsBlobFieldOpen(Table.FieldNumber(f), Buffer.data()))
                Table.CloseBlobField(Table.FieldNumber(f), Buffer.data());
    }
    bool Find(const std::string& code) {
        std::vector<uint8_t> key(size_t(Table.IndexFile().Layout(0).KeySize), 0);
        key[0] = 1;
        std::memcpy(&key[1], code.data(), code.size());
        return Table.FindKey(nullptr, key.data(), 1, Buffer.data());
    }

    TDataFile Table;
    std::vector<uint8_t> Buffer;
};

std::string RandomBlob(std::mt19937& gen) {
    static const size_t kEdges[] = {0, 1, 493, 494, 495, 988, 989, 1482};
    size_t size;
    switch (gen() % 10) {
        case 0: size = 0; break;
        case 1: case 2: size = kEdges[gen() % 8]; break;
        case 3: size = 20000 + gen() % 300000; break;  // hundreds of blocks
        default: size = gen() % 3000;
    }
    std::string s(size, '\0');
    char c = char('a' + gen() % 26);
    for (size_t i = 0; i < size; ++i) s[i] = char(c + i % 7);
    return s;
}

std::string RandomTitle(std::mt19937& gen) {
    static const char* kWords[] = {"printer", "Printer", "login", "LOGIN slow", "crash", "", "report typo"};
    return kWords[gen() % 7];
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return s;
}

}  // namespace

TEST(RecordModelTest, MatchesModelAcrossInsertsEditsAndDeletes) {
    EngineStartup();
    TTestDir dir;
    std::string path = dir / "log.dat";
    auto log = std::make_unique<TLog>(path);
    std::map<std::string, TModelRecord> model;
    std::mt19937 gen(2026);
    auto randomCode = [&] { return "K" + std::to_string(gen() % 400); };

    for (int batch = 0; batch < 16; ++batch) {
        for (int op = 0; op < 120; ++op) {
            TLog& l = *log;
            unsigned kind = gen() % 100;
            if (model.empty() || kind < 45) {  // insert
                std::string code = randomCode();
                TModelRecord rec{0, RandomTitle(gen), int16_t(1 + gen() % 5), RandomBlob(gen), RandomBlob(gen)};
                l.Table.InitRecord(l.Buffer.data());
                l.SetText("Code", code);
                l.SetText("Title", rec.Title);
                l.SetPriority(rec.Priority);
                l.SetBlob("Notes", rec.Notes);
                l.SetBlob("Text", rec.Text);
                int code9729 = EngineErrorOf([&] { l.Table.InsertRecord(l.Buffer.data(), true); });
                l.CloseBlobs();
                if (model.count(code)) {
                    ASSERT_EQ(code9729, 9729);
                    continue;
                }
                ASSERT_EQ(code9729, 0);
                rec.Id = l.Table.CurrentRecord()->RecordID();
                model[code] = rec;
            } else if (kind < 80) {  // edit, perhaps renaming
                auto it = std::next(model.begin(), long(gen() % model.size()));
                ASSERT_TRUE(l.Find(it->first));
                ASSERT_EQ(l.Table.GetCurrentRecord(l.Buffer.data(), true), 0);
                TModelRecord rec = it->second;
                std::string code = it->first;
                if (gen() % 4 == 0) code = randomCode();
                if (gen() % 2) rec.Title = RandomTitle(gen);
                if (gen() % 2) rec.Priority = int16_t(1 + gen() % 5);
                l.SetText("Code", code);
                l.SetText("Title", rec.Title);
                l.SetPriority(rec.Priority);
                if (gen() % 2) {
                    rec.Notes = RandomBlob(gen);
                    l.SetBlob("Notes", rec.Notes);
                }
                if (gen() % 3 == 0) {
                    rec.Text = RandomBlob(gen);
                    l.SetBlob("Text", rec.Text);
                }
                int result = EngineErrorOf([&] { l.Table.ModifyRecord(l.Buffer.data(), true, true); });
                l.CloseBlobs();
                if (code != it->first && model.count(code)) {
                    ASSERT_EQ(result, 9729);
                    l.Table.UnlockCurrentRecord();
                    continue;
                }
                ASSERT_EQ(result, 0);
                model.erase(it);
                model[code] = rec;
            } else {  // delete
                auto it = std::next(model.begin(), long(gen() % model.size()));
                ASSERT_TRUE(l.Find(it->first));
                l.Table.DeleteRecord(true);
                model.erase(it);
            }
            ASSERT_TRUE(l.Table.LockedRecords().empty());
        }

        if (batch % 4 == 3) {  // everything from disk
            log->Table.CloseTable();
            log->Table.OpenTable();
        }
        TLog& l = *log;
        TIndexReport report = TIndexVerifier::VerifyAll(l.Table.IndexFile());
        ASSERT_TRUE(report.Ok()) << "batch " << batch << "\n" << report.Text();
        ASSERT_EQ(l.Table.IndexFile().RecordCount(), int32_t(model.size()));

        // Primary order, every field and BLOB.
        l.Table.SelectIndexByName("");
        l.Table.FirstRecord();
        auto it = model.begin();
        while (l.Table.NextRecord(l.Buffer.data()) == 0) {
            ASSERT_NE(it, model.end());
            ASSERT_EQ(l.GetText("Code"), it->first);
            ASSERT_EQ(l.GetText("Title"), it->second.Title);
            ASSERT_EQ(l.GetPriority(), it->second.Priority);
            ASSERT_EQ(GetI32(&l.Buffer[5]), it->second.Id);
            ASSERT_EQ(l.GetBlob("Notes"), it->second.Notes) << it->first;
            ASSERT_EQ(l.GetBlob("Text"), it->second.Text) << it->first;
            ++it;
        }
        ASSERT_EQ(it, model.end());

        // Secondary orders: titles without case then record ID; priorities
        // descending, the whole key (record ID too) reversed.
        std::vector<std::pair<std::string, int32_t>> byTitle;
        std::vector<std::pair<int16_t, int32_t>> byPriority;
        for (auto& [code, rec] : model) {
            byTitle.emplace_back(Upper(rec.Title), rec.Id);
            byPriority.emplace_back(rec.Priority, rec.Id);
        }
        std::sort(byTitle.begin(), byTitle.end());
        std::sort(byPriority.rbegin(), byPriority.rend());
        std::map<int32_t, const TModelRecord*> byId;
        for (auto& [code, rec] : model) byId[rec.Id] = &rec;
        // Scans in title order, forward and backward, with every record read
        // from disk: the records of the entries ahead are read along with the
        // current one, and each record must still be the one the entry names.
        l.Table.SelectIndexByName("ByTitle");
        l.Table.DiscardBuffers();
        l.Table.FirstRecord();
        for (auto& [title, id] : byTitle) {
            ASSERT_EQ(l.Table.NextRecord(l.Buffer.data()), 0);
            ASSERT_EQ(GetI32(&l.Buffer[5]), id);
            ASSERT_EQ(Upper(l.GetText("Title")), title);
            ASSERT_EQ(l.GetPriority(), byId.at(id)->Priority);
        }
        ASSERT_EQ(l.Table.NextRecord(l.Buffer.data()), ecEOF);
        l.Table.DiscardBuffers();
        l.Table.LastRecord();
        for (auto at = byTitle.rbegin(); at != byTitle.rend(); ++at) {
            ASSERT_EQ(l.Table.PriorRecord(l.Buffer.data()), 0);
            ASSERT_EQ(GetI32(&l.Buffer[5]), at->second);
            ASSERT_EQ(Upper(l.GetText("Title")), at->first);
        }
        ASSERT_EQ(l.Table.PriorRecord(l.Buffer.data()), ecBOF);
        l.Table.SelectIndexByName("ByPriority");
        l.Table.FirstRecord();
        for (auto& [priority, id] : byPriority) {
            ASSERT_EQ(l.Table.NextRecord(l.Buffer.data()), 0);
            ASSERT_EQ(GetI32(&l.Buffer[5]), id);
        }
        l.Table.SelectIndexByName("");

        // The free slot chain holds exactly the deleted slots.
        int32_t slots = l.Table.NextRecordNo() - 1, freeSlots = 0;
        for (int32_t n = l.Table.FirstFreeRecord(); n != 0; ++freeSlots) {
            ASSERT_LE(freeSlots, slots);
            TRecord* r = l.Table.FetchRecord(n).Record;
            ASSERT_TRUE(r->IsDeleted());
            n = r->Link();
            r->Unpin();
        }
        ASSERT_EQ(freeSlots, slots - int32_t(model.size()));
    }
}
