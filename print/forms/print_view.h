// TPrintView: what the main window hands the print windows for one print.
//
// The print windows read the view and never change it:
//   MainTable           the main table holding the open log. Read: its table
//                       name, index name, filter text, filter options and
//                       filtered flag (copied into the report's own table),
//                       and the current ticket's `ID`. Its position, index,
//                       filter and state stay as they were.
//   Columns             the grid's columns in grid order, with their titles,
//                       widths in pixels as shown, and visible flags.
//   Preview             the "Preview" option: show the preview (from which
//                       the user may print or save a PDF) instead of printing
//                       straight to the default printer.
//   PrintChangeHistory  the "Print Change History" option: the detail print
//                       shows `All` (description and change history) instead
//                       of `Description`.
// MainTable must stay alive and open for the call that is given the view.
#pragma once

#include <QList>

#include "engine/veltra_table.h"
#include "platform/qt/controls/db_grid.h"

namespace veltra {

struct TPrintView {
    const TVeltraTable* MainTable = nullptr;
    QList<TGridColumn> Columns;
    bool Preview = true;
    bool PrintChangeHistory = true;
};

// Gives `report` the main table's view: closes it, copies the table name,
// index name, filter text, filter options and filtered flag. The report
// table is left closed. Raises what the table component raises.
void CopyView(const TVeltraTable& main, TVeltraTable& report);

// The number of report rows (heading slots) each report form holds.
inline constexpr int kReportRows = 11;

}  // namespace veltra
