// Locale services over ICU: mapping Windows locale identifiers to locales,
// whether a locale's collation is available, string comparison in
// "string-sort" mode (punctuation significant), case and width mapping, and the
// Windows-1252 code page in which all stored text is kept.
//
// All text handed to these functions is Windows-1252 bytes unless a name says
// UTF-8. Objects are used by one thread at a time; the functions are
// thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace veltra {

// Windows locale identifier: language ID in the low 16 bits, sort ID in the
// high 16 bits.
inline uint32_t MakeLcid(uint16_t languageId, uint16_t sortId) {
    return uint32_t(languageId) | (uint32_t(sortId) << 16);
}

// ICU locale name ("de_DE", "en_US", ...) for a Windows locale identifier, or
// an empty string when ICU knows no such identifier.
std::string LocaleNameForLcid(uint32_t lcid);

// True when the identifier maps to a locale and ICU has a collation for that
// locale's language (not just the root fallback for an unknown language).
bool IsLocaleInstalled(uint32_t lcid);

// Windows-1252 <-> UTF-8. Bytes without a character in the code page (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same value, so the
// conversion is lossless in both directions for every byte; UTF-8 characters
// outside the code page become '?'.
std::string Cp1252ToUtf8(std::string_view bytes);
std::string Utf8ToCp1252(std::string_view utf8);

// String comparison and mapping for one locale. Create with Open; it fails
// (returns nullptr) when IsLocaleInstalled would be false.
class TLocaleCollator {
public:
    virtual ~TLocaleCollator() = default;

    static std::unique_ptr<TLocaleCollator> Open(uint32_t lcid);

    // Compares two Windows-1252 strings of the given lengths (each stops early
    // at a zero byte) in string-sort mode: punctuation and symbols are not
    // ignored. Returns -1, 0 or 1.
    virtual int Compare(const uint8_t* a, size_t lenA, const uint8_t* b, size_t lenB) const = 0;

    // Maps a Windows-1252 string to half-width forms and, when `upper` is set,
    // to upper case by the locale's rules; the result is Windows-1252 again and
    // never longer than the input (characters that would expand are kept).
    virtual std::string Map(std::string_view text, bool upper) const = 0;

    // The 256 byte values sorted with Compare, each taken as a one-character
    // string, lowest first; equal ones keep byte order.
    virtual void BuildCollationTable(uint8_t table[256]) const;
};

}  // namespace veltra
