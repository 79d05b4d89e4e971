#include "platform/qt/controls/db_rich_edit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextList>
#include <QTimer>

#include "platform/locale_services.h"
#include "platform/qt/app/application.h"
#include "platform/qt/controls/edit_keys.h"
#include "platform/qt/rtf/rtf_text_document.h"

namespace veltra {

TDBRichEdit::TDBRichEdit(QWidget* parent) : QTextEdit(parent) {
    setAcceptRichText(true);
    setTabChangesFocus(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    SetBaseFont(QFont(QStringLiteral("Arial"), 10));
    m_Link.OnDataChange = [this] { ShowField(); };
    m_Link.OnEditingChange = [this] { UpdateReadOnly(); };
    m_Link.OnActiveChange = [this] { UpdateReadOnly(); };
    m_Link.OnUpdateData = [this] { WriteField(); };
    connect(document(), &QTextDocument::contentsChanged, this, [this] {
        if (!m_Loading && document()->isModified()) m_Link.Modified();
    });
    connect(this, &QTextEdit::cursorPositionChanged, this, [this] { Q_EMIT formatChanged(); });
    connect(this, &QTextEdit::currentCharFormatChanged, this, [this] { Q_EMIT formatChanged(); });
    ShowField();
}

void TDBRichEdit::SetDataSource(TDataSource* source) {
    m_Link.SetDataSource(source);
    ShowField();
}

void TDBRichEdit::SetDataField(const QString& fieldName) {
    m_Link.SetFieldName(fieldName);
    ShowField();
}

void TDBRichEdit::SetReadOnly(bool readOnly) {
    m_OwnReadOnly = readOnly;
    m_Link.SetReadOnly(readOnly);
    UpdateReadOnly();
}

void TDBRichEdit::SetBaseFont(const QFont& font) {
    setFont(font);
    document()->setDefaultFont(font);
}

QFont TDBRichEdit::BaseFont() const { return document()->defaultFont(); }

bool TDBRichEdit::Modified() const { return document()->isModified(); }
void TDBRichEdit::SetModified(bool modified) { document()->setModified(modified); }

void TDBRichEdit::ShowField() {
    m_Loading = true;
    const TField* field = m_Link.Field();
    TDataSet* ds = m_Link.DataSet();
    if (field == nullptr || ds == nullptr || field->IsNull()) {
        clear();
    } else if (field->Kind() == TFieldKind::FormattedMemo) {
        RtfToTextDocument(ds->ReadBlob(*field), *document());
    } else {
        setPlainText(QString::fromStdString(field->AsString()));
    }
    document()->setModified(false);
    document()->clearUndoRedoStacks();
    m_Loading = false;
    UpdateReadOnly();
    Q_EMIT formatChanged();
}

std::string TDBRichEdit::Rtf() const { return TextDocumentToRtf(*document()); }

void TDBRichEdit::WriteField() {
    TField* field = m_Link.Field();
    TDataSet* ds = m_Link.DataSet();
    if (field == nullptr || ds == nullptr) return;
    const bool wasModified = document()->isModified();
    if (field->Kind() == TFieldKind::FormattedMemo) {
        ds->WriteBlob(*field, Rtf());
    } else {
        field->SetAsString(toPlainText().toStdString());
    }
    // Writing shows the field again; the flag tells the caller whether the
    // user changed the document, so it survives the write.
    document()->setModified(wasModified);
}

void TDBRichEdit::UpdateReadOnly() { QTextEdit::setReadOnly(!m_Link.CanModify()); }

bool TDBRichEdit::BeginChange() {
    // Edit re-reads the record and shows its document again; when that is
    // the same text, the caret and selection go back where the user put them
    // so that the key or the formatting acts there.
    const QString before = toPlainText();
    const int anchor = textCursor().anchor();
    const int position = textCursor().position();
    const QTextCharFormat typing = currentCharFormat();
    bool ok = false;
    RunGuarded([&] { ok = m_Link.Edit(); });
    if (ok && toPlainText() == before) {
        QTextCursor c(document());
        c.setPosition(anchor);
        c.setPosition(position, QTextCursor::KeepAnchor);
        setTextCursor(c);
        if (anchor == position) setCurrentCharFormat(typing);
    }
    return ok;
}

QTextCharFormat TDBRichEdit::CurrentCharFormat() const { return currentCharFormat(); }

QString TDBRichEdit::CurrentFontName() const {
    const QTextCharFormat f = currentCharFormat();
    const QStringList families = f.fontFamilies().toStringList();
    if (!families.isEmpty()) return families.first();
    return BaseFont().family();
}

double TDBRichEdit::CurrentFontSize() const {
    const double size = currentCharFormat().fontPointSize();
    return size > 0 ? size : BaseFont().pointSizeF();
}

bool TDBRichEdit::CurrentBold() const { return currentCharFormat().fontWeight() >= QFont::Bold; }
bool TDBRichEdit::CurrentItalic() const { return currentCharFormat().fontItalic(); }
bool TDBRichEdit::CurrentUnderline() const { return currentCharFormat().fontUnderline(); }

QColor TDBRichEdit::CurrentColour() const {
    const QTextCharFormat f = currentCharFormat();
    return f.hasProperty(QTextFormat::ForegroundBrush) ? f.foreground().color() : QColor(Qt::black);
}

Qt::Alignment TDBRichEdit::CurrentAlignment() const {
    const Qt::Alignment a = textCursor().blockFormat().alignment() & Qt::AlignHorizontal_Mask;
    if (a & Qt::AlignHCenter) return Qt::AlignHCenter;
    if (a & Qt::AlignRight) return Qt::AlignRight;
    return Qt::AlignLeft;
}

bool TDBRichEdit::CurrentBullets() const { return textCursor().currentList() != nullptr; }

bool TDBRichEdit::ApplyCharFormat(const QTextCharFormat& format) {
    if (!BeginChange()) return false;
    mergeCurrentCharFormat(format);
    m_Link.Modified();
    Q_EMIT formatChanged();
    return true;
}

bool TDBRichEdit::SetFontName(const QString& family) {
    QTextCharFormat f;
    f.setFontFamilies({family});
    return ApplyCharFormat(f);
}

bool TDBRichEdit::SetFontSize(double points) {
    if (points <= 0) return false;
    QTextCharFormat f;
    f.setFontPointSize(points);
    return ApplyCharFormat(f);
}

bool TDBRichEdit::SetBold(bool on) {
    QTextCharFormat f;
    f.setFontWeight(on ? QFont::Bold : QFont::Normal);
    return ApplyCharFormat(f);
}

bool TDBRichEdit::SetItalic(bool on) {
    QTextCharFormat f;
    f.setFontItalic(on);
    return ApplyCharFormat(f);
}

bool TDBRichEdit::SetUnderline(bool on) {
    QTextCharFormat f;
    f.setFontUnderline(on);
    return ApplyCharFormat(f);
}

bool TDBRichEdit::SetColour(const QColor& colour) {
    QTextCharFormat f;
    f.setForeground(colour);
    return ApplyCharFormat(f);
}

bool TDBRichEdit::SetParagraphAlignment(Qt::Alignment alignment) {
    if (!BeginChange()) return false;
    setAlignment(alignment | Qt::AlignAbsolute);
    m_Link.Modified();
    Q_EMIT formatChanged();
    return true;
}

bool TDBRichEdit::SetBullets(bool on) {
    if (!BeginChange()) return false;
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    if (on) {
        if (cursor.currentList() == nullptr) {
            QTextListFormat list;
            list.setStyle(QTextListFormat::ListDisc);
            cursor.createList(list);
        }
    } else {
        // Every block of the selection leaves its list.
        const int end = cursor.selectionEnd();
        QTextBlock block = document()->findBlock(cursor.selectionStart());
        while (block.isValid() && block.position() <= end) {
            if (QTextList* list = block.textList()) {
                list->remove(block);
                QTextCursor c(block);
                QTextBlockFormat bf = c.blockFormat();
                bf.setIndent(0);
                c.setBlockFormat(bf);
            }
            block = block.next();
        }
    }
    cursor.endEditBlock();
    m_Link.Modified();
    Q_EMIT formatChanged();
    return true;
}

void TDBRichEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const bool changes = IsTextChangingKey(event) || key == Qt::Key_Return || key == Qt::Key_Enter ||
                         (key == Qt::Key_Tab && event->modifiers() == Qt::NoModifier);
    if (changes && !isReadOnly() && !BeginChange()) {
        event->accept();
        return;
    }
    QTextEdit::keyPressEvent(event);
}

void TDBRichEdit::insertFromMimeData(const QMimeData* source) {
    if (!BeginChange()) return;
    QTextEdit::insertFromMimeData(source);
}

void TDBRichEdit::focusOutEvent(QFocusEvent* event) {
    QTextEdit::focusOutEvent(event);
    if (event->reason() == Qt::PopupFocusReason || !m_Link.IsModified()) return;
    if (!RunGuarded([this] { m_Link.UpdateRecord(); })) {
        QTimer::singleShot(0, this, [this] { setFocus(Qt::OtherFocusReason); });
    }
}

}  // namespace veltra
