// Another process's insertion seen through the index file's change counter:
// by an explicit read phase (the cached pages are trusted until then), or by
// the next cursor operation under strict change detection; the cursor stays
// on its record.
#include <gtest/gtest.h>

#include "child_process.h"
#include "engine/index_verifier.h"
#include "test_util.h"

using namespace veltra;
using namespace veltra_test;

namespace {

// In the child: appends one record titled "AAA" (it sorts before every
// "Ticket n") and enters it in every index, in one write phase.
int InsertFirstTitle(TChildChannel& channel, const std::string& path) {
    TDataFile table;
    table.SetFileName(path);
    table.OpenTable();
    channel.Receive();
    table.BeginWrite();
    AppendRecords(table, 1, "AAA");
    IndexRecords(table, table.NextRecordNo() - 1, table.NextRecordNo() - 1);
    table.EndWrite();
    channel.Send(table.NextRecordNo() - 1);
    return kChildOk;
}

// How the parent learns of the change: by opening a read phase itself, by a
// cursor operation that must read a page it no longer caches (the operation
// starts over once the read lock reveals the change), or by any cursor
// operation under strict change detection.
enum class TDetection { ReadPhase, PageRead, Strict };

class IndexSharingTest : public ::testing::TestWithParam<TDetection> {
protected:
    void SetUp() override { EngineStartup(); }
    TTestDir m_Dir;
};

}  // namespace

TEST_P(IndexSharingTest, AnotherProcessInsertIsSeenAndTheCursorKeepsItsRecord) {
    const TDetection how = GetParam();
    const bool strict = how == TDetection::Strict;
    std::string path = CreateSmallTable(m_Dir / "t.dat", 10);
    TDataFile table;
    table.SetFileName(path);
    table.SetStrictChangeDetection(strict);
    table.OpenTable();
    TIndexFile& ix = table.IndexFile();
    ix.SelectIndexByName(kTitleIndex);
    ASSERT_EQ(ix.CurrentSlot(), 1);
    ix.GotoRecordNumber(5);
    const int32_t record = ix.CurrentRecord();
    ASSERT_NE(record, 0);
    ASSERT_EQ(ix.VisibleCount(), 10);

    TChildProcess child([&](TChildChannel& c) { return InsertFirstTitle(c, path); });
    ASSERT_TRUE(child.Started());
    child.Send(1);
    std::optional<int64_t> added = child.Receive();
    ASSERT_TRUE(added.has_value());
    ASSERT_EQ(child.ExitCode(), kChildOk);

    if (!strict) {
        EXPECT_EQ(ix.VisibleCount(), 10);  // cached pages are trusted
    }
    if (how == TDetection::ReadPhase) {
        EXPECT_TRUE(table.BeginRead());
        table.EndRead();
    } else if (how == TDetection::PageRead) {
        ix.InvalidatePages();
    }
    EXPECT_EQ(ix.VisibleCount(), 11);
    EXPECT_EQ(ix.RecordCount(), 11);
    EXPECT_EQ(table.NextRecordNo(), 12);
    EXPECT_EQ(ix.CurrentRecord(), record);
    EXPECT_EQ(ix.RecordNumber(), 6);
    ix.First();
    EXPECT_EQ(ix.CurrentRecord(), *added);
    TIndexReport report = TIndexVerifier::VerifyAll(ix);
    EXPECT_TRUE(report.Ok()) << report.Text();
}

INSTANTIATE_TEST_SUITE_P(Detection, IndexSharingTest,
                         ::testing::Values(TDetection::ReadPhase, TDetection::PageRead, TDetection::Strict),
                         [](const auto& info) {
                             return info.param == TDetection::ReadPhase  ? "ReadPhase"
                                    : info.param == TDetection::PageRead ? "PageRead"
                                                                         : "Strict";
                         });
