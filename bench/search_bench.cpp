// Times the real search window over a large log, for a word found nowhere,
// against SQLite's LIKE over the same titles and plain description texts.
//
//   veltra-search-bench [--n N]     (default 100,000 tickets)
//
// The log is made from the ticket template with N tickets, each with an RTF
// description; the search window (offscreen) searches it from the first
// ticket with "&Find", as a person would, and the run reports the time, the
// number of times the window let its user interface run (its progress
// reports), and the longest time between two of them, which is how long the
// window could not react to a click. SQLite gets one table of the same
// titles and the descriptions' plain text, and one
// `SELECT COUNT(*) ... WHERE title LIKE '%w%' OR description LIKE '%w%'`.
// Timings are wall-clock times of one run and are never asserted.
#include <sqlite3.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/dialogs/searchform.h"
#include "platform/format_settings.h"
#include "platform/qt/dialogs/scripted_dialogs.h"
#include "tests/appdialogs/test_log.h"

namespace {

constexpr const char* kWord = "found nowhere";

double SqliteSeconds(int n, const std::string& folder) {
    const std::string path = folder + "/search.db";
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return -1;
    sqlite3_exec(db, "PRAGMA journal_mode=wal; PRAGMA synchronous=0;", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "CREATE TABLE t(id INTEGER PRIMARY KEY, title TEXT, description TEXT)", nullptr,
                 nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t(title, description) VALUES (?, ?)", -1, &insert, nullptr);
    for (int i = 1; i <= n; ++i) {
        const std::string title = "Ticket " + std::to_string(i);
        sqlite3_bind_text(insert, 1, title.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, "Nothing to see in this ticket", -1, SQLITE_STATIC);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_stmt* count = nullptr;
    sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM t WHERE title LIKE ?1 OR description LIKE ?1", -1, &count,
                       nullptr);
    const std::string pattern = std::string("%") + kWord + "%";
    sqlite3_bind_text(count, 1, pattern.c_str(), -1, SQLITE_TRANSIENT);
    QElapsedTimer timer;
    timer.start();
    int found = -1;
    if (sqlite3_step(count) == SQLITE_ROW) found = sqlite3_column_int(count, 0);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    sqlite3_finalize(count);
    sqlite3_close(db);
    return found == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int n = 100000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--n") == 0 && i + 1 < argc) {
            n = std::max(10, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: veltra-search-bench [--n N]\n");
            return 2;
        }
    }
    using namespace veltra;
    InstallFormatSettings(UsFormatSettings());
    veltra_test::TTestLog log;
    QElapsedTimer timer;
    timer.start();
    log.AddMany(n);
    std::printf("log of %d tickets made in %.2f s\n", n, double(timer.nsecsElapsed()) / 1e9);
    log.Open();
    log.Table().First();

    TScriptedDialogs dialogs;
    Tsearchform form(log.Table());
    form.show();
    QTest::keyClicks(form.TextEdit(), kWord);
    dialogs.Answer();  // "Text not found."

    qint64 reports = 0, searched = 0;
    double longestGap = 0;
    QElapsedTimer gap;
    QObject::connect(&form, &Tsearchform::Progress, [&](qint64 done, qint64) {
        longestGap = std::max(longestGap, double(gap.nsecsElapsed()) / 1e6);
        gap.restart();
        ++reports;
        searched = done;
    });
    timer.restart();
    gap.start();
    QTest::mouseClick(form.FindButton(), Qt::LeftButton);
    const double ours = double(timer.nsecsElapsed()) / 1e9;
    const bool notFound = dialogs.Messages() == QStringList{"Text not found."};

    const double theirs = SqliteSeconds(n, log.ProgramFolder().toStdString());
    std::printf("| search of %d tickets for a word found nowhere | %.3f s | %.3f s | %.2f |\n", n, ours, theirs,
                theirs > 0 ? ours / theirs : 0.0);
    std::printf("the window let its user interface run %lld times (last report at ticket %lld); "
                "longest time without: %.1f ms\n",
                static_cast<long long>(reports), static_cast<long long>(searched), longestGap);
    if (!notFound || theirs < 0) {
        std::printf("FAILED: %s\n", notFound ? "SQLite found the word" : "the window did not say \"Text not found.\"");
        return 1;
    }
    return 0;
}
