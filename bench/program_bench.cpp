// Times the program itself, through its real main window (offscreen), on a
// large log against a small one, so that the ratios hold on a busy machine:
//
//   veltra-program-bench [--n N] [--small-n M]   (default 100,000 and 100)
//
// For each log size, in a temporary team folder made from the staging
// program folder, with the administrator logged in through the real login
// window (each step the median of seven rounds, undone between rounds):
//   open     opening the log from the log list until the grid has painted
//            its first screen
//   last     Ctrl+End in the grid until the last row is current and painted
//   sort     choosing the "Title" sort order in the top bar
//   query    applying a query that leaves 1% of the tickets (one category
//            of a hundred) through the query builder
//   qlast    Ctrl+End under that query
//   scroll   Page Down from the first row to the last (large log only, at
//            most 10,000 pages), then the process's peak resident memory
//
// Each ticket has a title, a state, a category and a short RTF description.
// The small log runs twice and the first round is not reported: it pays for
// what the first window of a process loads once.
// Timings are wall-clock times of one run and are never asserted.
#include <sys/resource.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/dialogs/queryform.h"
#include "app/forms.h"
#include "app/mainform.h"
#include "app/program_folder.h"
#include "engine/veltra_table.h"
#include "platform/format_settings.h"
#include "platform/qt/controls/db_grid.h"
#include "platform/qt/dialogs/scripted_dialogs.h"
#include "users/getuserform2.h"
#include "users/user_context.h"

namespace {

using namespace veltra;

const char* const kWords[] = {"printer", "network", "mail",  "disk",   "login", "screen",
                              "backup",  "update",  "slow",  "broken", "new",   "user",
                              "report",  "server",  "crash", "office", "phone", "access"};
const char* const kStates[] = {"Open", "Assigned", "Fixed", "Closed"};

struct TTimes {
    double Open = 0, Last = 0, Sort = 0, Query = 0, QueryLast = 0, Scroll = 0;
    int QueryRows = 0, Pages = 0;
    bool ScrolledToEnd = false;
};

double Seconds(const QElapsedTimer& timer) { return double(timer.nsecsElapsed()) / 1e9; }

bool CopyProgramFolder(const QString& to) {
    const QDir staging(VELTRA_PROGRAM_DIR);
    for (const QString& name : staging.entryList(
             {"datamast.*", "sys1.*", "sys2.*", "veltrahelp.hlp", "faq.txt"}, QDir::Files)) {
        if (!QFile::copy(staging.filePath(name), to + name)) return false;
        QFile::setPermissions(to + name, QFile::ReadOwner | QFile::WriteOwner);
    }
    return QDir(to).mkdir("data");
}

void AddAdministrator(const QString& folder) {
    TVeltraTable users;
    users.SetTableName((folder + "sys1.dat").toStdString());
    users.Open();
    users.Insert();
    users.FieldByName("username").SetAsString("Admin");
    users.FieldByName("admin").SetAsBoolean(true);
    users.Post();
    users.Close();
}

void MakeLog(const QString& folder, int n) {
    for (const char* ext : {".dat", ".idx", ".blb"})
        QFile::copy(folder + "datamast" + ext, folder + "data/log" + ext);
    TVeltraTable t;
    t.SetTableName((folder + "data/log.dat").toStdString());
    t.SetExclusive(true);
    t.Open();
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8); };
    for (int i = 0; i < n; ++i) {
        std::string title;
        const int words = 3 + int(next() % 6);
        for (int w = 0; w < words; ++w) title += std::string(w ? " " : "") + kWords[next() % 18];
        t.Insert();
        t.FieldByName("Title").SetAsString(title);
        t.FieldByName("Submitter").SetAsString("ann");
        t.FieldByName("State").SetAsString(kStates[next() % 4]);
        t.FieldByName("Priority").SetAsInteger(1 + int(next() % 5));
        t.FieldByName("Category").SetAsString("Cat" + std::to_string(i % 100));
        t.WriteBlob(t.FieldByName("Description"),
                    "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 Ticket " + std::to_string(i) +
                        ": " + title + "\\par}");
        t.Post();
    }
    t.Close();
}

// Lets queued work (the grid's repaint) run and paints the grid now.
void Settle(Tmainform& main) {
    QApplication::processEvents();
    main.DBGrid1()->viewport()->repaint();
}

constexpr int kRounds = 7;

// Runs undo() then step() kRounds times; the median time of step.
template <class U, class S>
double Median(U undo, S step) {
    std::vector<double> times;
    for (int i = 0; i < kRounds; ++i) {
        undo();
        QElapsedTimer timer;
        timer.start();
        step();
        times.push_back(Seconds(timer));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void KeyAndSettle(Tmainform& main, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(main.DBGrid1(), key, modifiers);
    Settle(main);
}

// Chooses a sort order in the top bar as a click in its list does.
void ChooseSort(Tmainform& main, int entry) {
    main.ComboBox1()->setCurrentIndex(entry);
    emit main.ComboBox1()->activated(entry);
    Settle(main);
}

TTimes Run(int n, bool scroll) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    if (!CopyProgramFolder(folder)) {
        std::fprintf(stderr, "cannot copy the staging program folder %s\n", VELTRA_PROGRAM_DIR);
        std::exit(1);
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder + "config"));
    AddAdministrator(folder);
    std::fprintf(stderr, "making a log of %d tickets...\n", n);
    MakeLog(folder, n);
    ResetProgramFolder();
    SetProgramFolder(folder);
    UserContext() = TUserContext{};
    CurrentRights() = TRights{};

    TScriptedDialogs dialogs;
    dialogs.Drive([](QDialog& d) {
        auto& login = static_cast<Tgetuserform2&>(d);
        login.UserBox()->setCurrentIndex(login.UserBox()->findText("Admin"));
        QTest::mouseClick(login.LoginOkButton(), Qt::LeftButton);
    });
    std::unique_ptr<TForms> forms = CreateForms();
    Tmainform& main = *forms->mainform;
    main.resize(1000, 700);
    main.show();
    for (int i = 0; i < 10 && !main.ShowStepDone(); ++i) QApplication::processEvents();
    if (main.Ended()) {
        std::fprintf(stderr, "the login failed\n");
        std::exit(1);
    }
    TDBGrid* grid = main.DBGrid1();
    QComboBox* sort = main.ComboBox1();
    TTimes times;
    // Each step is timed kRounds times, undone between rounds, and the
    // median is reported: one slow round on a busy machine does not decide.
    times.Open = Median(
        [&] {
            main.CloseLog();
            Settle(main);
        },
        [&] {
            main.OpenLog("log.dat");
            Settle(main);
        });
    grid->setFocus();
    times.Last = Median([&] { KeyAndSettle(main, Qt::Key_Home, Qt::ControlModifier); },
                        [&] { KeyAndSettle(main, Qt::Key_End, Qt::ControlModifier); });
    times.Sort = Median([&] { ChooseSort(main, sort->findText("ID")); },
                        [&] { ChooseSort(main, sort->findText("Title")); });
    times.Query = Median(
        [&] {
            QTest::mouseClick(main.closequerybtn(), Qt::LeftButton);
            Settle(main);
        },
        [&] {
            dialogs.Drive([](QDialog& d) {
                auto& query = static_cast<Tqueryform&>(d);
                query.SetQueryLines({"[Category] = 'Cat7'"});
                QTest::mouseClick(query.Button("Execute"), Qt::LeftButton);
            });
            QTest::mouseClick(main.querybtn(), Qt::LeftButton);
            Settle(main);
        });
    times.QueryRows = grid->model()->rowCount();
    grid->setFocus();
    times.QueryLast = Median([&] { KeyAndSettle(main, Qt::Key_Home, Qt::ControlModifier); },
                             [&] { KeyAndSettle(main, Qt::Key_End, Qt::ControlModifier); });

    if (scroll) {
        QTest::mouseClick(main.closequerybtn(), Qt::LeftButton);
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier);
        Settle(main);
        QElapsedTimer timer;
        timer.start();
        const int rows = grid->model()->rowCount();
        for (times.Pages = 0; times.Pages < 10000 && grid->currentIndex().row() < rows - 1;
             ++times.Pages) {
            QTest::keyClick(grid, Qt::Key_PageDown);
            Settle(main);
        }
        times.Scroll = Seconds(timer);
        times.ScrolledToEnd = grid->currentIndex().row() == rows - 1;
    }
    if (!dialogs.Unexpected().isEmpty()) {
        std::fprintf(stderr, "unexpected dialogs: %s\n",
                     qPrintable(dialogs.Unexpected().join("; ")));
    }
    forms.reset();
    ResetProgramFolder();
    return times;
}

}  // namespace

int main(int argc, char** argv) {
    int large = 100000, small = 100;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--n") == 0 && i + 1 < argc) {
            large = std::max(100, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--small-n") == 0 && i + 1 < argc) {
            small = std::max(10, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: veltra-program-bench [--n N] [--small-n M]\n");
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallUserFormatSettings();
    // A first round warms up what any first window pays once (fonts, style,
    // plugins), so that it is not counted against the small log.
    Run(small, false);
    const TTimes s = Run(small, false);
    const TTimes l = Run(large, true);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("| step | %d tickets | %d tickets | large/small |\n|---|---:|---:|---:|\n", small,
                large);
    std::printf("| open the log until the grid shows its first screen | %.4f s | %.4f s | %.2f |\n",
                s.Open, l.Open, ratio(l.Open, s.Open));
    std::printf("| Ctrl+End to the last row | %.4f s | %.4f s | %.2f |\n", s.Last, l.Last,
                ratio(l.Last, s.Last));
    std::printf("| change the sort order to Title | %.4f s | %.4f s | %.2f |\n", s.Sort, l.Sort,
                ratio(l.Sort, s.Sort));
    std::printf("| apply a query leaving 1%% (%d and %d rows) | %.4f s | %.4f s | %.2f |\n",
                s.QueryRows, l.QueryRows, s.Query, l.Query, ratio(l.Query, s.Query));
    std::printf("| Ctrl+End under the query | %.4f s | %.4f s | %.2f |\n", s.QueryLast, l.QueryLast,
                ratio(l.QueryLast, s.QueryLast));
    std::printf("\nscrolled the %d-ticket log %s: %d pages in %.2f s (%.2f ms a page)\n", large,
                l.ScrolledToEnd ? "end to end" : "(stopped before its end)", l.Pages, l.Scroll,
                l.Pages ? l.Scroll * 1000 / l.Pages : 0.0);
    std::printf("peak resident memory of the process: %.1f MB\n", double(usage.ru_maxrss) / 1024.0);
    return 0;
}
