// The main window's rights: reading the current user's group once
// (getaccesslevel) and applying it to the current ticket (setaccess).
#include "app/edit/editform.h"
#include "app/forms.h"
#include "app/mainform.h"
#include "app/program_folder.h"
#include "platform/qt/controls/db_combo_box.h"
#include "platform/qt/controls/db_date_edit.h"
#include "platform/qt/controls/db_navigator.h"
#include "users/admin/accessform.h"
#include "users/rights.h"
#include "users/user_context.h"

namespace veltra {

namespace {

std::optional<QString> FieldText(TVeltraTable& table, const char* name) {
    if (!table.Active()) return std::nullopt;
    TField* field = table.FindField(name);
    if (field == nullptr || field->IsNull()) return std::nullopt;
    return QString::fromStdString(field->AsString());
}

}  // namespace

void Tmainform::getaccesslevel() {
    CurrentRights() = TRights{};
    CurrentRights() = ReadGroupRights(Forms().accessform->GroupsTable(),
                                      ProgramFolder() + "sys2.dat", UserContext().GroupName);
}

void Tmainform::setaccess() {
    const std::optional<TTicketAccess> access =
        DecideAccess(CurrentRights(), UserContext().UserName, FieldText(m_Table, "Submitter"),
                     FieldText(m_Table, "Owner"));
    if (!access) return;  // no group: the designed state stays
    m_Navigator->SetButtonVisible(TNavigateButton::Insert, access->SubmitVisible);
    m_Navigator->SetButtonVisible(TNavigateButton::Edit, access->EditVisible);
    m_Navigator->SetButtonVisible(TNavigateButton::Delete, access->DeleteVisible);
    Teditform& edit = *Forms().editform;
    edit.StateBox()->setEnabled(access->CloseEnabled);
    edit.CloseDateEdit()->setEnabled(access->CloseEnabled);
    edit.OwnerBox()->setEnabled(access->AssignEnabled);
    // Changing the visible buttons re-lays the navigator out.
    if (m_NavigatorWidth > 0) m_Navigator->setFixedWidth(m_NavigatorWidth);
}

}  // namespace veltra
