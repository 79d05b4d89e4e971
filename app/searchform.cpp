#include "app/searchform.h"

#include "platform/qt/help/help_viewer.h"

namespace veltra {

Tsearchform::Tsearchform(QWidget* parent) : QDialog(parent) {
    setObjectName("searchform");
    setWindowTitle("Search");
    SetHelpTopic(this, 8);
}

}  // namespace veltra
