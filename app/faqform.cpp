#include "app/faqform.h"

#include "platform/qt/help/help_viewer.h"

namespace veltra {

Tfaqform::Tfaqform(QWidget* parent) : QDialog(parent) {
    setObjectName("faqform");
    setWindowTitle("faqform");
    SetHelpTopic(this, 1);
}

}  // namespace veltra
