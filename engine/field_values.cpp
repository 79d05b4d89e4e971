// Field values of record images: reading and writing one field, defaults of
// a new record, and the required/minimum/maximum checks.
#include <algorithm>
#include <cstring>

#include "codec.h"
#include "data_file.h"
#include "errors.h"
#include "platform/db_error.h"
#include "platform/format_settings.h"
#include "platform/locale_services.h"
#include "value_text.h"

namespace veltra {

bool TDataFile::GetFieldValue(int fieldNo, const uint8_t* record, uint8_t* value) {
    TFieldDescriptor d = FieldDescriptor(fieldNo);
    if (d.IsAutoIncrement()) {
        std::memcpy(value, record + 5, 4);
        return false;
    }
    if (d.IsComputed()) {
        std::memset(value, 0, d.PhysicalSize());
        return true;
    }
    const uint8_t* p = record + d.Offset();
    std::memcpy(value, p + 1, d.PhysicalSize());
    if (d.FieldType() == ftBlob && IsBlobHandle(GetI32(p + 1))) {
        int64_t size = 0;
        return BlobFieldSize(fieldNo, record, size) != 0 || size == 0;
    }
    return p[0] == 0;
}

void TDataFile::SetFieldValue(int fieldNo, uint8_t* record, const uint8_t* value, size_t length) {
    TFieldDescriptor d = FieldDescriptor(fieldNo);
    if (d.IsComputed()) return;
    if (d.IsAutoIncrement()) {
        if (value) {
            uint8_t v[4] = {};
            std::memcpy(v, value, std::min<size_t>(length, 4));
            std::memcpy(record + 5, v, 4);
        }
        return;
    }
    uint8_t* p = record + d.Offset();
    const size_t size = d.PhysicalSize();
    std::memset(p, 0, size + 1);
    if (!value) return;
    switch (d.FieldType()) {
        case ftString: {
            size_t n = std::min(length, size);
            n = strnlen(reinterpret_cast<const char*>(value), n);
            n = std::min(n, size - 1);
            while (n > 0 && value[n - 1] == ' ') --n;
            std::memcpy(p + 1, value, n);
            p[0] = n > 0 ? 1 : 0;
            return;
        }
        case ftBlob: {
            std::memcpy(p + 1, value, std::min<size_t>(length, 4));
            int32_t v = GetI32(p + 1);
            int64_t blobSize = 0;
            bool hasValue = IsBlobHandle(v) ? BlobFieldSize(fieldNo, record, blobSize) == 0 && blobSize > 0
                                            : v != 0;
            p[0] = hasValue ? 1 : 0;
            return;
        }
        case ftBoolean: {
            uint8_t v[2] = {};
            std::memcpy(v, value, std::min<size_t>(length, 2));
            PutU16(p + 1, GetU16(v) != 0 ? 1 : 0);
            p[0] = 1;
            return;
        }
        default:
            std::memcpy(p + 1, value, std::min(length, size));
            p[0] = 1;
    }
}

namespace {

// The value of a default or limit text for a field, as the bytes the field
// stores. Returns false for a type that takes no converted value.
bool ConvertText(const TFieldDescriptor& d, const std::string& text, std::vector<uint8_t>& out) {
    const TFormatSettings& fs = FormatSettings();
    out.assign(d.PhysicalSize(), 0);
    auto upper = [](std::string s) {
        for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    std::string u = upper(text);
    switch (d.FieldType()) {
        case ftString:
            std::memcpy(out.data(), text.data(), std::min(text.size(), out.size()));
            return true;
        case ftDate:
            PutI32(out.data(), u == "DATE" ? TodayDayNumber() : TextToDate(text, fs));
            return true;
        case ftBoolean:
            PutU16(out.data(), TextToBoolean(text) ? 1 : 0);
            return true;
        case ftSmallInt:
            PutI16(out.data(), int16_t(TextToInteger(text)));
            return true;
        case ftInteger:
            PutI32(out.data(), int32_t(TextToInteger(text)));
            return true;
        case ftWord:
            PutU16(out.data(), uint16_t(TextToInteger(text)));
            return true;
        case ftFloat:
            PutF64(out.data(), TextToFloat(text, fs));
            return true;
        case ftBCD: {
            int64_t packed;
            if (!PackBcd(TextToCurrency(text, fs), d.Decimals(), packed))
                throw EConvertError("'" + text + "' is not a valid floating point value");
            PutI64(out.data(), packed);
            return true;
        }
        case ftTime:
            PutI32(out.data(), u == "TIME" ? NowMilliseconds() : TextToTime(text, fs));
            return true;
        case ftDateTime: {
            int32_t day, ms;
            if (u == "NOW") {
                day = TodayDayNumber();
                ms = NowMilliseconds();
            } else if (u == "DATE") {
                day = TodayDayNumber();
                ms = 0;
            } else if (u == "TIME") {
                day = kDayNumberOf18991230;
                ms = NowMilliseconds();
            } else {
                TextToDateTime(text, fs, day, ms);
            }
            PutF64(out.data(), double(day) * 86400000.0 + ms);
            return true;
        }
        default:
            return false;
    }
}

// Date, time and date-time values on one scale: days since 1899-12-30.
double AsDateTime(uint8_t type, const uint8_t* v) {
    switch (type) {
        case ftDate: return double(GetI32(v) - kDayNumberOf18991230);
        case ftTime: return GetI32(v) / 86400000.0;
        default: return GetF64(v) / 86400000.0 - kDayNumberOf18991230;
    }
}

}  // namespace

void TDataFile::InitRecord(uint8_t* buffer) {
    std::memset(buffer, 0, size_t(RecordSize()));
    if (!m_HasDefaults) return;
    TFormatSettingsScope formats(LanguageID(), SortID());
    std::vector<uint8_t> value;
    for (int f = 1; f <= FieldCount(); ++f) {
        const TFieldDescriptor& d = m_Descriptors[size_t(f - 1)];
        std::string text = d.DefaultValue();
        if (text.empty()) continue;
        if (ConvertText(d, text, value)) {
            SetFieldValue(f, buffer, value.data(), value.size());
        } else if (d.FieldType() != ftBlob && !d.IsAutoIncrement() && !d.IsComputed()) {
            buffer[d.Offset()] = 1;  // set, with zero bytes
        }
    }
}

void TDataFile::ValidateRecord(const uint8_t* buffer) {
    if (!m_HasChecks) return;
    TFormatSettingsScope formats(LanguageID(), SortID());
    std::vector<uint8_t> value, limit;
    for (int f = 1; f <= FieldCount(); ++f) {
        const TFieldDescriptor& d = m_Descriptors[size_t(f - 1)];
        value.assign(std::max<size_t>(d.PhysicalSize(), 4), 0);
        bool isNull = GetFieldValue(f, buffer, value.data());
        if (d.Required() && isNull) RaiseEngineError(ecValueRequired, FileName(), d.Name());
        if (isNull) std::fill(value.begin(), value.end(), 0);  // compared as the zero value
        for (int which = 0; which < 2; ++which) {
            std::string text = which == 0 ? d.MinValue() : d.MaxValue();
            if (text.empty() || !ConvertText(d, text, limit)) continue;
            int c = 0;
            switch (d.FieldType()) {
                case ftString:
                    if (m_Collator) {
                        c = m_Collator->Compare(value.data(), d.PhysicalSize(), limit.data(), d.PhysicalSize());
                    } else {
                        c = std::memcmp(value.data(), limit.data(), d.PhysicalSize());
                    }
                    break;
                case ftDate: case ftTime: case ftDateTime: {
                    double a = AsDateTime(d.FieldType(), value.data()), b = AsDateTime(d.FieldType(), limit.data());
                    c = a < b ? -1 : a > b;
                    break;
                }
                case ftSmallInt: c = GetI16(value.data()) - GetI16(limit.data()); break;
                case ftWord: c = int(GetU16(value.data())) - int(GetU16(limit.data())); break;
                case ftInteger: {
                    int32_t a = GetI32(value.data()), b = GetI32(limit.data());
                    c = a < b ? -1 : a > b;
                    break;
                }
                case ftFloat: {
                    double a = GetF64(value.data()), b = GetF64(limit.data());
                    c = a < b ? -1 : a > b;
                    break;
                }
                case ftBCD: {
                    int64_t a = UnpackBcd(GetI64(value.data())), b = UnpackBcd(GetI64(limit.data()));
                    c = a < b ? -1 : a > b;
                    break;
                }
                default: continue;
            }
            if (which == 0 && c < 0) RaiseEngineError(ecBelowMinimum, FileName(), d.Name());
            if (which == 1 && c > 0) RaiseEngineError(ecAboveMaximum, FileName(), d.Name());
        }
    }
}

}  // namespace veltra
