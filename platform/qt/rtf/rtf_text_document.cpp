#include "rtf_text_document.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include "platform/rtf/rtf.h"

namespace veltra {

namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

Qt::Alignment QtAlignment(TRtfAlignment alignment) {
    switch (alignment) {
        case TRtfAlignment::Center:
            return Qt::AlignHCenter;
        case TRtfAlignment::Right:
            return Qt::AlignRight;
        case TRtfAlignment::Justify:
            return Qt::AlignJustify;
        case TRtfAlignment::Left:
            break;
    }
    return Qt::AlignLeft;
}

TRtfAlignment RtfAlignment(Qt::Alignment alignment) {
    const Qt::Alignment horizontal = alignment & Qt::AlignHorizontal_Mask;
    if (horizontal & Qt::AlignHCenter) return TRtfAlignment::Center;
    if (horizontal & Qt::AlignJustify) return TRtfAlignment::Justify;
    if (horizontal & (Qt::AlignRight | Qt::AlignTrailing)) return TRtfAlignment::Right;
    return TRtfAlignment::Left;
}

QTextCharFormat CharFormat(const TRtfRun& run, const QTextDocument& document) {
    QTextCharFormat format;
    const QString family =
        run.FontName.empty() ? document.defaultFont().family() : FromUtf8(run.FontName);
    format.setFontFamilies(QStringList{family});
    format.setFontPointSize(run.Size);
    format.setFontWeight(run.Bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(run.Italic);
    format.setFontUnderline(run.Underline);
    if (run.Color) format.setForeground(QColor(QRgb(*run.Color)));
    return format;
}

TRtfRun RunOf(const QTextCharFormat& format, const QTextDocument& document) {
    TRtfRun run;
    const QFont base = document.defaultFont();
    const QStringList families = format.fontFamilies().toStringList();
    run.FontName = (families.isEmpty() ? base.family() : families.first()).toStdString();
    const double size = format.fontPointSize();
    run.Size = size > 0 ? size : base.pointSizeF() > 0 ? base.pointSizeF() : 12;
    run.Bold = format.hasProperty(QTextFormat::FontWeight) ? format.fontWeight() >= QFont::DemiBold
                                                           : base.bold();
    run.Italic = format.fontItalic();
    run.Underline = format.fontUnderline();
    if (format.hasProperty(QTextFormat::ForegroundBrush) &&
        format.foreground().style() != Qt::NoBrush)
        run.Color = uint32_t(format.foreground().color().rgb() & 0xFFFFFF);
    return run;
}

}  // namespace

void RtfToTextDocument(std::string_view rtf, QTextDocument& document) {
    const TRtfDocument model = ReadRtf(rtf);
    document.clear();
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    QTextList* list = nullptr;
    for (size_t i = 0; i < model.Paragraphs.size(); ++i) {
        const TRtfParagraph& paragraph = model.Paragraphs[i];
        QTextBlockFormat blockFormat;
        blockFormat.setAlignment(QtAlignment(paragraph.Alignment));
        if (i > 0) {
            cursor.insertBlock(blockFormat);
        } else {
            cursor.setBlockFormat(blockFormat);
        }
        if (paragraph.Bullet) {
            if (list) {
                list->add(cursor.block());
            } else {
                QTextListFormat listFormat;
                listFormat.setStyle(QTextListFormat::ListDisc);
                list = cursor.createList(listFormat);
            }
        } else {
            list = nullptr;
        }
        for (const TRtfRun& run : paragraph.Runs) {
            const QTextCharFormat format = CharFormat(run, document);
            // A paragraph's last format is also its mark's, so an empty
            // line typed at its end keeps the same look.
            cursor.setBlockCharFormat(format);
            cursor.insertText(FromUtf8(run.Text), format);
        }
    }
    cursor.endEditBlock();
    document.clearUndoRedoStacks();
    document.setModified(false);
}

std::string TextDocumentToRtf(const QTextDocument& document) {
    TRtfDocument model;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        TRtfParagraph paragraph;
        paragraph.Alignment = RtfAlignment(block.blockFormat().alignment());
        paragraph.Bullet = block.textList() != nullptr;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid()) continue;
            QString text = fragment.text();
            text.remove(QChar::ObjectReplacementCharacter);
            if (text.isEmpty()) continue;
            TRtfRun run = RunOf(fragment.charFormat(), document);
            run.Text = text.toStdString();
            if (!paragraph.Runs.empty() && paragraph.Runs.back().SameFormat(run)) {
                paragraph.Runs.back().Text += run.Text;
            } else {
                paragraph.Runs.push_back(std::move(run));
            }
        }
        model.Paragraphs.push_back(std::move(paragraph));
    }
    return WriteRtf(model);
}

}  // namespace veltra
