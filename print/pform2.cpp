#include "print/pform2.h"

namespace veltra {

Tpform2::Tpform2(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("pform2");
    setWindowTitle("Summary report");
}

}  // namespace veltra
