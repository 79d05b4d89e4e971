// Process-wide number and date format settings, as used to convert stored
// texts (default values, minimum and maximum values) to and from values.
//
// The settings in force are process-wide. A table converts its texts under a
// TFormatSettingsScope, which takes a process-wide lock, saves the settings,
// installs those of the table's locale (or the fixed US settings for a table
// without locale), and restores the saved ones when it ends. Code that only
// reads the settings outside a scope sees the process defaults.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

namespace veltra {

struct TFormatSettings {
    std::string CurrencyString;
    uint8_t CurrencyFormat = 0;
    uint8_t NegCurrFormat = 0;
    char ThousandSeparator = ',';
    char DecimalSeparator = '.';
    uint8_t CurrencyDecimals = 2;
    char DateSeparator = '/';
    std::string ShortDateFormat;
    std::string LongDateFormat;
    char TimeSeparator = ':';
    std::string TimeAMString;
    std::string TimePMString;
    std::string ShortTimeFormat;
    std::string LongTimeFormat;
    std::array<std::string, 12> ShortMonthNames;
    std::array<std::string, 12> LongMonthNames;
    std::array<std::string, 7> ShortDayNames;  // Sunday first
    std::array<std::string, 7> LongDayNames;

    bool operator==(const TFormatSettings&) const = default;
};

// The fixed US settings used for tables without a locale: currency "$",
// formats 0 and 0, separators "," and ".", 2 currency decimals, date separator
// "/", "M/d/yyyy", "dddd, MMMM dd, yyyy", ":", "AM"/"PM", "h:mm AMPM",
// "h:mm:ss AMPM", English month and day names.
const TFormatSettings& UsFormatSettings();

// Settings of a Windows locale identifier, read from ICU; falls back to the US
// settings when ICU does not know the locale. Separators that are not single
// Windows-1252 characters become their nearest single-byte equivalent.
TFormatSettings LocaleFormatSettings(uint32_t lcid);

// The settings in force in this process (initially the US settings).
const TFormatSettings& FormatSettings();

// The user's settings. At program start the application installs the user's
// own settings once; from then on the display texts of fields, texts assigned
// with AsString, filter constants and FindKey values are read and written in
// them. A table still converts its stored texts (defaults, limits) under a
// TFormatSettingsScope of its own locale or of the US settings, which puts
// the installed settings back when it ends.
//
// The settings of an ICU locale name ("en_US", "de_DE", "en_GB"): short date
// form, long time form, decimal and thousands separators, AM/PM texts, month
// and day names, currency. The short date form always writes four-digit
// years (ICU's "dd.MM.yy" becomes "dd.MM.yyyy"). An unknown name gives the
// US settings.
TFormatSettings UserFormatSettingsOf(const std::string& localeName);
// Makes `settings` the process-wide settings (under the scopes' lock).
void InstallFormatSettings(const TFormatSettings& settings);
// Installs UserFormatSettingsOf(localeName).
void InstallLocaleFormatSettings(const std::string& localeName);
// The user's locale name from the environment: the first of LC_ALL, LC_TIME
// and LANG that is set and not empty, without its code set and modifier
// ("de_DE.UTF-8@euro" is "de_DE"); "en_US" when none is set or the one set
// names the C or POSIX locale.
std::string UserLocaleName();
// Installs the settings of UserLocaleName().
void InstallUserFormatSettings();

// Saves the process-wide settings, installs `settings` and restores the saved
// ones at destruction; holds a process-wide lock for its whole life, so only
// one thread converts with switched settings at a time. Scopes nest on one
// thread (a caller's scope around an engine call that opens its own): the
// lock is recursive and each scope restores what it found.
class TFormatSettingsScope {
public:
    explicit TFormatSettingsScope(const TFormatSettings& settings);
    // Installs the settings of a table's locale: US settings when languageId is 0.
    TFormatSettingsScope(uint16_t languageId, uint16_t sortId);
    ~TFormatSettingsScope();
    TFormatSettingsScope(const TFormatSettingsScope&) = delete;
    TFormatSettingsScope& operator=(const TFormatSettingsScope&) = delete;

private:
    std::unique_lock<std::recursive_mutex> m_Lock;
    TFormatSettings m_Saved;
};

}  // namespace veltra
