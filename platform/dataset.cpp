#include "platform/dataset.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <optional>

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "platform/date_format.h"
#include "platform/format_settings.h"
#include "platform/locale_services.h"

namespace veltra {

namespace dt = datetime_text;

namespace {

// ---- raw value bytes (little-endian)

uint64_t GetLE(const std::vector<uint8_t>& raw, size_t width) {
    uint64_t v = 0;
    for (size_t i = 0; i < width && i < raw.size(); ++i) v |= uint64_t(raw[i]) << (8 * i);
    return v;
}

std::vector<uint8_t> PutLE(uint64_t v, size_t width) {
    std::vector<uint8_t> raw(width);
    for (size_t i = 0; i < width; ++i) raw[i] = uint8_t(v >> (8 * i));
    return raw;
}

int64_t GetI16(const std::vector<uint8_t>& raw) { return int16_t(uint16_t(GetLE(raw, 2))); }
int64_t GetU16(const std::vector<uint8_t>& raw) { return uint16_t(GetLE(raw, 2)); }
int64_t GetI32(const std::vector<uint8_t>& raw) { return int32_t(uint32_t(GetLE(raw, 4))); }
int64_t GetI64(const std::vector<uint8_t>& raw) { return int64_t(GetLE(raw, 8)); }
double GetF64(const std::vector<uint8_t>& raw) { return std::bit_cast<double>(GetLE(raw, 8)); }
std::vector<uint8_t> PutF64(double v) { return PutLE(std::bit_cast<uint64_t>(v), 8); }

bool IsWholeKind(TFieldKind kind) {
    return kind == TFieldKind::SmallInt || kind == TFieldKind::Integer || kind == TFieldKind::AutoInc ||
           kind == TFieldKind::Word;
}

bool IsFloatKind(TFieldKind kind) { return kind == TFieldKind::Float || kind == TFieldKind::Currency; }

bool IsDateKind(TFieldKind kind) {
    return kind == TFieldKind::Date || kind == TFieldKind::Time || kind == TFieldKind::DateTime;
}

// Fields whose value is text (stored in Windows-1252).
bool IsTextKind(TFieldKind kind) {
    return kind == TFieldKind::String || kind == TFieldKind::Memo || kind == TFieldKind::FormattedMemo;
}

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    const size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

bool AllDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

[[noreturn]] void ConvertFail(const std::string& text, const char* what) {
    throw EConvertError("'" + text + "' is not a valid " + what);
}

// ---- number texts (locale-independent apart from the decimal separator)

std::optional<int64_t> ParseInteger(const std::string& text) {
    std::string t = Trim(text);
    if (!t.empty() && t[0] == '+') t.erase(0, 1);
    const size_t digitsFrom = !t.empty() && t[0] == '-' ? 1 : 0;
    if (!AllDigits(t.substr(digitsFrom))) return std::nullopt;
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
    return value;
}

// Sign, integer digits and fraction digits of a decimal text.
bool SplitDecimal(const std::string& t, char separator, bool& negative, std::string& whole, std::string& fraction) {
    size_t i = 0;
    negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    const size_t sep = t.find(separator, i);
    whole = t.substr(i, sep == std::string::npos ? std::string::npos : sep - i);
    fraction = sep == std::string::npos ? std::string() : t.substr(sep + 1);
    if (whole.empty() && fraction.empty()) return false;
    return (whole.empty() || AllDigits(whole)) && (fraction.empty() || AllDigits(fraction));
}

// A decimal text with the settings' separator and an optional exponent.
std::optional<double> ParseFloat(const std::string& text, const TFormatSettings& fs) {
    const std::string t = Trim(text);
    const size_t e = t.find_first_of("eE");
    bool negative = false;
    std::string whole, fraction;
    if (!SplitDecimal(t.substr(0, e), fs.DecimalSeparator, negative, whole, fraction)) return std::nullopt;
    std::string normal = (negative ? "-" : "") + (whole.empty() ? "0" : whole) + "." + (fraction.empty() ? "0" : fraction);
    if (e != std::string::npos) {
        const std::string exponent = t.substr(e + 1);
        const size_t j = !exponent.empty() && (exponent[0] == '-' || exponent[0] == '+') ? 1 : 0;
        if (!AllDigits(exponent.substr(j))) return std::nullopt;
        normal += "e" + (exponent[0] == '+' ? exponent.substr(1) : exponent);
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
    if (ec != std::errc() || end != normal.data() + normal.size()) return std::nullopt;
    return value;
}

// Shortest text of up to 15 significant digits: "1.5", "0.1", "1E20", "1.5E-7".
std::string FloatText(double value, const TFormatSettings& fs) {
    if (value == 0) return "0";
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::string text(buffer, ec == std::errc() ? end : buffer);
    const size_t e = text.find('e');
    if (e != std::string::npos) {
        std::string exponent = text.substr(e + 1);
        const bool minus = exponent[0] == '-';
        exponent.erase(0, 1);
        exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
        text = text.substr(0, e) + "E" + (minus ? "-" : "") + exponent;
    }
    const size_t dot = text.find('.');
    if (dot != std::string::npos) text[dot] = fs.DecimalSeparator;
    return Cp1252ToUtf8(text);
}

// ---- BCD: the packed form of the table files

constexpr int64_t kPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

// value / divisor rounded half away from zero.
int64_t DivRound(int64_t value, int64_t divisor) {
    int64_t q = value / divisor;
    const int64_t r = value % divisor;
    if (2 * (r < 0 ? -r : r) >= divisor) q += value < 0 ? -1 : 1;
    return q;
}

// Packs an amount in ten-thousandths with `decimals` places; false when it
// does not fit in 64 bits.
bool PackBcd(int64_t amount, int decimals, int64_t& packed) {
    const int d = std::clamp(decimals, 0, 9);
    int64_t whole = 0;
    if (d <= 4) {
        whole = DivRound(amount, kPow10[4 - d]);
    } else if (__builtin_mul_overflow(amount, kPow10[d - 4], &whole)) {
        return false;
    }
    int64_t shifted = 0;
    if (__builtin_mul_overflow(whole, int64_t(10), &shifted)) return false;
    // The digit count goes in the last decimal place, keeping the sign.
    return !__builtin_add_overflow(shifted, whole < 0 ? -d : d, &packed);
}

double UnpackBcd(int64_t packed) {
    const int d = int(packed % 10 < 0 ? -(packed % 10) : packed % 10);
    return double(packed / 10) / double(kPow10[d]);
}

// "1.5", "-123.45", "7": the packed value's digits without trailing zeros.
std::string BcdText(int64_t packed, const TFormatSettings& fs) {
    const int d = int(packed % 10 < 0 ? -(packed % 10) : packed % 10);
    const int64_t whole = packed / 10;
    const uint64_t magnitude = whole < 0 ? uint64_t(-(whole + 1)) + 1 : uint64_t(whole);
    std::string digits = std::to_string(magnitude);
    if (digits.size() < size_t(d) + 1) digits.insert(0, size_t(d) + 1 - digits.size(), '0');
    std::string intPart = digits.substr(0, digits.size() - size_t(d));
    std::string fraction = digits.substr(digits.size() - size_t(d));
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    std::string text = (whole < 0 ? "-" : "") + intPart;
    if (!fraction.empty()) text += fs.DecimalSeparator + fraction;
    return Cp1252ToUtf8(text);
}

// An amount in ten-thousandths from a double, rounded half away from zero;
// nothing when it does not fit.
std::optional<int64_t> AmountFromDouble(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double scaled = value * 10000.0;
    const double r = scaled < 0 ? -std::floor(-scaled + 0.5) : std::floor(scaled + 0.5);
    if (r >= 9.2e18 || r <= -9.2e18) return std::nullopt;
    return int64_t(r);
}

enum class TTextAmount { Ok, NotNumber, TooLarge };

// An amount in ten-thousandths from a plain decimal text, exactly, rounded
// half away from zero at the fifth decimal.
TTextAmount AmountFromText(const std::string& text, const TFormatSettings& fs, int64_t& amount) {
    bool negative = false;
    std::string whole, fraction;
    if (!SplitDecimal(Trim(text), fs.DecimalSeparator, negative, whole, fraction)) return TTextAmount::NotNumber;
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
    if (whole.size() > 14) return TTextAmount::TooLarge;
    amount = whole.empty() ? 0 : std::stoll(whole);
    fraction.resize(std::max<size_t>(fraction.size(), 5), '0');
    amount = amount * 10000 + std::stoll(fraction.substr(0, 4));
    if (fraction[4] >= '5') ++amount;
    if (negative) amount = -amount;
    return TTextAmount::Ok;
}

bool ParseBoolean(const std::string& text, bool& value) {
    std::string t = Trim(text);
    for (char& c : t) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (t.empty()) return false;
    if (std::string("TRUE").starts_with(t)) value = true;
    else if (std::string("FALSE").starts_with(t)) value = false;
    else return false;
    return true;
}

// Date-time value of a raw date, time or date-time.
double DateTimeOfRaw(TFieldKind kind, const std::vector<uint8_t>& raw) {
    switch (kind) {
        case TFieldKind::Date:
            return double(GetI32(raw) - dt::kDayNumberOf18991230);
        case TFieldKind::Time:
            return double(GetI32(raw)) / dt::kMsPerDay;
        default: {
            const double total = GetF64(raw);
            const double day = std::floor(total / dt::kMsPerDay);
            const double ms = total - day * dt::kMsPerDay;
            const double days = day - dt::kDayNumberOf18991230;
            const double fraction = ms / dt::kMsPerDay;
            return days >= 0 ? days + fraction : days - fraction;
        }
    }
}

}  // namespace

// ===================================================================== errors

namespace {
TApplicationErrorHandler& ErrorHandler() {
    static TApplicationErrorHandler handler;
    return handler;
}
}  // namespace

void SetApplicationErrorHandler(TApplicationErrorHandler handler) { ErrorHandler() = std::move(handler); }

void HandleApplicationError(const std::exception& error) {
    if (ErrorHandler()) {
        ErrorHandler()(error);
        return;
    }
    std::fprintf(stderr, "%s\n", error.what());
}

void HandleCurrentApplicationError() {
    try {
        throw;
    } catch (const std::exception& error) {
        HandleApplicationError(error);
    } catch (...) {
        HandleApplicationError(std::runtime_error("Unknown error"));
    }
}

// ===================================================================== TField

TField::TField(TDataSet& dataSet, std::string name, TFieldKind kind, int size, int fieldNo)
    : m_DataSet(dataSet), m_Name(std::move(name)), m_Kind(kind), m_Size(size), m_FieldNo(fieldNo) {
    if (kind == TFieldKind::BCD) Decimals = size;
}

bool TField::IsBlob() const {
    switch (m_Kind) {
        case TFieldKind::Memo:
        case TFieldKind::FormattedMemo:
        case TFieldKind::Graphic:
        case TFieldKind::TypedBinary:
        case TFieldKind::Blob:
            return true;
        default:
            return false;
    }
}

bool TField::IsNumeric() const { return IsWholeKind(m_Kind) || IsFloatKind(m_Kind) || m_Kind == TFieldKind::BCD; }

void TField::AccessError(const char* type) const {
    throw EDatabaseError("Cannot access field '" + m_Name + "' as type " + type);
}

void TField::RangeError() const { throw EDatabaseError("Value of field '" + m_Name + "' is out of range"); }

bool TField::IsNull() const {
    std::vector<uint8_t> raw;
    return !GetData(raw);
}

bool TField::GetData(std::vector<uint8_t>& value) const { return m_DataSet.ReadField(*this, value); }

void TField::SetData(const uint8_t* value, size_t size) { m_DataSet.WriteField(*this, value, size); }

void TField::Clear() { SetData(nullptr, 0); }

std::string TField::AsString() const {
    std::vector<uint8_t> raw;
    if (!GetData(raw)) return {};
    const TFormatSettings& fs = FormatSettings();
    const std::string bytes(raw.begin(), raw.end());
    switch (m_Kind) {
        case TFieldKind::String:
            return Cp1252ToUtf8(bytes.substr(0, bytes.find('\0')));
        case TFieldKind::Memo:
        case TFieldKind::FormattedMemo:
            return Cp1252ToUtf8(m_DataSet.ReadBlob(*this));
        case TFieldKind::Graphic:
        case TFieldKind::TypedBinary:
        case TFieldKind::Blob:
            return m_DataSet.ReadBlob(*this);
        case TFieldKind::Boolean:
            return GetU16(raw) != 0 ? "True" : "False";
        case TFieldKind::SmallInt:
            return std::to_string(GetI16(raw));
        case TFieldKind::Integer:
        case TFieldKind::AutoInc:
            return std::to_string(GetI32(raw));
        case TFieldKind::Word:
            return std::to_string(GetU16(raw));
        case TFieldKind::Float:
        case TFieldKind::Currency:
            return FloatText(GetF64(raw), fs);
        case TFieldKind::BCD:
            return BcdText(GetI64(raw), fs);
        case TFieldKind::Date:
            return Cp1252ToUtf8(dt::DateToText(DateTimeOfRaw(m_Kind, raw), fs));
        case TFieldKind::Time:
            return Cp1252ToUtf8(dt::TimeToText(DateTimeOfRaw(m_Kind, raw), fs));
        case TFieldKind::DateTime:
            return Cp1252ToUtf8(dt::DateTimeToText(DateTimeOfRaw(m_Kind, raw), fs));
        case TFieldKind::Bytes:
        case TFieldKind::VarBytes:
            return bytes;
    }
    return bytes;
}

int TField::DisplayWidth() const {
    if (m_DisplayWidth >= 0) return m_DisplayWidth;
    switch (m_Kind) {
        case TFieldKind::String: return m_Size;
        case TFieldKind::SmallInt:
        case TFieldKind::Word: return 6;
        case TFieldKind::Integer:
        case TFieldKind::AutoInc: return 11;
        case TFieldKind::Boolean: return 5;
        case TFieldKind::DateTime: return 18;
        default: return 10;
    }
}

TField::TAlignment TField::Alignment() const {
    if (m_AlignmentSet) return m_Alignment;
    return IsNumeric() ? TAlignment::Right : TAlignment::Left;
}

std::string TField::DisplayText() const {
    const char* marker = nullptr;
    switch (m_Kind) {
        case TFieldKind::Memo: marker = "(Memo)"; break;
        case TFieldKind::FormattedMemo: marker = "(FmtMemo)"; break;
        case TFieldKind::Graphic: marker = "(Graphic)"; break;
        case TFieldKind::TypedBinary: marker = "(TypedBinary)"; break;
        case TFieldKind::Blob: marker = "(Blob)"; break;
        default: return AsString();
    }
    // The marker says whether there is content without reading it: a grid
    // paints many cells and a BLOB read is a disk access.
    std::string text = marker;
    if (!IsNull())
        for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

int64_t TField::AsInteger() const {
    if (IsFloatKind(m_Kind) || m_Kind == TFieldKind::BCD) {
        const double v = AsFloat();
        if (!(v > -9.2e18 && v < 9.2e18)) RangeError();
        return std::llround(v);
    }
    std::vector<uint8_t> raw;
    const bool hasValue = GetData(raw);
    switch (m_Kind) {
        case TFieldKind::SmallInt:
            return hasValue ? GetI16(raw) : 0;
        case TFieldKind::Integer:
        case TFieldKind::AutoInc:
            return hasValue ? GetI32(raw) : 0;
        case TFieldKind::Word:
            return hasValue ? GetU16(raw) : 0;
        case TFieldKind::String:
        case TFieldKind::Memo:
        case TFieldKind::FormattedMemo: {
            if (!hasValue) return 0;
            const std::string text = AsString();
            const auto value = ParseInteger(text);
            if (!value) ConvertFail(text, "integer value");
            return *value;
        }
        default:
            AccessError("Integer");
    }
}

double TField::AsFloat() const {
    if (IsDateKind(m_Kind)) return AsDateTime();
    if (IsWholeKind(m_Kind)) return double(AsInteger());
    std::vector<uint8_t> raw;
    const bool hasValue = GetData(raw);
    switch (m_Kind) {
        case TFieldKind::Float:
        case TFieldKind::Currency:
            return hasValue ? GetF64(raw) : 0.0;
        case TFieldKind::BCD:
            return hasValue ? UnpackBcd(GetI64(raw)) : 0.0;
        case TFieldKind::String:
        case TFieldKind::Memo:
        case TFieldKind::FormattedMemo: {
            if (!hasValue) return 0.0;
            const std::string text = AsString();
            const auto value = ParseFloat(Utf8ToCp1252(text), FormatSettings());
            if (!value) ConvertFail(text, "floating point value");
            return *value;
        }
        default:
            AccessError("Float");
    }
}

bool TField::AsBoolean() const {
    std::vector<uint8_t> raw;
    const bool hasValue = GetData(raw);
    if (m_Kind == TFieldKind::Boolean) return hasValue && GetU16(raw) != 0;
    if (!IsTextKind(m_Kind)) AccessError("Boolean");
    if (!hasValue) return false;
    const std::string text = AsString();
    bool value = false;
    if (!ParseBoolean(text, value)) ConvertFail(text, "boolean value");
    return value;
}

double TField::AsDateTime() const {
    std::vector<uint8_t> raw;
    const bool hasValue = GetData(raw);
    if (IsDateKind(m_Kind)) return hasValue ? DateTimeOfRaw(m_Kind, raw) : 0.0;
    if (!IsTextKind(m_Kind)) AccessError("DateTime");
    if (!hasValue) return 0.0;
    const std::string text = AsString();
    return dt::ParseDateTime(Utf8ToCp1252(text), FormatSettings(), text);
}

// Writes a whole number to an integer field, checking its range.
void TField::SetWhole(int64_t value) {
    switch (m_Kind) {
        case TFieldKind::SmallInt: {
            if (value < INT16_MIN || value > INT16_MAX) RangeError();
            const auto raw = PutLE(uint64_t(value), 2);
            SetData(raw.data(), raw.size());
            return;
        }
        case TFieldKind::Integer:
        case TFieldKind::AutoInc: {
            if (value < INT32_MIN || value > INT32_MAX) RangeError();
            const auto raw = PutLE(uint64_t(value), 4);
            SetData(raw.data(), raw.size());
            return;
        }
        case TFieldKind::Word: {
            if (value < 0 || value > UINT16_MAX) RangeError();
            const auto raw = PutLE(uint64_t(value), 2);
            SetData(raw.data(), raw.size());
            return;
        }
        default:
            AccessError("Integer");
    }
}

// Writes a number to a numeric field.
void TField::SetNumber(double value) {
    if (IsWholeKind(m_Kind)) {
        if (!(value > -9.2e18 && value < 9.2e18)) RangeError();
        SetWhole(std::llround(value));
    } else if (IsFloatKind(m_Kind)) {
        if (!std::isfinite(value)) RangeError();
        const auto raw = PutF64(value);
        SetData(raw.data(), raw.size());
    } else if (m_Kind == TFieldKind::BCD) {
        const auto amount = AmountFromDouble(value);
        int64_t packed = 0;
        if (!amount || !PackBcd(*amount, Decimals, packed)) RangeError();
        const auto raw = PutLE(uint64_t(packed), 8);
        SetData(raw.data(), raw.size());
    } else {
        AccessError("Float");
    }
}

void TField::SetAsString(const std::string& value) {
    if (IsBlob()) {
        m_DataSet.WriteBlob(*this, m_Kind == TFieldKind::Memo || m_Kind == TFieldKind::FormattedMemo
                                       ? Utf8ToCp1252(value)
                                       : value);
        return;
    }
    if (value.empty()) {
        Clear();
        return;
    }
    const TFormatSettings& fs = FormatSettings();
    switch (m_Kind) {
        case TFieldKind::String: {
            std::string bytes = Utf8ToCp1252(value);
            bytes = bytes.substr(0, std::min(bytes.find('\0'), size_t(std::max(m_Size, 0))));
            std::vector<uint8_t> raw(size_t(std::max(m_Size, 0)) + 1, 0);
            std::memcpy(raw.data(), bytes.data(), bytes.size());
            SetData(raw.data(), raw.size());
            return;
        }
        case TFieldKind::Memo:
        case TFieldKind::FormattedMemo:
        case TFieldKind::Graphic:
        case TFieldKind::TypedBinary:
        case TFieldKind::Blob:
            return;  // written above
        case TFieldKind::Bytes:
        case TFieldKind::VarBytes: {
            std::vector<uint8_t> raw(size_t(std::max(m_Size, 0)), 0);
            std::memcpy(raw.data(), value.data(), std::min(value.size(), raw.size()));
            SetData(raw.data(), raw.size());
            return;
        }
        case TFieldKind::Boolean: {
            bool b = false;
            if (!ParseBoolean(value, b)) ConvertFail(value, "boolean value");
            SetAsBoolean(b);
            return;
        }
        case TFieldKind::SmallInt:
        case TFieldKind::Integer:
        case TFieldKind::AutoInc:
        case TFieldKind::Word: {
            const auto v = ParseInteger(value);
            if (!v) ConvertFail(value, "integer value");
            SetWhole(*v);
            return;
        }
        case TFieldKind::Float:
        case TFieldKind::Currency: {
            const auto v = ParseFloat(Utf8ToCp1252(value), fs);
            if (!v) ConvertFail(value, "floating point value");
            SetNumber(*v);
            return;
        }
        case TFieldKind::BCD: {
            // A plain decimal text converts exactly; one with an exponent
            // goes through a double.
            int64_t amount = 0;
            const std::string text = Utf8ToCp1252(value);
            const TTextAmount result = AmountFromText(text, fs, amount);
            if (result == TTextAmount::TooLarge) RangeError();
            if (result == TTextAmount::NotNumber) {
                const auto v = ParseFloat(text, fs);
                if (!v) ConvertFail(value, "floating point value");
                SetNumber(*v);
                return;
            }
            int64_t packed = 0;
            if (!PackBcd(amount, Decimals, packed)) RangeError();
            const auto raw = PutLE(uint64_t(packed), 8);
            SetData(raw.data(), raw.size());
            return;
        }
        case TFieldKind::Date: {
            const auto raw = PutLE(uint32_t(dt::ParseDate(Utf8ToCp1252(value), fs, value)), 4);
            SetData(raw.data(), raw.size());
            return;
        }
        case TFieldKind::Time: {
            const auto raw = PutLE(uint32_t(dt::ParseTime(Utf8ToCp1252(value), fs, value)), 4);
            SetData(raw.data(), raw.size());
            return;
        }
        case TFieldKind::DateTime:
            SetAsDateTime(dt::ParseDateTime(Utf8ToCp1252(value), fs, value));
            return;
    }
}

void TField::SetAsInteger(int64_t value) {
    if (IsWholeKind(m_Kind)) {
        SetWhole(value);
    } else if (IsFloatKind(m_Kind)) {
        SetNumber(double(value));
    } else if (m_Kind == TFieldKind::BCD) {
        int64_t amount = 0, packed = 0;
        if (__builtin_mul_overflow(value, int64_t(10000), &amount) || !PackBcd(amount, Decimals, packed))
            RangeError();
        const auto raw = PutLE(uint64_t(packed), 8);
        SetData(raw.data(), raw.size());
    } else if (IsTextKind(m_Kind)) {
        SetAsString(std::to_string(value));
    } else {
        AccessError("Integer");
    }
}

void TField::SetAsFloat(double value) {
    if (IsNumeric()) SetNumber(value);
    else if (IsDateKind(m_Kind)) SetAsDateTime(value);
    else if (IsTextKind(m_Kind)) SetAsString(FloatText(value, FormatSettings()));
    else AccessError("Float");
}

void TField::SetAsBoolean(bool value) {
    if (m_Kind == TFieldKind::Boolean) {
        const auto raw = PutLE(value ? 1 : 0, 2);
        SetData(raw.data(), raw.size());
    } else if (IsTextKind(m_Kind)) {
        SetAsString(value ? "True" : "False");
    } else {
        AccessError("Boolean");
    }
}

void TField::SetAsDateTime(double value) {
    if (IsTextKind(m_Kind)) {
        SetAsString(Cp1252ToUtf8(dt::DateTimeToText(value, FormatSettings())));
        return;
    }
    if (!IsDateKind(m_Kind)) AccessError("DateTime");
    int32_t day = 0, ms = 0;
    if (!dt::SplitDateTime(value, day, ms)) RangeError();
    std::vector<uint8_t> raw;
    if (m_Kind == TFieldKind::Date) raw = PutLE(uint32_t(day), 4);
    else if (m_Kind == TFieldKind::Time) raw = PutLE(uint32_t(ms), 4);
    else raw = PutF64(double(day) * dt::kMsPerDay + ms);
    SetData(raw.data(), raw.size());
}

// ================================================================== TDataLink

TDataLink::~TDataLink() {
    if (m_Source) std::erase(m_Source->m_Links, this);
}

void TDataLink::SetDataSource(TDataSource* source) {
    if (source == m_Source) return;
    if (m_Source) std::erase(m_Source->m_Links, this);
    m_Source = source;
    if (m_Source) m_Source->m_Links.push_back(this);
    UpdateState();
}

TDataSet* TDataLink::DataSet() const { return m_Source ? m_Source->m_DataSet : nullptr; }

bool TDataLink::Active() const { return m_Active; }

void TDataLink::UpdateState() {
    const TDataSetState state = m_Source ? m_Source->m_State : TDataSetState::Inactive;
    const bool active = state != TDataSetState::Inactive;
    const bool editing = state == TDataSetState::Edit || state == TDataSetState::Insert;
    if (active != m_Active) {
        m_Active = active;
        ActiveChanged();
    }
    if (editing != m_Editing) {
        m_Editing = editing;
        EditingChanged();
    }
}

// ================================================================ TDataSource

TDataSource::~TDataSource() {
    if (m_DataSet) std::erase(m_DataSet->m_Sources, this);
    m_DataSet = nullptr;
    m_State = TDataSetState::Inactive;
    OnStateChange = nullptr;
    OnDataChange = nullptr;
    while (!m_Links.empty()) {
        TDataLink* link = m_Links.back();
        m_Links.pop_back();
        link->m_Source = nullptr;
        link->UpdateState();
    }
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
    if (dataSet == m_DataSet) return;
    if (m_DataSet) std::erase(m_DataSet->m_Sources, this);
    m_DataSet = dataSet;
    if (m_DataSet) m_DataSet->m_Sources.push_back(this);
    UpdateState();
}

bool TDataSource::HasLink(const TDataLink* link) const {
    return std::find(m_Links.begin(), m_Links.end(), link) != m_Links.end();
}

void TDataSource::UpdateState() {
    const TDataSetState state = m_DataSet ? m_DataSet->m_State : TDataSetState::Inactive;
    if (state == m_State) return;
    const TDataSetState prior = m_State;
    m_State = state;
    // Callbacks may unlink links, so walk a copy and skip those gone.
    const std::vector<TDataLink*> links = m_Links;
    for (TDataLink* link : links) {
        if (HasLink(link)) link->UpdateState();
    }
    if (OnStateChange) OnStateChange(*this);
    if (prior == TDataSetState::Inactive && OnDataChange) OnDataChange(*this, nullptr);
}

// =================================================================== TDataSet

TDataSet::TDataSet() = default;

TDataSet::~TDataSet() {
    m_State = TDataSetState::Inactive;
    const std::vector<TDataSource*> sources = m_Sources;
    m_Sources.clear();
    for (TDataSource* source : sources) {
        source->m_DataSet = nullptr;
        source->UpdateState();
    }
}

void TDataSet::Fire(const TEvent& event, TDataSet& dataSet) {
    if (event) event(dataSet);
}

void TDataSet::CheckActive() const {
    if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

TField& TDataSet::AddField(const std::string& name, TFieldKind kind, int size, int fieldNo) {
    m_Fields.push_back(std::make_unique<TField>(*this, name, kind, size, fieldNo));
    return *m_Fields.back();
}

void TDataSet::ClearFields() { m_Fields.clear(); }

TField* TDataSet::FindField(const std::string& name) const {
    const icu::UnicodeString wanted = icu::UnicodeString::fromUTF8(name);
    for (const auto& field : m_Fields) {
        if (wanted.caseCompare(icu::UnicodeString::fromUTF8(field->FieldName()), U_FOLD_CASE_DEFAULT) == 0)
            return field.get();
    }
    return nullptr;
}

TField& TDataSet::FieldByName(const std::string& name) const {
    TField* field = FindField(name);
    if (!field) throw EDatabaseError("Field '" + name + "' not found");
    return *field;
}

// ---- notification

void TDataSet::NotifyLinks(const std::function<void(TDataLink&)>& f) {
    if (ControlsDisabled()) return;
    const std::vector<TDataSource*> sources = m_Sources;
    for (TDataSource* source : sources) {
        if (std::find(m_Sources.begin(), m_Sources.end(), source) == m_Sources.end()) continue;
        const std::vector<TDataLink*> links = source->m_Links;
        for (TDataLink* link : links) {
            if (source->HasLink(link) && link->m_Active) f(*link);
        }
    }
}

void TDataSet::SendDataEvent(const std::function<void(TDataLink&)>& f, TField* field) {
    if (ControlsDisabled()) {
        m_PendingChange = true;
        return;
    }
    const std::vector<TDataSource*> sources = m_Sources;
    for (TDataSource* source : sources) {
        if (std::find(m_Sources.begin(), m_Sources.end(), source) == m_Sources.end()) continue;
        if (source->m_State == TDataSetState::Inactive) continue;
        const std::vector<TDataLink*> links = source->m_Links;
        for (TDataLink* link : links) {
            if (source->HasLink(link) && link->m_Active) f(*link);
        }
        if (std::find(m_Sources.begin(), m_Sources.end(), source) != m_Sources.end() && source->OnDataChange)
            source->OnDataChange(*source, field);
    }
}

void TDataSet::NotifyStateChange() {
    if (ControlsDisabled()) return;  // told by EnableControls
    const std::vector<TDataSource*> sources = m_Sources;
    for (TDataSource* source : sources) {
        if (std::find(m_Sources.begin(), m_Sources.end(), source) != m_Sources.end()) source->UpdateState();
    }
}

void TDataSet::NotifyDataSetChanged() {
    SendDataEvent([](TDataLink& link) { link.DataSetChanged(); }, nullptr);
}

void TDataSet::DataEvent(TField* field) {
    SendDataEvent([field](TDataLink& link) { link.RecordChanged(field); }, field);
}

void TDataSet::DoAfterScroll() { Fire(AfterScroll, *this); }

void TDataSet::DisableControls() {
    if (m_DisableCount++ == 0) m_PendingChange = false;
}

void TDataSet::EnableControls() {
    if (m_DisableCount == 0 || --m_DisableCount > 0) return;
    const bool pending = m_PendingChange;
    m_PendingChange = false;
    NotifyStateChange();  // the sources compare with the state they last saw
    if (pending && Active()) NotifyDataSetChanged();
}

// ---- state

namespace {

bool IsTemporaryState(TDataSetState state) {
    return state == TDataSetState::SetKey || state == TDataSetState::CalcFields || state == TDataSetState::Filter ||
           state == TDataSetState::NewValue;
}

}  // namespace

void TDataSet::SetState(TDataSetState state) {
    if (state == m_State) return;
    if (IsTemporaryState(state) || IsTemporaryState(m_State)) {
        // Around one key search, calculation or filter callback: the edit in
        // progress keeps its Modified flag and controls see nothing.
        m_State = state;
        return;
    }
    m_State = state;
    m_Modified = false;
    NotifyStateChange();
}

// ---- reading

bool TDataSet::ReadInto(TGetMode mode, bool doCheck) {
    m_ReadBuffer.assign(RecordBufferSize(), 0);
    if (GetRecord(m_ReadBuffer, mode, doCheck) != TGetResult::OK) return false;
    m_Buffer.swap(m_ReadBuffer);
    if (OnCalcFields) {
        const TDataSetState before = m_State;
        SetState(TDataSetState::CalcFields);
        try {
            OnCalcFields(*this);
        } catch (...) {
            SetState(before);
            throw;
        }
        SetState(before);
    }
    return true;
}

bool TDataSet::Step(TMove move) {
    const bool forward = move == TMove::Next;
    if (ReadInto(forward ? TGetMode::Next : TGetMode::Prior, true)) return true;
    // Ran off the end: the storage cursor goes back onto the current record,
    // so that a move the other way reaches its neighbour.
    if (!ReadInto(forward ? TGetMode::Prior : TGetMode::Next, false)) m_HasRecord = false;
    return false;
}

void TDataSet::Resync() {
    CheckActive();
    if (ReadInto(TGetMode::Current, false)) {
        m_HasRecord = true;
    } else if (ReadInto(TGetMode::Next, false) || ReadInto(TGetMode::Prior, false)) {
        m_HasRecord = true;
        m_Bof = m_Eof = false;
    } else {
        m_HasRecord = false;
        m_Bof = m_Eof = true;
    }
    NotifyDataSetChanged();
}

bool TDataSet::ReadField(const TField& field, std::vector<uint8_t>& value) const {
    if (!Active()) return false;
    if (m_State == TDataSetState::Browse && !m_HasRecord) return false;
    const std::vector<uint8_t>& buffer = const_cast<TDataSet*>(this)->StateBuffer();
    if (buffer.empty()) return false;
    return GetFieldData(field, buffer, value);
}

void TDataSet::WriteField(TField& field, const uint8_t* value, size_t size) {
    switch (m_State) {
        case TDataSetState::Edit:
        case TDataSetState::Insert:
        case TDataSetState::SetKey:
        case TDataSetState::CalcFields:
        case TDataSetState::Filter:
        case TDataSetState::NewValue:
            break;
        default:
            throw EDatabaseError("Dataset not in edit or insert mode");
    }
    if (field.ReadOnly && m_State != TDataSetState::SetKey && m_State != TDataSetState::Filter)
        throw EDatabaseError("Field '" + field.FieldName() + "' cannot be modified");
    SetFieldData(field, StateBuffer(), value, size);
    if (m_State == TDataSetState::Edit || m_State == TDataSetState::Insert) {
        m_Modified = true;
        DataEvent(&field);
    }
}

std::string TDataSet::ReadBlob(const TField& field) {
    std::vector<uint8_t> raw;
    if (!ReadField(field, raw)) return {};
    return std::string(raw.begin(), raw.end());
}

void TDataSet::WriteBlob(TField& field, const std::string& bytes) {
    if (bytes.empty()) WriteField(field, nullptr, 0);
    else WriteField(field, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// ---- open and close

void TDataSet::Open() {
    if (Active()) return;
    Fire(BeforeOpen, *this);
    bool found = false;
    try {
        ClearFields();
        InternalOpen();
        InternalFieldsCreated();
        m_Buffer.assign(RecordBufferSize(), 0);
        InternalFirst();
        found = ReadInto(TGetMode::Next, true);
    } catch (...) {
        try {
            InternalClose();
        } catch (...) {
            // The open's own error is the one to report.
        }
        ClearFields();
        m_Buffer.clear();
        throw;
    }
    m_HasRecord = found;
    m_Bof = true;
    m_Eof = !found;
    m_Modified = false;
    SetState(TDataSetState::Browse);
    Fire(AfterOpen, *this);
    if (found) DoAfterScroll();
}

void TDataSet::Close() {
    if (!Active()) return;
    Fire(BeforeClose, *this);
    if (m_State == TDataSetState::Edit) {
        try {
            InternalCancel();
        } catch (...) {
            // Closing the storage releases the record lock as well.
        }
    }
    SetState(TDataSetState::Inactive);
    std::exception_ptr error;
    try {
        InternalClose();
    } catch (...) {
        error = std::current_exception();
    }
    ClearFields();
    m_Buffer.clear();
    m_SavedBuffer.clear();
    m_ReadBuffer.clear();
    m_HasRecord = false;
    m_Bof = m_Eof = true;
    if (error) std::rethrow_exception(error);
    Fire(AfterClose, *this);
}

// ---- moves

void TDataSet::First() {
    if (!ReachBrowseMode()) return;
    Fire(BeforeScroll, *this);
    InternalFirst();
    const bool found = ReadInto(TGetMode::Next, true);
    m_HasRecord = found;
    m_Bof = true;
    m_Eof = !found;
    NotifyDataSetChanged();
    DoAfterScroll();
}

void TDataSet::Last() {
    if (!ReachBrowseMode()) return;
    Fire(BeforeScroll, *this);
    InternalLast();
    const bool found = ReadInto(TGetMode::Prior, true);
    m_HasRecord = found;
    m_Eof = true;
    m_Bof = !found;
    NotifyDataSetChanged();
    DoAfterScroll();
}

void TDataSet::Next() { MoveBy(1); }

void TDataSet::Prior() { MoveBy(-1); }

int64_t TDataSet::MoveBy(int64_t distance) {
    if (!ReachBrowseMode()) return 0;
    Fire(BeforeScroll, *this);
    int64_t moved = 0;
    if (m_HasRecord && ((distance > 0 && !m_Eof) || (distance < 0 && !m_Bof))) {
        m_Bof = m_Eof = false;
        for (; distance > 0; --distance, ++moved) {
            if (!Step(TMove::Next)) {
                m_Eof = true;
                break;
            }
        }
        for (; distance < 0; ++distance, --moved) {
            if (!Step(TMove::Prior)) {
                m_Bof = true;
                break;
            }
        }
        if (!m_HasRecord) m_Bof = m_Eof = true;
    }
    SendDataEvent([moved](TDataLink& link) { link.DataSetScrolled(int(moved)); }, nullptr);
    DoAfterScroll();
    return moved;
}

bool TDataSet::IsEmpty() { return !Active() || (m_State != TDataSetState::Insert && !m_HasRecord); }

// ---- editing

void TDataSet::RestoreSaved() {
    m_Buffer = m_SavedBuffer;
    m_Bof = m_SavedBof;
    m_Eof = m_SavedEof;
    m_HasRecord = m_SavedHasRecord;
}

void TDataSet::Insert() {
    if (!ReachBrowseMode()) return;
    Fire(BeforeInsert, *this);
    Fire(BeforeScroll, *this);
    BeginInsert();
}

void TDataSet::Append() { Insert(); }

void TDataSet::BeginInsert() {
    m_SavedBuffer = m_Buffer;
    m_SavedBof = m_Bof;
    m_SavedEof = m_Eof;
    m_SavedHasRecord = m_HasRecord;
    try {
        m_Buffer.assign(RecordBufferSize(), 0);
        InternalInitRecord(m_Buffer);
    } catch (...) {
        RestoreSaved();
        throw;
    }
    m_Bof = m_Eof = false;
    SetState(TDataSetState::Insert);
    try {
        Fire(OnNewRecord, *this);
    } catch (...) {
        RestoreSaved();
        SetState(TDataSetState::Browse);
        Resync();
        throw;
    }
    m_Modified = false;
    NotifyDataSetChanged();
    Fire(AfterInsert, *this);
    DoAfterScroll();
}

void TDataSet::Edit() {
    CheckActive();
    if (m_State == TDataSetState::Edit || m_State == TDataSetState::Insert) return;
    if (!m_HasRecord) {
        Insert();
        return;
    }
    CheckBrowseMode();
    Fire(BeforeEdit, *this);
    for (;;) {
        const std::vector<uint8_t> before = m_Buffer;
        try {
            InternalEdit();
            break;
        } catch (const std::exception& error) {
            m_Buffer = before;
            TDataAction action = TDataAction::Fail;
            if (OnEditError) OnEditError(*this, error, action);
            if (action == TDataAction::Fail) throw;
            if (action == TDataAction::Abort) return;
        } catch (...) {
            m_Buffer = before;
            throw;
        }
    }
    m_SavedBuffer = m_Buffer;
    m_SavedBof = m_Bof;
    m_SavedEof = m_Eof;
    m_SavedHasRecord = m_HasRecord;
    SetState(TDataSetState::Edit);
    DataEvent(nullptr);  // the record was re-read
    Fire(AfterEdit, *this);
}

void TDataSet::Post() {
    CheckActive();
    if (m_State == TDataSetState::SetKey) {
        NotifyLinks([](TDataLink& link) { link.UpdateData(); });
        SetState(TDataSetState::Browse);
        return;
    }
    if (m_State != TDataSetState::Edit && m_State != TDataSetState::Insert)
        throw EDatabaseError("Dataset not in edit or insert mode");
    NotifyLinks([](TDataLink& link) { link.UpdateData(); });
    PostEdit();
}

void TDataSet::PostEdit() {
    Fire(BeforePost, *this);
    for (;;) {
        const std::vector<uint8_t> before = m_Buffer;
        try {
            InternalPost();
            break;
        } catch (const std::exception& error) {
            m_Buffer = before;
            TDataAction action = TDataAction::Fail;
            if (OnPostError) OnPostError(*this, error, action);
            if (action == TDataAction::Fail) throw;
            if (action == TDataAction::Abort) return;
            // Retry, unless the handler has left the edit meanwhile.
            if (m_State != TDataSetState::Edit && m_State != TDataSetState::Insert) return;
        }
    }
    SetState(TDataSetState::Browse);
    Resync();
    Fire(AfterPost, *this);
}

void TDataSet::Cancel() {
    if (m_State == TDataSetState::SetKey) {
        SetState(TDataSetState::Browse);
        return;
    }
    if (m_State != TDataSetState::Edit && m_State != TDataSetState::Insert) return;
    const bool inserting = m_State == TDataSetState::Insert;
    Fire(BeforeCancel, *this);
    if (inserting) Fire(BeforeScroll, *this);
    if (m_State == TDataSetState::Edit) InternalCancel();
    RestoreSaved();
    SetState(TDataSetState::Browse);
    Resync();
    Fire(AfterCancel, *this);
    if (inserting) DoAfterScroll();
}

void TDataSet::CheckBrowseMode() {
    CheckActive();
    switch (m_State) {
        case TDataSetState::Edit:
        case TDataSetState::Insert:
            NotifyLinks([](TDataLink& link) { link.UpdateData(); });
            if (m_Modified) PostEdit();
            else Cancel();
            break;
        case TDataSetState::SetKey:
            SetState(TDataSetState::Browse);
            break;
        default:
            break;
    }
}

bool TDataSet::ReachBrowseMode() {
    CheckBrowseMode();
    return m_State != TDataSetState::Edit && m_State != TDataSetState::Insert;
}

void TDataSet::Delete() {
    CheckActive();
    if (m_State == TDataSetState::Insert) {
        Cancel();
        return;
    }
    if (!m_HasRecord) throw EDatabaseError("Cannot perform this operation on an empty dataset");
    Fire(BeforeDelete, *this);
    Fire(BeforeScroll, *this);
    for (;;) {
        try {
            InternalDelete();
            break;
        } catch (const std::exception& error) {
            TDataAction action = TDataAction::Fail;
            if (OnDeleteError) OnDeleteError(*this, error, action);
            if (action == TDataAction::Fail) throw;
            if (action == TDataAction::Abort) return;
        }
    }
    SetState(TDataSetState::Browse);
    Resync();
    Fire(AfterDelete, *this);
    DoAfterScroll();
}

void TDataSet::Refresh() {
    if (!ReachBrowseMode()) return;
    Fire(BeforeRefresh, *this);
    InternalRefresh();
    Resync();
    Fire(AfterRefresh, *this);
}

// ---- counting and positions

int64_t TDataSet::RecordCount() {
    CheckActive();
    return GetRecordCount();
}

int64_t TDataSet::RecNo() {
    CheckActive();
    return GetRecNo();
}

void TDataSet::SetRecNo(int64_t n) {
    if (!ReachBrowseMode()) return;
    if (n == GetRecNo()) return;
    Fire(BeforeScroll, *this);
    InternalSetRecNo(n);
    m_Bof = m_Eof = false;
    Resync();
    DoAfterScroll();
}

}  // namespace veltra
