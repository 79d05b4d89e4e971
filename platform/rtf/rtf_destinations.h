// Tables of the RTF reader: destinations, control words that stand for one
// character, and the underline styles.
#pragma once

#include <optional>
#include <string_view>

namespace veltra::rtf_detail {

// What the text of a group is read into.
enum class TDestination {
    Text,                // the document's visible text
    FontTable,           // \fonttbl: font numbers, character sets and names
    ColorTable,          // \colortbl: \red \green \blue entries ended by ';'
    ListText,            // \pntext, \listtext: a paragraph's number or bullet as shown
    ParagraphNumbering,  // \pn: the numbering level (\pnlvlblt is a bullet)
    Skip,                // no visible text
};

// True when `word` starts a destination the reader knows (including \upr and
// \ud, which the reader handles itself).
bool IsDestinationWord(std::string_view word);

// The destination `word` starts; Skip for the ones without visible text and
// Text for \upr, \ud and words that are no destination.
TDestination DestinationOf(std::string_view word);

// The character a control word such as \emdash or \rquote stands for.
std::optional<char32_t> SymbolOf(std::string_view word);

// True for the control words that turn underline on (\ul, \uldb, \ulwave,
// ...), false for \ulnone, \ulc (underline colour) and the rest.
bool IsUnderlineWord(std::string_view word);

}  // namespace veltra::rtf_detail
