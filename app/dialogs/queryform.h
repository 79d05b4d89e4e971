// Tqueryform: the query builder, caption "Query" (modal).
//
// The user picks a field of "Fields available to query", clicks a
// comparison button ("=", "<>", ">", "<") and enters or picks a value; each
// click adds one line of filter text to the "Query list" (query_lines.h has
// the forms). "AND", "AND NOT" and "OR" change the connective of the
// selected line (not the first); "Delete" removes the selected line, "Clear"
// all lines. "Execute" sets the main table's filter to the list's text (each
// line followed by CR LF), switches filtering on, tells the main window
// (OnQueryApplied: it shows "Close Query") and closes the window; a filter
// the engine refuses is shown in the default error box, the table keeps its
// filter, OnQueryApplied is not called and the window stays open. "Save"
// and "Open" write and read `.qry` files, starting in the data folder.
// "Cancel" closes the window and changes nothing. The query list survives
// between showings.
//
// What the main window hands it:
//   - at creation: the main table (the open log's table component, which
//     must outlive this window) and the program folder;
//   - SetInputDialogs: the date dialog and the pick dialog (created after
//     this window); without them the window makes its own;
//   - PickItems: the ticket edit window's Submitter, State and Category
//     lists (Submitter also serves [Owner]);
//   - OnQueryApplied: shows its "Close Query" button;
//   - before each showing, SetFields: one entry per grid column, visible or
//     hidden, in grid order, each "[" field name "]".
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

#include "app/dialogs/query_lines.h"

class QListWidget;
class QPushButton;

namespace veltra {

class TVeltraTable;
class Tcboxform;
class Tgetdateform;

class Tqueryform : public QDialog {
    Q_OBJECT
  public:
    Tqueryform(TVeltraTable& table, const QString& programFolder, QWidget* parent = nullptr);

    void SetInputDialogs(Tgetdateform* dateForm, Tcboxform* pickForm);
    Tgetdateform& DateForm();
    Tcboxform& PickForm();

    std::function<QStringList(TQueryPickList)> PickItems;
    std::function<void()> OnQueryApplied;

    // The field list ("[Title]", ...), replaced whole.
    void SetFields(const QStringList& entries);
    QStringList Fields() const;
    // The query list's lines.
    QStringList QueryLines() const;
    void SetQueryLines(const QStringList& lines);
    // The folder both file dialogs start in: the program folder's `data`.
    QString QueryFolder() const { return m_QueryFolder; }

    QListWidget* FieldList() const { return m_Fields; }
    QListWidget* QueryList() const { return m_Query; }
    // A button by its caption ("=", "AND NOT", "Execute", "Cancel", ...);
    // nullptr for none.
    QPushButton* Button(const QString& caption) const;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QPushButton* AddButton(const QString& caption, const char* name);
    void CompareClick(const QString& op);
    void ConnectiveClick(const QString& caption);
    void DeleteClick();
    void ExecuteClick();
    void SaveClick();
    void OpenClick();
    // The value of the field entry for `op`, asked as its kind says; nullopt
    // when the user cancelled, the answer was refused or the field is unknown.
    std::optional<QString> AskValue(const QString& entry, const QString& op);

    TVeltraTable& m_Table;
    QString m_QueryFolder;
    Tgetdateform* m_DateForm = nullptr;
    Tcboxform* m_PickForm = nullptr;
    QListWidget* m_Fields = nullptr;
    QListWidget* m_Query = nullptr;
    QList<QPushButton*> m_Buttons;
};

}  // namespace veltra
