#include "print/pform.h"

namespace veltra {

Tpform::Tpform(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("pform");
    setWindowTitle("Detail report");
}

}  // namespace veltra
