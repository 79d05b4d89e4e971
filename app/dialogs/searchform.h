// Tsearchform: the text search window, caption "Search" (modeless).
//
// Finds the next ticket of the open log whose title or description contains
// the text of "Text to find:", walking the main table's cursor forward in
// its current order and filter, and leaves the cursor on the ticket found so
// that every view bound to the table shows it.
//
//   "&Find"       tests the current ticket first;
//   "Find &Next"  starts with the ticket after the current one; on the last
//                 ticket of the view there is none, and it says "Text not
//                 found." rather than testing the current ticket again;
//   "&Cancel"     (also Escape) stops a running search and hides the window.
//
// Both search buttons are enabled exactly when the entry text is not blank.
// Enter in the entry field is always swallowed and, with a text, acts as
// "Find &Next". Leading and trailing blanks of the text are ignored.
//
// What is compared: the title as the grid shows it and the visible words of
// the description (its RTF read as plain text), not the markup, so that a
// word found only in formatting codes ("par", a font name) finds nothing.
// Unless "Case sensitive" is checked all three are upper-cased by the
// user's locale (UserLocaleName()), so "é" finds "É".
//
// A search that finds nothing returns to the ticket where it began (through
// the index `ID`, then back to the index that was active) and shows "Text not
// found." in an information box. While it runs the window shows how many
// tickets it has searched of the view's total and lets the user interface
// run, so that "&Cancel" is seen at once; a cancelled search returns to its
// starting ticket without a message. The views bound to the table are not
// told of every step (DisableControls), only of where the search ends.
// Engine errors leave the search at once and are shown in the default error
// box, with the cursor returned to its start when possible.
//
// The main window creates it once with the main table (which must outlive
// it) and shows it with show(); nothing else needs handing over.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace veltra {

class TField;
class TVeltraTable;

class Tsearchform : public QDialog {
    Q_OBJECT
  public:
    explicit Tsearchform(TVeltraTable& table, QWidget* parent = nullptr);

    QLineEdit* TextEdit() const { return m_Text; }
    QCheckBox* CaseBox() const { return m_Case; }
    QPushButton* FindButton() const { return m_Find; }
    QPushButton* FindNextButton() const { return m_FindNext; }
    QPushButton* CancelButton() const { return m_Cancel; }
    QProgressBar* ProgressBar() const { return m_Progress; }
    bool Searching() const { return m_Searching; }

    // Cancel: sets the stop flag and hides the window.
    void reject() override;

  signals:
    // The search has tested `searched` tickets of the view's `total`; sent
    // before the user interface is let run during a search.
    void Progress(qint64 searched, qint64 total);

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    enum class TStart { Current, Next };
    void UpdateButtons();
    void findbtnClick(TStart start);
    // Searches from the cursor; true when the cursor stands on a match.
    bool Search(TStart start, const QString& text, qint64 total);
    // Whether the current ticket's title or description holds text; the
    // fields are the open table's Title and Description.
    bool Matches(const QString& text, TField& title, TField& description);
    // Moves to the next ticket of the view; false at its end.
    bool StepForward();
    QString Comparable(const QString& s) const;
    void ReturnTo(const std::string& id, const std::string& indexName);
    void ShowProgress(qint64 searched, qint64 total);

    TVeltraTable& m_Table;
    QLineEdit* m_Text = nullptr;
    QCheckBox* m_Case = nullptr;
    QPushButton* m_Find = nullptr;
    QPushButton* m_FindNext = nullptr;
    QPushButton* m_Cancel = nullptr;
    QProgressBar* m_Progress = nullptr;
    bool m_Stop = false;
    bool m_Searching = false;
};

}  // namespace veltra
