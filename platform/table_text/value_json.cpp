#include "platform/table_text/value_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "engine/byte_order.h"
#include "engine/codec.h"
#include "platform/locale_services.h"
#include "platform/rtf/rtf.h"

namespace veltra {

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int64_t kMsPerDay = 86400000;

[[noreturn]] void Bad(const TField& field, const std::string& why) {
    throw EBadInput("field '" + field.FieldName() + "': " + why);
}

constexpr uint8_t kFormattedMemo = 24;

bool IsTextBlob(uint8_t subType) { return subType == 22 || subType == kFormattedMemo; }

bool IsRtf(const std::string& bytes) {
    const size_t start = bytes.find_first_not_of(" \t\r\n");
    return start != std::string::npos && bytes.compare(start, 5, "{\\rtf") == 0;
}

std::string DateText(int32_t day) {
    int y = 0, m = 0, d = 0;
    DecodeDayNumber(day, y, m, d);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
    return text;
}

std::string TimeText(int64_t ms) {
    char text[32];
    const int h = int(ms / 3600000), mi = int(ms / 60000 % 60), s = int(ms / 1000 % 60), f = int(ms % 1000);
    if (f)
        std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", h, mi, s, f);
    else
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", h, mi, s);
    return text;
}

// Reads exactly `digits` decimal digits at text[pos].
bool Digits(const std::string& text, size_t pos, size_t digits, int& value) {
    if (pos + digits > text.size()) return false;
    value = 0;
    for (size_t i = pos; i < pos + digits; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool ParseDate(const std::string& text, int32_t& day) {
    int y, m, d;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    if (!Digits(text, 0, 4, y) || !Digits(text, 5, 2, m) || !Digits(text, 8, 2, d)) return false;
    if (!IsValidDate(y, m, d)) return false;
    day = EncodeDayNumber(y, m, d);
    return true;
}

// "HH:MM:SS" with an optional ".mmm" (one to three digits).
bool ParseTime(const std::string& text, int32_t& ms) {
    int h, mi, s, f = 0;
    if (text.size() < 8 || text[2] != ':' || text[5] != ':') return false;
    if (!Digits(text, 0, 2, h) || !Digits(text, 3, 2, mi) || !Digits(text, 6, 2, s)) return false;
    if (text.size() > 8) {
        const size_t n = text.size() - 9;
        if (text[8] != '.' || n < 1 || n > 3 || !Digits(text, 9, n, f)) return false;
        for (size_t i = n; i < 3; ++i) f *= 10;
    }
    if (h > 23 || mi > 59 || s > 59) return false;
    ms = ((h * 60 + mi) * 60 + s) * 1000 + f;
    return true;
}

bool ParseDateTime(const std::string& text, int32_t& day, int32_t& ms) {
    return text.size() >= 19 && text[10] == 'T' && ParseDate(text.substr(0, 10), day) &&
           ParseTime(text.substr(11), ms);
}

// A decimal number as text ("-12.50"), for money and BCD.
bool ParseDecimal(const std::string& text, double& value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    return ec == std::errc() && p == end && std::isfinite(value);
}

bool ParseWhole(const std::string& text, int64_t& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && p == end;
}

void RangeOf(uint8_t type, int64_t& lo, int64_t& hi) {
    switch (type) {
        case ftSmallInt: lo = std::numeric_limits<int16_t>::min(); hi = std::numeric_limits<int16_t>::max(); return;
        case ftWord: lo = 0; hi = std::numeric_limits<uint16_t>::max(); return;
        case ftCardinal: lo = 0; hi = std::numeric_limits<uint32_t>::max(); return;
        default: lo = std::numeric_limits<int32_t>::min(); hi = std::numeric_limits<int32_t>::max(); return;
    }
}

std::vector<uint8_t> WholeData(const TField& field, uint8_t type, int64_t v) {
    int64_t lo, hi;
    RangeOf(type, lo, hi);
    if (v < lo || v > hi) Bad(field, std::to_string(v) + " is out of range");
    std::vector<uint8_t> raw(type == ftSmallInt || type == ftWord ? 2 : 4);
    if (raw.size() == 2)
        PutU16(raw.data(), uint16_t(v));
    else
        PutU32(raw.data(), uint32_t(v));
    return raw;
}

std::vector<uint8_t> BytesData(const TField& field, const std::string& bytes, int size) {
    if (bytes.size() > size_t(size)) Bad(field, "more than " + std::to_string(size) + " bytes");
    std::vector<uint8_t> raw(size_t(size), 0);
    std::memcpy(raw.data(), bytes.data(), bytes.size());
    return raw;
}

std::vector<uint8_t> StringData(const TField& field, const std::string& utf8, int size) {
    const std::string bytes = StrictCp1252(utf8, "field '" + field.FieldName() + "'");
    if (bytes.size() > size_t(size)) Bad(field, "longer than " + std::to_string(size) + " characters");
    if (bytes.find('\0') != std::string::npos) Bad(field, "text holds a NUL character");
    std::vector<uint8_t> raw(size_t(size) + 1, 0);
    std::memcpy(raw.data(), bytes.data(), bytes.size());
    return raw;
}

std::string Base64Of(const TJson& value, const TField& field) {
    if (!value.is_object() || value.size() != 1 || !value.contains("base64") || !value["base64"].is_string())
        Bad(field, "expected {\"base64\": \"...\"}");
    return Base64Decode(value["base64"].get<std::string>(), "field '" + field.FieldName() + "'");
}

std::string ExpectString(const TJson& value, const TField& field, const char* form) {
    if (!value.is_string()) Bad(field, std::string("expected ") + form);
    return value.get<std::string>();
}

}  // namespace

std::string StrictCp1252(const std::string& utf8, const std::string& what) {
    const std::string bytes = Utf8ToCp1252(utf8);
    // The conversion replaces what it cannot encode with '?'; a round trip
    // that does not give the input back found such a character (or bad UTF-8).
    if (Cp1252ToUtf8(bytes) != utf8) throw EBadInput(what + ": text has a character without a Windows-1252 form");
    return bytes;
}

std::string Base64Encode(const std::string& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
        out += kBase64[v >> 18];
        out += kBase64[v >> 12 & 63];
        out += kBase64[v >> 6 & 63];
        out += kBase64[v & 63];
    }
    if (i < bytes.size()) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size()) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        out += kBase64[v >> 18];
        out += kBase64[v >> 12 & 63];
        out += i + 1 < bytes.size() ? kBase64[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

std::string Base64Decode(const std::string& text, const std::string& what) {
    // Padding is optional, but when present it must complete the last quad.
    size_t n = text.size();
    while (n > 0 && text.size() - n < 2 && text[n - 1] == '=') --n;
    if (n % 4 == 1 || (n != text.size() && text.size() % 4 != 0)) throw EBadInput(what + ": malformed base64");
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (size_t i = 0; i < n; ++i) {
        const char* p = std::strchr(kBase64, text[i]);
        if (!p || !*p) throw EBadInput(what + ": malformed base64");
        acc = acc << 6 | uint32_t(p - kBase64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += char(acc >> bits & 0xFF);
        }
    }
    return out;
}

TFieldShape ShapeOf(TVeltraTable& table, const TField& field) {
    const TFieldDescriptor d = table.DataFile()->FieldDescriptor(field.FieldNo());
    return {d.FieldType(), d.SubType(), d.Size()};
}

TJson FieldToJson(TVeltraTable& table, const TField& field, bool plainText) {
    if (field.IsNull()) return nullptr;
    const TFieldShape shape = ShapeOf(table, field);
    std::vector<uint8_t> raw;
    switch (shape.Type) {
        case ftString: return field.AsString();
        case ftBlob: {
            const std::string bytes = table.ReadBlob(field);
            // The RTF reader decodes the document's own code page.
            if (plainText && shape.SubType == kFormattedMemo && IsRtf(bytes)) return RtfPlainText(bytes);
            if (IsTextBlob(shape.SubType)) return Cp1252ToUtf8(bytes);
            return TJson{{"base64", Base64Encode(bytes)}};
        }
        case ftBoolean: return field.AsBoolean();
        case ftSmallInt:
        case ftInteger:
        case ftWord: return field.AsInteger();
        case ftCardinal:
            field.GetData(raw);
            return raw.size() >= 4 ? TJson(GetU32(raw.data())) : TJson(nullptr);
        case ftFloat:
        case ftBCD: {
            const double v = field.AsFloat();
            return std::isfinite(v) ? TJson(v) : TJson(nullptr);
        }
        case ftDate:
            field.GetData(raw);
            return raw.size() >= 4 ? TJson(DateText(GetI32(raw.data()))) : TJson(nullptr);
        case ftTime:
            field.GetData(raw);
            return raw.size() >= 4 ? TJson(TimeText(std::clamp<int64_t>(GetI32(raw.data()), 0, kMsPerDay - 1)))
                                   : TJson(nullptr);
        case ftDateTime: {
            field.GetData(raw);
            if (raw.size() < 8) return nullptr;
            const double v = GetF64(raw.data());
            if (!std::isfinite(v) || std::fabs(v) > 1e17) return nullptr;
            const int64_t total = int64_t(std::llround(v));
            const int64_t day = total / kMsPerDay, ms = total % kMsPerDay;
            return DateText(int32_t(day)) + "T" + TimeText(ms);
        }
        case ftBytes:
        case ftVarBytes:
            field.GetData(raw);
            return TJson{{"base64", Base64Encode(std::string(raw.begin(), raw.end()))}};
        default: return nullptr;
    }
}

std::string FieldToText(TVeltraTable& table, const TField& field, bool plainText) {
    const TJson v = FieldToJson(table, field, plainText);
    if (v.is_null()) return {};
    if (v.is_string()) return v.get<std::string>();
    if (v.is_object()) return v["base64"].get<std::string>();
    return v.dump();
}

void JsonToField(TVeltraTable& table, TField& field, const TJson& value, bool forKey) {
    const TFieldShape shape = ShapeOf(table, field);
    if (shape.Type == ftInteger && shape.SubType == kSubTypeAutoInc && !forKey)
        Bad(field, "the auto-increment value is assigned by the engine");
    if (value.is_null()) {
        if (shape.Type == ftBlob)
            table.WriteBlob(field, {});
        else
            field.Clear();
        return;
    }
    std::vector<uint8_t> raw;
    switch (shape.Type) {
        case ftString: raw = StringData(field, ExpectString(value, field, "a string"), shape.Size); break;
        case ftBlob:
            if (IsTextBlob(shape.SubType))
                table.WriteBlob(field, StrictCp1252(ExpectString(value, field, "a string"), "field '" + field.FieldName() + "'"));
            else
                table.WriteBlob(field, Base64Of(value, field));
            return;
        case ftBoolean:
            if (!value.is_boolean()) Bad(field, "expected true or false");
            raw = {uint8_t(value.get<bool>() ? 1 : 0), 0};
            break;
        case ftSmallInt:
        case ftInteger:
        case ftWord:
        case ftCardinal: {
            if (value.is_number_unsigned() && value.get<uint64_t>() > uint64_t(std::numeric_limits<int64_t>::max()))
                Bad(field, "number out of range");
            if (!value.is_number_integer()) Bad(field, "expected a whole number");
            raw = WholeData(field, shape.Type, value.get<int64_t>());
            break;
        }
        case ftFloat:
        case ftBCD: {
            double v = 0;
            const bool decimalText = shape.Type == ftBCD || shape.SubType == kSubTypeMoney;
            if (value.is_number())
                v = value.get<double>();
            else if (!(decimalText && value.is_string() && ParseDecimal(value.get<std::string>(), v)))
                Bad(field, decimalText ? "expected a number or a decimal string" : "expected a number");
            field.SetAsFloat(v);
            return;
        }
        case ftDate: {
            int32_t day = 0;
            if (!ParseDate(ExpectString(value, field, "a date \"YYYY-MM-DD\""), day)) Bad(field, "expected a date \"YYYY-MM-DD\"");
            raw.resize(4);
            PutI32(raw.data(), day);
            break;
        }
        case ftTime: {
            int32_t ms = 0;
            if (!ParseTime(ExpectString(value, field, "a time \"HH:MM:SS\""), ms)) Bad(field, "expected a time \"HH:MM:SS[.mmm]\"");
            raw.resize(4);
            PutI32(raw.data(), ms);
            break;
        }
        case ftDateTime: {
            int32_t day = 0, ms = 0;
            if (!ParseDateTime(ExpectString(value, field, "a date-time"), day, ms))
                Bad(field, "expected a date-time \"YYYY-MM-DDTHH:MM:SS[.mmm]\"");
            raw.resize(8);
            PutF64(raw.data(), double(int64_t(day) * kMsPerDay + ms));
            break;
        }
        case ftBytes:
        case ftVarBytes: raw = BytesData(field, Base64Of(value, field), shape.Size); break;
        default: Bad(field, "the field's type cannot be written by this tool");
    }
    field.SetData(raw.data(), raw.size());
}

TJson TextToJson(TVeltraTable& table, const TField& field, const std::string& text) {
    const TFieldShape shape = ShapeOf(table, field);
    switch (shape.Type) {
        case ftSmallInt:
        case ftInteger:
        case ftWord:
        case ftCardinal: {
            int64_t v = 0;
            if (!ParseWhole(text, v)) Bad(field, "expected a whole number, not \"" + text + "\"");
            return v;
        }
        case ftBoolean:
            if (text != "true" && text != "false") Bad(field, "expected true or false, not \"" + text + "\"");
            return text == "true";
        case ftFloat:
        case ftBCD: {
            double v = 0;
            if (!ParseDecimal(text, v)) Bad(field, "expected a number, not \"" + text + "\"");
            return v;
        }
        case ftBytes:
        case ftVarBytes: return TJson{{"base64", text}};
        case ftBlob: return IsTextBlob(shape.SubType) ? TJson(text) : TJson{{"base64", text}};
        default: return text;
    }
}

}  // namespace veltra
