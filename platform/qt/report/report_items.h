// The pieces a report is made of: bands and the items printed on them.
//
// Geometry is in pixels at 96 per inch, measured from the band's top-left
// corner; the band's left edge lies at the page's left margin. A report
// (report.h) owns its bands and each band owns its items; a report form keeps
// plain pointers to the items it fills.
//
//   label        fixed text (Caption)
//   data text    the display text of a named field of the report's current
//                record (TField::DisplayText under the process's formats)
//   rich text    the RTF content of a named field, rendered through
//                RtfToTextDocument; with Stretch it grows downward to fit its
//                text and, when that runs past the page, continues at the top
//                of the next page(s): nothing is cut off
//
// Text items (labels and data texts) size themselves to their text when
// AutoSize is set: one line as wide as the text, or, with WordWrap, lines
// broken to Width (the rest of the band when Width is 0 or less) as high as
// they need. No item is drawn past the band's right edge: a word-wrapped text
// breaks its lines there, a single line is cut there, and an item that starts
// at or past the edge is not printed.
#pragma once

#include <QFont>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace veltra {

class TReportItem {
public:
    enum class TKind { Label, DataText, RichText };
    explicit TReportItem(TKind kind) : m_Kind(kind) {}
    virtual ~TReportItem() = default;
    TReportItem(const TReportItem&) = delete;
    TReportItem& operator=(const TReportItem&) = delete;

    TKind Kind() const { return m_Kind; }

    int Left = 0;
    int Top = 0;
    int Width = 0;   // used by WordWrap, by fixed-size items and by rich text
    int Height = 0;  // fixed-size items and the rich text's designed height
    bool Enabled = true;  // a disabled item is not printed
    bool AutoSize = true;
    bool WordWrap = false;
    bool Stretch = false;  // may grow its band in height to fit its content
    std::optional<QFont> Font;  // the report's default font when unset

private:
    TKind m_Kind;
};

class TReportLabel : public TReportItem {
public:
    TReportLabel() : TReportItem(TKind::Label) {}
    QString Caption;
};

class TReportDataText : public TReportItem {
public:
    TReportDataText() : TReportItem(TKind::DataText) {}
    // A field of the report's dataset; an empty name or a name the dataset
    // does not have prints nothing.
    QString DataField;
};

class TReportRichText : public TReportItem {
public:
    TReportRichText() : TReportItem(TKind::RichText) {}
    // A BLOB field holding RTF; text that is not RTF is shown as plain text.
    QString DataField;
};

// A horizontal strip of the page. Height is the designed height; a band
// with stretching items grows to fit them.
class TReportBand {
public:
    int Width = 0;   // 0: the page's width inside the margins
    int Height = 0;
    bool NewPage = false;  // starts on a new page unless it is the page's first band

    // Adds an item the band owns and returns it.
    template <class T>
    T* Add() {
        auto item = std::make_unique<T>();
        T* raw = item.get();
        m_Items.push_back(std::move(item));
        return raw;
    }
    const std::vector<std::unique_ptr<TReportItem>>& Items() const { return m_Items; }

private:
    std::vector<std::unique_ptr<TReportItem>> m_Items;
};

}  // namespace veltra
