// Tdelfileform: the log deletion dialog, caption "Delete Log Files".
//
// A list of the `*.dat` files of the data folder, the label "Double click on
// log to delete", the check box "Confirm before deleting" (checked at start)
// and Close. A double click on a listed log asks "Delete <file>?" (Yes / No)
// when confirmation is on, then deletes the log's `.dat`, `.blb` and `.idx`
// files and refreshes the list. A file that cannot be deleted (a missing
// `.blb`, say) is passed over without a message; the category list `.txt`
// is kept.
//
// A log that another process has open is not deleted: on Linux deleting
// unlinks the files under the running program, whose later changes would
// then vanish. Before deleting, every existing file of the log is opened
// with exclusive sharing (the engine's sharing lock); when any open is
// refused the dialog says "The log <file> is in use and cannot be deleted."
// (an error box) and leaves all files as they were. The exclusive opens are
// held while the files are removed, so no other process can open the log in
// between.
//
// The main window creates it once with the program folder (with or without
// its trailing separator), closes its open log before showing it
// (Dialogs().Exec) and re-reads its log list afterwards.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace veltra {

class Tdelfileform : public QDialog {
    Q_OBJECT
  public:
    explicit Tdelfileform(const QString& programFolder, QWidget* parent = nullptr);

    // The data folder whose logs are listed.
    QString DataFolder() const { return m_DataFolder; }
    // Re-reads the list of `*.dat` files.
    void Refresh();
    // Deletes the log whose `.dat` file is `fileName` (a name of the list),
    // after the confirmation when it is on; what a double click does.
    void DeleteLog(const QString& fileName);

    QListWidget* FileList() const { return m_Files; }
    QCheckBox* ConfirmBox() const { return m_Confirm; }
    QPushButton* CloseButton() const { return m_Close; }

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QString m_DataFolder;
    QListWidget* m_Files = nullptr;
    QCheckBox* m_Confirm = nullptr;
    QPushButton* m_Close = nullptr;
};

}  // namespace veltra
