#include "rtf_text_codec.h"

#include <unicode/ucnv.h>

#include <vector>

namespace veltra::rtf_detail {

namespace {

// Windows-1252 characters of the bytes 0x80..0x9F (0 where unassigned).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

int CodePageOfCharset(int charset) {
    switch (charset) {
        case 0:
            return 1252;  // ANSI
        case 2:
            return 1252;  // Symbol: its glyphs have no code page; keep the bytes readable
        case 77:
            return 10000;  // Mac Roman
        case 128:
            return 932;  // Shift JIS
        case 129:
            return 949;  // Hangul
        case 134:
            return 936;  // GB 2312
        case 136:
            return 950;  // Big5
        case 161:
            return 1253;  // Greek
        case 162:
            return 1254;  // Turkish
        case 163:
            return 1258;  // Vietnamese
        case 177:
            return 1255;  // Hebrew
        case 178:
            return 1256;  // Arabic
        case 186:
            return 1257;  // Baltic
        case 204:
            return 1251;  // Cyrillic
        case 222:
            return 874;  // Thai
        case 238:
            return 1250;  // Eastern European
        case 254:
            return 437;  // PC 437
        case 255:
            return 850;  // OEM
        default:
            return 0;  // 1 (default) and unknown sets: the document's code page
    }
}

TByteDecoder::~TByteDecoder() {
    for (auto& [page, converter] : Converters)
        if (converter) ucnv_close(converter);
}

UConverter* TByteDecoder::Converter(int codePage) {
    auto found = Converters.find(codePage);
    if (found != Converters.end()) return found->second;
    std::string name;
    switch (codePage) {
        case 437:
            name = "ibm-437";
            break;
        case 850:
            name = "ibm-850";
            break;
        case 932:
            name = "cp932";
            break;
        case 10000:
            name = "macintosh";
            break;
        default:
            name = "windows-" + std::to_string(codePage);
            break;
    }
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name.c_str(), &status);
    if (U_FAILURE(status)) converter = nullptr;
    if (converter) {
        // Bytes without a character become U+FFFD rather than the SUB control.
        static const UChar kReplacement[] = {0xFFFD};
        status = U_ZERO_ERROR;
        ucnv_setSubstString(converter, kReplacement, 1, &status);
    }
    Converters.emplace(codePage, converter);
    return converter;
}

void TByteDecoder::Decode(int codePage, std::string_view bytes, std::string& out) {
    if (bytes.empty()) return;
    UConverter* converter = codePage == 1252 ? nullptr : Converter(codePage);
    if (!converter) {
        for (unsigned char b : bytes) {
            const char32_t c = b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b;
            AppendUtf8(out, c ? c : 0xFFFD);
        }
        return;
    }
    std::vector<UChar> units(bytes.size() * 2 + 4);
    UErrorCode status = U_ZERO_ERROR;
    ucnv_reset(converter);
    const int32_t length = ucnv_toUChars(converter, units.data(), int32_t(units.size()),
                                         bytes.data(), int32_t(bytes.size()), &status);
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) {
        AppendUtf8(out, 0xFFFD);
        return;
    }
    for (int32_t i = 0; i < length; ++i) {
        char32_t c = units[size_t(i)];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && units[size_t(i) + 1] >= 0xDC00 &&
            units[size_t(i) + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[size_t(++i)] - 0xDC00);
        }
        AppendUtf8(out, c);
    }
}

void AppendUtf8(std::string& out, char32_t c) {
    if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) c = 0xFFFD;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

char32_t NextUtf8(std::string_view text, size_t& pos) {
    const unsigned char lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    int extra = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0)
        extra = 1, c = lead & 0x1F, minimum = 0x80;
    else if ((lead & 0xF0) == 0xE0)
        extra = 2, c = lead & 0x0F, minimum = 0x800;
    else if ((lead & 0xF8) == 0xF0)
        extra = 3, c = lead & 0x07, minimum = 0x10000;
    else {
        ++pos;
        return 0xFFFD;
    }
    if (text.size() - pos <= size_t(extra)) {
        ++pos;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        const unsigned char b = static_cast<unsigned char>(text[pos + size_t(k)]);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        c = (c << 6) | (b & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
        ++pos;
        return 0xFFFD;
    }
    pos += size_t(extra) + 1;
    return c;
}

int Cp1252ByteOf(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return int(c);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] && kCp1252High[i] == c) return 0x80 + i;
    return -1;
}

}  // namespace veltra::rtf_detail
