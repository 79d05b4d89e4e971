#include "users/passwordchangeform.h"

#include "platform/qt/help/help_viewer.h"

namespace veltra {

Tpasswordchangeform::Tpasswordchangeform(QWidget* parent) : QDialog(parent) {
    setObjectName("passwordchangeform");
    setWindowTitle("Password Change");
    SetHelpTopic(this, 13);
}

}  // namespace veltra
