// Record operations of several processes on one table: each sees the
// other's insertions and edits, a record being edited is refused to the
// other, and a reader never sees a record and its BLOB half-written.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "child_process.h"
#include "engine/index_verifier.h"
#include "engine/table_verifier.h"
#include "test_util.h"

using namespace veltra;
using namespace veltra_test;

namespace {

struct TClient {
    explicit TClient(const std::string& path) {
        Table.SetFileName(path);
        Table.OpenTable();
        Buffer.assign(size_t(Table.RecordSize()), 0);
    }

    void Put(const std::string& title, const std::string& notes) {
        TFieldDescriptor t = Table.FieldDescriptorByName(kTitleField);
        Table.SetFieldValue(t.FieldNo(), Buffer.data(), reinterpret_cast<const uint8_t*>(title.data()),
                            title.size());
        PutBlobText(Table, Buffer.data(), kNotesField, notes);
    }
    void CloseBlobs() {
        int f = Table.FieldNumber(kNotesField);
        if (Table.IsBlobFieldOpen(f, Buffer.data())) Table.CloseBlobField(f, Buffer.data());
    }
    void Insert(const std::string& title, const std::string& notes) {
        Table.InitRecord(Buffer.data());
        Put(title, notes);
        Table.InsertRecord(Buffer.data(), true);
        CloseBlobs();
    }
    // Locks and loads the record with this ID (the primary index is on ID).
    int Edit(int32_t id) {
        std::vector<uint8_t> key(5);
        key[0] = 1;
        PutKeyRecordId(&key[1], id);
        Table.SelectIndexByName("");
        if (!Table.FindKey(nullptr, key.data(), 1, Buffer.data())) return ecRecordNotFound;
        return Table.GetCurrentRecord(Buffer.data(), true);
    }
    std::string Title() {
        std::vector<uint8_t> v(64, 0);
        Table.GetFieldValue(Table.FieldNumber(kTitleField), Buffer.data(), v.data());
        return reinterpret_cast<const char*>(v.data());
    }
    std::string Notes() { return BlobText(Table, Buffer.data(), kNotesField); }

    TDataFile Table;
    std::vector<uint8_t> Buffer;
};

std::string NotesFor(int version) { return std::string(size_t(300 + version * 37 % 2000), char('a' + version % 26)); }

class RecordSharingTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineStartup();
        m_Path = CreateSmallTable(m_Dir / "log.dat", 0);
    }
    TTestDir m_Dir;
    std::string m_Path;
};

}  // namespace

TEST_F(RecordSharingTest, ProcessesSeeEachOthersInsertsAndEdits) {
    TChildProcess child([&](TChildChannel& c) {
        TClient me(m_Path);
        for (int round = 0; round < 5; ++round) {
            c.Receive();
            me.Table.Refresh();
            c.Check(me.Table.RecordCount() == 2 * round + 1, "sees the parent's records");
            me.Insert("child " + std::to_string(round), NotesFor(round));
            c.Check(me.Edit(1) == 0, "locks the parent's first record");
            me.Put("edited by child " + std::to_string(round), NotesFor(100 + round));
            me.Table.ModifyRecord(me.Buffer.data(), true, true);
            me.CloseBlobs();
            c.Send(me.Table.RecordCount());
        }
        return kChildOk;
    });
    ASSERT_TRUE(child.Started());
    TClient me(m_Path);
    for (int round = 0; round < 5; ++round) {
        me.Insert("parent " + std::to_string(round), NotesFor(round));
        child.Send(round);
        std::optional<int64_t> theirCount = child.Receive();
        ASSERT_TRUE(theirCount.has_value());
        me.Table.Refresh();
        EXPECT_EQ(me.Table.RecordCount(), *theirCount);
        ASSERT_EQ(me.Edit(1), 0);
        EXPECT_EQ(me.Title(), "edited by child " + std::to_string(round));
        EXPECT_EQ(me.Notes(), NotesFor(100 + round));
        me.Table.UnlockCurrentRecord();
    }
    EXPECT_EQ(child.ExitCode(), kChildOk);
    TIndexReport r = TIndexVerifier::VerifyAll(me.Table.IndexFile());
    EXPECT_TRUE(r.Ok()) << r.Text();
}

TEST_F(RecordSharingTest, ARecordBeingEditedIsRefusedToAnotherProcess) {
    TClient me(m_Path);
    me.Insert("one", "first");
    me.Insert("two", "second");
    TChildProcess child([&](TChildChannel& c) {
        TClient other(m_Path);
        c.Check(other.Edit(1) == 0, "locks record 1");
        c.Send(1);
        c.Receive();
        return kChildOk;
    });
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.Receive().has_value());
    me.Table.SetLockRetryCount(2);
    me.Table.SetLockWaitTime(20);
    EXPECT_EQ(EngineErrorOf([&] { me.Edit(1); }), 10258);
    EXPECT_EQ(me.Edit(2), 0);  // another record is free
    me.Table.UnlockCurrentRecord();
    child.Send(0);
    EXPECT_EQ(child.ExitCode(), kChildOk);
    EXPECT_EQ(me.Edit(1), 0);  // released with the other process's table
}

TEST_F(RecordSharingTest, AReaderNeverSeesAHalfWrittenRecord) {
    {
        TClient me(m_Path);
        me.Insert("v0", NotesFor(0));
    }
    TChildProcess child([&](TChildChannel& c) {
        TClient writer(m_Path);
        c.Send(0);
        for (int v = 1; v <= 150; ++v) {
            // Halfway, wait until the reader has seen a version, so that it
            // reads while versions are still being written however the two
            // processes are scheduled.
            if (v == 76) c.Receive();
            c.Check(writer.Edit(1) == 0, "locks the record");
            writer.Put("v" + std::to_string(v), NotesFor(v));
            writer.Table.ModifyRecord(writer.Buffer.data(), true, true);
            writer.CloseBlobs();
        }
        return kChildOk;
    });
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.Receive().has_value());
    TClient reader(m_Path);
    int checks = 0;
    std::string last;
    for (;;) {
        // One read phase: the record and its BLOB as one writer left them.
        reader.Table.BeginRead();
        std::vector<uint8_t> key(5);
        key[0] = 1;
        PutKeyRecordId(&key[1], 1);
        reader.Table.SelectIndexByName("");
        ASSERT_TRUE(reader.Table.FindKey(nullptr, key.data(), 1, reader.Buffer.data()));
        std::string title = reader.Title();
        std::string notes = reader.Notes();
        reader.Table.EndRead();
        int version = std::stoi(title.substr(1));
        ASSERT_EQ(notes, NotesFor(version)) << title;
        if (++checks == 1) child.Send(1);
        if (version == 150) break;
        // Give the writer a moment between read phases: its write lock waits
        // for every reader to let go.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(child.ExitCode(), kChildOk);
    EXPECT_GT(checks, 1);
}

// ------------------------------------------------ changes made in between

namespace {

// Positions a client on the record with this ID without locking it.
bool FindId(TClient& c, int32_t id) {
    std::vector<uint8_t> key(5);
    key[0] = 1;
    PutKeyRecordId(&key[1], id);
    c.Table.SelectIndexByName("");
    return c.Table.FindKey(nullptr, key.data(), 1, c.Buffer.data());
}

int32_t CurrentId(TClient& c) { return GetI32(&c.Buffer[5]); }

// Runs `body` on a client of its own in a child process and waits for it.
int InOtherProcess(const std::string& path, const std::function<void(TClient&)>& body) {
    TChildProcess child([&](TChildChannel&) {
        TClient other(path);
        body(other);
        return kChildOk;
    });
    return child.Started() ? child.ExitCode() : -1;
}

}  // namespace

// Another process writes while this one holds a record lock: the post goes
// through on the locked record, whether the cached copy was forgotten by the
// write phase itself or earlier, by a BLOB read that found the change.
TEST_F(RecordSharingTest, AnEditPostsAfterAnotherProcessChangedTheTable) {
    for (bool readBlobFirst : {false, true}) {
        SCOPED_TRACE(readBlobFirst ? "BLOB read before the post" : "post at once");
        TTestDir dir;
        const std::string path = CreateSmallTable(dir / "log.dat", 0);
        TClient me(path);
        me.Insert("one", NotesFor(1));
        me.Insert("two", NotesFor(2));
        ASSERT_EQ(me.Edit(1), 0);
        ASSERT_EQ(InOtherProcess(path, [](TClient& other) { other.Insert("three", NotesFor(3)); }), kChildOk);
        if (readBlobFirst) {
            EXPECT_EQ(me.Notes(), NotesFor(1));
        }
        me.Put("one, edited", NotesFor(11));
        me.Table.ModifyRecord(me.Buffer.data(), true, true);
        me.CloseBlobs();

        TClient reader(path);
        ASSERT_TRUE(FindId(reader, 1));
        EXPECT_EQ(reader.Title(), "one, edited");
        EXPECT_EQ(reader.Notes(), NotesFor(11));
        EXPECT_EQ(reader.Table.RecordCount(), 3);
        TTableReport report = VerifyTable(reader.Table);
        EXPECT_TRUE(report.Ok()) << report.Text();
    }
}

// A record shown (not locked) while another process changes the table is
// deleted when it is still there, and refused with 8710 when the other
// process deleted it and a new record took its slot; the new record stays.
TEST_F(RecordSharingTest, ADeleteAfterAnotherProcessChangedTheTable) {
    struct TCase {
        const char* Name;
        bool DeleteFirst;  // the other process deletes the shown record before inserting
        int Expected;
        int64_t CountAfter;
    };
    for (const TCase& c : {TCase{"other record inserted", false, 0, 1}, TCase{"slot reused", true, 8710, 1}}) {
        SCOPED_TRACE(c.Name);
        TTestDir dir;
        const std::string path = CreateSmallTable(dir / "log.dat", 0);
        TClient me(path);
        me.Insert("one", NotesFor(1));
        ASSERT_TRUE(FindId(me, 1));
        ASSERT_EQ(InOtherProcess(path, [&](TClient& other) {
                      if (c.DeleteFirst) {
                          if (!FindId(other, 1)) ::_exit(kChildCheckFailed);
                          other.Table.DeleteRecord(true);
                      }
                      other.Insert("two", NotesFor(2));
                  }),
                  kChildOk);
        EXPECT_EQ(EngineErrorOf([&] { me.Table.DeleteRecord(true); }), c.Expected);
        TClient reader(path);
        EXPECT_EQ(reader.Table.RecordCount(), c.CountAfter);
        EXPECT_EQ(FindId(reader, 2), true);  // the other process's record is never the one deleted
        TTableReport report = VerifyTable(reader.Table);
        EXPECT_TRUE(report.Ok()) << report.Text();
    }
}

// Locking the shown record after another process deleted it and a new
// record took its slot is refused (8710); it does not lock and load the new
// record in its place.
TEST_F(RecordSharingTest, LockingARecordWhoseSlotWasReusedIsRefused) {
    TClient me(m_Path);
    me.Insert("one", NotesFor(1));
    ASSERT_TRUE(FindId(me, 1));
    ASSERT_EQ(InOtherProcess(m_Path,
                             [](TClient& other) {
                                 if (!FindId(other, 1)) ::_exit(kChildCheckFailed);
                                 other.Table.DeleteRecord(true);
                                 other.Insert("two", NotesFor(2));
                             }),
              kChildOk);
    EXPECT_EQ(me.Table.GetCurrentRecord(me.Buffer.data(), true), ecRecordNotFound);
    EXPECT_TRUE(me.Table.LockedRecords().empty());
    ASSERT_TRUE(FindId(me, 2));
    EXPECT_EQ(CurrentId(me), 2);
    EXPECT_EQ(me.Table.GetCurrentRecord(me.Buffer.data(), true), 0);
    EXPECT_EQ(me.Title(), "two");
}

// A search over cached index pages finds a record another process has since
// deleted (its slot now holds a new record); fetching it from disk reveals
// the change. The search is made again on the index as it is now: the key
// is not found, and it does not report another record as the one found.
TEST_F(RecordSharingTest, FindKeyAfterAChangeFoundWhileFetchingSearchesAgain) {
    TClient me(m_Path);
    for (const char* title : {"one", "two", "three"}) me.Insert(title, NotesFor(1));
    ASSERT_TRUE(FindId(me, 2));  // the index pages are cached now
    me.Table.DiscardBuffers();   // the records are not: the next fetch reads the file
    ASSERT_EQ(InOtherProcess(m_Path,
                             [](TClient& other) {
                                 if (!FindId(other, 2)) ::_exit(kChildCheckFailed);
                                 other.Table.DeleteRecord(true);
                                 other.Insert("four", NotesFor(4));  // takes slot 2
                             }),
              kChildOk);
    EXPECT_FALSE(FindId(me, 2));
    EXPECT_TRUE(FindId(me, 3));
    EXPECT_EQ(CurrentId(me), 3);
    EXPECT_TRUE(FindId(me, 4));
    EXPECT_EQ(me.Title(), "four");
}

// ------------------------------------------------ scans in index order

namespace {

// Title of the record with ID k (1-based) of a scattered table: title order
// visits the slots 43 apart, so no two records of a scan are neighbours.
constexpr int kScatteredRecords = 300;
std::string ScatteredTitle(int32_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "T%03d", int((id - 1) * 7 % kScatteredRecords));
    return text;
}
int32_t ScatteredId(int titleNumber) {
    for (int32_t id = 1; id <= kScatteredRecords; ++id)
        if ((id - 1) * 7 % kScatteredRecords == titleNumber) return id;
    return 0;
}

}  // namespace

// A scan in title order reads, in the read phase that reads a record, the
// records of the entries ahead of it, so it takes far fewer read phases than
// it reads records. A change that another process makes between two steps
// of the scan is seen when the scan next reads from disk: from there on it
// shows the table as it is now, in order, each record once.
TEST_F(RecordSharingTest, AScanInTitleOrderSeesAChangeMadeBetweenTwoSteps) {
    ASSERT_EQ(ScatteredTitle(ScatteredId(250)), "T250");
    struct TCase {
        const char* Name;
        std::function<void(TClient&)> Change;  // in the other process
        std::function<void(std::vector<std::string>&)> Expect;
    };
    auto at = [](std::vector<std::string>& titles, const std::string& title) {
        return std::find(titles.begin(), titles.end(), title);
    };
    const TCase cases[] = {
        {"a record ahead modified",
         [](TClient& other) {
             if (other.Edit(ScatteredId(250)) != 0) ::_exit(kChildCheckFailed);
             other.Put("T250 edited", "n");
             other.Table.ModifyRecord(other.Buffer.data(), true, true);
             other.CloseBlobs();
         },
         [&](std::vector<std::string>& titles) { *at(titles, "T250") = "T250 edited"; }},
        {"a record inserted ahead", [](TClient& other) { other.Insert("T200a", "n"); },
         [&](std::vector<std::string>& titles) { titles.insert(at(titles, "T201"), "T200a"); }},
        {"a record ahead deleted",
         [](TClient& other) {
             if (!FindId(other, ScatteredId(150))) ::_exit(kChildCheckFailed);
             other.Table.DeleteRecord(true);
         },
         [&](std::vector<std::string>& titles) { titles.erase(at(titles, "T150")); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTestDir dir;
        const std::string path = CreateSmallTable(dir / "log.dat", 0);
        std::vector<std::string> expected;
        {
            TClient writer(path);
            for (int32_t id = 1; id <= kScatteredRecords; ++id) {
                writer.Insert(ScatteredTitle(id), "n");
                expected.push_back(ScatteredTitle(id));
            }
        }
        std::sort(expected.begin(), expected.end());
        c.Expect(expected);

        TClient reader(path);  // nothing cached yet
        reader.Table.SelectIndexByName(kTitleIndex);
        reader.Table.FirstRecord();
        std::vector<std::string> seen;
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(reader.Table.NextRecord(reader.Buffer.data()), 0);
            seen.push_back(reader.Title());
        }
        ASSERT_EQ(InOtherProcess(path, c.Change), kChildOk);
        while (reader.Table.NextRecord(reader.Buffer.data()) == 0) seen.push_back(reader.Title());
        EXPECT_EQ(seen, expected);
        EXPECT_LT(reader.Table.Statistics().ReadPhases, uint64_t(kScatteredRecords / 4));
    }
}
