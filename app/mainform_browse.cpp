// The main window's browsing commands on the open log: the modeless search
// window, the query builder and "Close Query", and the two print buttons.
#include <QPushButton>

#include "app/dialogs/queryform.h"
#include "app/dialogs/searchform.h"
#include "app/forms.h"
#include "app/mainform.h"
#include "platform/qt/controls/db_grid.h"
#include "platform/qt/dialogs/dialogs.h"
#include "print/forms/print_command.h"

namespace veltra {

void Tmainform::searchbtnClick() {
    if (!m_Table.Active()) return;
    Tsearchform& search = *Forms().searchform;
    search.show();
    search.raise();
    search.activateWindow();
    showstatus();
}

void Tmainform::querybtnClick() {
    if (!m_Table.Active()) return;
    // Every grid column, visible or hidden, in grid order.
    QStringList fields;
    for (const TGridColumn& column : m_Grid->Columns()) fields << "[" + column.FieldName + "]";
    Tqueryform& query = *Forms().queryform;
    query.SetFields(fields);
    Dialogs().Exec(query);
    showstatus();
}

void Tmainform::QueryApplied() {
    m_CloseQuery->show();
    showstatus();
}

void Tmainform::closequerybtnClick() {
    // The filter text stays assigned; switched off it has no effect.
    m_Table.SetFiltered(false);
    m_CloseQuery->hide();
    showstatus();
}

void Tmainform::SpeedButton1Click(bool selectedOnly) {
    if (!m_Table.Active()) return;
    TPrintView view;
    view.MainTable = &m_Table;
    view.Columns = m_Grid->Columns();
    view.Preview = m_Preview->isChecked();
    view.PrintChangeHistory = m_PrintHistory->isChecked();
    TForms& forms = Forms();
    RunPrintCommand(selectedOnly ? TPrintCommand::PrintSelected : TPrintCommand::PrintAll, view,
                    *forms.printallform, *forms.pform, *forms.pform2);
    m_Grid->viewport()->update();
}

}  // namespace veltra
