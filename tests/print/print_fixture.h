// Shared fixture of the printing tests: a log made from the program's ticket
// template in a temporary folder, the main table holding it, the grid's
// initial columns, the scripted dialogs service, and readers of the PDF
// files the prints write (poppler's pdftotext -bbox and pdfinfo).
#pragma once

#include <gtest/gtest.h>

#include <QList>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "engine/veltra_table.h"
#include "platform/qt/controls/db_grid.h"
#include "platform/qt/dialogs/scripted_dialogs.h"
#include "platform/qt/report/report.h"
#include <QTemporaryDir>
#include <filesystem>

namespace veltra_test {

// A temporary folder removed with everything in it at the end.
class TTempDir {
public:
    std::string operator/(const std::string& name) const { return (Path() / name).string(); }
    std::filesystem::path Path() const { return m_Dir.path().toStdString(); }

private:
    QTemporaryDir m_Dir;
};

// One word of a PDF page, in points from the page's top-left corner.
struct TPdfWord {
    int Page = 0;  // 1-based
    QString Text;
    double XMin = 0, YMin = 0, XMax = 0, YMax = 0;
};

struct TPdfInfo {
    int Pages = 0;
    double Width = 0, Height = 0;  // of the first page, in points
};

// The words of every page of a PDF file, in reading order.
std::vector<TPdfWord> PdfWords(const QString& path);
TPdfInfo PdfInfo(const QString& path);
// The words of one page joined by blanks.
QString PageText(const std::vector<TPdfWord>& words, int page);
// The first word equal to text (on `page` when not 0); nullptr when none.
const TPdfWord* FindWord(const std::vector<TPdfWord>& words, const QString& text, int page = 0);
// How many times a word occurs in the whole file.
int CountWord(const std::vector<TPdfWord>& words, const QString& text);

// Report pixels (96 per inch) from the page's edge with the half-inch
// margin, in points (72 per inch).
inline double PixelsToPoints(double pixels) { return 36 + pixels * 0.75; }

struct TTicket {
    std::string Title;
    std::string Submitter = "ann";
    std::string State = "Open";
    int Priority = 2;
    std::string Category = "Hardware";
    std::string Owner = "bob";
    std::string Other;
    std::string Description;  // plain words; each "\n" starts a paragraph
    std::string History;      // plain words appended to All after the description
};

// An RTF document of the paragraphs of `text` (split at "\n").
std::string RtfOf(const std::string& text);

class TPrintTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds tickets to the log through the main table (IDs 1, 2, ...), with
    // Submit date 3/14/2026; the main table is left on the first ticket.
    void AddTickets(const std::vector<TTicket>& tickets);
    // The grid's initial columns: eleven fields, Other and Last update hidden.
    static QList<veltra::TGridColumn> InitialColumns();
    // Columns with only the named fields visible, in the initial order.
    static QList<veltra::TGridColumn> OnlyVisible(const QStringList& fields);

    // Scripts the answers that turn a straight print on this machine without
    // a printer into a PDF file: Yes to the offer, then the file name.
    // Returns the file's path.
    QString ExpectPdfOffer(const QString& name);
    // Makes a report print as on a machine without a printer.
    static void NoPrinter(veltra::TReport& report);

    // What a print must leave untouched in the main table.
    struct TMainState {
        std::string Index, Filter;
        bool Filtered = false;
        int64_t RecNo = 0;
        veltra::TDataSetState State = veltra::TDataSetState::Inactive;
        bool operator==(const TMainState&) const = default;
    };
    TMainState MainState();

    TTempDir m_Dir;
    veltra::TVeltraTable m_Main;
    veltra::TScriptedDialogs m_Dialogs;
};

}  // namespace veltra_test
