// Teditform: the ticket edit window, caption "Submit/Edit Ticket", help
// topic 4. It has no record of its own: every field is bound, through the
// main window's data source, to the current record of the open log, which
// the caller has put into insert state (a new ticket) or edit state before
// showing the window modally. On closing the window either stores the record
// (its post passes through the main table's before-post step, which writes
// the change history) or abandons the changes.
//
// Layout, top to bottom: the rich-text toolbar (rich_toolbar.h); the panel
// `Panel1` holding the description editor (at least 50 pixels high); the
// splitter `Splitter1` (a QSplitter whose handle separates `Panel1` from
// `Panel4`: its position is the height of `Panel1`); the scrollable field
// panel `Panel4`; the OK and Cancel buttons. OK is the default button (Enter
// in a one-line field), Cancel answers Escape, Enter in the editor starts a
// new line. The window can be resized and maximised.
//
// Fields, in tab order (each control's accessible name is its label):
//   "Title" (entry), "Category" (editable list), "Priority" (entry),
//   "Other" (entry), "State" (editable list: "Open", "Under investigation",
//   "Close pending", "Closed"), "Close date" (date field), "Owner" (editable
//   list, sorted), "Submitter" (editable list, sorted), "Submit date" (date
//   field), then the description editor.
//
// Showing (ShowModal, or any show of the window that is not a restore):
//   the modal result and both flags (save requested, cancelled) are cleared,
//   the font name list is filled from the dialogs service's font names, the
//   editor's base font becomes Arial 10 points regular and its modified flag
//   is cleared, the size list shows "7" until the toolbar follows the caret;
//   an empty description gets a plain format at its end; the focus goes to
//   "Title".
//
// State rule: every change of the State text by the user sets `Close date`
// to today when the text is exactly "Closed" and the date is empty (a date
// already there is kept), and clears it for any other text.
//
// Closing. OK puts the record into edit state when it is in neither edit nor
// insert state (an error there is ignored; the record is then cancelled
// instead of posted), requests the save and closes with the result Accepted.
// Cancel (and Escape) cancels the record's changes and closes with Rejected.
// Every way of closing then runs the close-query step: closing by the close
// box asks "Save changes?" (Yes requests the save, although the result stays
// Rejected); without a save request the record's changes are cancelled; with
// the result Accepted the record is posted (cancelled when it is no longer
// being edited); the table is refreshed, which posts a record still being
// edited when a field changed (how the close box and Yes store the ticket)
// and cancels it otherwise. An error raised by the post or the refresh is
// shown in the application's default error box and the window stays open,
// the record still in edit or insert state and the save request kept.
//
// Ownership: the window does not own the data source; the data source and
// its dataset must outlive the window or be detached with SetDataSource
// (nullptr) first.
// Thread: the user-interface thread only.
#pragma once

#include <QDate>
#include <QDialog>
#include <QStringList>
#include <functional>

class QLabel;
class QPushButton;
class QScrollArea;
class QSplitter;
class QWidget;

namespace veltra {

class TDataSet;
class TDataSource;
class TDBComboBox;
class TDBDateEdit;
class TDBEdit;
class TDBRichEdit;
class TRichToolbar;

class Teditform : public QDialog {
    Q_OBJECT
public:
    // Builds the window with every field bound through `source` (may be
    // nullptr and set later); the description editor is left unbound.
    explicit Teditform(TDataSource* source = nullptr, QWidget* parent = nullptr);
    ~Teditform() override;

    // Binds every field control to `source` (the description editor only
    // while it is bound, see BindDescription).
    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const { return m_Source; }

    // Shows the window modally through the dialogs service: binds the
    // description editor to `Description`, runs Dialogs().Exec on the window
    // and unbinds the editor again once it has closed. Returns
    // QDialog::Accepted (OK) or QDialog::Rejected (Cancel, Escape, close box,
    // whether or not its "Save changes?" was answered Yes).
    int ShowModal();

    // Seams for the window layout settings: RestoreLayout runs at every
    // showing before the show step, SaveLayout when a close has been
    // allowed (after the close-query step), before the window closes.
    std::function<void(Teditform&)> RestoreLayout;
    std::function<void(Teditform&)> SaveLayout;

    // The two halves of ShowModal's binding, for a caller that runs the
    // window itself: the editor follows `Description` of the current record
    // only between these calls.
    void BindDescription();
    void UnbindDescription();

    // The editor's modified flag: while the window is shown, whether the
    // description has been changed since it was shown; from the moment the
    // window begins to close, and after it has closed, the flag as it stood
    // then. The change-history step records a description change only when
    // it is set. Cleared when the window is shown.
    bool DescriptionModified() const;

    // The Category list (the log's category file), replaced whole.
    void SetCategories(const QStringList& categories);
    // The Submitter and Owner lists (the user names), replaced whole; both
    // lists keep their items sorted.
    void SetUserNames(const QStringList& names);
    // The value lists the query builder offers.
    QStringList StateItems() const;
    QStringList SubmitterItems() const;
    QStringList CategoryItems() const;

    // Rights: Submitter and Submit date are enabled only for the
    // administrator; State and Close date follow the close right; Owner
    // follows the assign right.
    void SetAdministrator(bool administrator);
    void SetCloseAllowed(bool allowed);
    void SetAssignAllowed(bool allowed);

    // Today's date for the State rule (the local date unless replaced).
    std::function<QDate()> Today = [] { return QDate::currentDate(); };

    // The window's controls, for the main window's rights step and tests.
    TDBEdit* TitleEdit() const { return m_Title; }
    TDBComboBox* CategoryBox() const { return m_Category; }
    TDBEdit* PriorityEdit() const { return m_Priority; }
    TDBEdit* OtherEdit() const { return m_Other; }
    TDBComboBox* StateBox() const { return m_State; }
    TDBDateEdit* CloseDateEdit() const { return m_CloseDate; }
    TDBComboBox* OwnerBox() const { return m_Owner; }
    TDBComboBox* SubmitterBox() const { return m_Submitter; }
    TDBDateEdit* SubmitDateEdit() const { return m_SubmitDate; }
    TDBRichEdit* Editor() const { return m_Editor; }
    TRichToolbar* Toolbar() const { return m_Toolbar; }
    QPushButton* OkButton() const { return m_Ok; }
    QPushButton* CancelButton() const { return m_Cancel; }
    QSplitter* Splitter1() const { return m_Splitter; }
    QWidget* Panel1() const { return m_Panel1; }
    QScrollArea* Panel4() const { return m_Panel4; }

    // The steps of the window, named after their component and event.
    void FormShow();
    void okbtnClick();
    void cancelbtnClick();
    void StateChange();

    // Escape and the dialog's own reject act as Cancel; accept acts as OK.
    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildFields(QWidget* panel);
    void BuildTabOrder();
    TDataSet* DataSet() const;
    bool Editing() const;
    bool EditorModified() const;
    // Runs the close-query step and closes with the modal result when it
    // succeeds; on an error shows it, keeps the window open and returns false.
    bool CloseModal();
    void FormCloseQuery();

    TDataSource* m_Source = nullptr;
    TRichToolbar* m_Toolbar = nullptr;
    TDBRichEdit* m_Editor = nullptr;
    TDBEdit* m_Title = nullptr;
    TDBComboBox* m_Category = nullptr;
    TDBEdit* m_Priority = nullptr;
    TDBEdit* m_Other = nullptr;
    TDBComboBox* m_State = nullptr;
    TDBDateEdit* m_CloseDate = nullptr;
    TDBComboBox* m_Owner = nullptr;
    TDBComboBox* m_Submitter = nullptr;
    TDBDateEdit* m_SubmitDate = nullptr;
    QPushButton* m_Ok = nullptr;
    QPushButton* m_Cancel = nullptr;
    QSplitter* m_Splitter = nullptr;
    QWidget* m_Panel1 = nullptr;
    QScrollArea* m_Panel4 = nullptr;

    int m_ModalResult = 0;  // 0 while no close is under way
    bool m_SaveRequested = false;
    bool m_Cancelled = false;
    bool m_Closing = false;
    bool m_DescriptionBound = false;
    bool m_ModifiedAtClose = false;
};

}  // namespace veltra
