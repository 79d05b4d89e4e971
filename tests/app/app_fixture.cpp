#include "tests/app/app_fixture.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "app/mainform.h"
#include "app/program_folder.h"
#include "engine/veltra_table.h"
#include "users/getuserform2.h"
#include "users/user_context.h"

namespace veltra {

namespace {

// The staging folder's tables (a table without BLOB fields has no .blb),
// the help file and the FAQ.
const QStringList kProgramFiles = {"datamast.*", "sys1.*", "sys2.*", "veltrahelp.hlp", "faq.txt"};

}  // namespace

void TAppTest::SetUp() {
    // A new folder each time: table-driven tests set up again per case.
    m_Forms.reset();
    m_Dir = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(m_Dir->isValid());
    m_Folder = m_Dir->path() + "/";
    const QDir staging(VELTRA_PROGRAM_DIR);
    const QStringList names = staging.entryList(kProgramFiles, QDir::Files);
    ASSERT_TRUE(names.contains("sys1.dat") && names.contains("datamast.idx"));
    for (const QString& name : names) {
        ASSERT_TRUE(QFile::copy(staging.filePath(name), m_Folder + name)) << name.toStdString();
        QFile::setPermissions(m_Folder + name, QFile::ReadOwner | QFile::WriteOwner);
    }
    ASSERT_TRUE(QDir(m_Folder).mkdir("data"));
    // The window layout settings go to the test's own configuration folder.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_Folder + "config"));
    SetProgramFolder(m_Folder);
    UserContext() = TUserContext{};
    CurrentRights() = TRights{};
}

void TAppTest::TearDown() {
    m_Forms.reset();
    ResetProgramFolder();
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty()) << m_Dialogs.Unexpected().join("\n").toStdString();
}

void TAppTest::AddUsers(const std::vector<TTestUser>& users) {
    TVeltraTable table;
    table.SetTableName((m_Folder + "sys1.dat").toStdString());
    table.Open();
    for (const TTestUser& user : users) {
        table.Insert();
        table.FieldByName("username").SetAsString(user.Name.toStdString());
        table.FieldByName("password").SetAsString(user.Password.toStdString());
        table.FieldByName("groupname").SetAsString(user.Group.toStdString());
        table.FieldByName("admin").SetAsBoolean(user.Admin);
        table.Post();
    }
    table.Close();
}

QStringList TAppTest::UserRows() {
    TVeltraTable table;
    table.SetTableName((m_Folder + "sys1.dat").toStdString());
    table.Open();
    table.SetIndexName("username");
    QStringList rows;
    for (table.First(); !table.Eof(); table.Next()) {
        rows << QString::fromStdString(table.FieldByName("username").AsString() + "|" +
                                       table.FieldByName("password").AsString() + "|" +
                                       table.FieldByName("groupname").AsString() + "|" +
                                       (table.FieldByName("admin").AsBoolean() ? "true" : "false"));
    }
    return rows;
}

void TAppTest::WriteFile(const QString& name, const QByteArray& content) {
    QFile file(m_Folder + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QString TAppTest::LayoutFile() const { return m_Folder + "config/veltra-log/kesh_1_1.ini"; }

QByteArray TAppTest::ReadFile(const QString& name) const {
    QFile file(m_Folder + name);
    if (!file.open(QIODevice::ReadOnly)) return "<missing>";
    return file.readAll();
}

void TAppTest::MakeLog(const QString& name, const std::vector<TTestTicket>& tickets) {
    for (const char* ext : {".dat", ".idx", ".blb"}) {
        ASSERT_TRUE(QFile::copy(m_Folder + "datamast" + ext, Data() + name + ext));
    }
    TVeltraTable table;
    table.SetTableName((Data() + name + ".dat").toStdString());
    table.Open();
    for (const TTestTicket& ticket : tickets) {
        table.Insert();
        table.FieldByName("Title").SetAsString(ticket.Title.toStdString());
        table.FieldByName("Submitter").SetAsString(ticket.Submitter.toStdString());
        table.FieldByName("State").SetAsString("Open");
        if (!ticket.Owner.isEmpty()) table.FieldByName("Owner").SetAsString(ticket.Owner.toStdString());
        table.Post();
    }
    table.Close();
}

void TAppTest::Start(std::function<void(Tgetuserform2&)> login, int answers) {
    m_Dialogs.Drive([login](QDialog& dialog) { login(static_cast<Tgetuserform2&>(dialog)); });
    for (int i = 0; i < answers; ++i) m_Dialogs.Answer();
    m_Forms = CreateForms();
    Main().show();
    // The show step runs queued after the first show.
    for (int i = 0; i < 5 && !Main().Ended() && m_Dialogs.Pending() > 0; ++i) {
        QApplication::processEvents();
    }
    QApplication::processEvents();
}

void TAppTest::StartAs(const QString& user, const QString& password, int answers) {
    Start([user, password](Tgetuserform2& login) { LoginAs(login, user, password); }, answers);
}

void TAppTest::OpenFromList(const QString& fileName) {
    QListWidget* list = Main().FileListBox1();
    const QList<QListWidgetItem*> items = list->findItems(fileName, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << fileName.toStdString();
    const QRect rect = list->visualItemRect(items.first());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

void LoginAs(Tgetuserform2& login, const QString& name, const QString& password) {
    QComboBox* box = login.UserBox();
    box->setFocus();
    // Choose with the keyboard, as a person would: Home, then Down until the
    // name shows.
    QTest::keyClick(box, Qt::Key_Home);
    for (int i = 0; i < box->count() && box->currentText() != name; ++i) {
        QTest::keyClick(box, Qt::Key_Down);
    }
    ASSERT_EQ(box->currentText(), name);
    if (!password.isEmpty()) QTest::keyClicks(login.PasswordEdit(), password);
    QTest::mouseClick(login.LoginOkButton(), Qt::LeftButton);
}

}  // namespace veltra
