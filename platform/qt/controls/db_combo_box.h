// TDBComboBox: a pick list bound to a field of a data source, either
// editable (the user may type any text or choose an item) or fixed (only the
// items can be chosen; a value that is no item shows as no selection).
//
// It follows the dataset as TDBEdit does: typing or choosing an item first
// puts the dataset into Edit (a change the dataset refuses is not made); the
// text is written into the field when the control loses focus or when the
// record is posted; Esc with a pending change restores the field's text.
// A sorted list keeps its items in alphabetical order without regard to case.
// Without a data source it is a plain pick list (writable unless SetReadOnly).
#pragma once

#include <QComboBox>
#include <QStringList>

#include "platform/qt/controls/field_data_link.h"

namespace veltra {

class TDBComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TDBComboBox(QWidget* parent = nullptr);

    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const { return m_Link.DataSource(); }
    void SetDataField(const QString& fieldName);
    QString DataField() const { return m_Link.FieldName(); }
    TField* Field() const { return m_Link.Field(); }

    // Editable (true) or fixed list (false); the text shown stays the field's.
    void SetEditable(bool editable);
    void SetReadOnly(bool readOnly);
    bool ReadOnly() const { return m_Link.ReadOnly(); }
    // Replaces the items; the field's value is shown again.
    void SetItems(const QStringList& items);
    QStringList Items() const;
    void SetSorted(bool sorted);
    bool Sorted() const { return m_Sorted; }

    // The text shown (the typed text of an editable list, the chosen item of
    // a fixed one).
    QString Text() const { return currentText(); }

    void UpdateRecord() { m_Link.UpdateRecord(); }
    bool Modified() const { return m_Link.IsModified(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void showPopup() override;

private:
    bool Bound() const { return m_Link.DataSource() != nullptr; }
    bool Writable() const;
    void ShowField();
    void ShowText(const QString& text);
    void WriteField();
    void UpdateReadOnly();
    bool BeginChange();
    void Chosen(int index);

    TFieldDataLink m_Link;
    bool m_Sorted = false;
    bool m_Showing = false;  // the control itself is changing its text
};

}  // namespace veltra
