#include "platform/qt/controls/field_text.h"

#include <algorithm>
#include <cstring>

#include "engine/veltra_table.h"
#include "platform/dataset.h"
#include "platform/date_format.h"
#include "platform/format_settings.h"
#include "platform/locale_services.h"

namespace veltra {

namespace {

namespace dt = datetime_text;

// The marker a grid shows for a BLOB field, as TField::DisplayText writes it:
// the kind's name in brackets, in upper case when the field holds data.
QString BlobMarker(TFieldKind kind, bool hasData) {
    QString marker;
    switch (kind) {
        case TFieldKind::Memo: marker = QStringLiteral("(Memo)"); break;
        case TFieldKind::FormattedMemo: marker = QStringLiteral("(FmtMemo)"); break;
        case TFieldKind::Graphic: marker = QStringLiteral("(Graphic)"); break;
        case TFieldKind::TypedBinary: marker = QStringLiteral("(TypedBinary)"); break;
        default: marker = QStringLiteral("(Blob)"); break;
    }
    return hasData ? marker.toUpper() : marker;
}

template <class T>
T LoadLE(const std::vector<uint8_t>& raw) {
    T v{};
    if (raw.size() >= sizeof(T)) std::memcpy(&v, raw.data(), sizeof(T));  // little-endian host
    return v;
}

// Stored texts and the date functions' texts are Windows-1252.
QString FromCp1252(const std::string& s) { return QString::fromStdString(Cp1252ToUtf8(s)); }

QString NumberText(double v) {
    const char dec = FormatSettings().DecimalSeparator;
    QString text = QString::number(v, 'g', 15);
    if (dec != '.') text.replace(QLatin1Char('.'), QLatin1Char(dec));
    return text;
}

}  // namespace

QString FieldDisplayLabel(const TField& field) { return QString::fromStdString(field.DisplayLabel()); }

int FieldDisplayWidth(const TField& field) { return field.DisplayWidth(); }

QString FieldDisplayText(const TField& field) { return QString::fromStdString(field.DisplayText()); }

Qt::Alignment FieldAlignment(const TField& field) {
    switch (field.Alignment()) {
        case TField::TAlignment::Right: return Qt::AlignRight | Qt::AlignVCenter;
        case TField::TAlignment::Center: return Qt::AlignHCenter | Qt::AlignVCenter;
        default: return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

QString RowFieldText(TVeltraTable& table, const TField& field, const std::vector<uint8_t>& image) {
    TDataFile* file = table.DataFile();
    if (file == nullptr || field.FieldNo() < 0) return {};
    const TFieldDescriptor d = file->FieldDescriptor(field.FieldNo());
    std::vector<uint8_t> raw(std::max<size_t>(d.PhysicalSize(), 8), 0);
    std::vector<uint8_t> padded = image;
    padded.resize(std::max(image.size(), size_t(file->RecordSize())), 0);
    const bool isNull = file->GetFieldValue(field.FieldNo(), padded.data(), raw.data());
    if (field.IsBlob()) return BlobMarker(field.Kind(), !isNull);
    if (isNull) return {};
    const TFormatSettings& fs = FormatSettings();
    switch (field.Kind()) {
        case TFieldKind::String: {
            const char* s = reinterpret_cast<const char*>(raw.data());
            const size_t n = strnlen(s, size_t(d.PhysicalSize()));
            return FromCp1252(std::string(s, n));
        }
        case TFieldKind::Memo:
        case TFieldKind::FormattedMemo:
        case TFieldKind::Graphic:
        case TFieldKind::TypedBinary:
        case TFieldKind::Blob:
            return {};  // answered above
        case TFieldKind::Boolean:
            return LoadLE<uint16_t>(raw) != 0 ? QStringLiteral("True") : QStringLiteral("False");
        case TFieldKind::SmallInt:
            return QString::number(LoadLE<int16_t>(raw));
        case TFieldKind::Integer:
        case TFieldKind::AutoInc:
            return QString::number(LoadLE<int32_t>(raw));
        case TFieldKind::Word:
            return QString::number(LoadLE<uint16_t>(raw));
        case TFieldKind::Float:
        case TFieldKind::Currency:
            return NumberText(LoadLE<double>(raw));
        case TFieldKind::BCD: {
            const int64_t packed = LoadLE<int64_t>(raw);
            const int64_t digits = packed / 10;
            int decimals = int(packed % 10);
            if (decimals < 0) decimals = -decimals;
            double v = double(digits);
            for (int i = 0; i < decimals; ++i) v /= 10;
            return NumberText(v);
        }
        case TFieldKind::Date: {
            const int32_t day = LoadLE<int32_t>(raw);
            if (day < 1 || day > dt::kMaxDayNumber) return {};
            return FromCp1252(dt::DateToText(double(day - dt::kDayNumberOf18991230), fs));
        }
        case TFieldKind::Time: {
            const int32_t ms = LoadLE<int32_t>(raw);
            return FromCp1252(dt::TimeToText(double(ms) / dt::kMsPerDay, fs));
        }
        case TFieldKind::DateTime: {
            const double stamp = LoadLE<double>(raw);
            const int32_t day = int32_t(stamp / dt::kMsPerDay);
            const double ms = stamp - double(day) * dt::kMsPerDay;
            if (day < 1 || day > dt::kMaxDayNumber) return {};
            return FromCp1252(dt::DateTimeToText(dt::JoinDateTime(day, int32_t(ms)), fs));
        }
        case TFieldKind::Bytes:
        case TFieldKind::VarBytes:
            return QString::fromLatin1(reinterpret_cast<const char*>(raw.data()),
                                       qsizetype(d.PhysicalSize()));
    }
    return {};
}

}  // namespace veltra
