// The RTF writer: what it writes reads back as the same document, it is
// 7-bit text, it always ends with the nine closing characters, and the
// change history's splice in front of them reads as the same document with
// the history's paragraphs appended.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rtf/rtf.h"

namespace veltra {
namespace {

TRtfRun MakeRun(std::string text, std::string font = "Arial", double size = 10) {
    TRtfRun r;
    r.Text = std::move(text);
    r.FontName = std::move(font);
    r.Size = size;
    return r;
}

TRtfRun Styled(std::string text, bool b, bool i, bool u, std::optional<uint32_t> color) {
    TRtfRun r = MakeRun(std::move(text));
    r.Bold = b;
    r.Italic = i;
    r.Underline = u;
    r.Color = color;
    return r;
}

TRtfParagraph Paragraph(std::vector<TRtfRun> runs, TRtfAlignment a = TRtfAlignment::Left,
                        bool bullet = false) {
    TRtfParagraph p;
    p.Runs = std::move(runs);
    p.Alignment = a;
    p.Bullet = bullet;
    return p;
}

struct TDocumentCase {
    const char* Name;
    TRtfDocument Document;
};

std::vector<TDocumentCase> Documents() {
    using A = TRtfAlignment;
    std::vector<TDocumentCase> cases;
    cases.push_back({"one plain paragraph", {{Paragraph({MakeRun("Hello")})}}});
    cases.push_back({"empty paragraphs around text",
                     {{Paragraph({}), Paragraph({MakeRun("x")}), Paragraph({}), Paragraph({})}}});
    {
        std::vector<TRtfRun> styles;
        for (int m = 0; m < 8; ++m)
            styles.push_back(Styled("s" + std::to_string(m), m & 1, m & 2, m & 4, std::nullopt));
        cases.push_back({"every combination of bold, italic, underline", {{Paragraph(styles)}}});
    }
    {
        std::vector<TRtfRun> sizes;
        for (double size : {7.0, 8.0, 9.0, 10.0, 10.5, 11.0, 12.0, 14.0, 16.0, 18.0, 20.0, 22.0,
                            24.0, 26.0, 28.0, 36.0, 48.0, 72.0, 1638.0})
            sizes.push_back(MakeRun("z", "Times New Roman", size));
        cases.push_back({"the toolbar's sizes and a half point", {{Paragraph(sizes)}}});
    }
    cases.push_back({"font names",
                     {{Paragraph({MakeRun("a", "Arial"), MakeRun("b", "Courier New"),
                                  MakeRun("c", "Liberation Sans"), MakeRun("d", "Caf\u00E9 Sans"),
                                  MakeRun("e", "\u5B8B\u4F53"), MakeRun("f", "Arial")})}}});
    cases.push_back({"colours and auto",
                     {{Paragraph({Styled("r", false, false, false, 0xFF0000),
                                  Styled("k", false, false, false, 0x000000),
                                  Styled("a", false, false, false, std::nullopt),
                                  Styled("m", true, false, false, 0x123456),
                                  Styled("r2", false, true, false, 0xFF0000)})}}});
    cases.push_back(
        {"alignments and bullets",
         {{Paragraph({MakeRun("l")}, A::Left), Paragraph({MakeRun("c")}, A::Center),
           Paragraph({MakeRun("r")}, A::Right), Paragraph({MakeRun("j")}, A::Justify),
           Paragraph({MakeRun("b1")}, A::Left, true), Paragraph({MakeRun("b2")}, A::Center, true),
           Paragraph({MakeRun("after")}, A::Left)}}});
    cases.push_back({"Windows-1252 text",
                     {{Paragraph({MakeRun(
                         "caf\u00E9 \u20AC \u201Cquoted\u201D \u2013 \u00FF\u00A0\u0160")})}}});
    cases.push_back(
        {"Unicode beyond Windows-1252",
         {{Paragraph(
             {MakeRun("\u041F\u0440\u0438\u0432\u0435\u0442 \u4E2D\u6587 \U0001F60A \uFFFD")})}}});
    cases.push_back({"RTF's own characters, tabs and line breaks",
                     {{Paragraph({MakeRun("a\\b{c}d\te\u2028f;g")})}}});
    cases.push_back({"leading blanks and digits after a control word",
                     {{Paragraph({MakeRun("  two blanks"),
                                  Styled("1st", true, false, false, std::nullopt)})}}});
    return cases;
}

TEST(RtfWriter, WrittenDocumentsReadBackTheSame) {
    for (const auto& c : Documents()) {
        SCOPED_TRACE(c.Name);
        const std::string rtf = WriteRtf(c.Document);
        EXPECT_EQ(ReadRtf(rtf), c.Document) << rtf;
    }
}

TEST(RtfWriter, OutputIsSevenBitAndEndsWithTheClosing) {
    std::vector<TDocumentCase> cases = Documents();
    cases.push_back({"no paragraphs", {}});
    cases.push_back({"one empty paragraph", {{Paragraph({})}}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string rtf = WriteRtf(c.Document);
        for (char ch : rtf) ASSERT_LT(static_cast<unsigned char>(ch), 0x80) << rtf;
        ASSERT_GE(rtf.size(), kRtfClosing.size());
        EXPECT_EQ(rtf.substr(rtf.size() - 9), "\\par\r\n}\r\n");
        EXPECT_EQ(rtf.compare(0, 6, "{\\rtf1"), 0);
    }
}

TEST(RtfWriter, EmptyDocumentReadsAsOneEmptyParagraph) {
    const TRtfDocument one{{Paragraph({})}};
    EXPECT_EQ(ReadRtf(WriteRtf(TRtfDocument())), one);
    EXPECT_EQ(ReadRtf(WriteRtf(one)), one);
    EXPECT_EQ(RtfPlainText(WriteRtf(TRtfDocument())), "");
}

// How characters are written: Windows-1252 as bytes, the rest as \uN with
// a '?' fallback, beyond the BMP as two UTF-16 units.
TEST(RtfWriter, CharacterEscapes) {
    const struct {
        std::string Text;
        std::string Written;
    } cases[] = {
        {"\u00E9", "\\'e9"},
        {"\u20AC", "\\'80"},
        {"\u4E2D", "\\u20013?"},
        {"\uFFFD", "\\u-3?"},
        {"\U0001F60A", "\\u-10179?\\u-8694?"},
        {"{\\}", "\\{\\\\\\}"},
        {"\t", "\\tab "},
        {"\u2028", "\\line "},
        {"a\x01"
         "b",
         "ab"},
        {"\xC3(", "\\u-3?("},  // invalid UTF-8
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Written);
        const std::string rtf = WriteRtf({{Paragraph({MakeRun(c.Text)})}});
        const std::string marker = "\\cf0 ";
        const size_t start = rtf.find(marker);
        ASSERT_NE(start, std::string::npos);
        const size_t end = rtf.size() - kRtfClosing.size();
        EXPECT_EQ(rtf.substr(start + marker.size(), end - start - marker.size()), c.Written);
    }
}

TEST(RtfWriter, FontNamesWithoutSemicolons) {
    const std::string rtf = WriteRtf({{Paragraph({MakeRun("x", "Odd;Name"), MakeRun("y", "")})}});
    const TRtfDocument back = ReadRtf(rtf);
    ASSERT_EQ(back.Paragraphs.size(), 1u);
    ASSERT_EQ(back.Paragraphs[0].Runs.size(), 2u);
    EXPECT_EQ(back.Paragraphs[0].Runs[0].FontName, "OddName");
    EXPECT_EQ(back.Paragraphs[0].Runs[1].FontName, "Arial");
}

// Runs that differ only in what the written form cannot tell apart (an
// empty font name and the default font, sizes that round to one half point)
// are written as one run, so that writing what was read changes nothing.
TEST(RtfWriter, RunsThatWriteAlikeAreOne) {
    const TRtfDocument doc{{Paragraph({MakeRun("a", ""), MakeRun("b", "Arial"),
                                       MakeRun("c", "Arial", 10.3), MakeRun("d", "Arial", 10.4)})}};
    const std::string rtf = WriteRtf(doc);
    const TRtfDocument back = ReadRtf(rtf);
    ASSERT_EQ(back.Paragraphs.size(), 1u);
    ASSERT_EQ(back.Paragraphs[0].Runs.size(), 2u) << rtf;
    EXPECT_EQ(back.Paragraphs[0].Runs[0].Text, "ab");
    EXPECT_EQ(back.Paragraphs[0].Runs[1].Text, "cd");
    EXPECT_EQ(back.Paragraphs[0].Runs[1].Size, 10.5);
    EXPECT_EQ(WriteRtf(back), rtf);
}

// The change history's splice: the description less its nine closing
// characters, the history lines each ended by CR LF, then "\par }".
std::string Spliced(const std::string& description, const std::vector<std::string>& lines) {
    std::string all = description.substr(0, description.size() - kRtfClosing.size());
    for (const auto& line : lines) all += line + "\r\n";
    return all + "\\par }";
}

TEST(RtfWriter, ChangeHistorySplice) {
    const std::vector<std::string> history{
        "\\par \\par Change History\\par", "12/10/2026 at 9:41:07 AM ann submitted ticket\\par",
        "12/10/2026 at 9:45:00 AM bob changed Priority from 3 to 5\\par"};
    const std::string tail =
        "\n\nChange History\n12/10/2026 at 9:41:07 AM ann submitted ticket\n"
        "12/10/2026 at 9:45:00 AM bob changed Priority from 3 to 5\n";
    const struct {
        const char* Name;
        TRtfDocument Description;
        std::string Text;
    } cases[] = {
        {"empty description", {}, tail},
        {"two paragraphs",
         {{Paragraph({MakeRun("first")}),
           Paragraph({MakeRun("last "), MakeRun("line", "Courier New")})}},
         "first\nlast line" + tail},
        {"description ending in an empty paragraph",
         {{Paragraph({MakeRun("x")}), Paragraph({})}},
         "x\n" + tail},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string all = Spliced(WriteRtf(c.Description), history);
        EXPECT_EQ(RtfPlainText(all), c.Text);
        // The description's paragraphs keep their formats.
        const TRtfDocument read = ReadRtf(all);
        for (size_t p = 0; p + 1 < c.Description.Paragraphs.size(); ++p)
            EXPECT_EQ(read.Paragraphs[p], c.Description.Paragraphs[p]);
    }
}

// Braces and backslashes in history values are copied into the lines as
// they are; the text around them is still read.
TEST(RtfWriter, SpliceWithRtfCharactersInValues) {
    const std::string all =
        Spliced(WriteRtf({{Paragraph({MakeRun("d")})}}),
                {"\\par \\par Change History\\par", "x changed Title from {a to b}}\\par",
                 "x changed Other from c:\\dir to \\par", "x changed Owner from y to z\\par"});
    const std::string text = RtfPlainText(all);
    EXPECT_NE(text.find("changed Title from a to b"), std::string::npos) << text;
    EXPECT_NE(text.find("changed Other from c:to "), std::string::npos) << text;
    EXPECT_NE(text.find("changed Owner from y to z"), std::string::npos) << text;
}

}  // namespace
}  // namespace veltra
