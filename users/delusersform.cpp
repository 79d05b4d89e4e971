#include "users/delusersform.h"

#include "platform/qt/help/help_viewer.h"

namespace veltra {

Tdelusersform::Tdelusersform(QWidget* parent) : QDialog(parent) {
    setObjectName("delusersform");
    setWindowTitle("Delete Log Users");
    SetHelpTopic(this, 15);
}

}  // namespace veltra
