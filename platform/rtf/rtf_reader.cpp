// The RTF reader: one pass over the bytes with a stack of group states.
//
// Every byte of the input is untrusted. The scanner looks at most one byte
// ahead and checks the end before each look; numbers saturate instead of
// overflowing; `\binN` skips at most what is left; the group stack stops
// growing at kMaxDepth (deeper groups share the deepest state, counted so
// that their closing braces still match). Text is gathered as code-page bytes
// and decoded at the next token that is not text, so that a character of a
// double-byte code page written as two `\'hh` (or as `\'hh` and a plain
// byte) is decoded as one.
#include <unicode/uchar.h>

#include <algorithm>
#include <map>
#include <vector>

#include "rtf.h"
#include "rtf_destinations.h"
#include "rtf_text_codec.h"

namespace veltra {

namespace {

using rtf_detail::AppendUtf8;
using rtf_detail::TDestination;

constexpr size_t kMaxDepth = 512;
constexpr int kDefaultHalfPoints = 24;  // RTF's default size: 12 points
constexpr int kMaxUnicodeSkip = 1000;

struct TCharState {
    int Font = -1;  // -1: the default font (\deff)
    int HalfPoints = kDefaultHalfPoints;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool Hidden = false;
    int ColorIndex = 0;
};

struct TGroupState {
    TDestination Destination = TDestination::Text;
    TCharState Char;
    TRtfAlignment Alignment = TRtfAlignment::Left;
    bool Bullet = false;
    int UnicodeSkip = 1;
    // \upr: the destination its \ud child returns to.
    bool InUpr = false;
    TDestination UprOuter = TDestination::Text;
    // Set inside a \pn group by its level words.
    bool PnBullet = false;
    bool PnSeen = false;
};

struct TFont {
    std::string Name;
    bool NameDone = false;
    int CodePage = 0;  // 0: the document's
};

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

bool HasLetterOrDigit(std::string_view utf8) {
    for (size_t i = 0; i < utf8.size();)
        if (u_isalnum(UChar32(rtf_detail::NextUtf8(utf8, i)))) return true;
    return false;
}

class TReader {
  public:
    explicit TReader(std::string_view input) : In(input) {
        Stack.emplace_back();
        const size_t last = In.rfind('}');
        LastClosingBrace = last == std::string_view::npos ? 0 : last;
        // Blanks in front of the document's opening brace are not its text.
        const size_t first = In.find_first_not_of(" \t\r\n");
        if (first != std::string_view::npos && In[first] == '{') Pos = first;
    }

    TRtfDocument Read() {
        while (Pos < In.size()) Step();
        Flush();
        DropDanglingSurrogate();
        if (!Current.Runs.empty()) EndParagraph();
        return std::move(Document);
    }

  private:
    TGroupState& Top() { return Stack.back(); }

    void Step() {
        const char c = In[Pos];
        switch (c) {
            case '{':
                ++Pos;
                OpenGroup();
                return;
            case '}':
                ++Pos;
                CloseGroup();
                return;
            case '\\':
                ControlToken();
                return;
            case '\r':
            case '\n':
                ++Pos;
                return;
            default:
                ++Pos;
                TextByte(static_cast<unsigned char>(c));
                return;
        }
    }

    void OpenGroup() {
        Flush();
        SkipCount = 0;
        IgnorableNext = false;
        if (Stack.size() >= kMaxDepth) {
            ++Overflow;
            return;
        }
        TGroupState child = Top();
        child.PnSeen = false;
        Stack.push_back(child);
    }

    void CloseGroup() {
        Flush();
        SkipCount = 0;
        IgnorableNext = false;
        if (Overflow > 0) {
            --Overflow;
            return;
        }
        if (Stack.size() <= 1) {  // an unbalanced brace
            if (Pos > LastClosingBrace) Pos = In.size();
            return;
        }
        const TGroupState closed = Stack.back();
        Stack.pop_back();
        if (closed.Destination == TDestination::ParagraphNumbering && closed.PnSeen &&
            Top().Destination != TDestination::ParagraphNumbering) {
            Top().Bullet = closed.PnBullet;
        } else if (closed.Destination == TDestination::ListText &&
                   Top().Destination != TDestination::ListText) {
            EndListText();
        }
        if (Stack.size() == 1 && Pos < In.size() && Pos > LastClosingBrace) {
            // The document's own closing brace: what follows is not part of
            // it. Only when another closing brace follows (an unbalanced
            // brace inside the text) is the rest read on.
            Pos = In.size();
        }
    }

    void ControlToken() {
        if (Pos + 1 >= In.size()) {
            Pos = In.size();
            return;
        }
        const char next = In[Pos + 1];
        if (IsLetter(next)) {
            ControlWord();
            return;
        }
        Pos += 2;
        if (next == '\'') {
            int value = 0, digits = 0;
            while (digits < 2 && Pos < In.size() && HexValue(In[Pos]) >= 0) {
                value = value * 16 + HexValue(In[Pos]);
                ++Pos;
                ++digits;
            }
            if (digits > 0) TextByte(static_cast<unsigned char>(value));
            return;
        }
        if (next == '\\' || next == '{' || next == '}') {
            TextByte(static_cast<unsigned char>(next));
            return;
        }
        Flush();
        if (next == '*') {
            IgnorableNext = true;
            return;
        }
        IgnorableNext = false;
        if (ConsumeSkip()) return;
        switch (next) {
            case '~':
                Character(0x00A0);
                break;
            case '-':
                Character(0x00AD);
                break;
            case '_':
                Character(0x2011);
                break;
            case '\r':
            case '\n':
                ParagraphMark();
                break;
            case '\t':
                Character('\t');
                break;
            default:
                break;  // \: \| and unknown symbols
        }
    }

    void ControlWord() {
        size_t p = Pos + 1;
        const size_t wordStart = p;
        while (p < In.size() && IsLetter(In[p])) ++p;
        const std::string_view word = In.substr(wordStart, p - wordStart);
        bool hasParam = false;
        bool negative = false;
        int64_t param = 0;
        if (p < In.size() && In[p] == '-' && p + 1 < In.size() && IsDigit(In[p + 1])) {
            negative = true;
            ++p;
        }
        while (p < In.size() && IsDigit(In[p])) {
            hasParam = true;
            param = std::min<int64_t>(param * 10 + (In[p] - '0'), int64_t(1) << 40);
            ++p;
        }
        if (p < In.size() && In[p] == ' ') ++p;
        Pos = p;
        if (negative) param = -param;
        const int value = int(std::clamp<int64_t>(param, INT32_MIN, INT32_MAX));
        Flush();
        if (word == "bin") {
            // Binary data: skipped whatever the destination.
            const size_t length = hasParam && param > 0 ? size_t(param) : 0;
            Pos += std::min(length, In.size() - Pos);
            IgnorableNext = false;
            ConsumeSkip();
            return;
        }
        const bool ignorable = IgnorableNext;
        IgnorableNext = false;
        if (ConsumeSkip()) return;
        Word(word, hasParam, value, ignorable);
    }

    // Counts a token against the fallback of the last \uN; true when the
    // token is part of that fallback and is dropped.
    bool ConsumeSkip() {
        if (SkipCount <= 0) return false;
        --SkipCount;
        return true;
    }

    void TextByte(unsigned char byte) {
        IgnorableNext = false;
        if (ConsumeSkip()) return;
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return;
        Pending += char(byte);
    }

    int CodePageFor(int font) const {
        const auto found = Fonts.find(font < 0 ? DefaultFont : font);
        if (found != Fonts.end() && found->second.CodePage > 0) return found->second.CodePage;
        return DocumentCodePage;
    }

    void Flush() {
        if (Pending.empty()) return;
        const int page = Top().Destination == TDestination::FontTable
                             ? CodePageFor(FontEntry)
                             : CodePageFor(Top().Char.Font);
        std::string text;
        Decoder.Decode(page, Pending, text);
        Pending.clear();
        Text(text);
    }

    void Character(char32_t c) {
        if ((c < 0x20 && c != '\t') || c == 0x7F) return;
        if (c == 0x2029) c = 0x2028;
        std::string text;
        AppendUtf8(text, c);
        Text(text);
    }

    void UnicodeCharacter(int value) {
        if (value < -32768 || value > 65535) return Character(0xFFFD);
        const char32_t unit = char32_t(value < 0 ? value + 65536 : value) & 0xFFFF;
        if (unit >= 0xD800 && unit < 0xDC00) {
            DropDanglingSurrogate();
            HighSurrogate = unit;
            return;
        }
        if (unit >= 0xDC00 && unit < 0xE000) {
            if (HighSurrogate) {
                const char32_t c = 0x10000 + ((HighSurrogate - 0xD800) << 10) + (unit - 0xDC00);
                HighSurrogate = 0;
                Character(c);
            } else {
                Character(0xFFFD);
            }
            return;
        }
        Character(unit);
    }

    void DropDanglingSurrogate() {
        if (!HighSurrogate) return;
        HighSurrogate = 0;
        Character(0xFFFD);
    }

    // Text in the current destination (UTF-8).
    void Text(const std::string& text) {
        if (text.empty()) return;
        if (HighSurrogate) DropDanglingSurrogate();
        switch (Top().Destination) {
            case TDestination::Text:
                if (!Top().Char.Hidden) AppendRun(text);
                return;
            case TDestination::FontTable: {
                TFont& font = Fonts[FontEntry];
                if (font.NameDone) return;
                const size_t semicolon = text.find(';');
                font.Name += text.substr(0, semicolon);
                if (semicolon != std::string::npos) {
                    font.Name = Trimmed(font.Name);
                    font.NameDone = true;
                }
                return;
            }
            case TDestination::ColorTable:
                for (char c : text)
                    if (c == ';') EndColor();
                return;
            case TDestination::ListText:
                if (!Top().Char.Hidden) AppendRun(ListParagraph, text);
                return;
            default:
                return;
        }
    }

    TRtfRun FormatOfTop() const {
        const TCharState& s = Stack.back().Char;
        TRtfRun run;
        const auto font = Fonts.find(s.Font < 0 ? DefaultFont : s.Font);
        if (font != Fonts.end()) run.FontName = Trimmed(font->second.Name);
        run.Size = s.HalfPoints / 2.0;
        run.Bold = s.Bold;
        run.Italic = s.Italic;
        run.Underline = s.Underline;
        if (s.ColorIndex > 0 && size_t(s.ColorIndex) < Colors.size())
            run.Color = Colors[size_t(s.ColorIndex)];
        return run;
    }

    void AppendRun(const std::string& text) { AppendRun(Current, text); }

    void AppendRun(TRtfParagraph& paragraph, const std::string& text) {
        TRtfRun run = FormatOfTop();
        run.Text = text;
        AppendRun(paragraph, std::move(run));
    }

    static void AppendRun(TRtfParagraph& paragraph, TRtfRun run) {
        if (!paragraph.Runs.empty() && paragraph.Runs.back().SameFormat(run)) {
            paragraph.Runs.back().Text += run.Text;
            return;
        }
        paragraph.Runs.push_back(std::move(run));
    }

    // A paragraph's number as shown (\pntext, \listtext): a symbol alone
    // marks a bullet; a number of letters or digits is visible text of the
    // paragraph, as the model has no numbered lists.
    void EndListText() {
        std::string text;
        for (const TRtfRun& run : ListParagraph.Runs) text += run.Text;
        if (HasLetterOrDigit(text)) {
            Top().Bullet = false;
            for (TRtfRun& run : ListParagraph.Runs) AppendRun(Current, std::move(run));
        } else if (!Trimmed(text).empty()) {
            Top().Bullet = true;
        }
        ListParagraph = TRtfParagraph();
    }

    void EndParagraph() {
        Current.Alignment = Top().Alignment;
        Current.Bullet = Top().Bullet;
        Document.Paragraphs.push_back(std::move(Current));
        Current = TRtfParagraph();
    }

    void ParagraphMark() {
        if (Top().Destination == TDestination::Text) EndParagraph();
    }

    // A break that ends a paragraph only when there is one to end.
    void SoftParagraphMark() {
        if (Top().Destination == TDestination::Text && !Current.Runs.empty()) EndParagraph();
    }

    void EndColor() {
        Colors.push_back(ColorSet ? std::optional<uint32_t>(ColorValue) : std::nullopt);
        ColorSet = false;
        ColorValue = 0;
    }

    void SetColorPart(int shift, bool hasParam, int value) {
        const uint32_t part = uint32_t(std::clamp(hasParam ? value : 0, 0, 255));
        ColorValue = (ColorValue & ~(0xFFu << shift)) | (part << shift);
        ColorSet = true;
    }

    void Word(std::string_view word, bool hasParam, int value, bool ignorable);
    void DestinationWord(std::string_view word, bool ignorable);

    std::string_view In;
    size_t Pos = 0;
    std::vector<TGroupState> Stack;
    size_t Overflow = 0;
    bool IgnorableNext = false;
    int SkipCount = 0;
    char32_t HighSurrogate = 0;
    std::string Pending;
    rtf_detail::TByteDecoder Decoder;
    int DocumentCodePage = 1252;
    int DefaultFont = 0;
    std::map<int, TFont> Fonts;
    int FontEntry = 0;
    std::vector<std::optional<uint32_t>> Colors;
    bool ColorSet = false;
    uint32_t ColorValue = 0;
    TRtfParagraph ListParagraph;
    size_t LastClosingBrace = 0;
    TRtfParagraph Current;
    TRtfDocument Document;
};

void TReader::DestinationWord(std::string_view word, bool ignorable) {
    TGroupState& s = Top();
    const TDestination known = rtf_detail::DestinationOf(word);
    if (word == "ud" && s.InUpr) {
        s.Destination = s.UprOuter;
        s.InUpr = false;
        return;
    }
    if (word == "upr") {
        s.UprOuter = s.Destination;
        s.InUpr = true;
        s.Destination = TDestination::Skip;
        return;
    }
    if (known == TDestination::ParagraphNumbering) {
        if (s.Destination == TDestination::Skip) return;
        s.Destination = known;
        s.PnBullet = false;
        return;
    }
    if (known == TDestination::ListText) {
        if (s.Destination != TDestination::Text) return;
        ListParagraph = TRtfParagraph();
        s.Destination = known;
        return;
    }
    if (known == TDestination::FontTable || known == TDestination::ColorTable) {
        s.Destination = known;
        if (known == TDestination::ColorTable) {
            Colors.clear();
            ColorSet = false;
        }
        return;
    }
    if (known == TDestination::Skip || ignorable) s.Destination = TDestination::Skip;
}

void TReader::Word(std::string_view word, bool hasParam, int value, bool ignorable) {
    TGroupState& s = Top();
    TCharState& ch = s.Char;
    const bool on = !hasParam || value != 0;
    const auto symbol = rtf_detail::SymbolOf(word);
    if (symbol) {
        Character(*symbol);
        return;
    }
    if (rtf_detail::IsDestinationWord(word) || ignorable) {
        DestinationWord(word, ignorable);
        return;
    }
    if (word == "par") return ParagraphMark();
    if (word == "line") return Character(0x2028);
    if (word == "tab" || word == "cell" || word == "nestcell") return Character('\t');
    if (word == "row" || word == "nestrow" || word == "page" || word == "sect")
        return SoftParagraphMark();
    if (word == "u") {
        if (!hasParam) return;
        UnicodeCharacter(value);
        SkipCount = s.UnicodeSkip;
        return;
    }
    if (word == "uc") {
        s.UnicodeSkip = std::clamp(hasParam ? value : 1, 0, kMaxUnicodeSkip);
        return;
    }
    // The document's code page and default font.
    if (word == "ansi") return void(DocumentCodePage = 1252);
    if (word == "mac") return void(DocumentCodePage = 10000);
    if (word == "pc") return void(DocumentCodePage = 437);
    if (word == "pca") return void(DocumentCodePage = 850);
    if (word == "ansicpg") {
        if (hasParam && value > 0 && value < 65536) DocumentCodePage = value;
        return;
    }
    if (word == "deff") return void(DefaultFont = hasParam ? value : 0);
    // Font and colour tables.
    if (s.Destination == TDestination::FontTable) {
        if (word == "f") {
            FontEntry = hasParam ? value : 0;
            Fonts[FontEntry] = TFont();
        } else if (word == "fcharset" && hasParam) {
            Fonts[FontEntry].CodePage = rtf_detail::CodePageOfCharset(value);
        } else if (word == "cpg" && hasParam && value > 0 && value < 65536) {
            Fonts[FontEntry].CodePage = value;
        }
        return;
    }
    if (s.Destination == TDestination::ColorTable) {
        if (word == "red")
            SetColorPart(16, hasParam, value);
        else if (word == "green")
            SetColorPart(8, hasParam, value);
        else if (word == "blue")
            SetColorPart(0, hasParam, value);
        return;
    }
    if (s.Destination == TDestination::ParagraphNumbering) {
        if (word == "pnlvlblt") {
            s.PnBullet = true;
            s.PnSeen = true;
        } else if (word == "pnlvlbody" || word == "pnlvlcont" || word == "pnlvl") {
            s.PnBullet = false;
            s.PnSeen = true;
        }
        return;
    }
    // Character formatting.
    if (word == "plain") return void(ch = TCharState());
    if (word == "f") return void(ch.Font = hasParam ? value : 0);
    if (word == "fs")
        return void(ch.HalfPoints =
                        hasParam && value > 0 ? std::min(value, 3276) : kDefaultHalfPoints);
    if (word == "b") return void(ch.Bold = on);
    if (word == "i") return void(ch.Italic = on);
    if (word == "v") return void(ch.Hidden = on);
    if (word == "ulnone") return void(ch.Underline = false);
    if (word.substr(0, 2) == "ul" && rtf_detail::IsUnderlineWord(word))
        return void(ch.Underline = on);
    if (word == "cf") return void(ch.ColorIndex = hasParam ? value : 0);
    // Paragraph formatting.
    if (word == "pard") {
        s.Alignment = TRtfAlignment::Left;
        s.Bullet = false;
        return;
    }
    if (word == "ql") return void(s.Alignment = TRtfAlignment::Left);
    if (word == "qc") return void(s.Alignment = TRtfAlignment::Center);
    if (word == "qr") return void(s.Alignment = TRtfAlignment::Right);
    if (word == "qj" || word == "qd") return void(s.Alignment = TRtfAlignment::Justify);
    if (word == "pnlvlblt") return void(s.Bullet = true);
}

}  // namespace

bool TRtfRun::SameFormat(const TRtfRun& other) const {
    return FontName == other.FontName && Size == other.Size && Bold == other.Bold &&
           Italic == other.Italic && Underline == other.Underline && Color == other.Color;
}

TRtfDocument ReadRtf(std::string_view rtf) { return TReader(rtf).Read(); }

}  // namespace veltra
