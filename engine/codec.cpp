#include "codec.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace veltra {

void Scramble(uint8_t* buffer, size_t length, TScrambleKey key) {
    uint8_t k1 = key.K1, k2 = key.K2;
    for (size_t i = 0; i < length; ++i) {
        buffer[i] = uint8_t(buffer[i] ^ k1 ^ k2);
        ++k1;
        --k2;
    }
}

namespace {

constexpr int64_t kPow10[] = {1,       10,       100,       1000,       10000,
                              100000,  1000000,  10000000,  100000000,  1000000000};

// value / divisor rounded half away from zero.
int64_t DivRound(int64_t value, int64_t divisor) {
    int64_t q = value / divisor, r = value % divisor;
    if (2 * std::llabs(r) >= divisor) q += value < 0 ? -1 : 1;
    return q;
}

bool MulFits(int64_t a, int64_t b, int64_t& out) { return !__builtin_mul_overflow(a, b, &out); }

}  // namespace

bool PackBcd(int64_t amount, uint8_t decimals, int64_t& packed) {
    int d = decimals > 9 ? 9 : decimals;
    int64_t whole;
    if (d <= 4) {
        whole = DivRound(amount, kPow10[4 - d]);
    } else if (!MulFits(amount, kPow10[d - 4], whole)) {
        return false;
    }
    int64_t shifted;
    if (!MulFits(whole, 10, shifted)) return false;
    // The digit count goes in the last decimal place, keeping the sign.
    return !__builtin_add_overflow(shifted, whole < 0 ? -d : d, &packed);
}

int64_t UnpackBcd(int64_t packed) {
    int d = int(std::llabs(packed % 10));
    int64_t whole = packed / 10;
    if (d <= 4) {
        int64_t amount;
        return MulFits(whole, kPow10[4 - d], amount) ? amount
               : (whole < 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max());
    }
    return DivRound(whole, kPow10[d - 4]);
}

std::string BcdToText(int64_t packed) {
    int d = int(std::llabs(packed % 10));
    int64_t whole = packed / 10;
    uint64_t magnitude = whole < 0 ? uint64_t(-(whole + 1)) + 1 : uint64_t(whole);
    std::string digits = std::to_string(magnitude);
    if (d > 0) {
        std::string padded(size_t(d) + 1 > digits.size() ? size_t(d) + 1 - digits.size() : 0, '0');
        padded += digits;
        digits = padded.substr(0, padded.size() - size_t(d)) + "." + padded.substr(padded.size() - size_t(d));
    }
    return whole < 0 ? "-" + digits : digits;
}

int64_t CurrencyFromDouble(double value) {
    double scaled = value * 10000.0;
    double r = scaled < 0 ? -std::floor(-scaled + 0.5) : std::floor(scaled + 0.5);
    if (r >= 9.2e18) return std::numeric_limits<int64_t>::max();
    if (r <= -9.2e18) return std::numeric_limits<int64_t>::min();
    return int64_t(r);
}

bool IsValidDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Days-from-civil over the proleptic Gregorian calendar (eras of 400 years).
int32_t EncodeDayNumber(int year, int month, int day) {
    int y = year - (month <= 2);
    int era = (y >= 0 ? y : y - 399) / 400;
    int yoe = y - era * 400;
    int mp = (month + 9) % 12;
    int doy = (153 * mp + 2) / 5 + day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t daysFrom1970 = int64_t(era) * 146097 + doe - 719468;
    return int32_t(daysFrom1970 + 719163);  // 1970-01-01 is day 719163
}

void DecodeDayNumber(int32_t dayNumber, int& year, int& month, int& day) {
    int64_t z = int64_t(dayNumber) - 719163 + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(yoe + era * 400 + (month <= 2));
}

double DateTimeFromDayNumber(int32_t dayNumber, int32_t msOfDay) {
    double days = double(dayNumber - kDayNumberOf18991230);
    double frac = double(msOfDay) / 86400000.0;
    // Negative date-times carry the time fraction away from zero.
    return days >= 0 ? days + frac : days - frac;
}

// The local date and time from one reading of the clock.
static void LocalNow(int32_t& dayNumber, int32_t& msOfDay) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t secs = ts.tv_sec;
    struct tm lt;
    localtime_r(&secs, &lt);
    dayNumber = EncodeDayNumber(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday);
    msOfDay = ((lt.tm_hour * 60 + lt.tm_min) * 60 + lt.tm_sec) * 1000 + int32_t(ts.tv_nsec / 1000000);
}

int32_t TodayDayNumber() {
    int32_t day, ms;
    LocalNow(day, ms);
    return day;
}

int32_t NowMilliseconds() {
    int32_t day, ms;
    LocalNow(day, ms);
    return ms;
}

double NowAsDateTime() {
    int32_t day, ms;
    LocalNow(day, ms);
    return DateTimeFromDayNumber(day, ms);
}

}  // namespace veltra
