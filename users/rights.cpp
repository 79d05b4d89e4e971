#include "users/rights.h"

#include "engine/veltra_table.h"

namespace veltra {

TRights ReadGroupRights(TVeltraTable& groups, const QString& sys2Path, const QString& groupName) {
    groups.Close();
    groups.SetTableName(sys2Path.toStdString());
    groups.SetIndexName("groupname");
    TRights rights;
    try {
        groups.Open();
        groups.First();
        if (groups.FindKey({groupName.toStdString()})) {
            auto read = [&](const char* field) {
                return static_cast<int>(groups.FieldByName(field).AsInteger());
            };
            rights.Edit = read("edit");
            rights.Submit = read("submit");
            rights.Delete = read("delete");
            rights.Close = read("close");
            rights.Assign = read("assign");
        }
    } catch (...) {
        groups.Close();
        throw;
    }
    groups.Close();
    return rights;
}

std::optional<TTicketAccess> DecideAccess(const TRights& rights, const QString& user,
                                          const std::optional<QString>& submitter,
                                          const std::optional<QString>& owner) {
    if (rights.Edit < 0) return std::nullopt;
    const bool isSubmitter = submitter.has_value() && *submitter == user;
    const bool isOwner = owner.has_value() && *owner == user;

    TTicketAccess access;
    access.SubmitVisible = rights.Submit != 1;
    access.EditVisible = rights.Edit == 0 || (rights.Edit == 1 && isOwner) ||
                         (rights.Edit == 2 && isSubmitter) ||
                         (rights.Edit == 3 && (isSubmitter || isOwner));
    access.DeleteVisible = !(rights.Delete == 1 || (rights.Delete == 2 && !isSubmitter));
    access.CloseEnabled = !(rights.Close == 1 || (rights.Close == 2 && !isSubmitter));
    access.AssignEnabled = rights.Assign == 0 || (rights.Assign == 2 && isOwner) ||
                           (rights.Assign == 3 && isSubmitter) ||
                           (rights.Assign == 4 && (isSubmitter || isOwner));
    return access;
}

}  // namespace veltra
