#include "value_text.h"

#include <cctype>
#include <cmath>
#include <ctime>
#include <vector>

#include "codec.h"
#include "platform/db_error.h"

namespace veltra {

namespace {

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    size_t e = s.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::string Upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

[[noreturn]] void Fail(const std::string& text, const char* what) {
    throw EConvertError("'" + text + "' is not a valid " + what);
}

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// Splits a decimal text into sign, integer digits and fraction digits.
bool SplitDecimal(const std::string& t, char separator, bool& negative, std::string& whole,
                  std::string& fraction) {
    size_t i = 0;
    negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    size_t dot = t.find(separator, i);
    whole = t.substr(i, dot == std::string::npos ? std::string::npos : dot - i);
    fraction = dot == std::string::npos ? std::string() : t.substr(dot + 1);
    if (whole.empty() && fraction.empty()) return false;
    return (whole.empty() || AllDigits(whole)) && (fraction.empty() || AllDigits(fraction));
}

}  // namespace

int64_t TextToInteger(const std::string& text) {
    std::string t = Trim(text);
    size_t i = (t.size() > 0 && (t[0] == '-' || t[0] == '+')) ? 1 : 0;
    if (!AllDigits(t.substr(i)) || t.size() - i > 18) Fail(text, "integer value");
    return std::stoll(t);
}

double TextToFloat(const std::string& text, const TFormatSettings& fs) {
    std::string t = Trim(text);
    size_t e = t.find_first_of("eE");
    std::string mantissa = t.substr(0, e);
    bool negative;
    std::string whole, fraction;
    if (!SplitDecimal(mantissa, fs.DecimalSeparator, negative, whole, fraction))
        Fail(text, "floating point value");
    std::string normal = (negative ? "-" : "") + (whole.empty() ? "0" : whole) + "." +
                         (fraction.empty() ? "0" : fraction);
    if (e != std::string::npos) {
        std::string exp = t.substr(e + 1);
        size_t j = (!exp.empty() && (exp[0] == '-' || exp[0] == '+')) ? 1 : 0;
        if (!AllDigits(exp.substr(j))) Fail(text, "floating point value");
        normal += "e" + exp;
    }
    return std::strtod(normal.c_str(), nullptr);
}

int64_t TextToCurrency(const std::string& text, const TFormatSettings& fs) {
    std::string t = Trim(text);
    bool negative;
    std::string whole, fraction;
    if (!SplitDecimal(t, fs.DecimalSeparator, negative, whole, fraction) || whole.size() > 14)
        Fail(text, "floating point value");
    int64_t amount = whole.empty() ? 0 : std::stoll(whole);
    fraction.resize(std::max<size_t>(fraction.size(), 5), '0');
    amount = amount * 10000 + std::stoll(fraction.substr(0, 4));
    if (fraction[4] >= '5') ++amount;  // half away from zero, sign applied after
    return negative ? -amount : amount;
}

bool TextToBoolean(const std::string& text) {
    std::string u = Upper(Trim(text));
    if (u == "TRUE") return true;
    if (u == "FALSE") return false;
    throw EConvertError("'" + text + "' is not a valid boolean value");
}

int32_t TextToDate(const std::string& text, const TFormatSettings& fs) {
    std::string t = Trim(text);
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t sep = t.find(fs.DateSeparator, start);
        parts.push_back(t.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
        if (sep == std::string::npos) break;
        start = sep + 1;
    }
    if (parts.size() != 3) Fail(text, "date");
    // The order of day, month and year as the short date format writes them.
    std::string order;
    for (char c : fs.ShortDateFormat) {
        char l = char(std::tolower(static_cast<unsigned char>(c)));
        if ((l == 'd' || l == 'm' || l == 'y') && order.find(l) == std::string::npos) order += l;
    }
    if (order.size() != 3) order = "mdy";
    int day = 0, month = 0, year = 0;
    for (size_t i = 0; i < 3; ++i) {
        if (!AllDigits(parts[i]) || parts[i].size() > 4) Fail(text, "date");
        int v = std::stoi(parts[i]);
        if (order[i] == 'd') day = v;
        else if (order[i] == 'm') month = v;
        else {
            year = v;
            if (parts[i].size() <= 2) {
                time_t now = time(nullptr);
                struct tm lt;
                localtime_r(&now, &lt);
                year += (lt.tm_year + 1900) / 100 * 100;
            }
        }
    }
    if (!IsValidDate(year, month, day)) Fail(text, "date");
    return EncodeDayNumber(year, month, day);
}

int32_t TextToTime(const std::string& text, const TFormatSettings& fs) {
    std::string t = Upper(Trim(text));
    int pm = -1;
    for (const auto& [suffix, isPm] : {std::pair{Upper(fs.TimePMString), 1}, std::pair{Upper(fs.TimeAMString), 0},
                                       std::pair{std::string("PM"), 1}, std::pair{std::string("AM"), 0}}) {
        if (!suffix.empty() && t.size() > suffix.size() &&
            t.compare(t.size() - suffix.size(), suffix.size(), suffix) == 0) {
            pm = isPm;
            t = Trim(t.substr(0, t.size() - suffix.size()));
            break;
        }
    }
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t sep = t.find(fs.TimeSeparator, start);
        parts.push_back(t.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
        if (sep == std::string::npos) break;
        start = sep + 1;
    }
    if (parts.empty() || parts.size() > 3) Fail(text, "time");
    int ms = 0;
    if (parts.size() == 3) {
        size_t dot = parts[2].find('.');
        if (dot != std::string::npos) {
            std::string frac = parts[2].substr(dot + 1);
            if (!AllDigits(frac) || frac.size() > 3) Fail(text, "time");
            frac.resize(3, '0');
            ms = std::stoi(frac);
            parts[2].resize(dot);
        }
    }
    int v[3] = {0, 0, 0};
    for (size_t i = 0; i < parts.size(); ++i) {
        if (!AllDigits(parts[i]) || parts[i].size() > 2) Fail(text, "time");
        v[i] = std::stoi(parts[i]);
    }
    if (pm >= 0) {
        if (v[0] < 1 || v[0] > 12) Fail(text, "time");
        v[0] = v[0] % 12 + (pm ? 12 : 0);
    }
    if (v[0] > 23 || v[1] > 59 || v[2] > 59) Fail(text, "time");
    return ((v[0] * 60 + v[1]) * 60 + v[2]) * 1000 + ms;
}

void TextToDateTime(const std::string& text, const TFormatSettings& fs, int32_t& day, int32_t& ms) {
    std::string t = Trim(text);
    size_t blank = t.find(' ');
    try {
        day = TextToDate(t.substr(0, blank), fs);
        ms = blank == std::string::npos ? 0 : TextToTime(t.substr(blank + 1), fs);
    } catch (const EConvertError&) {
        Fail(text, "date and time");
    }
}

}  // namespace veltra
