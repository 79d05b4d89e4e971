#include "tests/users/admin_fixture.h"

#include <QAbstractButton>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>
#include <ostream>

#include "app/program_folder.h"
#include "engine/veltra_table.h"
#include "platform/qt/controls/db_grid.h"
#include "users/user_context.h"

namespace veltra {

void PrintTo(const TUserRow& row, std::ostream* os) {
    *os << "{" << row.Name.toStdString() << ", " << row.Password.toStdString() << ", "
        << row.Group.toStdString() << ", " << (row.Admin ? "admin" : "user") << "}";
}

void PrintTo(const TGroupRow& row, std::ostream* os) {
    *os << "{" << row.Name.toStdString();
    for (int r : row.Rights) *os << ", " << r;
    *os << "}";
}

namespace {

std::unique_ptr<TVeltraTable> OpenTable(const QString& path) {
    auto table = std::make_unique<TVeltraTable>();
    table->SetTableName(path.toStdString());
    table->Open();
    return table;
}

QString Text(TVeltraTable& t, const char* field) {
    return QString::fromStdString(t.FieldByName(field).AsString());
}

}  // namespace

void TAdminTest::SetUp() {
    ASSERT_TRUE(m_Dir.isValid());
    for (const char* table : {"sys1", "sys2"}) {
        for (const char* ext : {".dat", ".idx", ".blb"}) {
            const QString name = QString(table) + ext;
            if (!QFile::exists(QString(VELTRA_PROGRAM_DIR) + "/" + name)) continue;
            // A test that sets up several cases starts each from fresh tables.
            QFile::remove(Folder() + name);
            ASSERT_TRUE(QFile::copy(QString(VELTRA_PROGRAM_DIR) + "/" + name, Folder() + name))
                << name.toStdString();
            QFile::setPermissions(Folder() + name,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        }
    }
    SetProgramFolder(Folder());
    UserContext() = TUserContext{};
    m_Dialogs = std::make_unique<TScriptedDialogs>();
}

void TAdminTest::TearDown() {
    if (m_Dialogs) {
        EXPECT_TRUE(m_Dialogs->Unexpected().isEmpty()) << m_Dialogs->Unexpected().join("\n").toStdString();
        EXPECT_EQ(m_Dialogs->Pending(), 0u);
    }
    m_Dialogs.reset();
    ResetProgramFolder();
}

void TAdminTest::AddUser(const TUserRow& row) {
    auto users = OpenTable(Folder() + "sys1.dat");
    users->Insert();
    users->FieldByName("username").SetAsString(row.Name.toStdString());
    users->FieldByName("password").SetAsString(row.Password.toStdString());
    users->FieldByName("groupname").SetAsString(row.Group.toStdString());
    users->FieldByName("admin").SetAsBoolean(row.Admin);
    users->Post();
}

void TAdminTest::AddTeam() {
    AddUser({"Admin", "", "", true});
    AddUser({"bob", "", "Developers", false});
    AddUser({"carol", "SECRET", "Reporters", false});
}

void TAdminTest::ClearGroups() {
    auto groups = OpenTable(Folder() + "sys2.dat");
    while (!groups->IsEmpty()) groups->Delete();
}

QList<TUserRow> TAdminTest::Users() const {
    auto users = OpenTable(Folder() + "sys1.dat");
    users->SetIndexName("username");
    QList<TUserRow> rows;
    for (users->First(); !users->Eof(); users->Next()) {
        rows << TUserRow{Text(*users, "username"), Text(*users, "password"),
                         Text(*users, "groupname"), users->FieldByName("admin").AsBoolean()};
    }
    return rows;
}

QStringList TAdminTest::UserNames() const {
    QStringList names;
    for (const TUserRow& row : Users()) names << row.Name;
    return names;
}

QList<TGroupRow> TAdminTest::Groups() const {
    auto groups = OpenTable(Folder() + "sys2.dat");
    groups->SetIndexName("groupname");
    QList<TGroupRow> rows;
    for (groups->First(); !groups->Eof(); groups->Next()) {
        TGroupRow row{Text(*groups, "groupname"), {}};
        for (const char* f : {"submit", "edit", "delete", "close", "assign"}) {
            TField& field = groups->FieldByName(f);
            row.Rights << (field.IsNull() ? -1 : int(field.AsInteger()));
        }
        rows << row;
    }
    return rows;
}

void Click(QAbstractButton* button) {
    ASSERT_TRUE(button->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
}

void Type(QWidget* edit, const QString& text) {
    edit->setFocus();
    if (auto* line = qobject_cast<QLineEdit*>(edit)) {
        line->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
    }
    QTest::keyClicks(edit, text);
}

QStringList GridTexts(const TDBGrid* grid) {
    QStringList texts;
    const QAbstractItemModel* model = grid->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        texts << model->data(model->index(r, 0)).toString().trimmed();
    }
    return texts;
}

void ClickGridRow(TDBGrid* grid, int row) {
    const QRect cell = grid->visualRect(grid->model()->index(row, 0));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

}  // namespace veltra
