// Character helpers shared by the RTF reader and writer: code pages of RTF
// character sets, decoding of code-page bytes through ICU, UTF-8 assembly and
// the Windows-1252 form of a character.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

struct UConverter;

namespace veltra::rtf_detail {

// The Windows code page of an RTF font character set (`\fcharsetN`), or 0
// when the set names none and the document's code page applies.
int CodePageOfCharset(int charset);

// Decodes code-page bytes to UTF-8, keeping one ICU converter per code page.
// A code page ICU does not know decodes as Windows-1252; bytes without a
// character become U+FFFD. Never throws.
class TByteDecoder {
  public:
    TByteDecoder() = default;
    TByteDecoder(const TByteDecoder&) = delete;
    TByteDecoder& operator=(const TByteDecoder&) = delete;
    ~TByteDecoder();

    // Appends the UTF-8 text of `bytes` in `codePage` to `out`.
    void Decode(int codePage, std::string_view bytes, std::string& out);

  private:
    UConverter* Converter(int codePage);
    std::map<int, UConverter*> Converters;
};

// Appends `c` as UTF-8; surrogates and values beyond U+10FFFF as U+FFFD.
void AppendUtf8(std::string& out, char32_t c);

// Reads the next character of UTF-8 `text` at `pos` and advances `pos`;
// malformed or overlong sequences yield U+FFFD and advance one byte.
char32_t NextUtf8(std::string_view text, size_t& pos);

// The Windows-1252 byte of `c`, or -1 when the code page has none (the bytes
// 0x81, 0x8D, 0x8F, 0x90 and 0x9D are unassigned there).
int Cp1252ByteOf(char32_t c);

}  // namespace veltra::rtf_detail
