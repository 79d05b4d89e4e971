#include "app/cboxform.h"

#include "platform/qt/help/help_viewer.h"

namespace veltra {

Tcboxform::Tcboxform(QWidget* parent) : QDialog(parent) {
    setObjectName("cboxform");
    setWindowTitle("");
    SetHelpTopic(this, 9);
}

}  // namespace veltra
