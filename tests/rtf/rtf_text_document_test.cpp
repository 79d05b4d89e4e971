// Between RTF and QTextDocument: every formatting the edit window's toolbar
// sets survives a document written as RTF and read back into another.
#include "platform/qt/rtf/rtf_text_document.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include "platform/rtf/rtf.h"

namespace veltra {
namespace {

struct TFormat {
    QString Family = "Arial";
    double Size = 10;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    std::optional<QRgb> Color;
};

QTextCharFormat ToQt(const TFormat& f) {
    QTextCharFormat format;
    format.setFontFamilies(QStringList{f.Family});
    format.setFontPointSize(f.Size);
    format.setFontWeight(f.Bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(f.Italic);
    format.setFontUnderline(f.Underline);
    if (f.Color) format.setForeground(QColor(*f.Color));
    return format;
}

// What a reader of the document sees of one fragment.
struct TSeen {
    QString Text;
    QString Family;
    double Size;
    bool Bold, Italic, Underline;
    std::optional<QRgb> Color;
    bool operator==(const TSeen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TSeen& s) {
    return out << '"' << s.Text.toStdString() << "\" " << s.Family.toStdString() << ' ' << s.Size
               << (s.Bold ? " bold" : "") << (s.Italic ? " italic" : "")
               << (s.Underline ? " underline" : "")
               << (s.Color ? " #" + QString::number(*s.Color & 0xFFFFFF, 16).toStdString()
                           : " auto");
}

struct TBlockSeen {
    Qt::Alignment Alignment;
    bool Bullet;
    std::vector<TSeen> Fragments;
    bool operator==(const TBlockSeen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TBlockSeen& b) {
    out << "[align " << int(b.Alignment) << (b.Bullet ? " bullet" : "") << ":";
    for (const auto& f : b.Fragments) out << " {" << f << "}";
    return out << "]";
}

std::vector<TBlockSeen> Seen(const QTextDocument& document) {
    std::vector<TBlockSeen> blocks;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        TBlockSeen b{block.blockFormat().alignment() & Qt::AlignHorizontal_Mask,
                     block.textList() != nullptr,
                     {}};
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            std::optional<QRgb> color;
            if (f.hasProperty(QTextFormat::ForegroundBrush)) color = f.foreground().color().rgb();
            const QStringList families = f.fontFamilies().toStringList();
            b.Fragments.push_back({it.fragment().text(), families.value(0), f.fontPointSize(),
                                   f.fontWeight() >= QFont::DemiBold, f.fontItalic(),
                                   f.fontUnderline(), color});
        }
        blocks.push_back(b);
    }
    return blocks;
}

struct TBlockSpec {
    Qt::Alignment Alignment = Qt::AlignLeft;
    bool Bullet = false;
    std::vector<std::pair<QString, TFormat>> Runs;
};

// Builds a document as the toolbar would: block formats, lists, and text
// inserted with a character format.
void Build(QTextDocument& document, const std::vector<TBlockSpec>& blocks) {
    QTextCursor cursor(&document);
    QTextList* list = nullptr;
    for (size_t i = 0; i < blocks.size(); ++i) {
        QTextBlockFormat format;
        format.setAlignment(blocks[i].Alignment);
        if (i > 0)
            cursor.insertBlock(format);
        else
            cursor.setBlockFormat(format);
        if (blocks[i].Bullet) {
            if (list)
                list->add(cursor.block());
            else
                list = cursor.createList(QTextListFormat::ListDisc);
        } else {
            list = nullptr;
        }
        for (const auto& [text, f] : blocks[i].Runs) cursor.insertText(text, ToQt(f));
    }
}

TFormat Style(bool b, bool i, bool u) {
    TFormat f;
    f.Bold = b;
    f.Italic = i;
    f.Underline = u;
    return f;
}

TFormat Font(const QString& family, double size) {
    TFormat f;
    f.Family = family;
    f.Size = size;
    return f;
}

TFormat Colored(std::optional<QRgb> color) {
    TFormat f;
    f.Color = color;
    return f;
}

struct TRoundTripCase {
    const char* Name;
    std::vector<TBlockSpec> Blocks;
};

TEST(RtfTextDocument, ToolbarFormattingSurvivesWriteAndRead) {
    std::vector<TRoundTripCase> cases;
    cases.push_back({"styles",
                     {{Qt::AlignLeft,
                       false,
                       {{"plain", Style(false, false, false)},
                        {"b", Style(true, false, false)},
                        {"i", Style(false, true, false)},
                        {"u", Style(false, false, true)},
                        {"biu", Style(true, true, true)}}}}});
    {
        TBlockSpec sizes;
        for (int size : {7, 8, 9, 10, 11, 12, 14, 16, 18, 20, 22, 24, 26, 28, 36, 48, 72})
            sizes.Runs.push_back(
                {QString::number(size), Font(size % 2 ? "Courier New" : "Liberation Serif", size)});
        sizes.Runs.push_back({"odd", Font("Arial", 13)});
        cases.push_back({"fonts and sizes", {sizes}});
    }
    cases.push_back({"colours",
                     {{Qt::AlignLeft,
                       false,
                       {{"red", Colored(qRgb(255, 0, 0))},
                        {"black", Colored(qRgb(0, 0, 0))},
                        {"auto", Colored(std::nullopt)},
                        {"teal", Colored(qRgb(0, 128, 128))}}}}});
    cases.push_back({"alignments",
                     {{Qt::AlignLeft, false, {{"l", {}}}},
                      {Qt::AlignHCenter, false, {{"c", {}}}},
                      {Qt::AlignRight, false, {{"r", {}}}},
                      {Qt::AlignJustify, false, {{"j", {}}}}}});
    cases.push_back({"bullets",
                     {{Qt::AlignLeft, true, {{"one", {}}}},
                      {Qt::AlignHCenter, true, {{"two", Style(true, false, false)}}},
                      {Qt::AlignLeft, false, {{"plain", {}}}},
                      {Qt::AlignLeft, true, {{"again", {}}}}}});
    cases.push_back(
        {"text beyond ASCII, tabs, line breaks, RTF's own characters",
         {{Qt::AlignLeft,
           false,
           {{QString::fromUtf8("caf\u00E9 \u20AC \u041F\u0440\u0438 \u4E2D \U0001F60A"), {}},
            {QString("a\tb") + QChar::LineSeparator + "c {x} \\y", Font("Courier New", 9)}}}}});
    cases.push_back({"empty lines between paragraphs",
                     {{Qt::AlignLeft, false, {{"x", {}}}},
                      {Qt::AlignLeft, false, {}},
                      {Qt::AlignLeft, false, {{"y", {}}}}}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        QTextDocument source;
        Build(source, c.Blocks);
        const std::string rtf = TextDocumentToRtf(source);
        ASSERT_TRUE(rtf.size() >= kRtfClosing.size() && rtf.substr(rtf.size() - 9) == kRtfClosing);
        for (char ch : rtf) ASSERT_LT(static_cast<unsigned char>(ch), 0x80);
        QTextDocument target;
        RtfToTextDocument(rtf, target);
        EXPECT_EQ(Seen(target), Seen(source)) << rtf;
        // Consecutive bullets share one list; a plain paragraph ends it.
        std::vector<QTextList*> lists;
        for (QTextBlock b = target.begin(); b.isValid(); b = b.next())
            lists.push_back(b.textList());
        std::vector<QTextList*> sourceLists;
        for (QTextBlock b = source.begin(); b.isValid(); b = b.next())
            sourceLists.push_back(b.textList());
        ASSERT_EQ(lists.size(), sourceLists.size());
        for (size_t i = 1; i < lists.size(); ++i)
            EXPECT_EQ(lists[i] && lists[i] == lists[i - 1],
                      sourceLists[i] && sourceLists[i] == sourceLists[i - 1]);
    }
}

TEST(RtfTextDocument, EmptyDocument) {
    QTextDocument empty;
    const std::string rtf = TextDocumentToRtf(empty);
    EXPECT_EQ(rtf.compare(0, 6, "{\\rtf1"), 0);
    EXPECT_EQ(rtf.substr(rtf.size() - 9), "\\par\r\n}\r\n");
    QTextDocument back;
    back.setPlainText("old text");
    RtfToTextDocument(rtf, back);
    EXPECT_EQ(back.blockCount(), 1);
    EXPECT_TRUE(back.isEmpty());
}

// Reading replaces what was there and leaves an unmodified document
// without undo steps; text without explicit formats takes the document's
// default font when written.
TEST(RtfTextDocument, ReadingResetsAndDefaultsApply) {
    QTextDocument document;
    document.setDefaultFont(QFont("Liberation Serif", 11));
    document.setPlainText("first\nsecond");
    const TRtfDocument model = ReadRtf(TextDocumentToRtf(document));
    ASSERT_EQ(model.Paragraphs.size(), 2u);
    ASSERT_EQ(model.Paragraphs[1].Runs.size(), 1u);
    EXPECT_EQ(model.Paragraphs[1].Runs[0].Text, "second");
    EXPECT_EQ(model.Paragraphs[1].Runs[0].FontName, "Liberation Serif");
    EXPECT_EQ(model.Paragraphs[1].Runs[0].Size, 11);
    EXPECT_FALSE(model.Paragraphs[1].Runs[0].Color.has_value());

    document.setModified(true);
    RtfToTextDocument("{\\rtf1{\\fonttbl{\\f0 Courier New;}}\\f0\\fs20 new\\par}", document);
    EXPECT_EQ(document.toPlainText(), "new");
    EXPECT_FALSE(document.isModified());
    EXPECT_FALSE(document.isUndoAvailable());
    // A run without a font name takes the document's default family.
    RtfToTextDocument("{\\rtf1 x}", document);
    EXPECT_EQ(
        document.begin().begin().fragment().charFormat().fontFamilies().toStringList().value(0),
        "Liberation Serif");
}

}  // namespace
}  // namespace veltra

int main(int argc, char** argv) {
    // No test needs a display, test discovery included.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
