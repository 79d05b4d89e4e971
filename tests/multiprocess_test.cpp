// Sharing one table between processes: concurrent readers, a reader waiting
// for a writer and seeing its changes, record locks, exclusive opens, the
// read-only attribute, separate lock owners inside one process, and locks
// released by a killed process.
//
// Each scenario forks a child that runs engine code on its own open of the
// table. Parent and child step each other through pipes; the child reports
// values back the same way and leaves with _exit, so it never returns into
// the test framework. A child that fails an expectation of its own reports it
// through its exit status.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <thread>

#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/file_handler.h"
#include "engine/lock_protocol.h"
#include "engine/session.h"
#include "child_process.h"
#include "test_util.h"

using namespace veltra;
using namespace veltra_test;

namespace {

using TClock = std::chrono::steady_clock;

// Microseconds on the system-wide monotonic clock, comparable between the
// processes of one machine.
int64_t NowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(TClock::now().time_since_epoch())
        .count();
}

int64_t MillisSince(TClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
}

class MultiProcessTest : public ::testing::Test {
protected:
    void SetUp() override { EngineStartup(); }

    // A table of `records` records; every process opens it itself after the
    // fork, so no open file (and none of its locks) is shared by inheritance.
    std::string MakeTable(int records) { return CreateSmallTable(m_Dir / "tickets.dat", records); }

    static void Open(TDataFile& table, const std::string& path, bool exclusive = false) {
        table.SetFileName(path);
        table.SetExclusive(exclusive);
        table.OpenTable();
    }

    TTestDir m_Dir;
};

// Messages of the handshakes.
enum : int64_t { kReady = 1, kGo = 2, kDone = 3 };

// ----------------------------------------------------------------- readers

TEST_F(MultiProcessTest, TwoReadersHoldTheirReadPhasesAtTheSameTime) {
    const std::string path = MakeTable(3);
    TChildProcess reader([&](TChildChannel& ch) {
        TDataFile table;
        Open(table, path);
        ch.Receive();  // the parent is inside its read phase now
        auto start = TClock::now();
        table.BeginRead();
        ch.Send(table.InReadPhase() ? 1 : 0);
        ch.Send(MillisSince(start));
        ch.Receive();  // hold the phase until the parent has looked
        table.EndRead();
        ch.Send(kDone);
        ch.Receive();
        return kChildOk;
    });
    ASSERT_TRUE(reader.Started());

    TDataFile table;
    Open(table, path);
    table.BeginRead();
    ASSERT_TRUE(table.InReadPhase());
    ASSERT_TRUE(reader.Send(kGo));

    std::optional<int64_t> childReading = reader.Receive();
    std::optional<int64_t> childMillis = reader.Receive();
    ASSERT_TRUE(childReading && childMillis) << "reader exited early";
    EXPECT_EQ(*childReading, 1);
    // A refused read lock would retry for 8192 x 3 ms before failing; the
    // second reader got in at its first attempts.
    EXPECT_LT(*childMillis, 2000);
    EXPECT_TRUE(table.InReadPhase());

    // The read locks are real: while both readers hold them, a writer cannot
    // take the index write range; once both have ended it can.
    TFileHandler probe;
    probe.SetFileName(IndexPathOf(path));
    probe.Open();
    EXPECT_FALSE(probe.LockRange(kRangeWriteLockOffset, kRangeWriteLockLength));

    ASSERT_TRUE(reader.Send(kGo));
    ASSERT_EQ(reader.Receive(), std::optional<int64_t>(kDone));
    EXPECT_FALSE(probe.LockRange(kRangeWriteLockOffset, kRangeWriteLockLength))
        << "the parent still reads";
    table.EndRead();
    EXPECT_TRUE(probe.LockRange(kRangeWriteLockOffset, kRangeWriteLockLength));
    probe.UnlockRange(kRangeWriteLockOffset, kRangeWriteLockLength);

    reader.Send(kDone);
    EXPECT_EQ(reader.ExitCode(), kChildOk);
}

// ----------------------------------------------------------------- writer and reader

TEST_F(MultiProcessTest, ReaderWaitsForWriterAndThenSeesItsChanges) {
    const std::string path = MakeTable(3);
    TChildProcess writer([&](TChildChannel& ch) {
        TDataFile table;
        Open(table, path);
        ch.Receive();
        table.BeginWrite();
        ch.Send(kReady);
        ch.Receive();  // the parent is about to call BeginRead
        // Keep the write phase long enough for the reader to be seen waiting.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        AppendRecords(table, 1, "Added");
        IndexRecords(table, table.NextRecordNo() - 1, table.NextRecordNo() - 1);
        int64_t endTime = NowMicros();
        table.EndWrite();
        ch.Send(endTime);
        ch.Receive();
        return kChildOk;
    });
    ASSERT_TRUE(writer.Started());

    TDataFile table;
    Open(table, path);
    const int32_t nextBefore = table.NextRecordNo();
    TFetchResult first = table.FetchRecord(1);
    ASSERT_NE(first.Record, nullptr);
    first.Record->Unpin();
    ASSERT_GT(table.CachedRecords(), 0u);

    ASSERT_TRUE(writer.Send(kGo));
    ASSERT_EQ(writer.Receive(), std::optional<int64_t>(kReady));
    int64_t readStart = NowMicros();
    ASSERT_TRUE(writer.Send(kGo));
    bool changed = table.BeginRead();
    int64_t readReturned = NowMicros();
    size_t cachedAfter = table.CachedRecords();
    int32_t nextAfter = table.NextRecordNo();

    std::optional<int64_t> writerEnded = writer.Receive();
    ASSERT_TRUE(writerEnded) << "writer exited early";
    // BeginRead started inside the write phase and returned only after it.
    EXPECT_LT(readStart, *writerEnded);
    EXPECT_GE(readReturned, *writerEnded);

    EXPECT_TRUE(changed);
    EXPECT_EQ(cachedAfter, 0u);
    EXPECT_EQ(nextAfter, nextBefore + 1);
    EXPECT_TRUE(table.InReadPhase());

    TFetchResult added = table.FetchRecord(nextBefore);
    ASSERT_NE(added.Record, nullptr);
    EXPECT_EQ(added.Record->RecordID(), nextBefore);
    TFieldDescriptor title = table.FieldDescriptorByName(kTitleField);
    const char* text = reinterpret_cast<const char*>(&added.Record->Buffer[title.Offset() + 1]);
    EXPECT_EQ(std::string(text), "Added " + std::to_string(nextBefore));
    added.Record->Unpin();
    table.EndRead();

    writer.Send(kDone);
    EXPECT_EQ(writer.ExitCode(), kChildOk);
}

// A process that opens the table while another one is writing its headers
// may read a header half written. It must wait for the writer rather than
// report the table corrupt.
TEST_F(MultiProcessTest, OpeningDuringAFlushWaitsForTheWriterInsteadOfSeeingCorruption) {
    const std::string path = MakeTable(3);
    for (const std::string& file : {IndexPathOf(path), BlobPathOf(path)}) {
        TChildProcess writer([&](TChildChannel& ch) {
            TDataFile table;
            Open(table, path);
            table.BeginWrite();
            // The header as a torn write would leave it: the end offset zeroed.
            const std::vector<uint8_t> sound = ReadFileBytes(file);
            std::vector<uint8_t> torn = sound;
            std::fill(torn.begin() + 9, torn.begin() + 17, 0);
            WriteFileBytes(file, torn);
            ch.Send(kReady);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            WriteFileBytes(file, sound);
            table.EndWrite();
            ch.Receive();
            return kChildOk;
        });
        ASSERT_TRUE(writer.Started());
        ASSERT_EQ(writer.Receive(), std::optional<int64_t>(kReady));
        TDataFile table;
        EXPECT_NO_THROW(Open(table, path)) << file;
        EXPECT_EQ(table.RecordCount(), 3) << file;
        table.CloseTable();
        writer.Send(kDone);
        EXPECT_EQ(writer.ExitCode(), kChildOk);
    }
    // A header that stays damaged is still reported.
    std::vector<uint8_t> index = ReadFileBytes(IndexPathOf(path));
    std::fill(index.begin() + 9, index.begin() + 13, 0);
    WriteFileBytes(IndexPathOf(path), index);
    TDataFile table;
    EXPECT_EQ(EngineErrorOf([&] { Open(table, path); }), ecHeaderCorrupt);
}

// ----------------------------------------------------------------- record locks

TEST_F(MultiProcessTest, RecordLockedByAnotherProcessIsRefusedAfterItsRetries) {
    const std::string path = MakeTable(13);
    TChildProcess holder([&](TChildChannel& ch) {
        TDataFile table;
        Open(table, path);
        table.LockRecord(12);
        table.LockRecord(12);  // again: still one lock
        ch.Send(int64_t(table.LockedRecords().size()));
        ch.Receive();
        table.UnlockRecord(12);
        ch.Send(int64_t(table.LockedRecords().size()));
        ch.Receive();
        return kChildOk;
    });
    ASSERT_TRUE(holder.Started());
    ASSERT_EQ(holder.Receive(), std::optional<int64_t>(1));

    TDataFile table;
    Open(table, path);
    ASSERT_EQ(table.LockRetryCount(), 15);
    ASSERT_EQ(table.LockWaitTime(), 100);

    auto start = TClock::now();
    EXPECT_EQ(EngineErrorOf([&] { table.LockRecord(12); }), ecRecordInUse);
    // 15 retries 100 ms apart: the refusal comes after about 1.5 s, not at once.
    EXPECT_GE(MillisSince(start), 1300);
    EXPECT_TRUE(table.LockedRecords().empty());

    // The neighbour is free: granted at the first attempt, with no retries allowed.
    table.SetLockRetryCount(0);
    EXPECT_EQ(EngineErrorOf([&] { table.LockRecord(13); }), 0);
    EXPECT_EQ(table.LockedRecords(), std::vector<int32_t>{13});

    // One unlock frees the record that was locked twice.
    ASSERT_TRUE(holder.Send(kGo));
    ASSERT_EQ(holder.Receive(), std::optional<int64_t>(0));
    EXPECT_EQ(EngineErrorOf([&] { table.LockRecord(12); }), 0);
    EXPECT_EQ(table.LockedRecords().size(), 2u);
    table.UnlockAllRecords();
    table.EndRead();

    holder.Send(kDone);
    EXPECT_EQ(holder.ExitCode(), kChildOk);
}

// ----------------------------------------------------------------- sharing modes

TEST_F(MultiProcessTest, ExclusiveOpenKeepsOtherProcessesOut) {
    const std::string path = MakeTable(2);
    TChildProcess owner([&](TChildChannel& ch) {
        TDataFile table;
        Open(table, path, /*exclusive=*/true);
        ch.Send(kReady);
        ch.Receive();
        table.CloseTable();
        ch.Send(kDone);
        ch.Receive();
        return kChildOk;
    });
    ASSERT_TRUE(owner.Started());
    ASSERT_EQ(owner.Receive(), std::optional<int64_t>(kReady));

    for (bool exclusive : {false, true}) {
        SCOPED_TRACE(exclusive ? "exclusive open" : "shared open");
        TDataFile table;
        table.SetFileName(path);
        table.SetExclusive(exclusive);
        EXPECT_EQ(EngineErrorOf([&] { table.OpenTable(); }), ecAccessDenied);
        EXPECT_FALSE(table.Active());
        EXPECT_FALSE(table.IsOpen());
    }

    ASSERT_TRUE(owner.Send(kGo));
    ASSERT_EQ(owner.Receive(), std::optional<int64_t>(kDone));
    TDataFile table;
    EXPECT_EQ(EngineErrorOf([&] { Open(table, path); }), 0);
    EXPECT_TRUE(table.Active());
    EXPECT_EQ(table.NextRecordNo(), 3);
    table.CloseTable();

    owner.Send(kDone);
    EXPECT_EQ(owner.ExitCode(), kChildOk);
}

TEST_F(MultiProcessTest, DataFileWithoutWritePermissionOpensReadOnly) {
    const std::string path = MakeTable(2);
    const std::vector<uint8_t> before = ReadFileBytes(path);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);

    TDataFile table;
    table.SetFileName(path);
    ASSERT_FALSE(table.ReadOnly());
    table.OpenTable();
    EXPECT_TRUE(table.ReadOnly());
    EXPECT_TRUE(table.ReadOnlyForced());
    EXPECT_TRUE(table.LocksDisabled());

    // Reading works.
    TFetchResult r = table.FetchRecord(2);
    ASSERT_NE(r.Record, nullptr);
    EXPECT_EQ(r.Record->RecordID(), 2);
    r.Record->Unpin();

    // Every kind of write is refused as access denied.
    const uint8_t bytes[4] = {1, 2, 3, 4};
    const struct {
        const char* What;
        std::function<void()> Write;
    } writes[] = {
        {"append a slot", [&] { table.FetchRecord(table.NextRecordNo()); }},
        {"new record slot", [&] { table.NewRecordSlot(); }},
        {"raw write", [&] { table.WriteAt(0, bytes, sizeof bytes); }},
    };
    for (const auto& w : writes) {
        SCOPED_TRACE(w.What);
        EXPECT_EQ(EngineErrorOf(w.Write), ecAccessDenied);
    }
    EXPECT_EQ(table.NextRecordNo(), 3);
    table.CloseTable();

    ::chmod(path.c_str(), 0644);
    EXPECT_EQ(ReadFileBytes(path), before);
}

// ----------------------------------------------------------------- lock owners

TEST_F(MultiProcessTest, TwoOpensInOneProcessAreSeparateLockOwners) {
    const std::string path = MakeTable(6);
    TDataFile first, second, third;
    Open(first, path);
    Open(second, path);
    second.SetLockRetryCount(1);
    second.SetLockWaitTime(10);

    first.LockRecord(5);
    EXPECT_EQ(EngineErrorOf([&] { second.LockRecord(5); }), ecRecordInUse);
    EXPECT_EQ(EngineErrorOf([&] { second.LockRecord(6); }), 0);

    first.UnlockRecord(5);
    EXPECT_EQ(EngineErrorOf([&] { second.LockRecord(5); }), 0);

    // Closing one open never drops the locks of another.
    first.CloseTable();
    Open(third, path);
    third.SetLockRetryCount(1);
    third.SetLockWaitTime(10);
    EXPECT_EQ(EngineErrorOf([&] { third.LockRecord(6); }), ecRecordInUse);
    second.CloseTable();
    EXPECT_EQ(EngineErrorOf([&] { third.LockRecord(6); }), 0);
}

// ----------------------------------------------------------------- a killed writer

TEST_F(MultiProcessTest, KilledWriterReleasesItsLocks) {
    const std::string path = MakeTable(2);
    TChildProcess writer([&](TChildChannel& ch) {
        TDataFile table;
        Open(table, path);
        table.BeginWrite();
        ch.Send(kReady);
        ch.Receive();  // never answered: the parent kills this process
        return kChildOk;
    });
    ASSERT_TRUE(writer.Started());
    ASSERT_EQ(writer.Receive(), std::optional<int64_t>(kReady));

    // Probes on the lock bytes of the data and index files.
    TFileHandler data, index;
    data.SetFileName(path);
    data.Open();
    index.SetFileName(IndexPathOf(path));
    index.Open();
    EXPECT_FALSE(data.LockRange(kTableWriteLockOffset, 1));
    EXPECT_FALSE(index.LockRange(kRangeWriteLockOffset, kRangeWriteLockLength));

    writer.Kill(SIGKILL);
    int status = writer.Wait();
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);

    EXPECT_TRUE(data.LockRange(kTableWriteLockOffset, 1));
    EXPECT_TRUE(index.LockRange(kRangeWriteLockOffset, kRangeWriteLockLength));
    data.UnlockRange(kTableWriteLockOffset, 1);
    index.UnlockRange(kRangeWriteLockOffset, kRangeWriteLockLength);

    TDataFile table;
    Open(table, path);
    EXPECT_EQ(EngineErrorOf([&] { table.BeginWrite(); }), 0);
    EXPECT_TRUE(table.InWritePhase());
    table.EndWrite();
}

}  // namespace
