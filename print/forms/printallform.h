// Tprintallform: the print choice dialog of "Print &All", caption
// "Print All Records": detail or summary print of every ticket of the
// current view.
//
// Created once at program start and reused; run through the dialogs service
// (Dialogs().Exec). "OK" closes it with QDialog::Accepted, "Cancel" (or
// Escape) with QDialog::Rejected. The check box "Summary Only" is checked
// when the program starts and keeps its last state for the rest of the run.
// Fixed size, no title-bar buttons, centred on the screen, help topic 11.
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;

namespace veltra {

class Tprintallform : public QDialog {
    Q_OBJECT
public:
    explicit Tprintallform(QWidget* parent = nullptr);

    bool SummaryOnly() const;
    QCheckBox* SummaryOnlyBox() const { return m_SummaryOnly; }
    QPushButton* OkButton() const { return m_Ok; }
    QPushButton* CancelButton() const { return m_Cancel; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QCheckBox* m_SummaryOnly;
    QPushButton* m_Ok;
    QPushButton* m_Cancel;
};

}  // namespace veltra
