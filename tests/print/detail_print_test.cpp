// Detail printing through the print command, as the main window runs it:
// the print choice dialog answered through the scripted dialogs, the report
// written as PDF on a machine without a printer and read back with poppler.
#include <QCheckBox>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPushButton>
#include <QTest>
#include <QToolBar>

#include "print/forms/pform.h"
#include "print/forms/pform2.h"
#include "print/forms/print_command.h"
#include "print/forms/printallform.h"
#include "tests/print/print_fixture.h"

namespace veltra_test {
namespace {

using namespace veltra;

// Row k's top in report pixels.
double RowTop(int k) { return 16 + 24 * (k - 1); }

class DetailPrintTest : public TPrintTest {
protected:
    void SetUp() override {
        TPrintTest::SetUp();
        NoPrinter(m_Detail.Report());
        NoPrinter(m_Summary.Report());
    }

    TPrintView View(QList<TGridColumn> columns, bool history = true, bool preview = false) {
        return {&m_Main, std::move(columns), preview, history};
    }

    // "Print &All" with "Summary Only" unchecked, straight to a PDF file.
    std::vector<TPdfWord> PrintAllDetail(const TPrintView& view, const QString& pdf = "all.pdf") {
        m_Dialogs.Drive([](QDialog& d) {
            auto& choice = static_cast<Tprintallform&>(d);
            if (choice.SummaryOnlyBox()->isChecked()) QTest::mouseClick(choice.SummaryOnlyBox(), Qt::LeftButton);
            QTest::mouseClick(choice.OkButton(), Qt::LeftButton);
        });
        m_Path = ExpectPdfOffer(pdf);
        RunPrintCommand(TPrintCommand::PrintAll, view, m_Choice, m_Detail, m_Summary);
        return PdfWords(m_Path);
    }

    std::vector<TPdfWord> PrintSelected(const TPrintView& view, const QString& pdf = "one.pdf") {
        m_Path = ExpectPdfOffer(pdf);
        RunPrintCommand(TPrintCommand::PrintSelected, view, m_Choice, m_Detail, m_Summary);
        return PdfWords(m_Path);
    }

    // The labels of page 1 from top to bottom: the words at the label column.
    QStringList LabelRows(const std::vector<TPdfWord>& words, int page = 1) {
        std::vector<const TPdfWord*> found;
        for (const TPdfWord& w : words)
            if (w.Page == page && std::abs(w.XMin - PixelsToPoints(30)) < 1.5) found.push_back(&w);
        std::sort(found.begin(), found.end(), [](auto* a, auto* b) { return a->YMin < b->YMin; });
        QStringList labels;
        for (const TPdfWord* w : found) labels << w->Text;
        return labels;
    }

    Tprintallform m_Choice;
    Tpform m_Detail;
    Tpform2 m_Summary;
    QString m_Path;
};

TEST_F(DetailPrintTest, EveryTicketGetsAPageWithItsRowsAtTheirPlaces) {
    AddTickets({{.Title = "Jammed", .Owner = "carl", .Description = "Paper stuck"},
                {.Title = "Noisy", .Owner = "dora", .Description = "Fan rattles"},
                {.Title = "Dead", .Owner = "emil", .Description = "No power"}});
    const auto before = MainState();
    const auto words = PrintAllDetail(View(InitialColumns()));
    EXPECT_EQ(PdfInfo(m_Path).Pages, 3);
    const char* titles[] = {"Jammed", "Noisy", "Dead"};
    const char* owners[] = {"carl", "dora", "emil"};
    for (int page = 1; page <= 3; ++page) {
        SCOPED_TRACE(page);
        // Row 2 is Title, row 9 Owner: labels at 30 and values at 134 pixels.
        for (auto [label, value, row] : {std::tuple{"Title", titles[page - 1], 2},
                                         std::tuple{"Owner", owners[page - 1], 9}}) {
            const TPdfWord* l = FindWord(words, label, page);
            const TPdfWord* v = FindWord(words, value, page);
            ASSERT_TRUE(l && v) << PageText(words, page).toStdString();
            EXPECT_NEAR(l->XMin, PixelsToPoints(30), 1.5);
            EXPECT_NEAR(v->XMin, PixelsToPoints(134), 1.5);
            EXPECT_NEAR(l->YMin, PixelsToPoints(RowTop(row)), 2.0);
            EXPECT_NEAR(v->YMin, l->YMin, 0.5);
        }
        for (int other = 0; other < 3; ++other)
            if (other != page - 1) {
                EXPECT_FALSE(FindWord(words, titles[other], page));
            }
    }
    EXPECT_EQ(MainState(), before);
}

TEST_F(DetailPrintTest, TheRowsFollowTheVisibleColumnsAndTheTextFollowsTheLastRow) {
    AddTickets({{.Title = "Jammed", .Other = "spare", .Description = "Paper stuck"}});
    QList<TGridColumn> moved = InitialColumns();
    moved.move(8, 0);  // Owner dragged to the front
    QList<TGridColumn> renamed = OnlyVisible({"ID", "Title", "State"});
    renamed[1].Title = "Heading";
    QList<TGridColumn> all = InitialColumns();
    for (TGridColumn& c : all) c.Visible = true;
    struct TCase {
        const char* Name;
        QList<TGridColumn> Columns;
        QStringList Labels;
    };
    const std::vector<TCase> cases = {
        {"three", OnlyVisible({"ID", "Title", "State"}), {"ID", "Title", "State"}},
        {"initial", InitialColumns(),
         {"ID", "Title", "Submitter", "Submit", "State", "Priority", "Close", "Category", "Owner"}},
        {"moved", moved,
         {"Owner", "ID", "Title", "Submitter", "Submit", "State", "Priority", "Close", "Category"}},
        {"renamed", renamed, {"ID", "Heading", "State"}},
        {"all eleven", all,
         {"ID", "Title", "Submitter", "Submit", "State", "Priority", "Close", "Category", "Owner",
          "Other", "Last"}},
        {"three again", OnlyVisible({"ID", "Title", "State"}), {"ID", "Title", "State"}},
        {"none", OnlyVisible({}), {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto words = PrintSelected(View(c.Columns), QString(c.Name) + ".pdf");
        EXPECT_EQ(LabelRows(words), c.Labels);
        // The text starts 16 pixels below the band, which ends 20 pixels
        // below the last row's top (the designed 300 with all eleven).
        const int rows = int(c.Labels.size());
        const double band = rows == 11 ? 300 : RowTop(rows + 1) + 20;
        const TPdfWord* text = FindWord(words, "Paper");
        ASSERT_TRUE(text);
        EXPECT_NEAR(text->YMin, PixelsToPoints(band + 16), 2.0);
        EXPECT_NEAR(text->XMin, PixelsToPoints(40), 1.5);
        EXPECT_EQ(FindWord(words, "spare") != nullptr, c.Labels.contains("Other"));
    }
}

TEST_F(DetailPrintTest, TheChangeHistoryPrintsOnlyWhenAsked) {
    AddTickets({{.Title = "Jammed", .Description = "Paper stuck", .History = "ann edited"}});
    for (bool history : {true, false}) {
        SCOPED_TRACE(history);
        const auto words = PrintSelected(View(InitialColumns(), history),
                                         history ? "with.pdf" : "without.pdf");
        EXPECT_TRUE(FindWord(words, "Paper"));
        EXPECT_EQ(FindWord(words, "History") != nullptr, history);
        EXPECT_EQ(FindWord(words, "edited") != nullptr, history);
    }
}

TEST_F(DetailPrintTest, PrintSelectedPrintsTheCurrentTicketEvenUnderAQuery) {
    AddTickets({{.Title = "Jammed", .State = "Open"},
                {.Title = "Noisy", .State = "Closed"},
                {.Title = "Dead", .State = "Open"}});
    m_Main.SetFilter("State = 'Open'");
    m_Main.SetFiltered(true);
    m_Main.Next();  // on Dead
    const auto before = MainState();
    const auto words = PrintSelected(View(InitialColumns()));
    EXPECT_EQ(PdfInfo(m_Path).Pages, 1);
    EXPECT_TRUE(FindWord(words, "Dead"));
    EXPECT_FALSE(FindWord(words, "Jammed"));
    EXPECT_EQ(MainState(), before);

    // Print All under the query prints the matching tickets only, and all
    // of them once the query is lifted.
    EXPECT_EQ(PageText(PrintAllDetail(View(InitialColumns()), "query.pdf"), 2).contains("Dead"),
              true);
    EXPECT_EQ(PdfInfo(m_Path).Pages, 2);
    EXPECT_EQ(MainState(), before);
    m_Main.SetFiltered(false);
    PrintAllDetail(View(InitialColumns()), "lifted.pdf");
    EXPECT_EQ(PdfInfo(m_Path).Pages, 3);
}

TEST_F(DetailPrintTest, AnEmptyLogGivesOneEmptyPage) {
    for (auto command : {TPrintCommand::PrintSelected, TPrintCommand::PrintAll}) {
        const bool all = command == TPrintCommand::PrintAll;
        const auto words = all ? PrintAllDetail(View(InitialColumns()), "empty-all.pdf")
                               : PrintSelected(View(InitialColumns()), "empty-one.pdf");
        EXPECT_EQ(PdfInfo(m_Path).Pages, 1);
        EXPECT_TRUE(words.empty());
    }
}

TEST_F(DetailPrintTest, ALongDescriptionContinuesOverPagesWithNothingLost) {
    std::string text;
    const int lines = 120;  // about 17 pixels a line: three pages' worth
    for (int i = 1; i <= lines; ++i) text += "line" + std::to_string(i) + (i < lines ? "\n" : "");
    AddTickets({{.Title = "Long", .Description = text}, {.Title = "Short", .Description = "tiny"}});
    const auto words = PrintAllDetail(View(InitialColumns(), false));
    ASSERT_EQ(PdfInfo(m_Path).Pages, 4);
    int lastPage = 1;
    double lastY = 0;
    for (int i = 1; i <= lines; ++i) {
        const QString word = QString("line%1").arg(i);
        ASSERT_EQ(CountWord(words, word), 1) << word.toStdString();
        const TPdfWord* w = FindWord(words, word);
        EXPECT_TRUE(w->Page > lastPage || (w->Page == lastPage && w->YMin > lastY)) << i;
        EXPECT_LT(w->YMax, 792 - 36 + 0.5) << i;  // inside the bottom margin
        lastPage = w->Page;
        lastY = w->YMin;
    }
    EXPECT_EQ(lastPage, 3);
    // A continued part starts at the top of the page.
    EXPECT_NEAR(FindWord(words, "line1")->YMin, PixelsToPoints(RowTop(10) + 20 + 16), 2.0);
    double topOfPage2 = 1000;
    for (const TPdfWord& w : words)
        if (w.Page == 2) topOfPage2 = std::min(topOfPage2, w.YMin);
    EXPECT_NEAR(topOfPage2, 36, 2.0);
    EXPECT_TRUE(FindWord(words, "Short", 4));
}

TEST_F(DetailPrintTest, CancelInTheChoiceDialogPrintsNothing) {
    AddTickets({{.Title = "Jammed"}});
    m_Dialogs.Drive([](QDialog& d) {
        QTest::mouseClick(static_cast<Tprintallform&>(d).CancelButton(), Qt::LeftButton);
    });
    RunPrintCommand(TPrintCommand::PrintAll, View(InitialColumns()), m_Choice, m_Detail,
                    m_Summary);
    EXPECT_EQ(m_Dialogs.Requests().size(), 1u);
}

TEST_F(DetailPrintTest, TheChoiceDialogKeepsSummaryOnlyAndPicksTheSummary) {
    AddTickets({{.Title = "Jammed"}});
    EXPECT_EQ(m_Choice.windowTitle(), "Print All Records");
    EXPECT_TRUE(m_Choice.SummaryOnly());
    EXPECT_TRUE(m_Choice.windowFlags() & Qt::CustomizeWindowHint);
    EXPECT_FALSE(m_Choice.windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint));
    // Checked: the summary (landscape) is printed; Return is OK.
    m_Dialogs.Drive([](QDialog& d) {
        EXPECT_EQ(d.minimumSize(), d.maximumSize());
        QTest::keyClick(&d, Qt::Key_Return);
    });
    m_Path = ExpectPdfOffer("summary.pdf");
    RunPrintCommand(TPrintCommand::PrintAll, View(InitialColumns()), m_Choice, m_Detail,
                    m_Summary);
    EXPECT_GT(PdfInfo(m_Path).Width, PdfInfo(m_Path).Height);
    // Unchecked once, it stays unchecked for the next print.
    PrintAllDetail(View(InitialColumns()), "detail1.pdf");
    EXPECT_FALSE(m_Choice.SummaryOnly());
    m_Dialogs.Drive([](QDialog& d) {
        QTest::mouseClick(static_cast<Tprintallform&>(d).OkButton(), Qt::LeftButton);
    });
    m_Path = ExpectPdfOffer("detail2.pdf");
    RunPrintCommand(TPrintCommand::PrintAll, View(InitialColumns()), m_Choice, m_Detail,
                    m_Summary);
    EXPECT_LT(PdfInfo(m_Path).Width, PdfInfo(m_Path).Height);
}

TEST_F(DetailPrintTest, ThePreviewShowsThePagesSavesAPdfAndClosesTheReportTable) {
    AddTickets({{.Title = "Jammed"}, {.Title = "Noisy"}});
    const auto before = MainState();
    const QString path = QString::fromStdString(m_Dir / "preview.pdf");
    int pages = 0;
    bool tableOpenWhileShown = false;
    m_Dialogs.Drive([&](QDialog& d) {
        auto* preview = d.findChild<QPrintPreviewWidget*>();
        ASSERT_TRUE(preview);
        preview->updatePreview();
        pages = preview->pageCount();
        tableOpenWhileShown = m_Detail.ReportTable().Active();
        auto* save = d.findChild<QToolBar*>()->findChild<QAction*>("saveAsPdfAction");
        ASSERT_TRUE(save);
        save->trigger();
        d.close();
    });
    m_Dialogs.AnswerSaveFile(path);
    RunPrintCommand(TPrintCommand::PrintSelected, View(InitialColumns(), true, true), m_Choice,
                    m_Detail, m_Summary);
    EXPECT_EQ(pages, 1);
    EXPECT_TRUE(tableOpenWhileShown);
    EXPECT_FALSE(m_Detail.ReportTable().Active());
    const auto words = PdfWords(path);
    EXPECT_TRUE(FindWord(words, "Jammed"));
    EXPECT_FALSE(FindWord(words, "Noisy"));
    EXPECT_EQ(MainState(), before);
}

TEST_F(DetailPrintTest, AReportTableThatCannotOpenShowsTheErrorAndPrintsNothing) {
    AddTickets({{.Title = "Jammed"}});
    m_Main.Close();
    m_Main.SetExclusive(true);
    m_Main.Open();
    m_Dialogs.Answer();
    RunPrintCommand(TPrintCommand::PrintSelected, View(InitialColumns()), m_Choice, m_Detail,
                    m_Summary);
    ASSERT_EQ(m_Dialogs.Requests().size(), 1u);
    EXPECT_EQ(m_Dialogs.Requests()[0].Kind, TMessageKind::Error);
    EXPECT_TRUE(m_Dialogs.Requests()[0].Text.startsWith("Veltra Engine Error")) <<
        m_Dialogs.Requests()[0].Text.toStdString();
    EXPECT_FALSE(m_Detail.ReportTable().Active());
    EXPECT_TRUE(m_Main.Active());
}

}  // namespace
}  // namespace veltra_test
