// Tpform: the detail report: one page per ticket with the grid's columns as field rows and the ticket's rich text.
//
// A report form is a window of its own that is never shown itself: printing
// fills it from a copy of the main table's view and shows its preview or
// sends it to the printer. Created once at program start with every other
// window; the report's bands and its filling come with printing.
#pragma once

#include <QWidget>

namespace veltra {

class Tpform : public QWidget {
    Q_OBJECT
public:
    explicit Tpform(QWidget* parent = nullptr);
};

}  // namespace veltra
