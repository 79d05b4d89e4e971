#include "app/dialogs/cboxform.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/qt/help/help_viewer.h"

namespace veltra {

Tcboxform::Tcboxform(QWidget* parent) : QDialog(parent) {
    setObjectName("cboxform");
    SetHelpTopic(this, 9);

    auto* layout = new QVBoxLayout(this);
    m_Combo = new QComboBox(this);
    m_Combo->setObjectName("combobox1");
    m_Combo->setEditable(true);
    // Typing a new text does not add it to the list; the list is the caller's.
    m_Combo->setInsertPolicy(QComboBox::NoInsert);
    m_Combo->setAccessibleName("Value");
    m_Combo->setMinimumWidth(220);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_Ok = buttons->button(QDialogButtonBox::Ok);
    m_Cancel = buttons->button(QDialogButtonBox::Cancel);
    layout->addWidget(m_Combo);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void Tcboxform::Clear() {
    const QString text = m_Combo->currentText();
    m_Combo->clear();
    m_Combo->setEditText(text);
}

void Tcboxform::AddItems(const QStringList& items) {
    const QString text = m_Combo->currentText();
    QStringList all = Items() + items;
    all.sort(Qt::CaseInsensitive);
    m_Combo->clear();
    m_Combo->addItems(all);
    m_Combo->setEditText(text);
}

QStringList Tcboxform::Items() const {
    QStringList items;
    for (int i = 0; i < m_Combo->count(); ++i) items << m_Combo->itemText(i);
    return items;
}

QString Tcboxform::Text() const { return m_Combo->currentText(); }

void Tcboxform::SetText(const QString& text) {
    m_Combo->setCurrentIndex(m_Combo->findText(text, Qt::MatchExactly));
    m_Combo->setEditText(text);
}

void Tcboxform::showEvent(QShowEvent* event) {
    m_Combo->setFocus();
    QDialog::showEvent(event);
}

}  // namespace veltra
