#include "app/editcategoryform.h"

#include "platform/qt/help/help_viewer.h"

namespace veltra {

Teditcategoryform::Teditcategoryform(QWidget* parent) : QDialog(parent) {
    setObjectName("editcategoryform");
    setWindowTitle("Edit Categories");
    SetHelpTopic(this, 18);
}

}  // namespace veltra
