#include "rtf_destinations.h"

#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace veltra::rtf_detail {

namespace {

// Destinations whose text is not part of the visible body: tables and style
// sheets, document information, pictures and objects' data, field
// instructions, headers, footers and notes, bookmarks and annotations, index
// and table-of-contents entries, drawing objects, mathematics and the
// document's other stores. Destinations starred with \* that are not listed
// are skipped too.
const std::unordered_set<std::string_view>& SkippedDestinations() {
    // clang-format off
    static const std::unordered_set<std::string_view> kWords{
        "aftncn", "aftnsep", "aftnsepc", "annotation", "atnauthor", "atndate", "atnicn", "atnid",
        "atnparent", "atnref", "atntime", "atrfend", "atrfstart", "author", "background",
        "bkmkend", "bkmkstart", "blipuid", "buptim", "category", "colorschememapping", "comment",
        "company", "creatim", "datafield", "datastore", "defchp", "defpap", "do", "doccomm",
        "docvar", "dptxbxtext", "ebcend", "ebcstart", "factoidname", "falt", "fchars",
        "ffdeftext", "ffentrymcr", "ffexitmcr", "ffformat", "ffhelptext", "ffl", "ffname",
        "ffstattext", "file", "filetbl", "fldinst", "fldtype", "fname", "fontemb", "fontfile",
        "footer", "footerf", "footerl", "footerr", "footnote", "formfield", "ftncn", "ftnsep",
        "ftnsepc", "g", "generator", "gridtbl", "header", "headerf", "headerl", "headerr", "hl",
        "hlfr", "hlinkbase", "hlloc", "hlsrc", "hsv", "htmltag", "info", "keycode", "keywords",
        "latentstyles", "lchars", "levelnumbers", "leveltext", "lfolevel", "linkval", "list",
        "listlevel", "listname", "listoverride", "listoverridetable", "listpicture",
        "liststylename", "listtable", "lsdlockedexcept", "mailmerge", "manager", "mmath",
        "mmathPict", "mmathPr", "nesttableprops", "nextfile", "nonesttables", "nonshppict",
        "objalias", "objclass", "objdata", "objname", "objsect", "objtime", "oldcprops",
        "oldpprops", "oldsprops", "oldtprops", "oleclsid", "operator", "panose", "password",
        "passwordhash", "pgdsctbl", "pgp", "pgptbl", "picprop", "pict", "pnseclvl", "pntxta",
        "pntxtb", "printim", "private", "propname", "protend", "protstart", "protusertbl", "pxe",
        "revtbl", "revtim", "rsidtbl", "rxe", "shp", "shpgrp", "shpinst", "shppict", "shprslt",
        "shptxt", "sn", "sp", "staticval", "stylesheet", "subject", "sv", "svb", "tc",
        "template", "themedata", "title", "txe", "userprops", "wgrffmtfilter", "windowcaption",
        "writereservation", "writereservhash", "xe", "xform", "xmlattrname", "xmlattrvalue",
        "xmlclose", "xmlname", "xmlnstbl", "xmlopen"};
    // clang-format on
    return kWords;
}

}  // namespace

bool IsDestinationWord(std::string_view word) {
    return word == "fonttbl" || word == "colortbl" || word == "pn" || word == "pntext" ||
           word == "listtext" || word == "upr" || word == "ud" || SkippedDestinations().count(word);
}

TDestination DestinationOf(std::string_view word) {
    if (word == "fonttbl") return TDestination::FontTable;
    if (word == "colortbl") return TDestination::ColorTable;
    if (word == "pn") return TDestination::ParagraphNumbering;
    if (word == "pntext" || word == "listtext") return TDestination::ListText;
    if (SkippedDestinations().count(word)) return TDestination::Skip;
    return TDestination::Text;
}

std::optional<char32_t> SymbolOf(std::string_view word) {
    static const std::unordered_map<std::string_view, char32_t> kSymbols{
        {"emdash", 0x2014},    {"endash", 0x2013},    {"emspace", 0x2003}, {"enspace", 0x2002},
        {"qmspace", 0x2005},   {"bullet", 0x2022},    {"lquote", 0x2018},  {"rquote", 0x2019},
        {"ldblquote", 0x201C}, {"rdblquote", 0x201D}, {"zwj", 0x200D},     {"zwnj", 0x200C},
        {"zwbo", 0x200B},      {"ltrmark", 0x200E},   {"rtlmark", 0x200F}};
    const auto found = kSymbols.find(word);
    if (found == kSymbols.end()) return std::nullopt;
    return found->second;
}

bool IsUnderlineWord(std::string_view word) {
    static const std::unordered_set<std::string_view> kWords{
        "ul",         "uld",       "uldash",     "uldashd", "uldashdd", "uldb",
        "ulhwave",    "ulldash",   "ulth",       "ulthd",   "ulthdash", "ulthdashd",
        "ulthdashdd", "ulthldash", "ululdbwave", "ulw",     "ulwave"};
    return kWords.count(word) > 0;
}

}  // namespace veltra::rtf_detail
