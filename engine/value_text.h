// Conversions of the texts stored in field descriptors (defaults, minimum and
// maximum values) to values, with the number and date formats in force (the
// table's, installed by a TFormatSettingsScope). Each raises EConvertError
// with the text between quotes when it does not convert.
#pragma once

#include <cstdint>
#include <string>

#include "platform/format_settings.h"

namespace veltra {

int64_t TextToInteger(const std::string& text);
double TextToFloat(const std::string& text, const TFormatSettings& fs);
// Currency amount in ten-thousandths, rounded half away from zero.
int64_t TextToCurrency(const std::string& text, const TFormatSettings& fs);
bool TextToBoolean(const std::string& text);
// Day number (0001-01-01 = 1), fields in the order of the short date format;
// a one- or two-digit year falls in the current century.
int32_t TextToDate(const std::string& text, const TFormatSettings& fs);
// Milliseconds since midnight: h[:mm[:ss[.zzz]]] with an optional AM/PM.
int32_t TextToTime(const std::string& text, const TFormatSettings& fs);
// A date, optionally followed by a blank and a time: day number and ms.
void TextToDateTime(const std::string& text, const TFormatSettings& fs, int32_t& day, int32_t& ms);

}  // namespace veltra
