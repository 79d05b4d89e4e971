#include "platform/qt/controls/db_radio_group.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

#include "platform/qt/app/application.h"

namespace veltra {

TDBRadioGroup::TDBRadioGroup(QWidget* parent) : TDBRadioGroup(QString(), parent) {}

TDBRadioGroup::TDBRadioGroup(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {
    m_Layout = new QVBoxLayout(this);
    m_Group = new QButtonGroup(this);
    m_Group->setExclusive(true);
    m_Link.OnDataChange = [this] { ShowField(); };
    m_Link.OnEditingChange = [this] { UpdateReadOnly(); };
    m_Link.OnActiveChange = [this] { UpdateReadOnly(); };
    // Values are written when chosen; nothing is pending at a post.
    m_Link.OnUpdateData = [] {};
    connect(m_Group, &QButtonGroup::idClicked, this, [this](int id) { Choose(id); });
}

void TDBRadioGroup::SetDataSource(TDataSource* source) {
    m_Link.SetDataSource(source);
    ShowField();
}

void TDBRadioGroup::SetDataField(const QString& fieldName) {
    m_Link.SetFieldName(fieldName);
    ShowField();
}

void TDBRadioGroup::SetReadOnly(bool readOnly) {
    m_Link.SetReadOnly(readOnly);
    UpdateReadOnly();
}

void TDBRadioGroup::SetItems(const QStringList& items) {
    for (QRadioButton* b : m_Buttons) {
        m_Group->removeButton(b);
        delete b;
    }
    m_Buttons.clear();
    m_Items = items;
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        button->setAccessibleName(QString(items[i]).remove(QLatin1Char('&')));
        m_Group->addButton(button, i);
        m_Layout->addWidget(button);
        m_Buttons << button;
    }
    ShowField();
}

void TDBRadioGroup::SetValues(const QStringList& values) {
    m_Values = values;
    ShowField();
}

QString TDBRadioGroup::ValueOf(int index) const {
    if (index < 0 || index >= m_Items.size()) return {};
    return index < m_Values.size() ? m_Values[index] : m_Items[index];
}

QRadioButton* TDBRadioGroup::Button(int index) const {
    return index >= 0 && index < m_Buttons.size() ? m_Buttons[index] : nullptr;
}

int TDBRadioGroup::ItemIndex() const { return m_Group->checkedId(); }

void TDBRadioGroup::ShowField() {
    const TField* field = m_Link.Field();
    const QString value =
        field != nullptr && !field->IsNull() ? QString::fromStdString(field->AsString()) : QString();
    int index = -1;
    if (field != nullptr && !field->IsNull()) {
        for (int i = 0; i < m_Items.size() && index < 0; ++i) {
            if (ValueOf(i) == value) index = i;
        }
    }
    m_Showing = true;
    // An exclusive group cannot uncheck its last button by itself.
    m_Group->setExclusive(false);
    for (int i = 0; i < m_Buttons.size(); ++i) {
        m_Buttons[i]->setCheckable(true);
        m_Buttons[i]->setChecked(i == index);
    }
    m_Group->setExclusive(true);
    m_Showing = false;
    UpdateReadOnly();
}

void TDBRadioGroup::UpdateReadOnly() {
    const bool writable = m_Link.CanModify();
    // Disabled buttons would gray out the captions; the buttons refuse a
    // click instead (Choose shows the field again).
    for (QRadioButton* b : m_Buttons) b->setCheckable(writable || b->isChecked());
}

void TDBRadioGroup::Choose(int index) {
    if (m_Showing) return;
    bool written = false;
    RunGuarded([&] {
        if (!m_Link.Edit()) return;
        if (TField* field = m_Link.Field()) field->SetAsString(ValueOf(index).toStdString());
        written = true;
    });
    ShowField();
    if (written) Q_EMIT changed();
}

}  // namespace veltra
