#include "users/admin/admin_common.h"

#include <QLabel>
#include <QLineEdit>

#include "app/program_folder.h"
#include "engine/veltra_table.h"
#include "users/upper_case.h"

namespace veltra {

QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    buddy->setAccessibleName(QString(text).remove('&'));
    return label;
}

QLineEdit* PasswordEdit(QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(kUserFieldLength);
    ForceUpperCase(edit);
    return edit;
}

QString UsersTablePath() { return ProgramFolder() + "sys1.dat"; }
QString GroupsTablePath() { return ProgramFolder() + "sys2.dat"; }

QString QuotedFilterConstant(const QString& text) {
    return "'" + QString(text).replace("'", "''") + "'";
}

QStringList ReadGroupNames(TVeltraTable& groups) {
    groups.Close();
    groups.SetTableName(GroupsTablePath().toStdString());
    groups.SetIndexName("groupname");
    QStringList names;
    try {
        groups.Open();
        groups.First();
        while (!groups.Eof()) {
            names << QString::fromStdString(groups.FieldByName("groupname").AsString());
            groups.Next();
        }
        groups.First();
    } catch (...) {
        groups.Close();
        throw;
    }
    return names;
}

int CountGroupMembers(const QString& group) {
    TVeltraTable users;
    users.SetTableName(UsersTablePath().toStdString());
    users.Open();
    int count = 0;
    for (users.First(); !users.Eof(); users.Next()) {
        if (users.FieldByName("admin").AsBoolean()) continue;
        const QString name = QString::fromStdString(users.FieldByName("groupname").AsString());
        if (name.compare(group, Qt::CaseInsensitive) == 0) ++count;
    }
    users.Close();
    return count;
}

}  // namespace veltra
