#include "platform/qt/controls/db_combo_box.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>

#include "platform/qt/app/application.h"
#include "platform/qt/controls/edit_keys.h"

namespace veltra {

TDBComboBox::TDBComboBox(QWidget* parent) : QComboBox(parent) {
    setInsertPolicy(QComboBox::NoInsert);
    m_Link.OnDataChange = [this] { ShowField(); };
    m_Link.OnEditingChange = [this] { UpdateReadOnly(); };
    m_Link.OnActiveChange = [this] { UpdateReadOnly(); };
    m_Link.OnUpdateData = [this] { WriteField(); };
    connect(this, &QComboBox::activated, this, [this](int index) { Chosen(index); });
    ShowField();
}

void TDBComboBox::SetDataSource(TDataSource* source) {
    m_Link.SetDataSource(source);
    ShowField();
}

void TDBComboBox::SetDataField(const QString& fieldName) {
    m_Link.SetFieldName(fieldName);
    ShowField();
}

void TDBComboBox::SetEditable(bool editable) {
    const QString shown = currentText();
    setEditable(editable);
    if (editable) {
        connect(lineEdit(), &QLineEdit::textEdited, this, [this] {
            if (!m_Showing && Bound()) m_Link.Modified();
        });
    }
    ShowText(shown);
    UpdateReadOnly();
}

void TDBComboBox::SetReadOnly(bool readOnly) {
    m_Link.SetReadOnly(readOnly);
    UpdateReadOnly();
}

void TDBComboBox::SetItems(const QStringList& items) {
    const QString shown = m_Link.IsModified() || !Bound() ? currentText() : QString();
    m_Showing = true;
    clear();
    QStringList list = items;
    if (m_Sorted) {
        std::stable_sort(list.begin(), list.end(), [](const QString& a, const QString& b) {
            return QString::localeAwareCompare(a.toLower(), b.toLower()) < 0;
        });
    }
    addItems(list);
    m_Showing = false;
    if (!Bound()) {
        // A plain list keeps the entry it showed when it is still there,
        // and otherwise shows what a new list shows (its first entry).
        if (const int index = findText(shown, Qt::MatchExactly); index >= 0) setCurrentIndex(index);
    } else if (m_Link.IsModified()) {
        ShowText(shown);
    } else {
        ShowField();
    }
}

QStringList TDBComboBox::Items() const {
    QStringList items;
    for (int i = 0; i < count(); ++i) items << itemText(i);
    return items;
}

void TDBComboBox::SetSorted(bool sorted) {
    m_Sorted = sorted;
    if (sorted) SetItems(Items());
}

void TDBComboBox::ShowText(const QString& text) {
    m_Showing = true;
    const int index = findText(text, Qt::MatchExactly);
    setCurrentIndex(index);
    if (isEditable()) setEditText(text);
    m_Showing = false;
}

void TDBComboBox::ShowField() {
    if (!Bound()) {
        UpdateReadOnly();
        return;
    }
    const TField* field = m_Link.Field();
    ShowText(field != nullptr ? QString::fromStdString(field->AsString()) : QString());
    UpdateReadOnly();
}

void TDBComboBox::WriteField() {
    if (TField* field = m_Link.Field()) field->SetAsString(currentText().toStdString());
}

bool TDBComboBox::Writable() const { return Bound() ? m_Link.CanModify() : !m_Link.ReadOnly(); }

void TDBComboBox::UpdateReadOnly() {
    if (isEditable()) lineEdit()->setReadOnly(!Writable());
}

bool TDBComboBox::BeginChange() {
    if (!Bound()) return Writable();
    if (isEditable()) return BeginLineEditChange(m_Link, *lineEdit());
    bool ok = false;
    RunGuarded([&] { ok = m_Link.Edit(); });
    return ok;
}

void TDBComboBox::Chosen(int index) {
    if (m_Showing || !Bound()) return;
    const QString chosen = itemText(index);
    // Edit re-reads the record and shows it, which puts the old text back.
    if (!BeginChange()) {
        ShowField();
        return;
    }
    ShowText(chosen);
    m_Link.Modified();
}

void TDBComboBox::showPopup() {
    if (!Writable()) return;
    QComboBox::showPopup();
}

void TDBComboBox::wheelEvent(QWheelEvent* event) {
    // Choosing by the wheel would change the record behind the user's back.
    event->ignore();
}

void TDBComboBox::keyPressEvent(QKeyEvent* event) {
    // The line edit of an editable list has the list as its focus proxy, so
    // every key reaches this handler first.
    if (event->key() == Qt::Key_Escape && m_Link.IsModified()) {
        m_Link.Reset();
        event->accept();
        return;
    }
    const int key = event->key();
    const bool opens = (key == Qt::Key_Down || key == Qt::Key_Up) &&
                       (event->modifiers() & Qt::AltModifier);
    const bool moves = !opens && (key == Qt::Key_Up || key == Qt::Key_Down ||
                                  key == Qt::Key_PageUp || key == Qt::Key_PageDown ||
                                  (!isEditable() && (key == Qt::Key_Home || key == Qt::Key_End)));
    if (moves && !Writable()) {
        event->accept();
        return;
    }
    if (isEditable() && IsTextChangingKey(event) && !BeginChange()) {
        event->accept();
        return;
    }
    if (!isEditable() && !moves && IsTextChangingKey(event) && !Writable()) {
        event->accept();
        return;
    }
    QComboBox::keyPressEvent(event);
}

void TDBComboBox::focusOutEvent(QFocusEvent* event) {
    QComboBox::focusOutEvent(event);
    if (event->reason() == Qt::PopupFocusReason || !m_Link.IsModified()) return;
    if (!RunGuarded([this] { m_Link.UpdateRecord(); })) {
        QTimer::singleShot(0, this, [this] { setFocus(Qt::OtherFocusReason); });
    }
}

}  // namespace veltra
