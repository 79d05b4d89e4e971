// Renders the detail page and the summary of a small log to PNG files for
// the documentation: print_screenshots OUTPUT_FOLDER writes
// print-detail.png and print-summary.png there (through pdftoppm).
#include <QApplication>
#include <QDir>
#include <QProcess>
#include <cstdio>
#include <filesystem>

#include "platform/format_settings.h"
#include "platform/qt/dialogs/scripted_dialogs.h"
#include "platform/rtf/rtf.h"
#include "print/forms/pform.h"
#include "print/forms/pform2.h"
#include <QTemporaryDir>

using namespace veltra;

namespace {

struct TSample {
    const char* Title;
    const char* Submitter;
    const char* Date;
    const char* State;
    int Priority;
    const char* Category;
    const char* Owner;
    const char* Description;
};

const TSample kSamples[] = {
    {"Printer on floor 2 jams on duplex jobs", "ann", "3/2/2026", "Open", 2, "Hardware", "bob",
     "Every duplex job longer than ten pages jams at the fuser. Single-sided jobs print "
     "fine. The tray was replaced last month."},
    {"VPN drops every hour", "carl", "3/4/2026", "Under investigation", 1, "Network", "dora",
     "The client reconnects after about a minute; the log shows a renegotiation failure."},
    {"New starter needs a laptop", "emil", "3/9/2026", "Close pending", 3, "Purchase", "ann",
     "Standard developer laptop with docking station."},
    {"Shared calendar shows wrong time zone", "dora", "3/11/2026", "Closed", 3, "Software",
     "carl", "Fixed by setting the server's zone."},
};

std::string Rtf(const std::string& text) {
    return WriteRtf(ReadRtf("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 " + text + "\\par}"));
}

bool Render(const QString& pdf, const QString& png) {
    QProcess process;
    process.start("pdftoppm", {"-png", "-r", "70", "-singlefile", "-f", "1", "-l", "1", pdf,
                               png.chopped(4)});
    return process.waitForFinished(60000) && process.exitCode() == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: print_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);
    InstallFormatSettings(UsFormatSettings());
    QTemporaryDir temp;
    const std::filesystem::path dir = temp.path().toStdString();
    for (const char* ext : {".dat", ".idx", ".blb"})
        std::filesystem::copy_file(std::string(VELTRA_PROGRAM_DIR) + "/datamast" + ext,
                                   dir / (std::string("log") + ext));
    TVeltraTable main;
    main.SetTableName((dir / "log.dat").string());
    main.SetIndexName("ID");
    main.Open();
    for (const TSample& s : kSamples) {
        main.Insert();
        main.FieldByName("Title").SetAsString(s.Title);
        main.FieldByName("Submitter").SetAsString(s.Submitter);
        main.FieldByName("Submit date").SetAsString(s.Date);
        main.FieldByName("State").SetAsString(s.State);
        main.FieldByName("Priority").SetAsInteger(s.Priority);
        main.FieldByName("Category").SetAsString(s.Category);
        main.FieldByName("Owner").SetAsString(s.Owner);
        const std::string history = std::string("\\par \\par Change History\\par ") + s.Date +
                                    " at 9:12:44 AM " + s.Submitter + " submitted ticket";
        main.WriteBlob(main.FieldByName("Description"), Rtf(s.Description));
        main.WriteBlob(main.FieldByName("All"), Rtf(std::string(s.Description) + history));
        main.Post();
    }
    main.First();

    QList<TGridColumn> columns;
    const std::pair<const char*, int> grid[] = {
        {"ID", 55},      {"Title", 267},   {"Submitter", 70}, {"Submit date", 81},
        {"State", 125},  {"Priority", 50}, {"Close date", 70}, {"Category", 80},
        {"Owner", 60},   {"Other", 120},   {"Last update", 70}};
    for (const auto& [field, width] : grid)
        columns.append({field, field, width, QString(field) != "Other" && QString(field) != "Last update"});
    const TPrintView view{&main, columns, false, true};

    // The prints go the way they go on a machine without a printer: the
    // offer of a PDF file, accepted.
    TScriptedDialogs dialogs;
    Tpform detail;
    Tpform2 summary;
    for (TReport* report : {&detail.Report(), &summary.Report()}) {
        report->DefaultPrinterName = [] { return QString(); };
        report->MakeProgress = nullptr;
    }
    const QString detailPdf = QString::fromStdString((dir / "detail.pdf").string());
    const QString summaryPdf = QString::fromStdString((dir / "summary.pdf").string());
    dialogs.Answer(TMessageAnswer::Yes).AnswerSaveFile(detailPdf);
    detail.PrintDetail(view, true);
    dialogs.Answer(TMessageAnswer::Yes).AnswerSaveFile(summaryPdf);
    summary.PrintSummary(view);

    const bool ok = Render(detailPdf, out + "/print-detail.png") &&
                    Render(summaryPdf, out + "/print-summary.png");
    if (!ok || !dialogs.Unexpected().isEmpty()) {
        std::fprintf(stderr, "print_screenshots: rendering failed\n");
        return 1;
    }
    return 0;
}
