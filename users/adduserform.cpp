#include "users/adduserform.h"

#include "platform/qt/help/help_viewer.h"

namespace veltra {

Tadduserform::Tadduserform(QWidget* parent) : QDialog(parent) {
    setObjectName("adduserform");
    setWindowTitle("Add Users");
    SetHelpTopic(this, 14);
}

}  // namespace veltra
