// The summary report: landscape, slots at the running x of the visible
// columns, headings on every page, the view's query.
#include "print/forms/pform2.h"
#include "tests/print/print_fixture.h"

namespace veltra_test {
namespace {

using namespace veltra;

class SummaryPrintTest : public TPrintTest {
protected:
    void SetUp() override {
        TPrintTest::SetUp();
        NoPrinter(m_Summary.Report());
    }

    std::vector<TPdfWord> Print(QList<TGridColumn> columns, const QString& pdf = "summary.pdf") {
        m_Path = ExpectPdfOffer(pdf);
        EXPECT_TRUE(m_Summary.PrintSummary({&m_Main, std::move(columns), false, true}));
        return PdfWords(m_Path);
    }

    static QList<TGridColumn> Columns(const std::vector<std::tuple<const char*, int, bool>>& list) {
        QList<TGridColumn> columns;
        for (auto [field, width, visible] : list) columns.append({field, field, width, visible});
        return columns;
    }

    Tpform2 m_Summary;
    QString m_Path;
};

TEST_F(SummaryPrintTest, SlotsStartAtTheRunningWidthsOfTheVisibleColumns) {
    AddTickets({{.Title = "Jammed", .Owner = "carl"}});
    struct TCase {
        const char* Name;
        QList<TGridColumn> Columns;
        std::vector<std::pair<const char*, double>> Expected;  // a word and its left in pixels
        std::vector<const char*> Absent;
    };
    const std::vector<TCase> cases = {
        {"example", Columns({{"ID", 55, true}, {"Title", 267, true}, {"Owner", 64, true}}),
         {{"ID", 0}, {"Title", 58}, {"Owner", 328}, {"1", 0}, {"Jammed", 58}, {"carl", 328}},
         {}},
        {"hidden takes no space",
         Columns({{"ID", 55, true}, {"State", 90, false}, {"Title", 267, true}, {"Owner", 64, true}}),
         {{"ID", 0}, {"Title", 58}, {"Owner", 328}}, {"State", "Open"}},
        {"wider title moves the later ones",
         Columns({{"ID", 55, true}, {"Title", 300, true}, {"Owner", 64, true}}),
         {{"Title", 58}, {"Owner", 361}, {"carl", 361}}, {}},
        {"moved", Columns({{"Owner", 64, true}, {"ID", 55, true}}),
         {{"Owner", 0}, {"carl", 0}, {"ID", 67}, {"1", 67}}, {"Title"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto words = Print(c.Columns, QString(c.Name) + ".pdf");
        for (auto [text, left] : c.Expected) {
            const TPdfWord* w = FindWord(words, text);
            ASSERT_TRUE(w) << text;
            EXPECT_NEAR(w->XMin, PixelsToPoints(left), 1.5) << text;
        }
        for (const char* text : c.Absent) EXPECT_FALSE(FindWord(words, text)) << text;
        // Headings at 8 pixels in the heading band, rows at 8 in their band.
        EXPECT_NEAR(FindWord(words, c.Columns[0].FieldName)->YMin, PixelsToPoints(8), 2.0);
    }
    const TPdfInfo info = PdfInfo(m_Path);
    EXPECT_NEAR(info.Width, 792, 0.5);
    EXPECT_NEAR(info.Height, 612, 0.5);
}

TEST_F(SummaryPrintTest, HeadingsRepeatOnEveryPageAndRowsFollowTheIndex) {
    std::vector<TTicket> tickets;
    for (int i = 0; i < 45; ++i)
        tickets.push_back({.Title = "T" + std::to_string(100 + (i * 37) % 45)});
    AddTickets(tickets);
    m_Main.SetIndexName("Title");
    const auto words = Print(Columns({{"ID", 55, true}, {"Title", 267, true}}));
    const int pages = PdfInfo(m_Path).Pages;
    // 680 pixels below the heading hold 20 rows of 33.
    EXPECT_EQ(pages, 3);
    for (int page = 1; page <= pages; ++page) {
        const TPdfWord* heading = FindWord(words, "Title", page);
        ASSERT_TRUE(heading) << page;
        EXPECT_NEAR(heading->YMin, PixelsToPoints(8), 2.0);
    }
    // The titles come in title order across the pages, each once.
    QStringList titles;
    for (const TPdfWord& w : words)
        if (w.Text.startsWith('T') && w.Text != "Title") titles << w.Text;
    QStringList sorted = titles;
    sorted.sort();
    EXPECT_EQ(titles.size(), 45);
    EXPECT_EQ(titles, sorted);
    EXPECT_EQ(m_Main.IndexName(), "Title");
}

TEST_F(SummaryPrintTest, AQueryLimitsTheRowsUntilItIsLifted) {
    AddTickets({{.Title = "Jammed", .State = "Open"},
                {.Title = "Noisy", .State = "Closed"},
                {.Title = "Dead", .State = "Open"}});
    m_Main.SetFilter("State = 'Open'");
    m_Main.SetFiltered(true);
    m_Main.Last();
    const TMainState before = MainState();
    auto words = Print(Columns({{"Title", 267, true}}), "query.pdf");
    EXPECT_TRUE(FindWord(words, "Jammed"));
    EXPECT_TRUE(FindWord(words, "Dead"));
    EXPECT_FALSE(FindWord(words, "Noisy"));
    EXPECT_EQ(MainState(), before);
    m_Main.SetFiltered(false);  // Close Query
    words = Print(Columns({{"Title", 267, true}}), "lifted.pdf");
    EXPECT_TRUE(FindWord(words, "Noisy"));
}

TEST_F(SummaryPrintTest, NoColumnsOrNoTicketsStillGiveOnePage) {
    struct TCase {
        const char* Name;
        bool Tickets;
        QList<TGridColumn> Columns;
        QStringList Words;
    };
    const std::vector<TCase> cases = {
        {"all hidden", true, Columns({{"ID", 55, false}, {"Title", 267, false}}), {}},
        {"empty view", false, Columns({{"ID", 55, true}, {"Title", 267, true}}), {"ID", "Title"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.Tickets && m_Main.IsEmpty()) AddTickets({{.Title = "Jammed"}});
        if (!c.Tickets) {
            m_Main.SetFilter("State = 'nothing'");
            m_Main.SetFiltered(true);
        }
        const auto words = Print(c.Columns, QString(c.Name) + ".pdf");
        EXPECT_EQ(PdfInfo(m_Path).Pages, 1);
        QStringList texts;
        for (const TPdfWord& w : words) texts << w.Text;
        EXPECT_EQ(texts, c.Words);
    }
}

TEST_F(SummaryPrintTest, ColumnsPastTheRightMarginAreNeverDrawnOffThePaper) {
    AddTickets({{.Title = "alpha beta gamma delta epsilon zeta eta theta iota kappa", .Owner = "carl"}});
    const auto words = Print(
        Columns({{"ID", 55, true}, {"Category", 700, true}, {"Title", 400, true}, {"Owner", 64, true}}));
    // Title starts at 761 pixels and has 199 left: its words wrap there.
    EXPECT_NEAR(FindWord(words, "alpha")->XMin, PixelsToPoints(761), 1.5);
    EXPECT_GT(FindWord(words, "kappa")->YMin, FindWord(words, "alpha")->YMin + 5);
    // Owner would start at 1164 pixels, past the margin: not printed.
    EXPECT_FALSE(FindWord(words, "Owner"));
    EXPECT_FALSE(FindWord(words, "carl"));
    for (const TPdfWord& w : words) EXPECT_LE(w.XMax, 792 - 36 + 0.5) << w.Text.toStdString();
}

}  // namespace
}  // namespace veltra_test
