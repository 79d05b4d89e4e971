// Page set-up and the ways to run a report: preview, printer, PDF file.
#include "platform/qt/report/report.h"

#include <QAction>
#include <QFile>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProgressDialog>
#include <QToolBar>

#include "platform/qt/app/application.h"
#include "platform/qt/dialogs/dialogs.h"

namespace veltra {
namespace {

constexpr double kMarginInches = 0.5;
constexpr double kPixelsPerInch = 96;

// The progress window of a long print: record n of m, with Cancel.
class TProgressWindow : public TReportProgress {
public:
    explicit TProgressWindow(QWidget* parent) : m_Dialog("Printing...", "Cancel", 0, 0, parent) {
        m_Dialog.setWindowTitle("Printing");
        m_Dialog.setWindowModality(Qt::WindowModal);
        m_Dialog.setMinimumDuration(500);
        m_Dialog.setAutoClose(false);
        m_Dialog.setAutoReset(false);
    }
    void Begin(int64_t total) override {
        m_Dialog.setMaximum(total > 0 ? int(std::min<int64_t>(total, INT32_MAX)) : 0);
        m_Dialog.setValue(0);
    }
    bool Step(int64_t done) override {
        m_Dialog.setValue(int(std::min<int64_t>(done, m_Dialog.maximum())));
        return !m_Dialog.wasCanceled();
    }
    void End() override { m_Dialog.hide(); }

private:
    QProgressDialog m_Dialog;
};

// Paints the report for the preview; an error leaving the painting is shown
// in the error box, as Qt's signal cannot carry it.
void PaintGuarded(TReport& report, QPrinter& printer) {
    RunGuarded([&] { report.Paint(printer); });
}

}  // namespace

TReport::TReport() {
    DefaultFont = QFont("Arial");
    DefaultFont.setPixelSize(13);
    DefaultPrinterName = [] { return QPrinterInfo::defaultPrinterName(); };
    MakeProgress = [](QWidget* parent) -> std::unique_ptr<TReportProgress> {
        return std::make_unique<TProgressWindow>(parent);
    };
}

TReport::~TReport() = default;

int TReport::PageWidth() const {
    const QSizeF paper = QPageSize(QPageSize::Letter).size(QPageSize::Inch);
    const double inches = Orientation == QPageLayout::Portrait ? paper.width() : paper.height();
    return qRound((inches - 2 * kMarginInches) * kPixelsPerInch);
}

int TReport::PageHeight() const {
    const QSizeF paper = QPageSize(QPageSize::Letter).size(QPageSize::Inch);
    const double inches = Orientation == QPageLayout::Portrait ? paper.height() : paper.width();
    return qRound((inches - 2 * kMarginInches) * kPixelsPerInch);
}

void TReport::SetUpPrinter(QPrinter& printer) const {
    const QMarginsF margins(kMarginInches, kMarginInches, kMarginInches, kMarginInches);
    const QPageLayout layout(QPageSize(QPageSize::Letter), Orientation, margins,
                             QPageLayout::Inch);
    if (!printer.setPageLayout(layout)) {
        // A printer whose hardware margins are wider keeps its own; the
        // paper and orientation are still ours.
        printer.setPageSize(QPageSize(QPageSize::Letter));
        printer.setPageOrientation(Orientation);
        printer.setPageMargins(margins, QPageLayout::Inch);
    }
    printer.setFullPage(false);
    printer.setResolution(int(kPixelsPerInch));
    printer.setDocName(Title);
    printer.setCreator("Veltra Log");
}

void TReport::Preview(QWidget* parent) {
    QPrinter printer(QPrinter::HighResolution);
    SetUpPrinter(printer);
    QPrintPreviewDialog dialog(&printer, parent);
    dialog.setWindowTitle(Title.isEmpty() ? QString("Print Preview") : Title);
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested,
                     [this](QPrinter* target) { PaintGuarded(*this, *target); });
    if (auto* bar = dialog.findChild<QToolBar*>()) {
        // Qt's own print button would run its own dialogs; ours go through
        // the dialogs service and know the machine without a printer.
        for (QAction* action : bar->actions()) {
            if (action->text() != "Print") continue;
            action->disconnect();
            QObject::connect(action, &QAction::triggered, &dialog,
                             Guarded([this, &dialog](bool) { PrintWithDialog(&dialog); }));
        }
        bar->addSeparator();
        QAction* pdf = bar->addAction(kSaveAsPdfCaption);
        pdf->setObjectName("saveAsPdfAction");
        pdf->setToolTip(kSaveAsPdfCaption);
        QObject::connect(pdf, &QAction::triggered, &dialog,
                         Guarded([this, &dialog](bool) { SaveAsPdf(&dialog); }));
    }
    Dialogs().Exec(dialog);
    if (OnPreviewClosed) OnPreviewClosed(*this);
}

void TReport::PrintWithDialog(QWidget* parent) {
    const QString name = DefaultPrinterName ? DefaultPrinterName() : QString();
    if (name.isEmpty()) {
        if (Dialogs().ConfirmYesNo(parent, kNoPrinterMessage)) SaveAsPdf(parent);
        return;
    }
    QPrinter printer(QPrinterInfo::printerInfo(name), QPrinter::HighResolution);
    SetUpPrinter(printer);
    QPrintDialog dialog(&printer, parent);
    if (Dialogs().Exec(dialog) != QDialog::Accepted) return;
    PrintOn(printer, parent);
}

void TReport::Print(QWidget* parent) {
    const QString name = DefaultPrinterName ? DefaultPrinterName() : QString();
    if (name.isEmpty()) {
        if (Dialogs().ConfirmYesNo(parent, kNoPrinterMessage)) SaveAsPdf(parent);
        return;
    }
    QPrinter printer(QPrinterInfo::printerInfo(name), QPrinter::HighResolution);
    SetUpPrinter(printer);
    PrintOn(printer, parent);
}

void TReport::PrintOn(QPrinter& printer, QWidget* parent) {
    std::unique_ptr<TReportProgress> progress = MakeProgress ? MakeProgress(parent) : nullptr;
    if (Paint(printer, progress.get()) == TPaintResult::Failed)
        Dialogs().Error(parent, kPrinterFailedMessage);
}

bool TReport::SaveAsPdf(QWidget* parent) {
    const std::optional<QString> path =
        Dialogs().SaveFileName(parent, kSaveAsPdfCaption, QString(), kPdfFilter, "pdf");
    if (!path) return false;
    std::unique_ptr<TReportProgress> progress = MakeProgress ? MakeProgress(parent) : nullptr;
    switch (WritePdf(*path, progress.get())) {
        case TPaintResult::Printed: return true;
        case TPaintResult::Cancelled: return false;
        case TPaintResult::Failed: break;
    }
    Dialogs().Error(parent, kPdfWriteFailedMessage + *path);
    return false;
}

bool TReport::PrintToPdf(const QString& path, TReportProgress* progress) {
    return WritePdf(path, progress) == TPaintResult::Printed;
}

TReport::TPaintResult TReport::WritePdf(const QString& path, TReportProgress* progress) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    SetUpPrinter(printer);
    TPaintResult result;
    try {
        result = Paint(printer, progress);
    } catch (...) {
        QFile::remove(path);  // the painting had begun: the file is ours and incomplete
        throw;
    }
    if (result == TPaintResult::Cancelled) QFile::remove(path);
    return result;
}

}  // namespace veltra
