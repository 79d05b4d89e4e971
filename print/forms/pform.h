// Tpform: the detail report: one page per ticket, with the visible grid
// columns as up to eleven labelled field rows and the ticket's rich text
// after them.
//
// A report form is never shown itself: PrintDetail fills it from a copy of
// the main table's view (print_view.h) and shows the preview or prints.
// Created once at program start; captions, bindings, enabled flags and the
// band height stay as the last print left them until the next print.
//
// Layout, in pixels at 96 per inch on US Letter portrait with half-inch
// margins, default font Arial 13 pixels:
//   detail band   720 wide, designed 300 high, every ticket on a new page;
//                 row k (1 to 11) at top 16 + 24 (k - 1): label k at left 30,
//                 data text k at left 134, both sizing themselves to their
//                 text; at every page start the band's height becomes the
//                 top of the first disabled row plus 20 (300 with all
//                 eleven rows in use)
//   child band    636 high: one rich-text item at left 40, top 16, 647 wide,
//                 593 high, stretching to fit `All` or `Description` and
//                 continuing on the next page(s) when longer than the page
#pragma once

#include <QWidget>
#include <array>

#include "engine/veltra_table.h"
#include "platform/qt/report/report.h"
#include "print/forms/print_view.h"

namespace veltra {

class Tpform : public QWidget {
    Q_OBJECT
public:
    explicit Tpform(QWidget* parent = nullptr);
    ~Tpform() override;

    // Prints the tickets of view.MainTable's view in detail, or, with
    // selectedOnly, the current ticket alone (the filter "ID = n" replaces
    // any query). The rich text shows `All` with view.PrintChangeHistory,
    // else `Description`. With view.Preview the preview is shown (and the
    // report table closed when it closes), otherwise the report goes
    // straight to the default printer (the report table stays open until
    // the next print). An engine error while the report table opens is shown
    // in the application's error box and nothing is printed; false then.
    bool PrintDetail(const TPrintView& view, bool selectedOnly);

    TReport& Report() { return m_Report; }
    TVeltraTable& ReportTable() { return m_Table; }
    TReportLabel& Label(int row) { return *m_Labels.at(row - 1); }       // row 1..11
    TReportDataText& DataText(int row) { return *m_Texts.at(row - 1); }  // row 1..11
    TReportRichText& RichText() { return *m_Rich; }

private:
    // The page-start hook: the detail band ends 20 pixels below the last
    // row in use.
    void StartPage();

    TVeltraTable m_Table;
    TReport m_Report;
    std::array<TReportLabel*, kReportRows> m_Labels{};
    std::array<TReportDataText*, kReportRows> m_Texts{};
    TReportRichText* m_Rich = nullptr;
};

}  // namespace veltra
