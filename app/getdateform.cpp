#include "app/getdateform.h"

#include "platform/qt/help/help_viewer.h"

namespace veltra {

Tgetdateform::Tgetdateform(QWidget* parent) : QDialog(parent) {
    setObjectName("getdateform");
    setWindowTitle("date");
    SetHelpTopic(this, 9);
}

}  // namespace veltra
