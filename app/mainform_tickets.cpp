// The main window's ticket commands: the navigator step after Submit, Edit
// and the other buttons, the grid's double click, the change history's
// before-edit and before-post steps, and the refresh that shows other users'
// changes when the window regains the focus.
#include <QApplication>
#include <QDate>

#include "app/edit/editform.h"
#include "app/forms.h"
#include "app/mainform.h"
#include "platform/qt/controls/db_grid.h"
#include "platform/qt/controls/db_navigator.h"
#include "users/user_context.h"

namespace veltra {

namespace {

bool Editing(const TDataSet& table) {
    return table.State() == TDataSetState::Edit || table.State() == TDataSetState::Insert;
}

}  // namespace

void Tmainform::navigator1Click(TNavigateButton button) {
    switch (button) {
        case TNavigateButton::Insert: SubmitStep(); break;
        case TNavigateButton::Edit: EditStep(); break;
        default:
            showstatus();
            setaccess();
            break;
    }
}

void Tmainform::DBGrid1DblClick() {
    if (!m_Table.Active() || m_Table.IsEmpty()) return;
    EditStep();
}

void Tmainform::SubmitStep() {
    if (m_Table.State() != TDataSetState::Insert) return;  // the insert itself failed
    m_Table.FieldByName("Submitter").SetAsString(UserContext().UserName.toStdString());
    SetToday(m_Table.FieldByName("Submit date"));
    m_Table.FieldByName("State").SetAsString("Open");
    setaccess();
    Forms().editform->ShowModal();
    m_RightPanel->update();
    showstatus();
    setaccess();
}

void Tmainform::EditStep() {
    if (!m_Navigator->ButtonVisible(TNavigateButton::Edit)) return;
    try {
        m_Table.Edit();
        TField& submitDate = m_Table.FieldByName("Submit date");
        submitDate.SetAsDateTime(submitDate.AsDateTime());
    } catch (const std::exception&) {
        // A refused lock here is not reported: the edit window opens and its
        // close step cancels, as the table is then not in edit state.
    }
    if (Editing(m_Table)) {
        TField& submitter = m_Table.FieldByName("Submitter");
        if (QString::fromStdString(submitter.AsString()).trimmed().isEmpty())
            submitter.SetAsString(UserContext().UserName.toStdString());
        TField& submitDate = m_Table.FieldByName("Submit date");
        if (submitDate.IsNull()) SetToday(submitDate);
        TField& state = m_Table.FieldByName("State");
        if (state.IsNull() || state.AsString().empty()) state.SetAsString("Open");
    }
    Forms().editform->ShowModal();
    showstatus();
    setaccess();
}

void Tmainform::SetToday(TField& field) {
    const QDate today = QDate::currentDate();
    // Days since 1899-12-30, the dataset's date value.
    field.SetAsDateTime(static_cast<double>(QDate(1899, 12, 30).daysTo(today)));
}

void Tmainform::table1BeforeEdit() { m_History.TakeSnapshot(m_Table); }

void Tmainform::table1BeforePost() {
    m_History.BeforePost(m_Table, UserContext().UserName.toStdString(),
                         Forms().editform->DescriptionModified());
}

void Tmainform::RefreshIfChangedOnDisk() {
    // Other users' changes show when the window is used again, never on a
    // timer: a cheap look at the files' change counters, and a re-read of
    // the view only when another process changed the log.
    if (!m_Table.Active() || m_Table.State() != TDataSetState::Browse) return;
    if (!m_Table.ChangedOnDisk()) return;
    m_Table.Refresh();
    setaccess();
    showstatus();
}

}  // namespace veltra
