// The report engine on its own: progress and cancelling, the machine
// without a printer, files that cannot be written, a closed dataset.
#include <QFile>

#include "platform/qt/report/report.h"
#include "tests/print/print_fixture.h"

namespace veltra_test {
namespace {

using namespace veltra;

// Cancels after `stopAfter` records; records what it was told.
class TCancellingProgress : public TReportProgress {
public:
    explicit TCancellingProgress(int64_t stopAfter) : m_StopAfter(stopAfter) {}
    void Begin(int64_t total) override { Total = total; }
    bool Step(int64_t done) override {
        Steps.push_back(done);
        return done < m_StopAfter;
    }
    void End() override { Ended = true; }
    int64_t Total = -2;
    std::vector<int64_t> Steps;
    bool Ended = false;

private:
    int64_t m_StopAfter;
};

class ReportEngineTest : public TPrintTest {
protected:
    void SetUp() override {
        TPrintTest::SetUp();
        m_Report.DataSet = &m_Main;
        m_Report.Detail.NewPage = true;
        m_Report.Detail.Height = 40;
        m_Text = m_Report.Detail.Add<TReportDataText>();
        m_Text->DataField = "Title";
        NoPrinter(m_Report);
    }
    TReport m_Report;
    TReportDataText* m_Text = nullptr;
};

TEST_F(ReportEngineTest, ProgressCountsRecordsAndCancelLeavesNoFile) {
    AddTickets({{.Title = "a"}, {.Title = "b"}, {.Title = "c"}, {.Title = "d"}});
    for (int64_t stop : {2, 10}) {
        SCOPED_TRACE(stop);
        const QString path = QString::fromStdString(m_Dir / "p.pdf");
        TCancellingProgress progress(stop);
        const bool written = m_Report.PrintToPdf(path, &progress);
        EXPECT_EQ(written, stop > 4);
        EXPECT_EQ(QFile::exists(path), stop > 4);
        EXPECT_EQ(progress.Total, 4);
        EXPECT_EQ(progress.Steps.size(), size_t(std::min<int64_t>(stop, 4)));
        EXPECT_TRUE(progress.Ended);
        if (written) {
            EXPECT_EQ(PdfInfo(path).Pages, 4);
        }
        QFile::remove(path);
    }
}

TEST_F(ReportEngineTest, WithoutAPrinterTheUserMayDeclineOrSaveAPdf) {
    AddTickets({{.Title = "Jammed"}});
    m_Dialogs.Answer(TMessageAnswer::No);
    m_Report.Print(nullptr);
    ASSERT_EQ(m_Dialogs.Messages(), QStringList{kNoPrinterMessage});
    EXPECT_EQ(m_Dialogs.Requests()[0].Kind, TMessageKind::Confirmation);
    EXPECT_EQ(m_Dialogs.Requests().size(), 1u);

    // Yes, then cancelling the file dialog, writes nothing either.
    m_Dialogs.ClearRecord();
    m_Dialogs.Answer(TMessageAnswer::Yes).AnswerSaveFile(std::nullopt);
    m_Report.Print(nullptr);
    EXPECT_EQ(m_Dialogs.Requests().size(), 2u);
    EXPECT_TRUE(std::filesystem::is_empty(m_Dir.Path()) ||
                !std::filesystem::exists(m_Dir / "x.pdf"));

    const QString path = ExpectPdfOffer("x.pdf");
    m_Report.Print(nullptr);
    EXPECT_TRUE(FindWord(PdfWords(path), "Jammed"));
}

TEST_F(ReportEngineTest, AFileThatCannotBeWrittenIsReported) {
    AddTickets({{.Title = "Jammed"}});
    const QString path = QString::fromStdString(m_Dir / "missing/folder/x.pdf");
    EXPECT_FALSE(m_Report.PrintToPdf(path));
    m_Dialogs.AnswerSaveFile(path).Answer();
    EXPECT_FALSE(m_Report.SaveAsPdf(nullptr));
    ASSERT_EQ(m_Dialogs.Messages().size(), 1);
    EXPECT_EQ(m_Dialogs.Messages()[0], QString(kPdfWriteFailedMessage) + path);
}

TEST_F(ReportEngineTest, AClosedDatasetPrintsTheEmptyPageWithItsHeading) {
    m_Main.Close();
    m_Report.HasColumnHeader = true;
    m_Report.ColumnHeader.Height = 30;
    m_Report.ColumnHeader.Add<TReportLabel>()->Caption = "Heading";
    int starts = 0;
    m_Report.OnStartPage = [&](TReport&) { ++starts; };
    const QString path = QString::fromStdString(m_Dir / "closed.pdf");
    ASSERT_TRUE(m_Report.PrintToPdf(path));
    EXPECT_EQ(PdfInfo(path).Pages, 1);
    EXPECT_EQ(starts, 1);
    const auto words = PdfWords(path);
    ASSERT_EQ(words.size(), 1u);
    EXPECT_EQ(words[0].Text, "Heading");
}

TEST_F(ReportEngineTest, ABandThatDoesNotFitStartsANewPageAndTheHookSeesEveryPage) {
    std::vector<TTicket> tickets;
    for (int i = 0; i < 30; ++i) tickets.push_back({.Title = "t" + std::to_string(i)});
    AddTickets(tickets);
    m_Report.Detail.NewPage = false;
    m_Report.Detail.Height = 100;  // nine bands fill 900 of the 960 pixels
    int starts = 0;
    m_Report.OnStartPage = [&](TReport&) { ++starts; };
    const QString path = QString::fromStdString(m_Dir / "flow.pdf");
    ASSERT_TRUE(m_Report.PrintToPdf(path));
    EXPECT_EQ(PdfInfo(path).Pages, 4);
    EXPECT_EQ(starts, 4);
    const auto words = PdfWords(path);
    EXPECT_TRUE(FindWord(words, "t8", 1));
    const TPdfWord* first = FindWord(words, "t9", 2);
    ASSERT_TRUE(first);
    EXPECT_NEAR(first->YMin, 36, 2.0);
}

}  // namespace
}  // namespace veltra_test
