// Value codecs shared by the table files: the table scrambling routine, packed
// BCD values, and day numbers for dates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace veltra {

// Scrambling key: two bytes that advance in opposite directions per byte.
struct TScrambleKey {
    uint8_t K1;
    uint8_t K2;
};

// The two fixed keys. The table key scrambles descriptor blocks, record
// images, index headers and pages, BLOB headers and blocks of encrypted
// tables; the password key only the characters of the stored password. Both
// are constants of the file format: changing them makes every encrypted table
// unreadable.
constexpr TScrambleKey kTableKey{0x5B, 0xC7};
constexpr TScrambleKey kPasswordKey{0x39, 0x8E};

// Self-inverse: byte i (from 0) is XORed with ((k1 + i) mod 256) XOR
// ((k2 - i) mod 256). Each call starts again from the key's initial bytes.
void Scramble(uint8_t* buffer, size_t length, TScrambleKey key);

// BCD fields hold a currency amount (signed count of ten-thousandths) packed
// as (amount x 10^decimals as a whole number) x 10 + decimals.
// PackBcd rounds half away from zero to min(decimals, 4) places; decimals is
// 0..4 in stored fields (larger values are treated as 4 for the rounding).
// Returns false when the packed value would not fit in 64 bits.
bool PackBcd(int64_t currencyAmount, uint8_t decimals, int64_t& packed);
// Unpacks to a currency amount (ten-thousandths). Digits beyond four decimals
// are rounded half away from zero.
int64_t UnpackBcd(int64_t packed);
// Decimal text of a packed value: "1.50", "-123.45", "7".
std::string BcdToText(int64_t packed);
// Currency amount from a double, rounded half away from zero.
int64_t CurrencyFromDouble(double value);

// Day numbers: 0001-01-01 is day 1 in the proleptic Gregorian calendar;
// 1899-12-30 is day 693594.
constexpr int32_t kDayNumberOf18991230 = 693594;
bool IsValidDate(int year, int month, int day);
int32_t EncodeDayNumber(int year, int month, int day);  // caller checks validity
void DecodeDayNumber(int32_t dayNumber, int& year, int& month, int& day);

// Date-time as days since 1899-12-30 with the time of day as fraction.
double DateTimeFromDayNumber(int32_t dayNumber, int32_t msOfDay);
// The local date and time now in that form.
double NowAsDateTime();
// Today's day number and the current time of day in milliseconds, local time.
int32_t TodayDayNumber();
int32_t NowMilliseconds();

}  // namespace veltra
