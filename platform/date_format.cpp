#include "platform/date_format.h"

#include <cmath>
#include <ctime>
#include <vector>

#include "platform/db_error.h"

namespace veltra::datetime_text {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Letters of Windows-1252 text: ASCII letters and the accented letters of the
// upper half, as month names may contain them.
bool IsLetter(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == 0x8A || u == 0x8C || u == 0x8E ||
           u == 0x9A || u == 0x9C || u == 0x9E || u == 0x9F || (u >= 0xC0 && u != 0xD7 && u != 0xF7);
}

// Upper case of a Windows-1252 letter (ASCII and the Latin-1 letters).
char UpperChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z') return char(u - 32);
    if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return char(u - 32);
    if (u == 0x9A || u == 0x9C || u == 0x9E) return char(u - 16);
    if (u == 0xFF) return char(0x9F);
    return c;
}

std::string Upper(std::string s) {
    for (char& c : s) c = UpperChar(c);
    return s;
}

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    const size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

bool StartsWithNoCase(const std::string& s, size_t at, const char* prefix) {
    for (size_t k = 0; prefix[k]; ++k) {
        if (at + k >= s.size() || UpperChar(s[at + k]) != UpperChar(prefix[k])) return false;
    }
    return true;
}

std::string Pad(int value, int width) {
    std::string digits = std::to_string(value);
    if (int(digits.size()) < width) digits.insert(0, size_t(width) - digits.size(), '0');
    return digits;
}

// Visits the format outside quoted literals: f(position, character).
template <typename F>
void ForEachFormatChar(const std::string& format, F f) {
    char quote = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else {
            f(i, c);
        }
    }
}

bool HasAmPm(const std::string& format) {
    bool found = false;
    ForEachFormatChar(format, [&](size_t i, char) {
        if (StartsWithNoCase(format, i, "AMPM") || StartsWithNoCase(format, i, "AM/PM") ||
            StartsWithNoCase(format, i, "A/P"))
            found = true;
    });
    return found;
}

// The next format letter at or after `from`, outside quotes, or 0.
char NextFormatLetter(const std::string& format, size_t from) {
    char quote = 0;
    for (size_t i = from; i < format.size(); ++i) {
        const char c = format[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            return c;
        }
    }
    return 0;
}

int CurrentCentury() {
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    return (local.tm_year + 1900) / 100 * 100;
}

[[noreturn]] void Fail(const std::string& original, const char* what) {
    throw EConvertError("'" + original + "' is not a valid " + what);
}

}  // namespace

bool IsValidCalendarDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Days from the civil calendar in eras of 400 years, counted so that
// 0001-01-01 is day 1.
int32_t DayNumberOf(int year, int month, int day) {
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int mp = (month + 9) % 12;
    const int doy = (153 * mp + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return int32_t(int64_t(era) * 146097 + doe - 305);
}

void CalendarDateOf(int32_t dayNumber, int& year, int& month, int& day) {
    const int64_t z = int64_t(dayNumber) + 305;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

bool SplitDateTime(double value, int32_t& dayNumber, int32_t& msOfDay) {
    if (!std::isfinite(value)) return false;
    const double whole = std::trunc(value);
    if (whole < -double(kDayNumberOf18991230) || whole > double(kMaxDayNumber)) return false;
    int64_t day = int64_t(whole) + kDayNumberOf18991230;
    int64_t ms = std::llround(std::fabs(value - whole) * kMsPerDay);
    if (ms >= kMsPerDay) {  // rounded up to the next midnight
        ms -= kMsPerDay;
        ++day;
    }
    if (day < 1 || day > kMaxDayNumber) return false;
    dayNumber = int32_t(day);
    msOfDay = int32_t(ms);
    return true;
}

double JoinDateTime(int32_t dayNumber, int32_t msOfDay) {
    const double days = double(dayNumber - kDayNumberOf18991230);
    const double fraction = double(msOfDay) / kMsPerDay;
    return days >= 0 ? days + fraction : days - fraction;
}

std::string FormatDateTime(const std::string& format, double value, const TFormatSettings& fs) {
    int32_t dayNumber = 0, ms = 0;
    if (!SplitDateTime(value, dayNumber, ms)) return {};
    int year = 0, month = 0, day = 0;
    CalendarDateOf(dayNumber, year, month, day);
    const int weekday = dayNumber % 7;  // 0001-01-01 was a Monday; 0 is Sunday
    const int hour = ms / 3600000, minute = ms / 60000 % 60, second = ms / 1000 % 60, milli = ms % 1000;
    const bool twelveHour = HasAmPm(format);

    std::string out;
    bool afterHour = false;
    size_t i = 0;
    const size_t n = format.size();
    while (i < n) {
        const char c = format[i];
        if (c == '\'' || c == '"') {
            size_t end = format.find(c, i + 1);
            if (end == std::string::npos) end = n;
            out.append(format, i + 1, end - i - 1);
            i = end < n ? end + 1 : n;
            continue;
        }
        if (StartsWithNoCase(format, i, "AMPM")) {
            out += hour < 12 ? fs.TimeAMString : fs.TimePMString;
            i += 4;
            continue;
        }
        if (StartsWithNoCase(format, i, "AM/PM")) {
            const bool lower = format[i] == 'a';
            out += hour < 12 ? (lower ? "am" : "AM") : (lower ? "pm" : "PM");
            i += 5;
            continue;
        }
        if (StartsWithNoCase(format, i, "A/P")) {
            const bool lower = format[i] == 'a';
            out += hour < 12 ? (lower ? 'a' : 'A') : (lower ? 'p' : 'P');
            i += 3;
            continue;
        }
        size_t run = 1;
        while (i + run < n && format[i + run] == c) ++run;
        const int count = int(run);
        bool wasHour = false;
        switch (c) {
            case 'd':
            case 'D':
                if (count == 1) out += std::to_string(day);
                else if (count == 2) out += Pad(day, 2);
                else if (count == 3) out += fs.ShortDayNames[size_t(weekday)];
                else out += fs.LongDayNames[size_t(weekday)];
                break;
            case 'm':
                if (afterHour || NextFormatLetter(format, i + run) == 's' ||
                    NextFormatLetter(format, i + run) == 'S') {
                    out += count >= 2 ? Pad(minute, 2) : std::to_string(minute);
                    break;
                }
                [[fallthrough]];
            case 'M':
                if (count == 1) out += std::to_string(month);
                else if (count == 2) out += Pad(month, 2);
                else if (count == 3) out += fs.ShortMonthNames[size_t(month - 1)];
                else out += fs.LongMonthNames[size_t(month - 1)];
                break;
            case 'y':
            case 'Y':
                if (count == 1) out += std::to_string(year);
                else if (count == 2) out += Pad(year % 100, 2);
                else out += Pad(year, 4);
                break;
            case 'h':
            case 'H': {
                int h = hour;
                if (c == 'h' && twelveHour) h = hour % 12 == 0 ? 12 : hour % 12;
                out += count >= 2 ? Pad(h, 2) : std::to_string(h);
                wasHour = true;
                break;
            }
            case 's':
            case 'S':
                out += count >= 2 ? Pad(second, 2) : std::to_string(second);
                break;
            case 'z':
            case 'Z':
                out += count >= 3 ? Pad(milli, 3) : std::to_string(milli);
                break;
            case '/':
                out.append(run, fs.DateSeparator);
                break;
            case ':':
                out.append(run, fs.TimeSeparator);
                break;
            default:
                out.append(run, c);
                break;
        }
        // Punctuation between the hour and the minutes keeps the minutes.
        if (!IsLetter(c)) wasHour = afterHour;
        afterHour = wasHour;
        i += run;
    }
    return out;
}

std::string DateToText(double value, const TFormatSettings& fs) {
    return FormatDateTime(fs.ShortDateFormat, value, fs);
}

std::string TimeToText(double value, const TFormatSettings& fs) {
    return FormatDateTime(fs.LongTimeFormat, value, fs);
}

std::string DateTimeToText(double value, const TFormatSettings& fs) {
    int32_t dayNumber = 0, ms = 0;
    if (!SplitDateTime(value, dayNumber, ms)) return {};
    std::string text = DateToText(value, fs);
    if (ms != 0) text += " " + TimeToText(value, fs);
    return text;
}

int32_t ParseDate(const std::string& text, const TFormatSettings& fs, const std::string& original) {
    // The order of day, month and year, whether months are written as names,
    // and the punctuation the format puts between them.
    std::string order;
    bool monthNames = false;
    std::string separators(1, fs.DateSeparator);
    separators += ' ';
    const std::string& format = fs.ShortDateFormat;
    ForEachFormatChar(format, [&](size_t i, char c) {
        char field = 0;
        if (c == 'd' || c == 'D') field = 'd';
        else if (c == 'M' || c == 'm') field = 'm';
        else if (c == 'y' || c == 'Y') field = 'y';
        if (field) {
            if (order.find(field) == std::string::npos) order += field;
            if (field == 'm' && i + 2 < format.size() && format[i + 1] == c && format[i + 2] == c) monthNames = true;
        } else if (!IsLetter(c)) {
            separators += c == '/' ? fs.DateSeparator : c;
        }
    });
    if (order.size() != 3) order = "mdy";

    struct TItem {
        std::string Text;
        bool Number;
    };
    std::vector<TItem> items;
    const std::string t = Trim(text);
    for (size_t i = 0; i < t.size();) {
        const char c = t[i];
        if (IsDigit(c) || IsLetter(c)) {
            const bool number = IsDigit(c);
            size_t j = i;
            while (j < t.size() && (number ? IsDigit(t[j]) : IsLetter(t[j]))) ++j;
            items.push_back({t.substr(i, j - i), number});
            i = j;
        } else if (separators.find(c) != std::string::npos) {
            ++i;
        } else {
            Fail(original, "date");
        }
    }
    if (items.size() != 3) Fail(original, "date");

    int day = 0, month = 0, year = 0;
    for (size_t k = 0; k < 3; ++k) {
        const TItem& item = items[k];
        if (!item.Number) {
            if (order[k] != 'm' || !monthNames) Fail(original, "date");
            const std::string name = Upper(item.Text);
            for (size_t m = 0; m < 12 && month == 0; ++m) {
                if (name == Upper(fs.ShortMonthNames[m]) || name == Upper(fs.LongMonthNames[m])) month = int(m) + 1;
            }
            if (month == 0) Fail(original, "date");
            continue;
        }
        if (item.Text.size() > 4) Fail(original, "date");
        const int v = std::stoi(item.Text);
        if (order[k] == 'd') day = v;
        else if (order[k] == 'm') month = v;
        else year = item.Text.size() <= 2 ? v + CurrentCentury() : v;
    }
    if (!IsValidCalendarDate(year, month, day)) Fail(original, "date");
    return DayNumberOf(year, month, day);
}

int32_t ParseTime(const std::string& text, const TFormatSettings& fs, const std::string& original) {
    std::string t = Upper(Trim(text));
    // An AM/PM text before or after the time.
    int pm = -1;
    const std::pair<std::string, int> marks[] = {{Upper(fs.TimePMString), 1}, {Upper(fs.TimeAMString), 0},
                                                 {"PM", 1}, {"AM", 0}};
    for (const auto& [mark, isPm] : marks) {
        if (mark.empty() || t.size() <= mark.size()) continue;
        if (t.compare(t.size() - mark.size(), mark.size(), mark) == 0) {
            t = Trim(t.substr(0, t.size() - mark.size()));
        } else if (t.compare(0, mark.size(), mark) == 0) {
            t = Trim(t.substr(mark.size()));
        } else {
            continue;
        }
        pm = isPm;
        break;
    }
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t sep = t.find(fs.TimeSeparator, start);
        parts.push_back(t.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
        if (sep == std::string::npos) break;
        start = sep + 1;
    }
    if (parts.size() > 3) Fail(original, "time");
    int ms = 0;
    if (parts.size() == 3) {
        const size_t dot = parts[2].find_first_of(".,");
        if (dot != std::string::npos) {
            std::string fraction = parts[2].substr(dot + 1);
            if (fraction.empty() || fraction.size() > 3) Fail(original, "time");
            for (char c : fraction)
                if (!IsDigit(c)) Fail(original, "time");
            fraction.resize(3, '0');
            ms = std::stoi(fraction);
            parts[2].resize(dot);
        }
    }
    int v[3] = {0, 0, 0};
    for (size_t k = 0; k < parts.size(); ++k) {
        if (parts[k].empty() || parts[k].size() > 2) Fail(original, "time");
        for (char c : parts[k])
            if (!IsDigit(c)) Fail(original, "time");
        v[k] = std::stoi(parts[k]);
    }
    if (pm >= 0) {
        if (v[0] < 1 || v[0] > 12) Fail(original, "time");
        v[0] = v[0] % 12 + (pm ? 12 : 0);
    }
    if (v[0] > 23 || v[1] > 59 || v[2] > 59) Fail(original, "time");
    return ((v[0] * 60 + v[1]) * 60 + v[2]) * 1000 + ms;
}

double ParseDateTime(const std::string& text, const TFormatSettings& fs, const std::string& original) {
    const std::string t = Trim(text);
    try {
        return JoinDateTime(ParseDate(t, fs, original), 0);
    } catch (const EConvertError&) {
    }
    // The time follows the last blank that leaves a valid date before it.
    for (size_t blank = t.rfind(' '); blank != std::string::npos && blank > 0; blank = t.rfind(' ', blank - 1)) {
        try {
            const int32_t day = ParseDate(t.substr(0, blank), fs, original);
            const int32_t ms = ParseTime(t.substr(blank + 1), fs, original);
            return JoinDateTime(day, ms);
        } catch (const EConvertError&) {
        }
    }
    Fail(original, "date and time");
}

}  // namespace veltra::datetime_text
