// app_screenshots: saves pictures of the program's windows for the README,
// driving the real windows with the scripted dialogs on a temporary copy of
// the staging program folder:
//
//   app_screenshots OUTPUT_FOLDER
//
// login-first-user.png (a fresh folder), main-no-log.png, main-log-open.png,
// edit-window.png (the edit window over a ticket), main-query.png (a query applied), about.png and login.png (a second start with several users). Run it under
// Xvfb (scripts/screenshots.sh) or on the offscreen platform.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "app/aboutforms.h"
#include "app/dialogs/queryform.h"
#include "app/edit/editform.h"
#include "app/forms.h"
#include "app/mainform.h"
#include "app/program_folder.h"
#include "engine/veltra_table.h"
#include "platform/qt/controls/db_navigator.h"
#include "platform/qt/dialogs/scripted_dialogs.h"
#include "users/getuserform2.h"
#include "users/user_context.h"

namespace veltra {
namespace {

bool Save(QWidget& widget, const QString& path) {
    QApplication::processEvents();
    const bool ok = widget.grab().save(path, "PNG");
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

void AddTickets(const QString& path) {
    struct TTicket {
        const char* Title;
        const char* Submitter;
        const char* State;
        int Priority;
        const char* Category;
        const char* Owner;
    };
    const TTicket tickets[] = {
        {"Printer on floor 2 jams on duplex jobs", "ed", "Open", 2, "Hardware", "dora"},
        {"Password reset mail never arrives", "dora", "Under investigation", 1, "Accounts",
         "Admin"},
        {"Quarterly report totals differ from ledger", "Admin", "Close pending", 1, "Reports",
         "dora"},
        {"New starter needs a laptop", "ed", "Closed", 3, "Hardware", "ed"},
        {"VPN drops every hour", "dora", "Open", 2, "Network", ""},
    };
    TVeltraTable table;
    table.SetTableName(path.toStdString());
    table.Open();
    for (const TTicket& t : tickets) {
        table.Insert();
        table.FieldByName("Title").SetAsString(t.Title);
        table.FieldByName("Submitter").SetAsString(t.Submitter);
        table.FieldByName("State").SetAsString(t.State);
        table.FieldByName("Priority").SetAsInteger(t.Priority);
        table.FieldByName("Category").SetAsString(t.Category);
        if (*t.Owner) table.FieldByName("Owner").SetAsString(t.Owner);
        table.FieldByName("Submit date").SetAsString("3/14/2026");
        // A formatted description, and All as the history step leaves it:
        // the description's paragraphs, then the history lines.
        const std::string body = std::string("\\pard\\b ") + t.Title +
                                 "\\b0\\par\r\n\\pard Seen by \\i " + t.Submitter +
                                 "\\i0  on the \\cf1 second\\cf0  floor.\\par\r\n";
        const std::string head =
            "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}"
            "{\\colortbl ;\\red192\\green0\\blue0;}\\f0\\fs20 ";
        const std::string history = std::string("\\pard ---- 3/14/2026 09:12 AM ") +
                                    t.Submitter + " submitted ticket\\par\r\n";
        table.FieldByName("Description").SetAsString(head + body + "\\par\r\n}\r\n");
        table.FieldByName("All").SetAsString(head + body + history + "\\par\r\n}\r\n");
        table.Post();
    }
}

int Run(const QString& out) {
    QDir().mkpath(out);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    const QDir staging(VELTRA_PROGRAM_DIR);
    for (const QString& name : staging.entryList(
             {"datamast.*", "sys1.*", "sys2.*", "veltrahelp.hlp", "faq.txt"}, QDir::Files)) {
        QFile::copy(staging.filePath(name), folder + name);
        QFile::setPermissions(folder + name, QFile::ReadOwner | QFile::WriteOwner);
    }
    QDir(folder).mkdir("data");
    SetProgramFolder(folder);
    // The window layout settings stay in the temporary folder too.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder + "config"));
    bool ok = true;

    {
        // First start: the first-user panel.
        TScriptedDialogs dialogs;
        dialogs.Drive([&](QDialog& d) {
            auto& login = static_cast<Tgetuserform2&>(d);
            ok &= Save(login, out + "/login-first-user.png");
            QTest::mouseClick(login.FirstUserOkButton(), Qt::LeftButton);
        });
        std::unique_ptr<TForms> forms = CreateForms();
        forms->mainform->show();
        QApplication::processEvents();
        QApplication::processEvents();
        ok &= Save(*forms->mainform, out + "/main-no-log.png");
        forms->mainform->close();
    }

    {
        TVeltraTable users;
        users.SetTableName((folder + "sys1.dat").toStdString());
        users.Open();
        for (const char* name : {"dora", "ed"}) {
            users.Insert();
            users.FieldByName("username").SetAsString(name);
            users.FieldByName("password").SetAsString("SECRET");
            users.FieldByName("groupname").SetAsString("Managers");
            users.Post();
        }
    }
    for (const char* ext : {".dat", ".idx", ".blb"}) {
        QFile::copy(folder + "datamast" + ext, folder + "data/Helpdesk" + ext);
    }
    QFile::copy(folder + "datamast.dat", folder + "data/Releases.dat");
    QFile::copy(folder + "datamast.idx", folder + "data/Releases.idx");
    QFile::copy(folder + "datamast.blb", folder + "data/Releases.blb");
    AddTickets(folder + "data/Helpdesk.dat");
    {
        QFile last(folder + "user.txt");
        last.open(QIODevice::WriteOnly);
        last.write("dora\r\n");
    }

    {
        // Second start: the login panel with a password.
        UserContext() = TUserContext{};
        TScriptedDialogs dialogs;
        dialogs.Drive([&](QDialog& d) {
            auto& login = static_cast<Tgetuserform2&>(d);
            QTest::keyClicks(login.PasswordEdit(), "secret");
            ok &= Save(login, out + "/login.png");
            QTest::mouseClick(login.LoginOkButton(), Qt::LeftButton);
        });
        std::unique_ptr<TForms> forms = CreateForms();
        Tmainform& main = *forms->mainform;
        main.show();
        QApplication::processEvents();
        QApplication::processEvents();
        QListWidget* list = main.FileListBox1();
        const QList<QListWidgetItem*> items = list->findItems("Helpdesk.dat", Qt::MatchExactly);
        if (!items.isEmpty()) {
            list->setCurrentItem(items.first());
            main.OpenLog("Helpdesk.dat");
        }
        main.table1().Next();
        ok &= Save(main, out + "/main-log-open.png");
        // The edit window over the current ticket, left with Cancel.
        dialogs.Drive([&](QDialog& d) {
            auto& edit = static_cast<Teditform&>(d);
            ok &= Save(edit, out + "/edit-window.png");
            QTest::mouseClick(edit.CancelButton(), Qt::LeftButton);
        });
        QTest::mouseClick(main.navigator1()->Button(TNavigateButton::Edit), Qt::LeftButton);
        // A query applied through the query builder: "Close Query" shows.
        dialogs.Drive([&](QDialog& d) {
            auto& query = static_cast<Tqueryform&>(d);
            query.SetQueryLines({"[Category] = 'Hardware'"});
            QTest::mouseClick(query.Button("Execute"), Qt::LeftButton);
        });
        QTest::mouseClick(main.querybtn(), Qt::LeftButton);
        ok &= Save(main, out + "/main-query.png");
        QTest::mouseClick(main.closequerybtn(), Qt::LeftButton);
        dialogs.Drive([&](QDialog& d) {
            ok &= Save(d, out + "/about.png");
            d.accept();
        });
        Dialogs().Exec(*forms->aboutforms);
        main.close();
    }
    ResetProgramFolder();
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace veltra

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: app_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    return veltra::Run(QString::fromLocal8Bit(argv[1]));
}
