#include "platform/qt/controls/db_edit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QProxyStyle>
#include <QTimer>

#include "platform/qt/app/application.h"
#include "platform/qt/controls/edit_keys.h"
#include "platform/qt/controls/field_text.h"

namespace veltra {

namespace {

// Masks passwords with "*" whatever the platform style would use.
class TStarPasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return '*';
        if (hint == SH_LineEdit_PasswordMaskDelay) return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

TDBEdit::TDBEdit(QWidget* parent) : QLineEdit(parent) {
    m_Link.OnDataChange = [this] { ShowField(); };
    m_Link.OnEditingChange = [this] { UpdateReadOnly(); };
    m_Link.OnActiveChange = [this] { UpdateReadOnly(); };
    m_Link.OnUpdateData = [this] { WriteField(); };
    connect(this, &QLineEdit::textEdited, this, [this] {
        ApplyCharCase();
        if (Bound()) m_Link.Modified();
    });
    ShowField();
}

TDBEdit::~TDBEdit() {
    if (QStyle* s = style(); s != nullptr && dynamic_cast<TStarPasswordStyle*>(s) != nullptr) {
        setStyle(nullptr);
        delete s;
    }
}

void TDBEdit::SetDataSource(TDataSource* source) {
    m_Link.SetDataSource(source);
    ShowField();
}

void TDBEdit::SetDataField(const QString& fieldName) {
    m_Link.SetFieldName(fieldName);
    ShowField();
}

void TDBEdit::SetReadOnly(bool readOnly) {
    m_OwnReadOnly = readOnly;
    m_Link.SetReadOnly(readOnly);
    UpdateReadOnly();
}

void TDBEdit::SetCharCase(TEditCharCase charCase) {
    m_CharCase = charCase;
    ApplyCharCase();
}

void TDBEdit::SetPasswordMasked(bool masked) {
    const bool hasStarStyle = dynamic_cast<TStarPasswordStyle*>(style()) != nullptr;
    if (masked && !hasStarStyle) setStyle(new TStarPasswordStyle());
    setEchoMode(masked ? QLineEdit::Password : QLineEdit::Normal);
}

void TDBEdit::ShowField() {
    if (!Bound()) {
        // A plain entry keeps its text and length limit.
        UpdateReadOnly();
        return;
    }
    const TField* field = m_Link.Field();
    const int maxLen = field != nullptr && field->Kind() == TFieldKind::String ? field->Size() : 32767;
    setMaxLength(maxLen > 0 ? maxLen : 32767);
    setText(field != nullptr ? QString::fromStdString(field->AsString()) : QString());
    // The shown text takes the forced case too (the field keeps its value
    // until the user changes the text).
    ApplyCharCase();
    setModified(false);
    UpdateReadOnly();
}

void TDBEdit::WriteField() {
    if (TField* field = m_Link.Field()) field->SetAsString(text().toStdString());
}

void TDBEdit::UpdateReadOnly() { QLineEdit::setReadOnly(Bound() ? !m_Link.CanModify() : m_OwnReadOnly); }

void TDBEdit::ApplyCharCase() {
    if (m_CharCase == TEditCharCase::Normal) return;
    const QString t = text();
    const QString converted = m_CharCase == TEditCharCase::Upper ? t.toUpper() : t.toLower();
    if (converted == t) return;
    const int pos = cursorPosition();
    setText(converted);
    setCursorPosition(pos);
}

bool TDBEdit::BeginChange() { return Bound() ? BeginLineEditChange(m_Link, *this) : !m_OwnReadOnly; }

void TDBEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && m_Link.IsModified()) {
        m_Link.Reset();
        selectAll();
        event->accept();
        return;
    }
    if (IsTextChangingKey(event) && !BeginChange()) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TDBEdit::inputMethodEvent(QInputMethodEvent* event) {
    if (!BeginChange()) {
        event->accept();
        return;
    }
    QLineEdit::inputMethodEvent(event);
}

void TDBEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (!m_Link.IsModified()) return;
    if (!RunGuarded([this] { m_Link.UpdateRecord(); })) {
        // The value stays pending; the user corrects it where it is.
        QTimer::singleShot(0, this, [this] { setFocus(Qt::OtherFocusReason); });
    }
}

}  // namespace veltra
