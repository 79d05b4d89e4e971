// The rollback journal: a writer killed at any write of a change (before the
// write or half-way through it) leaves a table that the next opener, and a
// process that already has it open, sees exactly as before the change; a
// torn journal and a journal of another table are discarded; a failing
// in-place write puts the table back at once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <tuple>

#include "child_process.h"
#include "engine/journal.h"
#include "engine/session.h"
#include "engine/table_verifier.h"
#include "engine/veltra_table.h"
#include "test_util.h"

using namespace veltra;
using namespace veltra_test;

namespace {

TTableDef TicketsDef() {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc},
                  {"Title", ftString, 0, 40},
                  {"Owner", ftString, 0, 20},
                  {"Notes", ftBlob, 22}};
    def.Indexes = {{.Primary = true, .Fields = {"ID"}},
                   {.Name = "ByTitle", .Fields = {"Title"}},
                   {.Name = "ByOwner", .Fields = {"Owner", "Title"}}};
    return def;
}

std::string Notes(int seed, size_t length) {
    std::string s;
    for (size_t i = 0; i < length; ++i) s += char('a' + (seed * 7 + int(i)) % 26);
    return s;
}

// Every record as (ID, Title, Owner, Notes), in ID order.
using TRow = std::tuple<int, std::string, std::string, std::string>;
std::vector<TRow> Rows(const std::string& path) {
    TVeltraTable t;
    t.SetTableName(path);
    t.Open();
    std::vector<TRow> rows;
    for (t.First(); !t.Eof(); t.Next())
        rows.emplace_back(t.FieldByName("ID").AsInteger(), t.FieldByName("Title").AsString(),
                          t.FieldByName("Owner").AsString(), t.FieldByName("Notes").AsString());
    return rows;
}

// One change of the table, as the program makes them.
struct TChange {
    const char* Name;
    std::function<void(TVeltraTable&)> Make;
};

const TChange kChanges[] = {
    {"insert with a long BLOB",
     [](TVeltraTable& t) {
         t.Append();
         t.FieldByName("Title").SetAsString("printer on fire");
         t.FieldByName("Owner").SetAsString("dora");
         t.FieldByName("Notes").SetAsString(Notes(99, 5000));
         t.Post();
     }},
    {"edit of keys and BLOB",
     [](TVeltraTable& t) {
         t.First();
         t.Next();
         t.Edit();
         t.FieldByName("Title").SetAsString("zz renamed");
         t.FieldByName("Owner").SetAsString("anna");
         t.FieldByName("Notes").SetAsString(Notes(42, 300));
         t.Post();
     }},
    {"delete",
     [](TVeltraTable& t) {
         t.First();
         t.Next();
         t.Next();
         t.Delete();
     }},
};

// Ends the process at the n-th write (counted from 0) that reaches any file:
// before it, or after half of its bytes.
class TKillAtWrite : public TFileIo {
public:
    TKillAtWrite(int n, bool half) : m_N(n), m_Half(half) {}
    ssize_t PWrite(int fd, const void* buffer, size_t count, off_t offset) override {
        if (m_Count++ == m_N) {
            if (m_Half && count > 1) TFileIo::PWrite(fd, buffer, count / 2, offset);
            ::_exit(kKilled);
        }
        return TFileIo::PWrite(fd, buffer, count, offset);
    }
    int Count() const { return m_Count; }
    static constexpr int kKilled = 9;

private:
    int m_N;
    bool m_Half;
    int m_Count = 0;
};

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineStartup();
        m_Original = m_Dir / "original.dat";
        CreateTable(m_Original, TicketsDef());
        TVeltraTable t;
        t.SetTableName(m_Original);
        t.Open();
        const char* owners[] = {"anna", "ben", "carla", "ben", "emil"};
        for (int i = 0; i < 5; ++i) {
            t.Append();
            t.FieldByName("Title").SetAsString("ticket " + std::to_string(i));
            t.FieldByName("Owner").SetAsString(owners[i]);
            t.FieldByName("Notes").SetAsString(Notes(i, 700 + 900 * size_t(i)));
            t.Post();
        }
    }

    // A fresh copy of the original table as log<k>.dat.
    std::string Copy(int k) {
        const std::string path = m_Dir / ("log" + std::to_string(k) + ".dat");
        for (const char* ext : {".dat", ".IDX", ".BLB"}) {
            std::filesystem::path from(m_Original), to(path);
            from.replace_extension(ext);
            to.replace_extension(ext);
            std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
        }
        return path;
    }

    // Runs `change` on `path` in a child that dies at write n; returns the
    // child's exit code.
    static int RunKilled(const std::string& path, const TChange& change, int n, bool half) {
        TChildProcess child([&](TChildChannel&) {
            TVeltraTable t;
            t.SetTableName(path);
            t.Open();
            TKillAtWrite io(n, half);
            SetFileIo(&io);
            change.Make(t);
            SetFileIo(nullptr);
            return kChildOk;
        });
        int status = child.Wait();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The number of writes the change makes in all.
    int CountWrites(const TChange& change) {
        const std::string path = Copy(1000);
        TVeltraTable t;
        t.SetTableName(path);
        t.Open();
        TKillAtWrite io(-1, false);
        SetFileIo(&io);
        change.Make(t);
        SetFileIo(nullptr);
        return io.Count();
    }

    TTestDir m_Dir;
    std::string m_Original;
};

TEST_F(JournalTest, AWriterKilledAtAnyWriteOfAChangeLeavesTheTableAsBefore) {
    const std::vector<TRow> before = Rows(m_Original);
    int copy = 0;
    for (const TChange& change : kChanges) {
        SCOPED_TRACE(change.Name);
        const int writes = CountWrites(change);
        ASSERT_GE(writes, 4) << "a change writes the journal, then the files";
        for (bool half : {false, true}) {
            for (int n = 0; n < writes; ++n) {
                SCOPED_TRACE(testing::Message() << "killed at write " << n << (half ? " half-way" : " before it"));
                const std::string path = Copy(++copy);
                ASSERT_EQ(RunKilled(path, change, n, half), TKillAtWrite::kKilled);
                EXPECT_EQ(Rows(path), before);
                EXPECT_FALSE(JournalExists(JournalPathFor(path)));
                TTableReport report = VerifyTable(path);
                EXPECT_TRUE(report.Ok()) << report.Text();
            }
        }
        // Not killed: the change is there and nothing is left beside the table.
        const std::string path = Copy(++copy);
        ASSERT_EQ(RunKilled(path, change, writes, false), kChildOk);
        EXPECT_NE(Rows(path), before);
        EXPECT_FALSE(JournalExists(JournalPathFor(path)));
        EXPECT_TRUE(VerifyTable(path).Ok());
    }
}

TEST_F(JournalTest, AProcessThatHasTheTableOpenSeesItRestoredAtItsNextReadPhase) {
    const std::string path = Copy(1);
    const std::vector<TRow> before = Rows(path);
    TVeltraTable reader;
    reader.SetTableName(path);
    reader.SetStrictChangeDetection(true);
    reader.Open();
    reader.First();
    const int writes = CountWrites(kChanges[0]);
    // Killed after the journal and part of the in-place writes.
    ASSERT_EQ(RunKilled(path, kChanges[0], writes - 2, false), TKillAtWrite::kKilled);
    ASSERT_TRUE(JournalExists(JournalPathFor(path)));
    std::vector<TRow> seen;
    for (reader.First(); !reader.Eof(); reader.Next())
        seen.emplace_back(reader.FieldByName("ID").AsInteger(), reader.FieldByName("Title").AsString(),
                          reader.FieldByName("Owner").AsString(), reader.FieldByName("Notes").AsString());
    EXPECT_EQ(seen, before);
    EXPECT_FALSE(JournalExists(JournalPathFor(path)));
    // And it can write on top of it.
    kChanges[1].Make(reader);
    reader.Close();
    EXPECT_TRUE(VerifyTable(path).Ok());
}

TEST_F(JournalTest, ATornJournalOrOneOfAnotherTableIsDiscardedWithoutTouchingTheTable) {
    const int writes = CountWrites(kChanges[0]);
    // A journal written only in part: the writer died before writing in place.
    {
        const std::string path = Copy(1);
        ASSERT_EQ(RunKilled(path, kChanges[0], 0, true), TKillAtWrite::kKilled);
        ASSERT_TRUE(JournalExists(JournalPathFor(path)));
        EXPECT_EQ(Rows(path), Rows(m_Original));
        EXPECT_FALSE(JournalExists(JournalPathFor(path)));
    }
    // A whole journal left by a table that was deleted and made again under
    // the same name must not be applied to the new one.
    {
        const std::string path = Copy(2);
        ASSERT_EQ(RunKilled(path, kChanges[0], writes - 1, false), TKillAtWrite::kKilled);
        const std::string journal = JournalPathFor(path);
        const std::string kept = m_Dir / "kept.jnl";
        std::filesystem::copy_file(journal, kept);
        ASSERT_EQ(Rows(path), Rows(m_Original));  // undone, and gone
        for (const char* ext : {".dat", ".IDX", ".BLB"}) {
            std::filesystem::path p(path);
            std::filesystem::remove(p.replace_extension(ext));
        }
        CreateTable(path, TicketsDef());
        std::filesystem::copy_file(kept, journal);
        TVeltraTable t;
        t.SetTableName(path);
        t.Open();
        t.Append();
        t.FieldByName("Title").SetAsString("new table");
        t.Post();
        t.Close();
        EXPECT_EQ(Rows(path).size(), 1u);
        EXPECT_FALSE(JournalExists(journal));
        EXPECT_TRUE(VerifyTable(path).Ok());
    }
}

// Fails every write to the table's files from the n-th on with a full disk;
// the journal itself is written.
class TFullDiskAfter : public TFileIo {
public:
    explicit TFullDiskAfter(int n) : m_N(n) {}
    ssize_t PWrite(int fd, const void* buffer, size_t count, off_t offset) override {
        if (m_Count++ >= m_N) {
            errno = ENOSPC;
            return -1;
        }
        return TFileIo::PWrite(fd, buffer, count, offset);
    }

private:
    int m_N;
    int m_Count = 0;
};

TEST_F(JournalTest, AFailingInPlaceWriteReportsTheErrorAndPutsTheTableBack) {
    const std::string path = Copy(1);
    const std::vector<TRow> before = Rows(path);
    TVeltraTable t;
    t.SetTableName(path);
    t.Open();
    {
        // The journal (write 0) and the first in-place write succeed, the
        // second fails; restoring succeeds once the disk has room again.
        struct TRoomAgain : TFileIo {
            int Count = 0;
            ssize_t PWrite(int fd, const void* buffer, size_t count, off_t offset) override {
                if (++Count == 3) {
                    errno = ENOSPC;
                    return -1;
                }
                return TFileIo::PWrite(fd, buffer, count, offset);
            }
        } io;
        SetFileIo(&io);
        int code = EngineErrorOf([&] { kChanges[0].Make(t); });
        SetFileIo(nullptr);
        EXPECT_EQ(code, 9218);
    }
    t.Cancel();
    t.Close();
    EXPECT_FALSE(JournalExists(JournalPathFor(path)));
    EXPECT_EQ(Rows(path), before);
    EXPECT_TRUE(VerifyTable(path).Ok());

    // When the disk stays full the journal stays, and the next opener undoes
    // the change.
    const std::string path2 = Copy(2);
    {
        TVeltraTable u;
        u.SetTableName(path2);
        u.Open();
        TFullDiskAfter io(2);
        SetFileIo(&io);
        int code = EngineErrorOf([&] { kChanges[0].Make(u); });
        SetFileIo(nullptr);
        EXPECT_EQ(code, 9218);
        EXPECT_TRUE(JournalExists(JournalPathFor(path2)));
        u.Cancel();
    }
    EXPECT_EQ(Rows(path2), before);
    EXPECT_FALSE(JournalExists(JournalPathFor(path2)));
}

}  // namespace
