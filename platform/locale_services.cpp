#include "platform/locale_services.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <set>
#include <stdexcept>

#include <unicode/coll.h>
#include <unicode/translit.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>

namespace veltra {

namespace {

// The five bytes Windows-1252 leaves without a character.
bool IsUndefinedCp1252Byte(UChar32 c) {
    return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

// Decoding callback: a byte the converter's table does not map becomes the
// code point of the same value. ICU's table already maps the undefined bytes
// to C1 controls; the callback keeps that guarantee independent of the data.
void ToUnicodeSameValue(const void*, UConverterToUnicodeArgs* args, const char* codeUnits,
                        int32_t length, UConverterCallbackReason reason, UErrorCode* err) {
    if (reason > UCNV_IRREGULAR) return;  // reset, close, clone: nothing to write
    *err = U_ZERO_ERROR;
    for (int32_t i = 0; i < length && U_SUCCESS(*err); ++i) {
        UChar unit = static_cast<uint8_t>(codeUnits[i]);
        ucnv_cbToUWriteUChars(args, &unit, 1, 0, err);
    }
}

// Encoding callback: the C1 controls of the undefined bytes go back to those
// bytes, so decoding and encoding round-trip every byte; any other character
// outside the code page becomes '?'.
void FromUnicodeQuestionMark(const void*, UConverterFromUnicodeArgs* args, const UChar*, int32_t,
                             UChar32 codePoint, UConverterCallbackReason reason, UErrorCode* err) {
    if (reason > UCNV_IRREGULAR) return;
    *err = U_ZERO_ERROR;
    const char byte = IsUndefinedCp1252Byte(codePoint) ? static_cast<char>(codePoint) : '?';
    ucnv_cbFromUWriteBytes(args, &byte, 1, 0, err);
}

using TConverterPtr = std::unique_ptr<UConverter, decltype(&ucnv_close)>;

// A converter is not thread-safe, so each conversion opens its own; ICU keeps
// the table data shared, which makes opening cheap.
TConverterPtr OpenCp1252Converter() {
    UErrorCode status = U_ZERO_ERROR;
    TConverterPtr conv(ucnv_open("windows-1252", &status), &ucnv_close);
    if (U_SUCCESS(status)) {
        ucnv_setToUCallBack(conv.get(), ToUnicodeSameValue, nullptr, nullptr, nullptr, &status);
    }
    if (U_SUCCESS(status)) {
        ucnv_setFromUCallBack(conv.get(), FromUnicodeQuestionMark, nullptr, nullptr, nullptr,
                              &status);
    }
    if (U_FAILURE(status)) {
        throw std::runtime_error(std::string("Windows-1252 converter unavailable: ") +
                                 u_errorName(status));
    }
    return conv;
}

icu::UnicodeString DecodeCp1252(std::string_view bytes) {
    icu::UnicodeString result;
    if (bytes.empty()) return result;
    TConverterPtr conv = OpenCp1252Converter();
    // Every byte decodes to exactly one BMP code unit.
    const int32_t capacity = static_cast<int32_t>(bytes.size());
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(conv.get(), result.getBuffer(capacity), capacity,
                                         bytes.data(), capacity, &status);
    result.releaseBuffer(U_SUCCESS(status) ? length : 0);
    if (U_FAILURE(status)) {
        throw std::runtime_error(std::string("Windows-1252 decoding failed: ") +
                                 u_errorName(status));
    }
    return result;
}

std::string EncodeCp1252(const icu::UnicodeString& text) {
    std::string result;
    if (text.isEmpty()) return result;
    TConverterPtr conv = OpenCp1252Converter();
    // At most one byte per UTF-16 unit (a surrogate pair gives one '?').
    result.resize(static_cast<size_t>(text.length()));
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_fromUChars(conv.get(), result.data(), text.length(),
                                           text.getBuffer(), text.length(), &status);
    if (U_FAILURE(status)) {
        throw std::runtime_error(std::string("Windows-1252 encoding failed: ") +
                                 u_errorName(status));
    }
    result.resize(static_cast<size_t>(length));
    return result;
}

// The character of each byte, taken once from the converter, so comparing and
// mapping do not open a converter per call.
const std::array<char16_t, 256>& Cp1252Characters() {
    static const std::array<char16_t, 256> table = [] {
        std::string all(256, '\0');
        for (size_t b = 0; b < 256; ++b) all[b] = static_cast<char>(b);
        const icu::UnicodeString decoded = DecodeCp1252(all);
        if (decoded.length() != 256) {
            throw std::runtime_error("Windows-1252 decoding does not give one character per byte");
        }
        std::array<char16_t, 256> chars{};
        for (int32_t i = 0; i < 256; ++i) chars[static_cast<size_t>(i)] = decoded[i];
        return chars;
    }();
    return table;
}

// The byte of a text that is exactly one Windows-1252 character, or -1.
int SingleCp1252Byte(const icu::UnicodeString& text) {
    if (text.length() != 1) return -1;
    const auto& chars = Cp1252Characters();
    const auto it = std::find(chars.begin(), chars.end(), text[0]);
    return it == chars.end() ? -1 : static_cast<int>(it - chars.begin());
}

// Half-width form of each byte's character. Width mapping does not depend on
// the locale, so the table is built once with ICU's transliterator; a result
// that is not a single Windows-1252 character keeps the original byte.
const std::array<uint8_t, 256>& HalfWidthBytes() {
    static const std::array<uint8_t, 256> table = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> toHalf(
            icu::Transliterator::createInstance("Fullwidth-Halfwidth", UTRANS_FORWARD, status));
        if (U_FAILURE(status) || !toHalf) {
            throw std::runtime_error(std::string("Fullwidth-Halfwidth transliterator unavailable: ") +
                                     u_errorName(status));
        }
        const auto& chars = Cp1252Characters();
        std::array<uint8_t, 256> bytes{};
        for (size_t b = 0; b < 256; ++b) {
            icu::UnicodeString text(chars[b]);
            toHalf->transliterate(text);
            const int mapped = SingleCp1252Byte(text);
            bytes[b] = static_cast<uint8_t>(mapped < 0 ? int(b) : mapped);
        }
        return bytes;
    }();
    return table;
}

// Languages ICU has collation data for, from its list of collation locales.
const std::set<std::string>& CollationLanguages() {
    static const std::set<std::string> languages = [] {
        std::set<std::string> result;
        const int32_t count = ucol_countAvailable();
        for (int32_t i = 0; i < count; ++i) {
            char language[ULOC_LANG_CAPACITY] = {};
            UErrorCode status = U_ZERO_ERROR;
            uloc_getLanguage(ucol_getAvailable(i), language, sizeof language, &status);
            if (U_SUCCESS(status) && status != U_STRING_NOT_TERMINATED_WARNING && language[0]) {
                result.insert(language);
            }
        }
        return result;
    }();
    return languages;
}

// Length up to the given one or the first zero byte, whichever comes first.
size_t TextLength(const uint8_t* text, size_t length) {
    if (length == 0) return 0;
    const void* zero = std::memchr(text, 0, length);
    return zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - text) : length;
}

class TIcuLocaleCollator final : public TLocaleCollator {
public:
    TIcuLocaleCollator(std::unique_ptr<icu::Collator> collator, const icu::Locale& locale)
        : m_Collator(std::move(collator)) {
        // Mapping is per character, so upper-casing is computed for all 256
        // bytes here and Map only looks bytes up.
        const auto& chars = Cp1252Characters();
        const auto& half = HalfWidthBytes();
        for (size_t b = 0; b < 256; ++b) {
            icu::UnicodeString upper(chars[half[b]]);
            upper.toUpper(locale);
            // Expanding results ("ß" -> "SS") and characters outside the code
            // page keep the character, so the text keeps its length.
            const int mapped = SingleCp1252Byte(upper);
            m_Upper[b] = static_cast<uint8_t>(mapped < 0 ? half[b] : mapped);
        }
    }

    int Compare(const uint8_t* a, size_t lenA, const uint8_t* b, size_t lenB) const override {
        Decode(a, TextLength(a, lenA), m_BufferA);
        Decode(b, TextLength(b, lenB), m_BufferB);
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult result = m_Collator->compare(
            m_BufferA.data(), static_cast<int32_t>(m_BufferA.size()), m_BufferB.data(),
            static_cast<int32_t>(m_BufferB.size()), status);
        if (U_FAILURE(status)) {
            throw std::runtime_error(std::string("collation failed: ") + u_errorName(status));
        }
        return result == UCOL_LESS ? -1 : result == UCOL_GREATER ? 1 : 0;
    }

    std::string Map(std::string_view text, bool upper) const override {
        const auto& table = upper ? m_Upper : HalfWidthBytes();
        std::string result(text);
        for (char& c : result) c = static_cast<char>(table[static_cast<uint8_t>(c)]);
        return result;
    }

private:
    static void Decode(const uint8_t* text, size_t length, std::u16string& out) {
        const auto& chars = Cp1252Characters();
        out.resize(length);
        for (size_t i = 0; i < length; ++i) out[i] = chars[text[i]];
    }

    std::unique_ptr<icu::Collator> m_Collator;
    std::array<uint8_t, 256> m_Upper{};
    // Scratch space for Compare: an object is used by one thread at a time, so
    // the buffers can be reused instead of allocated on every comparison.
    mutable std::u16string m_BufferA;
    mutable std::u16string m_BufferB;
};

}  // namespace

std::string LocaleNameForLcid(uint32_t lcid) {
    char name[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = uloc_getLocaleForLCID(lcid, name, sizeof name, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || length <= 0) return {};
    return std::string(name, static_cast<size_t>(length));
}

// Installed means: ICU maps the identifier to a locale, and that locale's
// language is among the languages of ICU's collation locales
// (ucol_getAvailable). Asking a collator for its locale does not work as the
// test: English has no tailoring, so an English collator reports the root
// collation just like a language ICU knows nothing about. The list of
// collation locales does name "en", and never names languages without
// collation data (nor "root", which the neutral and default identifiers such
// as 0x0000 and 0x0400 map to).
bool IsLocaleInstalled(uint32_t lcid) {
    const std::string name = LocaleNameForLcid(lcid);
    if (name.empty()) return false;
    char language[ULOC_LANG_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_getLanguage(name.c_str(), language, sizeof language, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || !language[0]) {
        return false;
    }
    return CollationLanguages().count(language) != 0;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string result;
    DecodeCp1252(bytes).toUTF8String(result);
    return result;
}

std::string Utf8ToCp1252(std::string_view utf8) {
    // Ill-formed UTF-8 decodes to U+FFFD, which then becomes '?'.
    return EncodeCp1252(icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size()))));
}

std::unique_ptr<TLocaleCollator> TLocaleCollator::Open(uint32_t lcid) {
    if (!IsLocaleInstalled(lcid)) return nullptr;
    // The name keeps the sort ID as a collation keyword
    // ("de_DE@collation=phonebook"), so the collator honours it.
    const icu::Locale locale(LocaleNameForLcid(lcid).c_str());
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status) || !collator) return nullptr;
    // String-sort mode: punctuation and symbols take part in the comparison
    // instead of being skipped. Strength stays at the locale's default.
    collator->setAttribute(UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, status);
    if (U_FAILURE(status)) return nullptr;
    return std::make_unique<TIcuLocaleCollator>(std::move(collator), locale);
}

void TLocaleCollator::BuildCollationTable(uint8_t table[256]) const {
    std::array<uint8_t, 256> bytes{};
    std::iota(bytes.begin(), bytes.end(), 0);
    // Byte 0 is a one-character string that ends at its zero byte, i.e. the
    // empty string, so it sorts first.
    std::stable_sort(bytes.begin(), bytes.end(), [this](uint8_t a, uint8_t b) {
        return Compare(&a, 1, &b, 1) < 0;
    });
    std::copy(bytes.begin(), bytes.end(), table);
}

}  // namespace veltra
