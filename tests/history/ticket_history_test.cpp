// The change history step: the lines it appends, their cuts and escapes,
// `Last update` and `All`, on a log made from the program's ticket template.
#include "app/history/ticket_history.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/codec.h"
#include "engine/veltra_table.h"
#include "platform/date_format.h"
#include "platform/format_settings.h"
#include "platform/rtf/rtf.h"
#include "tests/test_util.h"

namespace veltra {
namespace {

constexpr const char* kPrefix = "3/14/2026 at 10:15:00 AM ann";

class TicketHistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallFormatSettings(UsFormatSettings());
        for (const char* ext : {".dat", ".idx", ".blb"})
            std::filesystem::copy_file(std::string(VELTRA_PROGRAM_DIR) + "/datamast" + ext,
                                       m_Dir / (std::string("log") + ext));
        m_Table.SetTableName(m_Dir / "log.dat");
        m_Table.Open();
        m_History.TodayText = [] { return std::string("3/14/2026"); };
        m_History.TimeText = [] { return std::string("10:15:00 AM"); };
        m_Table.BeforeEdit = [this](TDataSet& t) { m_History.TakeSnapshot(t); };
        m_Table.BeforePost = [this](TDataSet& t) { m_History.BeforePost(t, "ann", m_DescriptionModified); };
    }

    // Submits a ticket as the navigator's Submit step fills it.
    void Submit(const std::string& title, const std::string& description = "") {
        m_Table.Insert();
        Field("Title").SetAsString(title);
        Field("Submitter").SetAsString("ann");
        Field("State").SetAsString("Open");
        Field("Priority").SetAsInteger(3);
        if (!description.empty()) m_Table.WriteBlob(Field("Description"), description);
        m_Table.Post();
    }

    TField& Field(const char* name) { return m_Table.FieldByName(name); }
    std::string History() { return Field("History").AsString(); }
    std::string All() { return m_Table.ReadBlob(Field("All")); }
    std::vector<std::string> HistoryLines() {
        std::vector<std::string> lines;
        std::string text = History();
        size_t start = 0, end;
        while ((end = text.find("\r\n", start)) != std::string::npos) {
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        lines.push_back(text.substr(start));
        return lines;
    }

    veltra_test::TTestDir m_Dir;
    TVeltraTable m_Table;
    TTicketHistory m_History;
    bool m_DescriptionModified = false;
};

TEST_F(TicketHistoryTest, ASubmittedTicketGetsTheHeadingAndOneLine) {
    const std::string description = WriteRtf(ReadRtf("{\\rtf1 Printer jams\\par}"));
    Submit("Jam", description);
    EXPECT_EQ(HistoryLines(), (std::vector<std::string>{
                                  "\\par \\par Change History\\par",
                                  std::string(kPrefix) + " submitted ticket\\par"}));
    const std::string all = All();
    const std::string tail = "\\par \\par Change History\\par\r\n" + std::string(kPrefix) +
                             " submitted ticket\\par\r\n\\par }";
    ASSERT_GE(all.size(), tail.size());
    EXPECT_EQ(all.substr(all.size() - tail.size()), tail);
    EXPECT_EQ(all.substr(0, all.size() - tail.size()),
              description.substr(0, description.size() - kRtfClosing.size()));
    // The document reads back with the description and the history as text.
    const std::string plain = RtfPlainText(all);
    EXPECT_NE(plain.find("Printer jams"), std::string::npos);
    EXPECT_NE(plain.find("ann submitted ticket"), std::string::npos);
    EXPECT_EQ(Field("Last update").AsDateTime(),
              TodayDayNumber() - datetime_text::kDayNumberOf18991230);
}

TEST_F(TicketHistoryTest, EditsAppendOneLinePerChangedFieldWithOneTime) {
    Submit("Jam");
    m_Table.Edit();
    Field("Priority").SetAsInteger(5);
    Field("Owner").SetAsString("bob");
    m_Table.Post();
    const auto lines = HistoryLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], std::string(kPrefix) + " changed Priority from 3 to 5\\par");
    EXPECT_EQ(lines[3], std::string(kPrefix) + " changed Owner from  to bob\\par");

    // Nothing changed: no line, but the record is stamped and All rebuilt.
    m_Table.Edit();
    Field("Submit date").SetAsString(Field("Submit date").AsString());
    m_Table.Post();
    EXPECT_EQ(HistoryLines().size(), 4u);
    EXPECT_NE(All().find("changed Owner from  to bob\\par\r\n\\par }"), std::string::npos);

    // Only the description: one "changed Description" line.
    m_DescriptionModified = true;
    m_Table.Edit();
    m_Table.WriteBlob(Field("Description"), WriteRtf(ReadRtf("{\\rtf1 new words\\par}")));
    m_Table.Post();
    ASSERT_EQ(HistoryLines().size(), 5u);
    EXPECT_EQ(HistoryLines()[4], std::string(kPrefix) + " changed Description\\par");
}

TEST_F(TicketHistoryTest, ClosingGivesStateThenCloseDate) {
    Submit("Jam");
    m_Table.Edit();
    Field("State").SetAsString("Closed");
    Field("Close date").SetAsString("3/14/2026");
    m_Table.Post();
    const auto lines = HistoryLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], std::string(kPrefix) + " changed State from Open to Closed\\par");
    EXPECT_EQ(lines[3], std::string(kPrefix) + " changed Close date from  to 3/14/2026\\par");
}

TEST(TicketHistoryLine, CutsAt75AndAt100Characters) {
    struct Case {
        std::string oldText, newText, expected;
    };
    const std::string head = std::string(kPrefix) + " changed Title from ";  // 48 characters
    const std::string longOld(60, 'o'), longNew(60, 'n');
    const Case cases[] = {
        {"a", "b", head + "a to b"},
        // Up to and including the old text: at most 75 characters.
        {longOld, "b", head + std::string(75 - head.size(), 'o') + " to b"},
        // The whole line: at most 100.
        {"a", longNew, head + "a to " + std::string(100 - head.size() - 5, 'n')},
        {longOld, longNew, head + std::string(75 - head.size(), 'o') + " to " +
                               std::string(100 - 75 - 4, 'n')},
    };
    for (const Case& c : cases) {
        const std::string line = TTicketHistory::ChangedLine(kPrefix, "Title", c.oldText, c.newText);
        EXPECT_EQ(line, c.expected);
        EXPECT_LE(line.size(), 100u);
    }
}

TEST_F(TicketHistoryTest, BracesBackslashesAndAccentsKeepAllWellFormed) {
    Submit("Jam");
    m_Table.Edit();
    Field("Title").SetAsString("a {b} \\c caf\xc3\xa9");
    m_Table.Post();
    const auto lines = HistoryLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], std::string(kPrefix) + " changed Title from Jam to a \\{b\\} \\\\c caf\\'e9\\par");
    const std::string plain = RtfPlainText(All());
    EXPECT_NE(plain.find("changed Title from Jam to a {b} \\c caf\xc3\xa9"), std::string::npos) << plain;
}

TEST_F(TicketHistoryTest, ABlankHistoryCountsAsANewTicket) {
    Submit("Jam");
    m_Table.Edit();
    Field("History").SetAsString(" \r\n ");
    Field("Title").SetAsString("Jammed");
    m_Table.Post();
    EXPECT_EQ(HistoryLines(), (std::vector<std::string>{
                                  "\\par \\par Change History\\par",
                                  std::string(kPrefix) + " submitted ticket\\par"}));
}

TEST_F(TicketHistoryTest, AForeignDescriptionIsRewrittenBeforeTheCut) {
    // A description that does not end with the writer's closing sequence,
    // and one that is empty: All is still one readable document.
    for (const std::string& description : {std::string("{\\rtf1\\ansi Foreign text}"), std::string()}) {
        Submit("T", description);
        const std::string all = All();
        EXPECT_EQ(all.rfind("{\\rtf", 0), 0u) << all;
        const std::string plain = RtfPlainText(all);
        if (!description.empty()) {
            EXPECT_NE(plain.find("Foreign text"), std::string::npos) << plain;
        }
        EXPECT_NE(plain.find("submitted ticket"), std::string::npos) << plain;
    }
}

}  // namespace
}  // namespace veltra
