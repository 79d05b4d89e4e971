// Tgetdateform: the date dialog of the query builder, caption "date".
//
// The label "Enter date:", a date field with a calendar button, OK and
// Cancel. The dialog has no behaviour of its own: the caller shows it
// (Dialogs().Exec) and, on OK, reads DateText(). The date field keeps the last
// date entered from one showing to the next. An empty field shows blanks in
// the places of the digits, in the user's short date form, so its text then
// begins with a blank.
//
// The main window creates it once (no arguments beyond the parent) and hands
// it to the query builder (Tqueryform::SetInputDialogs).
#pragma once

#include <QDialog>

class QPushButton;

namespace veltra {

class TDBDateEdit;

class Tgetdateform : public QDialog {
    Q_OBJECT
  public:
    explicit Tgetdateform(QWidget* parent = nullptr);

    // The date field's text as shown, blanks included.
    QString DateText() const;
    TDBDateEdit* DateEdit() const { return m_Date; }
    QPushButton* OkButton() const { return m_Ok; }
    QPushButton* CancelButton() const { return m_Cancel; }

  protected:
    // Takes the format settings in force (the user's locale, installed after
    // the windows were created) and puts the focus on the date field.
    void showEvent(QShowEvent* event) override;

  private:
    TDBDateEdit* m_Date = nullptr;
    QPushButton* m_Ok = nullptr;
    QPushButton* m_Cancel = nullptr;
};

}  // namespace veltra
