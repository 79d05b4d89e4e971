#include "users/accessform.h"

#include "engine/veltra_table.h"
#include "platform/qt/help/help_viewer.h"

namespace veltra {

Taccessform::Taccessform(QWidget* parent)
    : QDialog(parent), m_Groups(std::make_unique<TVeltraTable>()) {
    setObjectName("accessform");
    setWindowTitle("Access Levels");
    SetHelpTopic(this, 16);
}

Taccessform::~Taccessform() = default;

}  // namespace veltra
