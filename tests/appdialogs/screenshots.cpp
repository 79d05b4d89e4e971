// Pictures for the documentation: the search window over a grid whose
// current ticket it has just found, and the query builder with three lines.
//
//   appdialogs_screenshots <folder>
//
// writes <folder>/search_window.png and <folder>/query_builder.png. Runs on
// the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <cstdio>

#include "app/dialogs/cboxform.h"
#include "app/dialogs/getdateform.h"
#include "app/dialogs/queryform.h"
#include "app/dialogs/searchform.h"
#include "platform/dataset.h"
#include "platform/format_settings.h"
#include "platform/qt/controls/db_grid.h"
#include "platform/qt/dialogs/scripted_dialogs.h"
#include "tests/appdialogs/test_log.h"

namespace {

using namespace veltra;

void AddTickets(veltra_test::TTestLog& log) {
    log.Add({.Title = "Printer jams on page two",
             .Description = "Paper stuck in tray 2",
             .Category = "Hardware",
             .SubmitDate = "3/2/2026",
             .Priority = 2});
    log.Add({.Title = "Login screen freezes",
             .Description = "After the password is typed",
             .State = "Under investigation",
             .Submitter = "bob",
             .Category = "Software",
             .SubmitDate = "3/4/2026",
             .Priority = 1});
    log.Add({.Title = "Monitor flickers",
             .Description = "Only when the printer is busy",
             .Category = "Hardware",
             .SubmitDate = "3/9/2026",
             .Priority = 3});
    log.Add({.Title = "Report totals wrong",
             .Description = "Rounding in the summary",
             .State = "Closed",
             .Category = "Software",
             .SubmitDate = "3/11/2026",
             .Priority = 2});
}

bool SearchPicture(const QString& folder) {
    veltra_test::TTestLog log;
    AddTickets(log);
    log.GoTo(1);
    TDataSource source;
    source.SetDataSet(&log.Table());
    QWidget main;
    main.setWindowTitle("Veltra Log");
    auto* layout = new QVBoxLayout(&main);
    auto* grid = new TDBGrid(&main);
    grid->SetDataSource(&source);
    layout->addWidget(grid);
    main.resize(760, 260);
    main.show();

    Tsearchform search(log.Table());
    search.show();
    QTest::keyClicks(search.TextEdit(), "printer");
    QTest::mouseClick(search.FindNextButton(), Qt::LeftButton);  // ticket 3, by its description
    QApplication::processEvents();

    QPixmap picture = main.grab();
    QPainter painter(&picture);
    const QPixmap window = search.grab();
    painter.drawPixmap(picture.width() - window.width() - 24,
                       picture.height() - window.height() - 16, window);
    painter.setPen(Qt::darkGray);
    painter.drawRect(picture.width() - window.width() - 25, picture.height() - window.height() - 17,
                     window.width() + 1, window.height() + 1);
    painter.end();
    return picture.save(QDir(folder).filePath("search_window.png"));
}

bool QueryPicture(const QString& folder) {
    veltra_test::TTestLog log;
    AddTickets(log);
    Tqueryform query(log.Table(), log.ProgramFolder());
    Tgetdateform date;
    Tcboxform pick;
    query.SetInputDialogs(&date, &pick);
    query.SetFields({"[ID]", "[Title]", "[Submitter]", "[Submit date]", "[State]", "[Priority]",
                     "[Close date]", "[Category]", "[Owner]", "[Other]", "[Last update]"});
    query.PickItems = [](TQueryPickList) { return QStringList{"Open", "Closed"}; };
    query.show();
    TScriptedDialogs dialogs;
    auto add = [&](int row, const char* op) {
        query.FieldList()->setCurrentRow(row);
        QTest::mouseClick(query.Button(op), Qt::LeftButton);
    };
    dialogs.AnswerPrompt(QString("printer"));
    add(1, "=");
    dialogs.Drive([](QDialog& d) {
        auto& form = static_cast<Tcboxform&>(d);
        form.SetText("Closed");
        QTest::mouseClick(form.OkButton(), Qt::LeftButton);
    });
    add(4, "<>");
    dialogs.AnswerPrompt(QString("3"));
    add(5, "<");
    query.QueryList()->setCurrentRow(1);
    QTest::mouseClick(query.Button("AND"), Qt::LeftButton);
    query.FieldList()->setCurrentRow(0);
    QApplication::processEvents();
    return query.grab().save(QDir(folder).filePath("query_builder.png"));
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: appdialogs_screenshots <folder>\n");
        return 2;
    }
    QApplication::setFont(QFont("Arial", 9));
    InstallFormatSettings(UsFormatSettings());
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const bool ok = SearchPicture(folder) && QueryPicture(folder);
    if (!ok) std::fprintf(stderr, "could not write the pictures to %s\n", argv[1]);
    return ok ? 0 : 1;
}
