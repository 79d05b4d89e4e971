#include "platform/qt/controls/db_date_edit.h"

#include <QAction>
#include <QCalendarWidget>
#include <QDate>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QStyle>
#include <QTimer>

#include "platform/date_format.h"
#include "platform/db_error.h"
#include "platform/format_settings.h"
#include "platform/locale_services.h"
#include "platform/qt/app/application.h"
#include "platform/qt/controls/edit_keys.h"

namespace veltra {

namespace {

namespace dt = datetime_text;

bool IsMaskMeta(QChar c) { return QStringLiteral("AaNnXx90Dd#HhBb><![]{}\\;").contains(c); }

QDate QDateOfDay(int32_t dayNumber) {
    int y = 0, m = 0, d = 0;
    dt::CalendarDateOf(dayNumber, y, m, d);
    return QDate(y, m, d);
}

std::string ToCp1252(const QString& s) { return Utf8ToCp1252(s.toStdString()); }

}  // namespace

QString DateEditFormat() {
    const TFormatSettings& fs = FormatSettings();
    const QString in = QString::fromStdString(Cp1252ToUtf8(fs.ShortDateFormat));
    QString out;
    for (qsizetype i = 0; i < in.size();) {
        const QChar c = in.at(i);
        qsizetype run = 1;
        while (i + run < in.size() && in.at(i + run) == c) ++run;
        if (c == QLatin1Char('d') || c == QLatin1Char('D')) {
            out += QStringLiteral("dd");
        } else if (c == QLatin1Char('M')) {
            out += QStringLiteral("MM");
        } else if (c == QLatin1Char('y') || c == QLatin1Char('Y')) {
            out += run <= 2 ? QStringLiteral("yy") : QStringLiteral("yyyy");
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // A quoted literal is kept with its quotes.
            const qsizetype close = in.indexOf(c, i + 1);
            const qsizetype end = close < 0 ? in.size() : close + 1;
            out += in.mid(i, end - i);
            i = end;
            continue;
        } else {
            out += QString(run, c);
        }
        i += run;
    }
    if (out.isEmpty()) out = QStringLiteral("MM/dd/yyyy");
    return out;
}

QString DateEditMask(const QString& editFormat) {
    const QChar sep = QChar::fromLatin1(FormatSettings().DateSeparator);
    QString mask;
    bool quoted = false;
    QChar quote;
    for (const QChar c : editFormat) {
        if (quoted) {
            if (c == quote) {
                quoted = false;
                continue;
            }
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quoted = true;
            quote = c;
            continue;
        } else if (c == QLatin1Char('d') || c == QLatin1Char('M') || c == QLatin1Char('y')) {
            mask += QLatin1Char('0');
            continue;
        }
        const QChar literal = !quoted && c == QLatin1Char('/') ? sep : c;
        if (IsMaskMeta(literal)) mask += QLatin1Char('\\');
        mask += literal;
    }
    return mask + QStringLiteral("; ");
}

TDBDateEdit::TDBDateEdit(QWidget* parent) : QLineEdit(parent) {
    m_CalendarAction = addAction(style()->standardIcon(QStyle::SP_ArrowDown), QLineEdit::TrailingPosition);
    m_CalendarAction->setText(QStringLiteral("Calendar"));
    m_CalendarAction->setToolTip(QStringLiteral("Calendar"));
    connect(m_CalendarAction, &QAction::triggered, this, [this] { ShowCalendar(); });
    m_Calendar = new QCalendarWidget(this);
    m_Calendar->setWindowFlags(Qt::Popup);
    m_Calendar->setAccessibleName(QStringLiteral("Calendar"));
    m_Calendar->hide();
    connect(m_Calendar, &QCalendarWidget::clicked, this, [this](QDate d) { CalendarChosen(d); });
    connect(m_Calendar, &QCalendarWidget::activated, this, [this](QDate d) { CalendarChosen(d); });

    m_Link.OnDataChange = [this] { ShowField(); };
    m_Link.OnEditingChange = [this] { UpdateReadOnly(); };
    m_Link.OnActiveChange = [this] { UpdateReadOnly(); };
    m_Link.OnUpdateData = [this] { WriteField(); };
    connect(this, &QLineEdit::textEdited, this, [this] { m_Link.Modified(); });
    ApplyFormatSettings();
}

void TDBDateEdit::ApplyFormatSettings() {
    m_Format = DateEditFormat();
    const QDate shown = m_Link.DataSource() == nullptr ? Date() : QDate();
    setInputMask(DateEditMask(m_Format));
    if (m_Link.DataSource() == nullptr) {
        ShowValue(shown);
    } else {
        ShowField();
    }
}

void TDBDateEdit::SetDataSource(TDataSource* source) {
    m_Link.SetDataSource(source);
    ShowField();
}

void TDBDateEdit::SetDataField(const QString& fieldName) {
    m_Link.SetFieldName(fieldName);
    ShowField();
}

void TDBDateEdit::SetReadOnly(bool readOnly) {
    m_Link.SetReadOnly(readOnly);
    UpdateReadOnly();
}

void TDBDateEdit::ShowValue(const QDate& date) {
    if (!date.isValid()) {
        setText(QString());
    } else {
        const double value = double(dt::DayNumberOf(date.year(), date.month(), date.day()) -
                                    dt::kDayNumberOf18991230);
        setText(QString::fromStdString(
            Cp1252ToUtf8(dt::FormatDateTime(ToCp1252(m_Format), value, FormatSettings()))));
    }
    setModified(false);
}

void TDBDateEdit::ShowField() {
    const TField* field = m_Link.Field();
    QDate date;
    if (field != nullptr && !field->IsNull()) {
        int32_t day = 0, ms = 0;
        if (dt::SplitDateTime(field->AsDateTime(), day, ms)) date = QDateOfDay(day);
    }
    if (m_Link.DataSource() != nullptr || field != nullptr) ShowValue(date);
    UpdateReadOnly();
}

void TDBDateEdit::SetDate(const QDate& date) { ShowValue(date); }

QDate TDBDateEdit::Date() const {
    QString digits = displayText();
    digits.remove(QLatin1Char(' '));
    bool anyDigit = false;
    for (const QChar c : digits) anyDigit = anyDigit || c.isDigit();
    if (!anyDigit) return {};
    try {
        return QDateOfDay(dt::ParseDate(ToCp1252(digits), FormatSettings(), ToCp1252(displayText())));
    } catch (const EConvertError&) {
        return {};
    }
}

void TDBDateEdit::WriteField() {
    TField* field = m_Link.Field();
    if (field == nullptr) return;
    const QString shown = displayText();
    QString digits = shown;
    digits.remove(QLatin1Char(' '));
    bool anyDigit = false;
    for (const QChar c : digits) anyDigit = anyDigit || c.isDigit();
    if (!anyDigit) {
        field->Clear();
        return;
    }
    const int32_t day = dt::ParseDate(ToCp1252(digits), FormatSettings(), ToCp1252(shown));
    field->SetAsDateTime(dt::JoinDateTime(day, 0));
}

void TDBDateEdit::UpdateReadOnly() {
    const bool writable = m_Link.DataSource() == nullptr || m_Link.CanModify();
    QLineEdit::setReadOnly(!writable);
    m_CalendarAction->setEnabled(writable);
}

bool TDBDateEdit::BeginChange() {
    if (m_Link.DataSource() == nullptr) return !isReadOnly();
    return BeginLineEditChange(m_Link, *this);
}

void TDBDateEdit::ShowCalendar() {
    if (isReadOnly()) return;
    const QDate shown = Date();
    m_Calendar->setSelectedDate(shown.isValid() ? shown : QDate::currentDate());
    m_Calendar->adjustSize();
    m_Calendar->move(mapToGlobal(QPoint(0, height())));
    m_Calendar->show();
    m_Calendar->setFocus(Qt::PopupFocusReason);
}

void TDBDateEdit::CalendarChosen(const QDate& date) {
    m_Calendar->hide();
    setFocus(Qt::PopupFocusReason);
    if (!BeginChange()) return;
    ShowValue(date);
    if (m_Link.DataSource() == nullptr) return;
    m_Link.Modified();
    RunGuarded([this] { m_Link.UpdateRecord(); });
}

void TDBDateEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && m_Link.IsModified()) {
        m_Link.Reset();
        selectAll();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier)) {
        ShowCalendar();
        event->accept();
        return;
    }
    if (IsTextChangingKey(event) && !BeginChange()) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TDBDateEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (event->reason() == Qt::PopupFocusReason || !m_Link.IsModified()) return;
    if (!RunGuarded([this] { m_Link.UpdateRecord(); })) {
        QTimer::singleShot(0, this, [this] { setFocus(Qt::OtherFocusReason); });
    }
}

}  // namespace veltra
