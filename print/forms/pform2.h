// Tpform2: the summary report: the current view of the open log as a table,
// one row per ticket and one column per visible grid column, with the
// grid's column titles as headings at the top of every page.
//
// A report form is never shown itself: PrintSummary (the main window's
// `printsummary`) fills it from a copy of the main table's view
// (print_view.h) and shows the preview or prints. Created once at program
// start; the layout stays as the last print left it until the next print.
//
// Layout, in pixels at 96 per inch on US Letter landscape with half-inch
// margins, default font Arial 13 pixels:
//   heading band  960 wide, 40 high, on every page: heading labels 1 to 11
//                 at top 8
//   detail band   960 wide, 33 high, once per ticket: data texts 1 to 11 at
//                 top 8
// Slot k is heading label k and data text k, both at the same left: the
// visible columns in grid order take the slots at the running x, which
// starts at 0 and grows by each column's width plus 3. Every item sizes
// itself, wraps its words within its column's width and stretches its band
// in height.
//
// Columns past the band's right edge (the right margin): a column that
// starts at or beyond 960 pixels is not printed; one that starts inside but
// runs past the edge wraps its text within the room left to the margin.
// Nothing is drawn off the paper.
#pragma once

#include <QWidget>
#include <array>

#include "engine/veltra_table.h"
#include "platform/qt/report/report.h"
#include "print/forms/print_view.h"

namespace veltra {

class Tpform2 : public QWidget {
    Q_OBJECT
public:
    explicit Tpform2(QWidget* parent = nullptr);
    ~Tpform2() override;

    // Prints the tickets of view.MainTable's view as the summary, in the
    // main table's index order and under its filter when filtered. With
    // view.Preview the preview is shown, otherwise the report goes straight
    // to the default printer. The summary table stays open until the next
    // summary print. An engine error while it opens is shown in the
    // application's error box and nothing is printed; false then.
    bool PrintSummary(const TPrintView& view);

    TReport& Report() { return m_Report; }
    TVeltraTable& SummaryTable() { return m_Table; }
    TReportLabel& Heading(int slot) { return *m_Headings.at(slot - 1); }  // slot 1..11
    TReportDataText& DataText(int slot) { return *m_Texts.at(slot - 1); }

private:
    TVeltraTable m_Table;
    TReport m_Report;
    std::array<TReportLabel*, kReportRows> m_Headings{};
    std::array<TReportDataText*, kReportRows> m_Texts{};
};

}  // namespace veltra
