// The one painting routine of reports: pages, bands, items, and rich text
// continued over pages.
#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <vector>

#include "platform/dataset.h"
#include "platform/qt/report/report.h"
#include "platform/qt/rtf/rtf_text_document.h"

namespace veltra {
namespace {

// Text is laid out for a 96-dpi device whatever the output, so that the
// preview, the printer and a PDF file break lines and pages alike.
QPaintDevice* LayoutDevice() {
    static QImage* image = [] {
        auto* img = new QImage(1, 1, QImage::Format_RGB32);
        img->setDotsPerMeterX(3780);  // 96.01 dpi, reported as 96
        img->setDotsPerMeterY(3780);
        return img;
    }();
    return image;
}

// A text item laid out for one record.
struct TTextBox {
    const TReportItem* Item = nullptr;
    std::unique_ptr<QTextLayout> Layout;
    double Width = 0;
    double Height = 0;
};

// A rich-text item laid out for one record.
struct TRichBox {
    const TReportItem* Item = nullptr;
    std::unique_ptr<QTextDocument> Document;
    double From = 0;        // how much of the document is printed already
    double LastBottom = 0;  // where on the page its last part ended
    double Height() const { return Document->size().height(); }
    bool Done() const { return From >= Height() - 0.01; }
};

// One band laid out for the current record.
struct TBandContent {
    std::vector<TTextBox> Texts;
    std::vector<TRichBox> Riches;
    double Height = 0;     // with every stretch
    double FitHeight = 0;  // what must fit on the page for the band to start there
};

// The end of the part of a document that fits from `from` in `available`
// height: the top of the first line that would pass the page, so that no
// line is cut; a single line taller than the page is cut at the page.
double SliceEnd(QTextDocument& document, double from, double available) {
    const double limit = from + available;
    if (document.size().height() <= limit) return document.size().height();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        if (!layout) continue;
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const double top = layout->position().y() + line.y();
            if (top + line.height() > limit) return top > from + 0.5 ? top : limit;
        }
    }
    return limit;
}

class TReportRun {
public:
    TReportRun(TReport& report, QPrinter& printer, QPainter& painter)
        : m_Report(report), m_Printer(printer), m_Painter(painter) {
        // The printer's own page, as the preview's orientation buttons or a
        // printer's wider hardware margins may have changed it.
        const QRectF page = printer.pageLayout().paintRect(QPageLayout::Inch);
        m_PageWidth = page.width() > 0 ? page.width() * 96 : report.PageWidth();
        m_PageHeight = page.height() > 0 ? page.height() * 96 : report.PageHeight();
    }

    bool Run(TReportProgress* progress) {
        TDataSet* data = m_Report.DataSet;
        const bool active = data && data->Active();
        if (active) data->First();
        if (progress) progress->Begin(active ? data->RecordCount() : 0);
        StartPage(true);
        int64_t done = 0;
        while (active && !data->Eof()) {
            PrintBand(m_Report.Detail, false);
            if (m_Report.HasChild) PrintBand(m_Report.Child, false);
            ++done;
            if (progress && !progress->Step(done)) return false;
            data->Next();
        }
        return true;
    }

private:
    void StartPage(bool first) {
        if (!first) m_Printer.newPage();
        if (m_Report.OnStartPage) m_Report.OnStartPage(m_Report);
        m_Y = 0;
        m_PageHasBand = false;
        if (m_Report.HasColumnHeader) PrintBand(m_Report.ColumnHeader, true);
    }

    int BandWidth(const TReportBand& band) const {
        return band.Width > 0 ? band.Width : int(m_PageWidth);
    }

    QFont FontOf(const TReportItem& item) const { return item.Font.value_or(m_Report.DefaultFont); }

    QString TextOf(const TReportItem& item) const {
        if (item.Kind() == TReportItem::TKind::Label)
            return static_cast<const TReportLabel&>(item).Caption;
        const TField* field = FieldOf(static_cast<const TReportDataText&>(item).DataField);
        return field ? QString::fromStdString(field->DisplayText()) : QString();
    }

    TField* FieldOf(const QString& name) const {
        TDataSet* data = m_Report.DataSet;
        if (name.isEmpty() || !data || !data->Active() || data->IsEmpty()) return nullptr;
        return data->FindField(name.toStdString());
    }

    // Lays a text item out; false when it has no room on the band.
    bool LayOutText(const TReportItem& item, int bandWidth, TTextBox& box) const {
        const double room = bandWidth - item.Left;
        if (room <= 0) return false;
        double width = item.Width > 0 ? std::min<double>(item.Width, room) : room;
        box.Item = &item;
        box.Layout = std::make_unique<QTextLayout>(TextOf(item), FontOf(item), LayoutDevice());
        QTextOption option;
        option.setWrapMode(item.WordWrap ? QTextOption::WrapAtWordBoundaryOrAnywhere
                                         : QTextOption::NoWrap);
        box.Layout->setTextOption(option);
        box.Layout->beginLayout();
        double height = 0, natural = 0;
        for (QTextLine line = box.Layout->createLine(); line.isValid();
             line = box.Layout->createLine()) {
            // Without wrapping the line holds the whole text whatever its width.
            line.setLineWidth(item.WordWrap ? width : room);
            line.setPosition(QPointF(0, height));
            height += line.height();
            natural = std::max(natural, line.naturalTextWidth());
        }
        box.Layout->endLayout();
        if (item.AutoSize) {
            if (!item.WordWrap) width = std::min(natural, room);
        } else {
            height = item.Height;
        }
        box.Width = width;
        box.Height = height;
        return true;
    }

    void LayOutRich(const TReportItem& item, TRichBox& box) const {
        box.Item = &item;
        box.Document = std::make_unique<QTextDocument>();
        box.Document->documentLayout()->setPaintDevice(LayoutDevice());
        box.Document->setDocumentMargin(0);
        box.Document->setDefaultFont(FontOf(item));
        box.Document->setTextWidth(item.Width);
        if (TField* field = FieldOf(static_cast<const TReportRichText&>(item).DataField))
            RtfToTextDocument(m_Report.DataSet->ReadBlob(*field), *box.Document);
    }

    TBandContent LayOut(const TReportBand& band) const {
        TBandContent content;
        content.Height = content.FitHeight = band.Height;
        const int width = BandWidth(band);
        for (const auto& item : band.Items()) {
            if (!item->Enabled) continue;
            if (item->Kind() == TReportItem::TKind::RichText) {
                if (item->Left >= width) continue;
                TRichBox box;
                LayOutRich(*item, box);
                if (item->Stretch) {
                    const double growth = std::max(0.0, box.Height() - item->Height);
                    content.Height = std::max(content.Height, band.Height + growth);
                }
                content.Riches.push_back(std::move(box));
                continue;
            }
            TTextBox box;
            if (!LayOutText(*item, width, box)) continue;
            if (item->Stretch) {
                content.Height = std::max(content.Height, item->Top + box.Height);
                content.FitHeight = std::max(content.FitHeight, item->Top + box.Height);
            }
            content.Texts.push_back(std::move(box));
        }
        return content;
    }

    void PrintBand(const TReportBand& band, bool heading) {
        if (!heading && band.NewPage && m_PageHasBand) StartPage(false);
        TBandContent content = LayOut(band);
        if (!heading && m_PageHasBand && m_Y + content.FitHeight > m_PageHeight) {
            StartPage(false);
            content = LayOut(band);  // the page-start hook may have changed the band
        }
        const int width = BandWidth(band);
        for (TTextBox& box : content.Texts) DrawText(box, width);

        double bottom = m_Y + content.Height;
        bool continued = false;
        for (TRichBox& box : content.Riches) {
            const double top = m_Y + box.Item->Top;
            const double room = box.Item->Stretch ? m_PageHeight - top
                                                  : std::min<double>(box.Item->Height,
                                                                     m_PageHeight - top);
            DrawSlice(box, top, room);
            if (!box.Item->Stretch) box.From = box.Height();  // the rest is not shown
            continued = continued || !box.Done();
        }
        if (!heading) m_PageHasBand = true;
        if (!continued) {
            m_Y = bottom;
            return;
        }
        // The rich text runs on over the following pages, each part at the
        // top of a page under the heading; the band's space below its items
        // follows the last part.
        double below = 0;
        for (const TRichBox& box : content.Riches)
            below = std::max(below, band.Height - double(box.Item->Top + box.Item->Height));
        while (std::any_of(content.Riches.begin(), content.Riches.end(),
                           [](const TRichBox& box) { return !box.Done(); })) {
            StartPage(false);
            m_PageHasBand = true;
            double partBottom = m_Y;
            for (TRichBox& box : content.Riches) {
                if (box.Done()) continue;
                // A heading as tall as the page still lets the text go on.
                DrawSlice(box, m_Y, std::max(m_PageHeight - m_Y, 24.0));
                partBottom = std::max(partBottom, box.LastBottom);
            }
            m_Y = partBottom;
        }
        m_Y = std::min<double>(m_Y + std::max(0.0, below), m_PageHeight);
    }

    void DrawText(TTextBox& box, int bandWidth) {
        const TReportItem& item = *box.Item;
        m_Painter.save();
        const double visible = std::min(box.Width, double(bandWidth - item.Left));
        m_Painter.setClipRect(QRectF(item.Left, m_Y + item.Top, visible, box.Height));
        box.Layout->draw(&m_Painter, QPointF(item.Left, m_Y + item.Top));
        m_Painter.restore();
    }

    // Draws the next part of a rich text at `top` of this page, in at most
    // `room` height, and remembers where it ended.
    void DrawSlice(TRichBox& box, double top, double room) {
        const double from = box.From;
        const double end = room > 0 ? SliceEnd(*box.Document, from, room) : from;
        if (end > from) {
            m_Painter.save();
            m_Painter.translate(box.Item->Left, top - from);
            // A hair inside the slice, so the lines on its edges are drawn once.
            const QRectF clip(0, from + 0.01, box.Item->Width, end - from - 0.02);
            box.Document->drawContents(&m_Painter, clip);
            m_Painter.restore();
        }
        box.From = end;
        box.LastBottom = top + (end - from);
    }

    TReport& m_Report;
    QPrinter& m_Printer;
    QPainter& m_Painter;
    double m_PageWidth = 0;
    double m_PageHeight = 0;
    double m_Y = 0;
    bool m_PageHasBand = false;
};

}  // namespace

TReport::TPaintResult TReport::Paint(QPrinter& printer, TReportProgress* progress) {
    QPainter painter;
    if (!painter.begin(&printer)) return TPaintResult::Failed;
    const double scale = printer.resolution() / 96.0;
    painter.scale(scale, scale);
    bool finished = false;
    try {
        TReportRun run(*this, printer, painter);
        finished = run.Run(progress);
    } catch (...) {
        if (progress) progress->End();
        printer.abort();
        painter.end();
        throw;
    }
    if (progress) progress->End();
    if (!finished) printer.abort();
    painter.end();
    return finished ? TPaintResult::Printed : TPaintResult::Cancelled;
}

}  // namespace veltra
