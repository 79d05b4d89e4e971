#include "app/delfileform.h"

#include "platform/qt/help/help_viewer.h"

namespace veltra {

Tdelfileform::Tdelfileform(QWidget* parent) : QDialog(parent) {
    setObjectName("delfileform");
    setWindowTitle("Delete Log Files");
    SetHelpTopic(this, 18);
}

}  // namespace veltra
