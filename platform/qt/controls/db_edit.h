// TDBEdit: a one-line entry field bound to a field of a data source.
//
// Shows the field's text in the current record. Typing, deleting, pasting or
// cutting first puts the dataset into Edit (a change the dataset refuses is
// not made); the text is written into the field when the control loses focus
// or when the record is posted. Esc with a pending change restores the
// field's text (and is consumed); without one it passes on to the window.
// The control is read-only when the field, the dataset or the control itself
// is read-only. A text field limits the length to the field's size.
// A write that fails (a text that does not convert) is shown in the error box
// and the focus returns to the control.
//
// Without a data source the control is a plain entry field (a login's
// password, a prompt): writable unless SetReadOnly, with the length limit
// the caller sets, the forced case and the mask.
#pragma once

#include <QLineEdit>

#include "platform/qt/controls/field_data_link.h"

namespace veltra {

enum class TEditCharCase { Normal, Upper, Lower };

class TDBEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TDBEdit(QWidget* parent = nullptr);
    ~TDBEdit() override;

    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const { return m_Link.DataSource(); }
    void SetDataField(const QString& fieldName);
    QString DataField() const { return m_Link.FieldName(); }
    TField* Field() const { return m_Link.Field(); }

    // The control's own read-only flag (the field's and the dataset's count too).
    void SetReadOnly(bool readOnly);

    // Typed and pasted letters, and the text shown, are converted to this
    // case; the field's value changes only when the user changes the text.
    void SetCharCase(TEditCharCase charCase);
    TEditCharCase CharCase() const { return m_CharCase; }
    // Masks every character with "*" (true) or shows the text (false).
    void SetPasswordMasked(bool masked);
    bool PasswordMasked() const { return echoMode() == QLineEdit::Password; }

    // Writes a pending change into the field now (what losing the focus does).
    void UpdateRecord() { m_Link.UpdateRecord(); }
    bool Modified() const { return m_Link.IsModified(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    bool Bound() const { return m_Link.DataSource() != nullptr; }
    void ShowField();
    void WriteField();
    void UpdateReadOnly();
    void ApplyCharCase();
    bool BeginChange();

    TFieldDataLink m_Link;
    TEditCharCase m_CharCase = TEditCharCase::Normal;
    bool m_OwnReadOnly = false;
};

}  // namespace veltra
