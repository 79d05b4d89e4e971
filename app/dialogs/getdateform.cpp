#include "app/dialogs/getdateform.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/qt/controls/db_date_edit.h"
#include "platform/qt/help/help_viewer.h"

namespace veltra {

Tgetdateform::Tgetdateform(QWidget* parent) : QDialog(parent) {
    setObjectName("getdateform");
    setWindowTitle("date");
    SetHelpTopic(this, 9);

    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel("Enter date:", this);
    m_Date = new TDBDateEdit(this);
    m_Date->setObjectName("dateedit1");
    label->setBuddy(m_Date);
    m_Date->setAccessibleName("Enter date:");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_Ok = buttons->button(QDialogButtonBox::Ok);
    m_Cancel = buttons->button(QDialogButtonBox::Cancel);
    layout->addWidget(label);
    layout->addWidget(m_Date);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QString Tgetdateform::DateText() const { return m_Date->Text(); }

void Tgetdateform::showEvent(QShowEvent* event) {
    // The field re-reads the format settings: the user's locale is installed
    // after the windows are created. The date entered last stays.
    m_Date->ApplyFormatSettings();
    m_Date->setFocus();
    QDialog::showEvent(event);
}

}  // namespace veltra
