// TReport: a banded report bound to a dataset cursor, painted with QPainter
// onto a QPrinter. One painting routine serves the on-screen preview, the
// printer and PDF files.
//
// A run moves the dataset to its first record and prints, for every record
// up to the last one in the dataset's current order:
//   the detail band (a new page first when its NewPage flag is set and it is
//   not the first band of the page, or when it does not fit the rest of the
//   page), then the child band, if any.
// Every page starts with the page-start hook (which may change band heights
// and items) and then the column-heading band, if any. A dataset with no
// record, or none at all, still gives one page: the hook and the heading.
//
// Page: the paper, orientation and margins given (US Letter, half-inch
// margins by default); geometry in pixels at 96 per inch from the top-left
// corner inside the margins. The printer's resolution is set to 96 so that
// report pixels are device pixels.
//
// Errors: whatever the dataset raises while the report moves through it
// (engine errors) leaves the run; the output printed so far is aborted.
//
// Thread: the user-interface thread only.
#pragma once

#include <QFont>
#include <QPageLayout>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/qt/report/report_items.h"

class QPrinter;
class QWidget;

namespace veltra {

class TDataSet;

// Reports the progress of printing to the printer or to a file and lets the
// user cancel it. Begin is called once with the number of records (-1 when
// unknown), Step after each record; Step returning false cancels the run.
class TReportProgress {
public:
    virtual ~TReportProgress() = default;
    virtual void Begin(int64_t total) = 0;
    virtual bool Step(int64_t done) = 0;
    virtual void End() = 0;
};

class TReport {
public:
    TReport();
    ~TReport();
    TReport(const TReport&) = delete;
    TReport& operator=(const TReport&) = delete;

    // The dataset the report runs through; not owned. nullptr or a closed
    // dataset prints the empty page.
    TDataSet* DataSet = nullptr;

    QPageLayout::Orientation Orientation = QPageLayout::Portrait;
    QFont DefaultFont;  // Arial, 13 pixels
    QString Title;      // the document's name (preview caption, print job, PDF title)

    // The bands: the heading and the child band print only when their flag is set.
    TReportBand ColumnHeader;
    bool HasColumnHeader = false;
    TReportBand Detail;
    TReportBand Child;
    bool HasChild = false;

    // Called at the start of every page, before anything of it is printed.
    std::function<void(TReport&)> OnStartPage;
    // Called when the preview window has closed (after Preview returns).
    std::function<void(TReport&)> OnPreviewClosed;

    // The page's size inside the margins, in report pixels.
    int PageWidth() const;
    int PageHeight() const;

    // Sets the printer's page layout (paper, orientation, margins), its
    // resolution (96) and document name for this report.
    void SetUpPrinter(QPrinter& printer) const;

    // Paints every page onto printer, which must be set up (SetUpPrinter)
    // and not yet painted on. progress (optional, not owned) may cancel:
    // then the printer is aborted (Cancelled). Failed when the printer
    // cannot be painted on (a file that cannot be written). Dataset errors
    // propagate after the printer is aborted.
    enum class TPaintResult { Printed, Cancelled, Failed };
    TPaintResult Paint(QPrinter& printer, TReportProgress* progress = nullptr);

    // Shows the preview window through the dialogs service (Dialogs().Exec)
    // so tests can drive it. Its tool bar offers printing and "Save as PDF".
    // OnPreviewClosed runs when it has closed.
    void Preview(QWidget* parent);

    // Prints straight to the default printer, showing progress. On a
    // machine without a printer the user is told so and offered to save the
    // printout as a PDF file instead (SaveAsPdf).
    void Print(QWidget* parent);

    // Asks for a file name (the dialogs service's save dialog) and writes the
    // report as PDF there, showing progress. False when the user cancelled
    // or the file could not be written (the user is told).
    bool SaveAsPdf(QWidget* parent);

    // Writes the report as a PDF file without asking; false when cancelled
    // through progress or when the file cannot be written (no partial file
    // is left behind).
    bool PrintToPdf(const QString& path, TReportProgress* progress = nullptr);

    // The name of the default printer, empty when the machine has none.
    // Replaceable so that tests never reach a real printer.
    std::function<QString()> DefaultPrinterName;
    // Makes the progress shown while printing; by default a progress window
    // with a Cancel button. Replaceable for tests.
    std::function<std::unique_ptr<TReportProgress>(QWidget* parent)> MakeProgress;

private:
    // The preview's print button: the print dialog for the default printer,
    // or the offer of a PDF file on a machine without one.
    void PrintWithDialog(QWidget* parent);
    // Paints on a set-up printer with progress; a printer that cannot be
    // opened is reported.
    void PrintOn(QPrinter& printer, QWidget* parent);
    // PrintToPdf's work; a cancelled or failed file is removed.
    TPaintResult WritePdf(const QString& path, TReportProgress* progress);
};

// The texts the report shows the user.
inline constexpr const char* kNoPrinterMessage =
    "No printer is installed. Save the printout as a PDF file instead?";
inline constexpr const char* kPdfWriteFailedMessage = "The PDF file could not be written: ";
inline constexpr const char* kPrinterFailedMessage = "The printer could not be opened.";
inline constexpr const char* kSaveAsPdfCaption = "Save as PDF";
inline constexpr const char* kPdfFilter = "PDF files (*.pdf)";

}  // namespace veltra
