// Date and time values of the dataset layer and their texts.
//
// A date-time value is a double counting days since 1899-12-30, with the time
// of day as the fraction; for values before that day the fraction still
// counts forward from midnight (-1.25 is 1899-12-29 06:00). Stored values use
// day numbers (0001-01-01 is day 1, 1899-12-30 is day 693594) and
// milliseconds since midnight.
//
// Texts are written and read with the format settings given (normally the
// process-wide FormatSettings()). Format strings and names in the settings
// are Windows-1252, and so are the texts these functions take and return.
#pragma once

#include <cstdint>
#include <string>

#include "platform/format_settings.h"

namespace veltra::datetime_text {

constexpr int32_t kDayNumberOf18991230 = 693594;
constexpr int32_t kMaxDayNumber = 3652059;  // 9999-12-31
constexpr int32_t kMsPerDay = 86400000;

bool IsValidCalendarDate(int year, int month, int day);
// Day number of a valid calendar date.
int32_t DayNumberOf(int year, int month, int day);
void CalendarDateOf(int32_t dayNumber, int& year, int& month, int& day);

// Splits a date-time value into a day number and milliseconds since midnight
// (rounded to the nearest millisecond). False when the value is not finite or
// its day lies outside 0001-01-01 .. 9999-12-31.
bool SplitDateTime(double value, int32_t& dayNumber, int32_t& msOfDay);
double JoinDateTime(int32_t dayNumber, int32_t msOfDay);

// Writes a value with a format string of these letters (others are copied):
//   d dd ddd dddd   day, two-digit day, short and long weekday name
//   M MM MMM MMMM   month, two-digit month, short and long month name
//   y yy yyyy       year as it is, two-digit year, four-digit year (as in
//                   the locale patterns the settings are read from)
//   h hh H HH       hour (h is 12-hour when the format has AM/PM), two digits
//   m mm            minutes (a lower-case m that does not follow an hour and
//                   is not followed by seconds is taken as the month)
//   s ss z zzz      seconds, milliseconds
//   AMPM            the settings' AM or PM text; AM/PM, am/pm, A/P literally
//   /  :            the date and the time separator
//   '...' "..."     literal text
std::string FormatDateTime(const std::string& format, double value, const TFormatSettings& fs);

// ShortDateFormat; LongTimeFormat; the date, a blank and the time, the time
// left out at midnight.
std::string DateToText(double value, const TFormatSettings& fs);
std::string TimeToText(double value, const TFormatSettings& fs);
std::string DateTimeToText(double value, const TFormatSettings& fs);

// Parsers; each raises EConvertError "'<text>' is not a valid date" (time,
// date and time) quoting `original` when the text does not convert.
// A date is day, month and year in the order of ShortDateFormat, separated by
// the date separator or the punctuation of that format; a month may be given
// by name when the format writes names; a one- or two-digit year falls in the
// current century. A time is h[:mm[:ss[.zzz]]] with an optional AM/PM text.
// A date-time is a date, optionally followed by a blank and a time.
int32_t ParseDate(const std::string& text, const TFormatSettings& fs, const std::string& original);
int32_t ParseTime(const std::string& text, const TFormatSettings& fs, const std::string& original);
double ParseDateTime(const std::string& text, const TFormatSettings& fs, const std::string& original);

}  // namespace veltra::datetime_text
