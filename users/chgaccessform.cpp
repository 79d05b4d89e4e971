#include "users/chgaccessform.h"

#include "platform/qt/help/help_viewer.h"

namespace veltra {

Tchgaccessform::Tchgaccessform(QWidget* parent) : QDialog(parent) {
    setObjectName("chgaccessform");
    setWindowTitle("User Access Level");
    SetHelpTopic(this, 17);
}

}  // namespace veltra
