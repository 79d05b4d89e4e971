#include "app/queryform.h"

#include "platform/qt/help/help_viewer.h"

namespace veltra {

Tqueryform::Tqueryform(QWidget* parent) : QDialog(parent) {
    setObjectName("queryform");
    setWindowTitle("Query");
    SetHelpTopic(this, 9);
}

}  // namespace veltra
