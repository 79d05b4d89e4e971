// The RTF codec: a small document model, a reader that takes what rich-text
// editors write, a writer, and the visible text of a document.
//
// Document model
// --------------
// A document is a list of paragraphs. A paragraph has an alignment, a bullet
// flag and a list of runs; a run is UTF-8 text in one character format (font
// name, size in points, bold, italic, underline, colour). Inside a run, a tab
// is '\t' and a line break that does not end the paragraph (RTF `\line`) is
// U+2028 LINE SEPARATOR, as in Qt's text documents. No other control
// characters occur in run text.
//
// Written form
// ------------
// WriteRtf produces 7-bit text: every character beyond ASCII is written as
// `\'hh` when Windows-1252 has it and as `\uN?` otherwise (a character beyond
// the Basic Multilingual Plane as two such escapes, one per UTF-16 unit).
// Every paragraph but the last is followed by "\par" CR LF, and every written
// document ends with kRtfClosing: the last paragraph's mark, the document's
// closing brace and a line end. The change history relies on exactly that:
// it cuts those nine characters off a stored description, appends its own
// lines (each a paragraph ending in "\par" CR LF) and closes the document
// again with "\par }". The reader reads such a spliced document like any
// other.
//
// Reading
// -------
// ReadRtf never throws (short of running out of memory) and never reads past
// its input, whatever the bytes. It understands nested groups, the font and
// colour tables, `\'hh` bytes in the document's code page (`\ansicpgN`) or
// in the character set of the current font (`\fcharsetN`), `\uN` with its
// `\ucN` fallback, `\upr`/`\ud`, paragraph numbering (`\pn`, `\pntext`,
// `\listtext`), ignorable destinations (`{\*...}`), destinations that carry
// no visible text (font and style sheets, document information, pictures,
// objects' data, field instructions, headers and footers, footnotes,
// bookmarks, ...), `\binN` data, hidden text (`\v`) and table cells (a cell
// ends with a tab, a row ends the paragraph). Unknown control words are
// skipped; a malformed document yields what could be read of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltra {

// The last nine characters of every document WriteRtf writes: the final
// paragraph mark, CR LF, the closing brace, CR LF.
inline constexpr std::string_view kRtfClosing = "\\par\r\n}\r\n";
static_assert(kRtfClosing.size() == 9, "the change history cuts exactly nine characters");

enum class TRtfAlignment { Left, Center, Right, Justify };

struct TRtfRun {
    std::string Text;      // UTF-8; '\t' and U+2028 as described above
    std::string FontName;  // empty: the document's default font
    double Size = 12;      // points; RTF counts half points, so halves survive
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    std::optional<uint32_t> Color;  // 0xRRGGBB; empty is "auto" (the reader's default)

    // True when both runs have the same character format (text not compared).
    bool SameFormat(const TRtfRun& other) const;
    bool operator==(const TRtfRun&) const = default;
};

struct TRtfParagraph {
    TRtfAlignment Alignment = TRtfAlignment::Left;
    bool Bullet = false;
    std::vector<TRtfRun> Runs;  // an empty paragraph has none

    bool operator==(const TRtfParagraph&) const = default;
};

struct TRtfDocument {
    std::vector<TRtfParagraph> Paragraphs;

    bool operator==(const TRtfDocument&) const = default;
};

// Reads an RTF document. Consecutive runs of one format are merged into one
// and runs without text are dropped. A paragraph is ended by `\par` (or a
// table row, page or section break); text after the last paragraph mark
// forms a last paragraph of its own. Text after the brace that closes the
// document is not read, unless another closing brace follows it (then the
// document held an unbalanced brace, as spliced history lines may). Input
// that is not RTF at all (no "{\rtf") is read as RTF text all the same, so
// plain text comes back as itself with line ends ignored.
TRtfDocument ReadRtf(std::string_view rtf);

// Writes a document; see "Written form" above. A document without paragraphs
// is written as one empty paragraph. A run's empty font name is written as
// the default font, Arial. Semicolons are dropped from font names (the font
// table cannot hold them) and control characters other than tab and U+2028
// from run text. Invalid UTF-8 is written as U+FFFD.
std::string WriteRtf(const TRtfDocument& document);

// The visible text of an RTF document in UTF-8: the paragraphs' texts joined
// by "\n", with U+2028 line breaks as "\n" too. Like ReadRtf, it never throws
// on any bytes.
std::string RtfPlainText(std::string_view rtf);

// The visible text of a document model, joined the same way.
std::string PlainText(const TRtfDocument& document);

}  // namespace veltra
