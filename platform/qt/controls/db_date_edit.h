// TDBDateEdit: a date entry field with a calendar button, bound to a date
// field of a data source.
//
// The field shows its date in the user's short date form (the process-wide
// format settings) with two-digit days and months; an empty field shows
// blanks in the places of the digits ("  /  /    " for M/d/yyyy), so its
// text begins with a blank. Text() is the text as shown.
//
// It follows the dataset as TDBEdit does (Edit before the first change,
// written on focus loss and before a post, Esc restores). A text whose digit
// places are all blank writes null; any other text must be a valid date
// ("'<text>' is not a valid date" in the error box otherwise). The calendar
// button opens a calendar at the shown date (today for an empty field);
// choosing a day puts the dataset into Edit and writes that date at once.
#pragma once

#include <QLineEdit>

#include "platform/qt/controls/field_data_link.h"

class QAction;
class QCalendarWidget;
class QDate;

namespace veltra {

// The short date form with two-digit days and months and a two- or
// four-digit year, and the input mask that shows it with blanks.
QString DateEditFormat();
QString DateEditMask(const QString& editFormat);

class TDBDateEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TDBDateEdit(QWidget* parent = nullptr);

    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const { return m_Link.DataSource(); }
    void SetDataField(const QString& fieldName);
    QString DataField() const { return m_Link.FieldName(); }
    TField* Field() const { return m_Link.Field(); }
    void SetReadOnly(bool readOnly);

    // The text as shown, blanks included.
    QString Text() const { return displayText(); }
    // Takes the format settings in force now (after the program installed
    // the user's locale) and shows the field again.
    void ApplyFormatSettings();

    // Without a data source the control is a plain date entry (the date
    // dialog's): SetDate shows a date (an invalid QDate empties it), Date
    // reads the shown text (invalid when blank or not a date).
    void SetDate(const QDate& date);
    QDate Date() const;

    // The calendar button and its popup (for tests and keyboard users:
    // Alt+Down opens it too).
    QAction* CalendarAction() const { return m_CalendarAction; }
    QCalendarWidget* Calendar() const { return m_Calendar; }
    void ShowCalendar();

    void UpdateRecord() { m_Link.UpdateRecord(); }
    bool Modified() const { return m_Link.IsModified(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void ShowField();
    void ShowValue(const QDate& date);
    void WriteField();
    void UpdateReadOnly();
    bool BeginChange();
    void CalendarChosen(const QDate& date);

    TFieldDataLink m_Link;
    QString m_Format;
    QAction* m_CalendarAction = nullptr;
    QCalendarWidget* m_Calendar = nullptr;
};

}  // namespace veltra
