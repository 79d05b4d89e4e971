// Tcboxform: the pick dialog of the query builder.
//
// A pick list that can also be typed into and keeps its items sorted, OK and
// Cancel. It has no behaviour of its own: the caller empties and fills the
// list (Clear, AddItems), sets the caption (setWindowTitle, the field being
// queried) and the text (SetText), shows it (Dialogs().Exec) and, on OK,
// reads Text().
//
// The main window creates it once (no arguments beyond the parent) and hands
// it to the query builder (Tqueryform::SetInputDialogs).
#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QPushButton;

namespace veltra {

class Tcboxform : public QDialog {
    Q_OBJECT
  public:
    explicit Tcboxform(QWidget* parent = nullptr);

    // Removes every item of the list (the text typed stays until SetText).
    void Clear();
    // Adds items; the list keeps them sorted.
    void AddItems(const QStringList& items);
    QStringList Items() const;
    // The text of the pick list: chosen or typed.
    QString Text() const;
    void SetText(const QString& text);

    QComboBox* ComboBox() const { return m_Combo; }
    QPushButton* OkButton() const { return m_Ok; }
    QPushButton* CancelButton() const { return m_Cancel; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QComboBox* m_Combo = nullptr;
    QPushButton* m_Ok = nullptr;
    QPushButton* m_Cancel = nullptr;
};

}  // namespace veltra
