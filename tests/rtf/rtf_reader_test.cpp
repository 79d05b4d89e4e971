// The RTF reader on what rich-text editors write, and on broken input.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/rtf/rtf.h"

namespace veltra {
namespace {

struct TTextCase {
    const char* Name;
    std::string Rtf;
    std::string Text;  // the plain text expected
};

// Visible text: groups, escapes, code pages, Unicode, destinations.
TEST(RtfReader, VisibleText) {
    const std::vector<TTextCase> cases{
        {"plain paragraphs", "{\\rtf1 one\\par two\\par}", "one\ntwo"},
        {"text after the last mark", "{\\rtf1 one\\par two}", "one\ntwo"},
        {"empty paragraph kept", "{\\rtf1 a\\par\\par b}", "a\n\nb"},
        {"line ends in the source ignored", "{\\rtf1 a\r\nb\nc\\par}", "abc"},
        {"escaped specials", "{\\rtf1 \\\\ \\{x\\}}", "\\ {x}"},
        {"delimiting space eaten, second kept", "{\\rtf1\\b  bold}", " bold"},
        {"nested groups", "{\\rtf1 a{b{c}d}e}", "abcde"},
        {"tab and line", "{\\rtf1 a\\tab b\\line c}", "a\tb\nc"},
        {"symbols", "{\\rtf1 \\emdash\\endash\\bullet\\lquote\\rquote\\ldblquote\\rdblquote}",
         "\u2014\u2013\u2022\u2018\u2019\u201C\u201D"},
        {"control symbols", "{\\rtf1 a\\~b\\-c\\_d}", "a\u00A0b\u00ADc\u2011d"},
        {"backslash line end is a paragraph", "{\\rtf1 a\\\nb}", "a\nb"},
        {"Windows-1252 bytes", "{\\rtf1\\ansi caf\\'e9 \\'80 \\'93q\\'94}",
         "caf\u00E9 \u20AC \u201Cq\u201D"},
        {"upper-case hex", "{\\rtf1\\ansi \\'C4\\'d6}", "\u00C4\u00D6"},
        {"raw 8-bit byte in the code page", "{\\rtf1\\ansi\\ansicpg1252 \xE9t\xE9}",
         "\u00E9t\u00E9"},
        {"document code page 1251", "{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}",
         "\u041F\u0440\u0438"},
        {"font character set beats the document's",
         "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset238 Arial CE;}}\\f1 "
         "\\'b9\\f0 \\'b9}",
         "\u0105\u00B9"},
        {"double-byte code page from the font",
         "{\\rtf1\\ansi{\\fonttbl{\\f0\\fcharset134 SimSun;}}\\f0 \\'d6\\'d0\\'ce\\'c4}",
         "\u4E2D\u6587"},
        {"double-byte pair with a plain trail byte",
         "{\\rtf1\\ansi{\\fonttbl{\\f0\\fcharset128 MS Gothic;}}\\f0 \\'83e}", "\u30C6"},
        {"unicode with one fallback", "{\\rtf1\\uc1 \\u20320?\\u22909?!}", "\u4F60\u597D!"},
        {"unicode negative value", "{\\rtf1 \\u-3913?}", "\uF0B7"},
        {"unicode fallback of two bytes", "{\\rtf1\\uc2 \\u20320\\'c4\\'e3x}", "\u4F60x"},
        {"unicode without fallback", "{\\rtf1\\uc0 \\u233 x}", "\u00E9x"},
        {"fallback ends at a group brace", "{\\rtf1\\uc3 \\u233{b}c}", "\u00E9bc"},
        {"\\uc is scoped to its group", "{\\rtf1 {\\uc0 \\u233}\\u233?x}", "\u00E9\u00E9x"},
        {"surrogate pair", "{\\rtf1 \\u-10179?\\u-8694?}", "\U0001F60A"},
        {"lone surrogate", "{\\rtf1 \\u-10179?x}", "\uFFFDx"},
        {"upr takes the unicode form", "{\\rtf1 {\\upr{ansi}{\\*\\ud{uni\\u233?}}}}", "uni\u00E9"},
        {"ignorable destination skipped", "{\\rtf1 a{\\*\\unknown secret{\\b more}}b}", "ab"},
        {"unknown control word skipped, text kept", "{\\rtf1 a\\foobar12 b}", "ab"},
        {"tables and sheets are no text",
         "{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red1\\green2\\blue3;}{\\stylesheet{\\s0 "
         "Normal;}}"
         "{\\info{\\title T}{\\author A}}x}",
         "x"},
        {"header and footer skipped", "{\\rtf1{\\header H}{\\footer F}body}", "body"},
        {"picture with binary data holding braces", "{\\rtf1 a{\\pict\\bin5 }}{{\\}b}", "ab"},
        {"binary data outside a picture", "{\\rtf1 a\\bin3 xyzb}", "ab"},
        {"field shows its result only",
         "{\\rtf1 see {\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt here}}.}",
         "see here."},
        {"field instruction without the star", "{\\rtf1{\\field{\\fldinst PAGE}{\\fldrslt 3}}}",
         "3"},
        {"hidden text", "{\\rtf1 a\\v hidden\\v0 b}", "ab"},
        {"bullet text is not body text", "{\\rtf1{\\pntext\\'b7\\tab}item}", "item"},
        {"a list number is", "{\\rtf1{\\listtext\\pard\\b 10.\\tab}item}", "10.\titem"},
        {"table cells and rows", "{\\rtf1 a\\cell b\\cell\\row c\\cell\\row}", "a\tb\t\nc\t"},
        {"page break between paragraphs", "{\\rtf1 a\\par\\page b}", "a\nb"},
        {"control characters dropped", std::string("{\\rtf1 a\x01\x00z}", 12), "az"},
        {"not RTF at all", "just text", "just text"},
        {"blanks before the document", " \r\n\t{\\rtf1 a}", "a"},
        {"blanks before plain text kept", "  text", "  text"},
        {"text after the closing brace", "{\\rtf1 a}\r\n b", "a"},
        {"unbalanced closing brace inside", "{\\rtf1 a}}b}", "ab"},
        {"garbage after the last brace", "{\\rtf1 a}} @x", "a"},
        {"unclosed group", "{\\rtf1 a{\\b b", "ab"},
        {"input ends in a backslash", "{\\rtf1 a\\", "a"},
        {"input ends in a hex escape", "{\\rtf1 a\\'4", "a"},
        {"hex escape without digits", "{\\rtf1 a\\'zz}", "azz"},
        {"huge parameters saturate", "{\\rtf1\\fs99999999999999999999 a\\u99999999999999 ?b}",
         "a\uFFFDb"},
        {"huge \\bin skips the rest", "{\\rtf1 a\\bin99999999999999 bcd}", "a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(RtfPlainText(c.Rtf), c.Text);
    }
}

TRtfRun MakeRun(std::string text, std::string font, double size, bool b, bool i, bool u,
                std::optional<uint32_t> color) {
    TRtfRun r;
    r.Text = std::move(text);
    r.FontName = std::move(font);
    r.Size = size;
    r.Bold = b;
    r.Italic = i;
    r.Underline = u;
    r.Color = color;
    return r;
}

// Character formatting: fonts, sizes, styles and colours from the tables.
TEST(RtfReader, CharacterFormat) {
    const std::string rtf =
        "{\\rtf1\\ansi\\deff1{\\fonttbl{\\f0\\froman Times New Roman;}{\\f1\\fswiss{\\*\\panose "
        "0}Arial;}"
        "{\\f2 Courier {\\*\\falt Mono}New;}}"
        "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue0;;}"
        "plain \\f0\\fs20\\b bold\\b0 {\\i it}\\ul under\\ulnone \\uldb dbl\\ul0 "
        "\\cf1 red\\cf2 black\\cf3 auto\\cf9 none\\cf0\\f2\\fs21 half\\plain reset}";
    const TRtfDocument doc = ReadRtf(rtf);
    ASSERT_EQ(doc.Paragraphs.size(), 1u);
    const std::vector<TRtfRun> expected{
        MakeRun("plain ", "Arial", 12, false, false, false, std::nullopt),
        MakeRun("bold", "Times New Roman", 10, true, false, false, std::nullopt),
        MakeRun("it", "Times New Roman", 10, false, true, false, std::nullopt),
        MakeRun("underdbl", "Times New Roman", 10, false, false, true, std::nullopt),
        MakeRun("red", "Times New Roman", 10, false, false, false, 0xFF0000),
        MakeRun("black", "Times New Roman", 10, false, false, false, 0x000000),
        MakeRun("autonone", "Times New Roman", 10, false, false, false, std::nullopt),
        MakeRun("half", "Courier New", 10.5, false, false, false, std::nullopt),
        MakeRun("reset", "Arial", 12, false, false, false, std::nullopt),
    };
    EXPECT_EQ(doc.Paragraphs[0].Runs, expected);
}

// A font table written without inner groups, and font names in the font's
// own character set.
TEST(RtfReader, FontTableForms) {
    const TRtfDocument doc = ReadRtf(
        "{\\rtf1{\\fonttbl\\f0\\fswiss Helvetica;\\f1\\fcharset204 \\'c0\\'f0\\'e8\\'e0\\'eb;}\\f1 "
        "x\\f0 y}");
    ASSERT_EQ(doc.Paragraphs.size(), 1u);
    ASSERT_EQ(doc.Paragraphs[0].Runs.size(), 2u);
    EXPECT_EQ(doc.Paragraphs[0].Runs[0].FontName, "\u0410\u0440\u0438\u0430\u043B");
    EXPECT_EQ(doc.Paragraphs[0].Runs[1].FontName, "Helvetica");
}

struct TParagraphCase {
    const char* Name;
    std::string Rtf;
    std::vector<std::pair<TRtfAlignment, bool>> Paragraphs;  // alignment, bullet
};

// Paragraph alignment and bullets as word processors write them.
TEST(RtfReader, ParagraphFormat) {
    using A = TRtfAlignment;
    const std::vector<TParagraphCase> cases{
        {"alignments",
         "{\\rtf1\\pard\\qc c\\par\\qr r\\par\\qj j\\par\\pard l\\par}",
         {{A::Center, false}, {A::Right, false}, {A::Justify, false}, {A::Left, false}}},
        {"alignment holds until \\pard",
         "{\\rtf1\\qc a\\par b\\par\\pard c\\par}",
         {{A::Center, false}, {A::Center, false}, {A::Left, false}}},
        {"bullets the way a rich edit control writes them",
         "{\\rtf1\\pard{\\pntext\\f1\\'B7\\tab}{\\*\\pn\\pnlvlblt\\pnf1\\pnindent0{\\pntxtb\\'B7}}"
         "\\fi-720\\li720 one\\par{\\pntext\\f1\\'B7\\tab}two\\par\\pard after\\par}",
         {{A::Left, true}, {A::Left, true}, {A::Left, false}}},
        {"numbered paragraphs are no bullets",
         "{\\rtf1\\pard{\\pntext 1.\\tab}{\\*\\pn\\pnlvlbody\\pndec{\\pntxta .}}one\\par}",
         {{A::Left, false}}},
        {"list paragraphs with a symbol as their text",
         "{\\rtf1\\pard\\ls1{\\listtext\\pard\\plain\\f3 \\'b7\\tab}one\\par"
         "\\pard\\ls2{\\listtext\\pard\\plain 2)\\tab}two\\par}",
         {{A::Left, true}, {A::Left, false}}},
        {"bullet and alignment together",
         "{\\rtf1\\pard{\\*\\pn\\pnlvlblt}\\qr x\\par}",
         {{A::Right, true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TRtfDocument doc = ReadRtf(c.Rtf);
        std::vector<std::pair<TRtfAlignment, bool>> got;
        for (const auto& p : doc.Paragraphs) got.emplace_back(p.Alignment, p.Bullet);
        EXPECT_EQ(got, c.Paragraphs);
    }
}

// Whatever the bytes, reading ends without a fault (the sanitizer build
// checks every access) and the text stays valid UTF-8 without stray
// control characters: prefixes, byte flips and random garbage of a document
// that uses most of what the reader knows.
TEST(RtfReader, DamagedInput) {
    const std::string base =
        "{\\rtf1\\ansi\\ansicpg1251\\deff0\\uc1{\\fonttbl{\\f0\\fcharset204 A;}{\\f1\\fcharset134 "
        "B;}}"
        "{\\colortbl;\\red9\\green8\\blue7;}{\\*\\gen "
        "x}\\pard{\\pntext\\'b7\\tab}{\\*\\pn\\pnlvlblt}"
        "\\qc\\f0\\'cf\\f1\\'d6\\'d0\\u20320?\\u-10179?\\u-8694?{\\pict\\bin4 "
        "{}}x}{\\upr{a}{\\*\\ud{b}}}"
        "\\cell\\row{\\field{\\*\\fldinst X}{\\fldrslt y}}\\par}";
    auto check = [](const std::string& input) {
        const std::string text = RtfPlainText(input);
        for (size_t i = 0; i < text.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            ASSERT_TRUE(c >= 0x20 || c == '\t' || c == '\n') << "control byte " << int(c);
        }
        // Writing what was read gives 7-bit text that reads back the same.
        const TRtfDocument doc = ReadRtf(input);
        const std::string written = WriteRtf(doc);
        for (char c : written) ASSERT_LT(static_cast<unsigned char>(c), 0x80);
        ASSERT_EQ(PlainText(ReadRtf(written)), PlainText(doc));
    };
    for (size_t n = 0; n <= base.size(); ++n) check(base.substr(0, n));
    std::mt19937 random(20261210);
    for (int round = 0; round < 400; ++round) {
        std::string flipped = base;
        for (int k = 0; k < 3; ++k) flipped[random() % flipped.size()] = char(random() % 256);
        check(flipped);
    }
    const std::string alphabet = "{}\\'*abcdefu0123456789- ;\xB7\xE9";
    for (int round = 0; round < 200; ++round) {
        std::string garbage;
        for (int k = 0; k < 60; ++k) garbage += alphabet[random() % alphabet.size()];
        check(garbage);
    }
}

// Deep nesting neither overflows the stack nor loses the matching of
// braces: text after a very deep group is read in the outer state.
TEST(RtfReader, DeepNesting) {
    const std::string deep =
        "{\\rtf1\\b " + std::string(100000, '{') + "x" + std::string(100000, '}') + "\\b0 y}";
    const TRtfDocument doc = ReadRtf(deep);
    ASSERT_EQ(doc.Paragraphs.size(), 1u);
    ASSERT_EQ(doc.Paragraphs[0].Runs.size(), 2u);
    EXPECT_TRUE(doc.Paragraphs[0].Runs[0].Bold);
    EXPECT_EQ(doc.Paragraphs[0].Runs[1].Text, "y");
    EXPECT_FALSE(doc.Paragraphs[0].Runs[1].Bold);
}

}  // namespace
}  // namespace veltra
