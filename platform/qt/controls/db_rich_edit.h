// TDBRichEdit: a rich-text editor bound to a BLOB field holding RTF (a
// formatted memo; a plain memo field is shown and written as plain text).
//
// Shows the field's document for the current record (an empty or null field
// shows an empty document in the base font). Typing, deleting, pasting and
// every formatting call below first put the dataset into Edit (a change the
// dataset refuses is not made); the document is written into the field as
// RTF when the editor loses focus or when the record is posted. The editor
// is read-only when the field, the dataset or the control is read-only (the
// read-only text pane is this control with SetReadOnly(true)). Esc is left
// to the window (the edit window's Cancel).
//
// Modified() is the document's modified flag: set by any change of text or
// formatting since the field was last shown or SetModified(false). Writing
// the document into the field keeps it, so the dataset's BeforePost step can
// read it; showing the record again after the post clears it.
//
// Formatting applies to the selection, or to the caret position (the next
// typed text) when nothing is selected. The Current* calls report the
// formatting at the caret, for a toolbar; formatChanged() says when it may
// have changed (caret moved, format changed).
#pragma once

#include <QColor>
#include <QFont>
#include <QTextCharFormat>
#include <QTextEdit>

#include "platform/qt/controls/field_data_link.h"

namespace veltra {

class TDBRichEdit : public QTextEdit {
    Q_OBJECT
public:
    explicit TDBRichEdit(QWidget* parent = nullptr);

    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const { return m_Link.DataSource(); }
    // An empty name unbinds the editor (it then shows nothing).
    void SetDataField(const QString& fieldName);
    QString DataField() const { return m_Link.FieldName(); }
    TField* Field() const { return m_Link.Field(); }
    void SetReadOnly(bool readOnly);

    // The document's default font (Arial 10 points unless set).
    void SetBaseFont(const QFont& font);
    QFont BaseFont() const;

    bool Modified() const;
    void SetModified(bool modified);

    // Formatting at the caret.
    QTextCharFormat CurrentCharFormat() const;
    QString CurrentFontName() const;
    double CurrentFontSize() const;  // points
    bool CurrentBold() const;
    bool CurrentItalic() const;
    bool CurrentUnderline() const;
    QColor CurrentColour() const;
    Qt::Alignment CurrentAlignment() const;  // Left, Center or Right
    bool CurrentBullets() const;

    // Formatting of the selection (or of the caret). Each returns false and
    // changes nothing when the dataset refuses to edit.
    bool ApplyCharFormat(const QTextCharFormat& format);
    bool SetFontName(const QString& family);
    bool SetFontSize(double points);
    bool SetBold(bool on);
    bool SetItalic(bool on);
    bool SetUnderline(bool on);
    bool SetColour(const QColor& colour);
    bool SetParagraphAlignment(Qt::Alignment alignment);
    bool SetBullets(bool on);

    // The document as RTF now (what a post would write).
    std::string Rtf() const;

    void UpdateRecord() { m_Link.UpdateRecord(); }

Q_SIGNALS:
    void formatChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    void ShowField();
    void WriteField();
    void UpdateReadOnly();
    bool BeginChange();

    TFieldDataLink m_Link;
    bool m_OwnReadOnly = false;
    bool m_Loading = false;
};

}  // namespace veltra
