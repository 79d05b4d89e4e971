// Tpform2: the summary report: one row per ticket with the grid's visible columns.
//
// A report form is a window of its own that is never shown itself: printing
// fills it from a copy of the main table's view and shows its preview or
// sends it to the printer. Created once at program start with every other
// window; the report's bands and its filling come with printing.
#pragma once

#include <QWidget>

namespace veltra {

class Tpform2 : public QWidget {
    Q_OBJECT
public:
    explicit Tpform2(QWidget* parent = nullptr);
};

}  // namespace veltra
