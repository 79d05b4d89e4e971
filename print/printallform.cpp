#include "print/printallform.h"

#include "platform/qt/help/help_viewer.h"

namespace veltra {

Tprintallform::Tprintallform(QWidget* parent) : QDialog(parent) {
    setObjectName("printallform");
    setWindowTitle("Print All Records");
    SetHelpTopic(this, 11);
}

}  // namespace veltra
