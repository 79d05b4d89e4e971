#include "print/forms/printallform.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "platform/qt/help/help_viewer.h"

namespace veltra {

Tprintallform::Tprintallform(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("printallform");
    setWindowTitle("Print All Records");
    SetHelpTopic(this, 11);
    QFont font("Arial");
    font.setPixelSize(13);
    setFont(font);

    m_SummaryOnly = new QCheckBox("Summary Only", this);
    m_SummaryOnly->setObjectName("summaryonly");
    m_SummaryOnly->setAccessibleName("Summary Only");
    m_SummaryOnly->setChecked(true);
    m_Ok = new QPushButton("OK", this);
    m_Ok->setObjectName("okbtn");
    m_Ok->setDefault(true);
    m_Cancel = new QPushButton("Cancel", this);
    m_Cancel->setObjectName("cancelbtn");
    connect(m_Ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_Cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_Ok);
    buttons->addWidget(m_Cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_SummaryOnly);
    layout->addSpacing(12);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool Tprintallform::SummaryOnly() const { return m_SummaryOnly->isChecked(); }

void Tprintallform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

}  // namespace veltra
