// The RTF writer. The header names every font the runs use (Arial first, as
// the default font) with character set 0, so that the `\'hh` bytes it writes
// are Windows-1252 for any reader; characters Windows-1252 lacks go as
// `\uN?` under `\uc1`. Each run states its whole character format, so a run
// never depends on the one before it, and the history lines spliced in
// front of the closing take the format of the description's last run.
#include <algorithm>
#include <cmath>
#include <map>

#include "rtf.h"
#include "rtf_text_codec.h"

namespace veltra {

namespace {

using rtf_detail::Cp1252ByteOf;
using rtf_detail::NextUtf8;

constexpr std::string_view kDefaultFont = "Arial";
constexpr std::string_view kLineEnd = "\r\n";

void AppendHexByte(std::string& out, int byte) {
    static const char kHex[] = "0123456789abcdef";
    out += "\\'";
    out += kHex[(byte >> 4) & 15];
    out += kHex[byte & 15];
}

void AppendUnicodeUnit(std::string& out, char32_t unit) {
    // \uN takes a signed 16-bit number.
    const int value = unit >= 0x8000 ? int(unit) - 0x10000 : int(unit);
    out += "\\u" + std::to_string(value) + "?";
}

// Escapes UTF-8 text. In font names, `inFontName` drops the semicolon that
// would end the table entry.
void AppendEscaped(std::string& out, std::string_view text, bool inFontName) {
    for (size_t i = 0; i < text.size();) {
        const char32_t c = NextUtf8(text, i);
        if (c == '\\' || c == '{' || c == '}') {
            out += '\\';
            out += char(c);
        } else if (c == '\t') {
            if (!inFontName) out += "\\tab ";
        } else if (c == 0x2028) {
            if (!inFontName) out += "\\line ";
        } else if (c == ';' && inFontName) {
            continue;
        } else if (c < 0x20 || c == 0x7F) {
            continue;
        } else if (c < 0x80) {
            out += char(c);
        } else if (const int byte = Cp1252ByteOf(c); byte >= 0) {
            AppendHexByte(out, byte);
        } else if (c >= 0x10000) {
            AppendUnicodeUnit(out, 0xD800 + ((c - 0x10000) >> 10));
            AppendUnicodeUnit(out, 0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            AppendUnicodeUnit(out, c);
        }
    }
}

std::string FontKey(const std::string& name) {
    std::string key;
    AppendEscaped(key, name.empty() ? std::string(kDefaultFont) : name, true);
    return key.empty() ? std::string(kDefaultFont) : key;
}

class TWriter {
  public:
    explicit TWriter(const TRtfDocument& document) : Document(document) {
        AddFont(std::string(kDefaultFont));
        for (const TRtfParagraph& p : Document.Paragraphs)
            for (const TRtfRun& run : p.Runs) {
                AddFont(FontKey(run.FontName));
                if (run.Color) AddColor(*run.Color);
            }
    }

    std::string Write() {
        Out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1";
        Out += kLineEnd;
        Out += "{\\fonttbl";
        for (size_t i = 0; i < FontOrder.size(); ++i)
            Out += "{\\f" + std::to_string(i) + "\\fnil\\fcharset0 " + FontOrder[i] + ";}";
        Out += "}";
        Out += kLineEnd;
        Out += "{\\colortbl ;";
        for (uint32_t rgb : ColorOrder)
            Out += "\\red" + std::to_string((rgb >> 16) & 0xFF) + "\\green" +
                   std::to_string((rgb >> 8) & 0xFF) + "\\blue" + std::to_string(rgb & 0xFF) + ";";
        Out += "}";
        Out += kLineEnd;
        Out += "\\viewkind4\\plain";
        Out += kLineEnd;
        const size_t count = Document.Paragraphs.size();
        for (size_t i = 0; i < count; ++i) {
            Paragraph(Document.Paragraphs[i]);
            if (i + 1 < count) {
                Out += "\\par";
                Out += kLineEnd;
            }
        }
        if (count == 0) Paragraph(TRtfParagraph());
        Out += kRtfClosing;
        return std::move(Out);
    }

  private:
    void AddFont(const std::string& key) {
        if (Fonts.emplace(key, int(FontOrder.size())).second) FontOrder.push_back(key);
    }

    void AddColor(uint32_t rgb) {
        rgb &= 0xFFFFFF;
        if (Colors.emplace(rgb, int(ColorOrder.size()) + 1).second) ColorOrder.push_back(rgb);
    }

    void Paragraph(const TRtfParagraph& p) {
        Out += "\\pard";
        if (p.Bullet)
            Out +=
                "{\\pntext\\'95\\tab}{\\*\\pn\\pnlvlblt\\pnindent360{\\pntxtb\\'95}}\\fi-"
                "360\\li360";
        switch (p.Alignment) {
            case TRtfAlignment::Left:
                Out += "\\ql";
                break;
            case TRtfAlignment::Center:
                Out += "\\qc";
                break;
            case TRtfAlignment::Right:
                Out += "\\qr";
                break;
            case TRtfAlignment::Justify:
                Out += "\\qj";
                break;
        }
        // Runs whose formats write the same (an empty font name and the
        // default font, sizes that round to the same half point) are written
        // as one, as they read back as one.
        std::string last;
        for (const TRtfRun& run : p.Runs) {
            const std::string format = Format(run);
            if (format != last) Out += format;
            last = format;
            AppendEscaped(Out, run.Text, false);
        }
    }

    std::string Format(const TRtfRun& run) const {
        // Sizes outside RTF's range are clamped; half points are kept.
        const double halfPoints = std::isfinite(run.Size) ? std::round(run.Size * 2) : 24;
        std::string f = "\\f" + std::to_string(Fonts.at(FontKey(run.FontName)));
        f += "\\fs" + std::to_string(int(std::clamp(halfPoints, 1.0, 3276.0)));
        f += run.Bold ? "\\b" : "\\b0";
        f += run.Italic ? "\\i" : "\\i0";
        f += run.Underline ? "\\ul" : "\\ulnone";
        f += "\\cf" + std::to_string(run.Color ? Colors.at(*run.Color & 0xFFFFFF) : 0);
        return f + ' ';
    }

    const TRtfDocument& Document;
    std::map<std::string, int> Fonts;
    std::vector<std::string> FontOrder;
    std::map<uint32_t, int> Colors;
    std::vector<uint32_t> ColorOrder;
    std::string Out;
};

}  // namespace

std::string WriteRtf(const TRtfDocument& document) { return TWriter(document).Write(); }

std::string PlainText(const TRtfDocument& document) {
    std::string text;
    for (size_t i = 0; i < document.Paragraphs.size(); ++i) {
        if (i > 0) text += '\n';
        for (const TRtfRun& run : document.Paragraphs[i].Runs) {
            // U+2028 is E2 80 A8 in UTF-8.
            for (size_t k = 0; k < run.Text.size(); ++k) {
                if (run.Text.compare(k, 3, "\xE2\x80\xA8") == 0) {
                    text += '\n';
                    k += 2;
                } else {
                    text += run.Text[k];
                }
            }
        }
    }
    return text;
}

std::string RtfPlainText(std::string_view rtf) { return PlainText(ReadRtf(rtf)); }

}  // namespace veltra
