#include "users/user_list.h"

#include <QFile>
#include <QSaveFile>

#include "engine/veltra_table.h"

namespace veltra {

namespace {

QString Text(TVeltraTable& table, const char* field) {
    return QString::fromStdString(table.FieldByName(field).AsString());
}

}  // namespace

TUserList builduserlist(TVeltraTable& users, const QString& lastUser) {
    TUserList list;
    users.First();
    while (!users.Eof()) {
        const QString name = Text(users, "username");
        if (!name.trimmed().isEmpty()) {
            const bool admin = users.FieldByName("admin").AsBoolean();
            list.Names << name.trimmed();
            list.Passwords << Text(users, "password").trimmed();
            list.Groups << Text(users, "groupname");
            list.Admins << (admin ? "yes" : "no");
            if (admin) list.AdminName = name;
        }
        users.Next();
    }
    const QString wanted = lastUser.trimmed().toUpper();
    if (!wanted.isEmpty()) {
        // Every match selects, so the last one found stays selected.
        for (int i = 0; i < list.Count(); ++i) {
            if (list.Names[i].trimmed().toUpper() == wanted) list.Selected = i;
        }
    }
    if (list.Selected < 0 && list.Count() > 0) list.Selected = 0;
    return list;
}

QString ReadLastUser(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QString line = QString::fromUtf8(file.readLine());
    while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
    return line;
}

bool WriteLastUser(const QString& path, const QString& name) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(name.toUtf8() + "\r\n");
    return file.commit();
}

QString NormalPassword(const QString& text) { return text.trimmed().toUpper(); }

}  // namespace veltra
