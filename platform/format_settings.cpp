#include "platform/format_settings.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <unicode/datefmt.h>
#include <unicode/dcfmtsym.h>
#include <unicode/dtfmtsym.h>
#include <unicode/fpositer.h>
#include <unicode/normalizer2.h>
#include <unicode/numfmt.h>
#include <unicode/smpdtfmt.h>
#include <unicode/uchar.h>
#include <unicode/unum.h>

#include "platform/locale_services.h"

namespace veltra {

namespace {

std::string ToUtf8(const icu::UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

bool IsFormatChar(UChar32 c) { return u_charType(c) == U_FORMAT_CHAR; }
bool IsSpace(UChar32 c) { return u_charType(c) == U_SPACE_SEPARATOR; }

// Removes invisible format characters (bidi marks around Arabic and Hebrew
// texts): they have no place in Windows-1252 text.
icu::UnicodeString WithoutFormatChars(const icu::UnicodeString& text) {
    icu::UnicodeString result;
    for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
        const UChar32 c = text.char32At(i);
        if (!IsFormatChar(c)) result.append(c);
    }
    return result;
}

// A name or literal in Windows-1252. The narrow and other Unicode no-break
// spaces become the code page's no-break space; other characters outside the
// code page become '?'.
std::string ToCp1252Text(const icu::UnicodeString& text) {
    icu::UnicodeString cleaned;
    const icu::UnicodeString visible = WithoutFormatChars(text);
    for (int32_t i = 0; i < visible.length(); i = visible.moveIndex32(i, 1)) {
        const UChar32 c = visible.char32At(i);
        cleaned.append(IsSpace(c) && c != 0x20 ? UChar32(0xA0) : c);
    }
    return Utf8ToCp1252(ToUtf8(cleaned));
}

// The text in Windows-1252 without loss, directly or after compatibility
// normalisation (which turns e.g. the full-width yen sign into the yen sign),
// or nothing when neither form fits the code page.
std::optional<std::string> ExactCp1252(const icu::UnicodeString& text) {
    const icu::UnicodeString visible = WithoutFormatChars(text);
    auto tryEncode = [](const icu::UnicodeString& candidate) -> std::optional<std::string> {
        const std::string utf8 = ToUtf8(candidate);
        std::string bytes = Utf8ToCp1252(utf8);
        if (Cp1252ToUtf8(bytes) != utf8) return std::nullopt;
        return bytes;
    };
    if (auto direct = tryEncode(visible)) return direct;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
    if (U_FAILURE(status)) return std::nullopt;
    const icu::UnicodeString normalized = nfkc->normalize(visible, status);
    if (U_FAILURE(status)) return std::nullopt;
    return tryEncode(normalized);
}

// A separator as one Windows-1252 character. Unicode spaces inside numbers
// (narrow no-break space, thin space) become the no-break space; a separator
// with no single-byte equivalent keeps `fallback`.
char SingleByteSeparator(const icu::UnicodeString& symbol, char fallback) {
    const icu::UnicodeString visible = WithoutFormatChars(symbol);
    if (visible.countChar32() != 1) return fallback;
    if (IsSpace(visible.char32At(0))) {
        return visible.char32At(0) == 0x20 ? ' ' : '\xA0';
    }
    const std::optional<std::string> bytes = ExactCp1252(visible);
    return bytes && bytes->size() == 1 ? (*bytes)[0] : fallback;
}

// The format letters for a run of `count` ICU pattern letters. Day, month and
// year letters stay as ICU writes them; weekday names become ddd/dddd, the
// day period becomes AMPM, and fields without an equivalent (era, time zone,
// numeric weekday) are dropped.
std::string ConvertPatternField(char16_t letter, int32_t count) {
    const auto repeat = [count](char c) { return std::string(static_cast<size_t>(count), c); };
    switch (letter) {
    case u'd': return repeat('d');
    case u'M': case u'L': return repeat('M');
    case u'y': case u'Y': case u'u': return repeat('y');
    case u'E': return count >= 4 ? "dddd" : "ddd";
    case u'c': case u'e': return count >= 4 ? "dddd" : count == 3 ? "ddd" : "";
    case u'h': case u'K': return repeat('h');
    case u'H': case u'k': return repeat('H');
    case u'm': return repeat('m');
    case u's': return repeat('s');
    case u'S': return repeat('z');
    case u'a': case u'b': case u'B': return "AMPM";
    default: return "";
    }
}

bool IsAsciiLetter(UChar32 c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// Converts an ICU date or time pattern to the Windows-1252 format string of
// the settings. Quoted literals stay quoted (a literal apostrophe is written
// in double quotes); whitespace becomes a plain space, collapsed and trimmed,
// so dropping a field leaves no stray blanks.
std::string ConvertPattern(const icu::UnicodeString& pattern) {
    std::string out;
    const int32_t n = pattern.length();
    for (int32_t i = 0; i < n;) {
        const char16_t c = pattern[i];
        if (c == u'\'') {
            if (i + 1 < n && pattern[i + 1] == u'\'') {
                out += "\"'\"";
                i += 2;
                continue;
            }
            icu::UnicodeString literal;
            int32_t j = i + 1;
            for (; j < n; ++j) {
                if (pattern[j] != u'\'') {
                    literal.append(pattern[j]);
                } else if (j + 1 < n && pattern[j + 1] == u'\'') {
                    literal.append(u'\'');
                    ++j;
                } else {
                    break;
                }
            }
            const char quote = literal.indexOf(u'\'') >= 0 ? '"' : '\'';
            out += quote;
            out += ToCp1252Text(literal);
            out += quote;
            i = j + 1;
        } else if (IsAsciiLetter(c)) {
            int32_t j = i;
            while (j < n && pattern[j] == c) ++j;
            out += ConvertPatternField(c, j - i);
            i = j;
        } else {
            const UChar32 cp = pattern.char32At(i);
            if (IsSpace(cp) || u_isUWhiteSpace(cp)) {
                out += ' ';
            } else if (!IsFormatChar(cp)) {
                out += ToCp1252Text(icu::UnicodeString(cp));
            }
            i = pattern.moveIndex32(i, 1);
        }
    }
    // Collapse and trim spaces outside quotes.
    std::string result;
    char quote = 0;
    for (char ch : out) {
        if (quote) {
            if (ch == quote) quote = 0;
        } else if (ch == '\'' || ch == '"') {
            quote = ch;
        } else if (ch == ' ' && (result.empty() || result.back() == ' ')) {
            continue;
        }
        result += ch;
    }
    if (!result.empty() && result.back() == ' ') result.pop_back();
    return result;
}

// The separator of a converted pattern: its first character outside quotes
// that is neither a letter nor a space; a space when that is all there is.
char PatternSeparator(std::string_view pattern, char fallback) {
    bool sawSpace = false;
    char quote = 0;
    for (char ch : pattern) {
        if (quote) {
            if (ch == quote) quote = 0;
        } else if (ch == '\'' || ch == '"') {
            quote = ch;
        } else if (ch == ' ') {
            sawSpace = true;
        } else if (!IsAsciiLetter(static_cast<unsigned char>(ch))) {
            return ch;
        }
    }
    return sawSpace ? ' ' : fallback;
}

std::optional<std::string> PatternOf(const icu::DateFormat* format) {
    const auto* simple = dynamic_cast<const icu::SimpleDateFormat*>(format);
    if (!simple) return std::nullopt;
    icu::UnicodeString pattern;
    simple->toPattern(pattern);
    return ConvertPattern(pattern);
}

// The layout of a formatted amount: '1' for the number, '$' for the currency
// symbol, '-' for the sign, ' ' for spacing and the parentheses as they are,
// each run written once. Bidi marks are left out; any other text gives '?',
// which matches no layout.
std::string AmountLayout(const icu::NumberFormat& format, double value) {
    icu::UnicodeString text;
    icu::FieldPositionIterator fields;
    UErrorCode status = U_ZERO_ERROR;
    format.format(value, text, &fields, status);
    if (U_FAILURE(status)) return {};
    std::vector<char> kinds(static_cast<size_t>(text.length()), 0);
    icu::FieldPosition field;
    while (fields.next(field)) {
        char kind = 0;
        switch (field.getField()) {
        case UNUM_INTEGER_FIELD:
        case UNUM_FRACTION_FIELD:
        case UNUM_DECIMAL_SEPARATOR_FIELD:
        case UNUM_GROUPING_SEPARATOR_FIELD: kind = '1'; break;
        case UNUM_CURRENCY_FIELD: kind = '$'; break;
        case UNUM_SIGN_FIELD: kind = '-'; break;
        default: continue;
        }
        for (int32_t i = field.getBeginIndex(); i < field.getEndIndex() && i < text.length(); ++i) {
            kinds[static_cast<size_t>(i)] = kind;
        }
    }
    std::string layout;
    for (int32_t i = 0; i < text.length(); ++i) {
        char kind = kinds[static_cast<size_t>(i)];
        if (!kind) {
            const UChar32 c = text[i];
            if (IsFormatChar(c)) continue;
            kind = IsSpace(c) || u_isUWhiteSpace(c) ? ' ' : (c == u'(' || c == u')') ? char(c) : '?';
        }
        if (layout.empty() || layout.back() != kind) layout += kind;
    }
    return layout;
}

// Positive and negative currency layouts, indexed by the format numbers.
constexpr std::string_view kCurrencyLayouts[] = {"$1", "1$", "$ 1", "1 $"};
constexpr std::string_view kNegCurrencyLayouts[] = {
    "($1)", "-$1", "$-1", "$1-", "(1$)", "-1$", "1-$", "1$-",
    "-1 $", "-$ 1", "1 $-", "$ 1-", "$ -1", "1- $", "($ 1)", "(1 $)"};

template <size_t N>
int LayoutIndex(const std::string_view (&layouts)[N], const std::string& layout) {
    for (size_t i = 0; i < N; ++i) {
        if (layouts[i] == layout) return static_cast<int>(i);
    }
    return -1;
}

void ReadCurrencyFormats(const icu::NumberFormat& format, TFormatSettings& settings) {
    const int positive = LayoutIndex(kCurrencyLayouts, AmountLayout(format, 1234.5));
    if (positive >= 0) settings.CurrencyFormat = static_cast<uint8_t>(positive);
    const int negative = LayoutIndex(kNegCurrencyLayouts, AmountLayout(format, -1234.5));
    if (negative >= 0) {
        settings.NegCurrFormat = static_cast<uint8_t>(negative);
    } else {
        // A negative amount laid out unlike any format: take a minus before
        // the positive layout, which is what ICU writes when the locale has
        // no negative pattern of its own.
        constexpr uint8_t kMinusBefore[] = {1, 5, 9, 8};
        settings.NegCurrFormat = kMinusBefore[settings.CurrencyFormat];
    }
    settings.CurrencyDecimals = static_cast<uint8_t>(format.getMaximumFractionDigits());
}

template <size_t N>
void ReadNames(const icu::UnicodeString* names, int32_t count, int32_t first,
               std::array<std::string, N>& out) {
    if (!names || count < first + static_cast<int32_t>(N)) return;
    for (size_t i = 0; i < N; ++i) out[i] = ToCp1252Text(names[first + static_cast<int32_t>(i)]);
}

std::optional<TFormatSettings> ReadLocaleSettings(const std::string& name) {
    if (name.empty()) return std::nullopt;
    const icu::Locale locale(name.c_str());
    const char* language = locale.getLanguage();
    if (locale.isBogus() || !*language || std::strcmp(language, "root") == 0) return std::nullopt;

    UErrorCode status = U_ZERO_ERROR;
    const icu::DateFormatSymbols dateSymbols(locale, status);
    if (U_FAILURE(status)) return std::nullopt;
    // For a language without data ICU falls back to the default locale (or
    // root) instead of failing; such settings would describe another locale.
    const icu::Locale found = dateSymbols.getLocale(ULOC_VALID_LOCALE, status);
    if (U_FAILURE(status) || std::strcmp(found.getLanguage(), language) != 0) return std::nullopt;

    TFormatSettings settings = UsFormatSettings();

    // Stored values use Latin digits, so read the Latin-digit number symbols.
    icu::Locale numberLocale(locale);
    numberLocale.setKeywordValue("numbers", "latn", status);
    const icu::DecimalFormatSymbols numberSymbols(numberLocale, status);
    if (U_FAILURE(status)) return std::nullopt;
    settings.DecimalSeparator = SingleByteSeparator(
        numberSymbols.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol),
        settings.DecimalSeparator);
    settings.ThousandSeparator = SingleByteSeparator(
        numberSymbols.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol),
        settings.ThousandSeparator);
    // A symbol the code page cannot write ("₽") is replaced by the ISO code.
    const icu::UnicodeString& isoCode =
        numberSymbols.getSymbol(icu::DecimalFormatSymbols::kIntlCurrencySymbol);
    settings.CurrencyString =
        ExactCp1252(numberSymbols.getSymbol(icu::DecimalFormatSymbols::kCurrencySymbol))
            .value_or(ToCp1252Text(isoCode));

    std::unique_ptr<icu::NumberFormat> currency(
        icu::NumberFormat::createCurrencyInstance(numberLocale, status));
    if (U_SUCCESS(status) && currency) ReadCurrencyFormats(*currency, settings);

    const std::unique_ptr<icu::DateFormat> shortDate(
        icu::DateFormat::createDateInstance(icu::DateFormat::kShort, locale));
    const std::unique_ptr<icu::DateFormat> longDate(
        icu::DateFormat::createDateInstance(icu::DateFormat::kFull, locale));
    const std::unique_ptr<icu::DateFormat> shortTime(
        icu::DateFormat::createTimeInstance(icu::DateFormat::kShort, locale));
    const std::unique_ptr<icu::DateFormat> longTime(
        icu::DateFormat::createTimeInstance(icu::DateFormat::kMedium, locale));
    if (auto pattern = PatternOf(shortDate.get())) {
        settings.ShortDateFormat = *pattern;
        settings.DateSeparator = PatternSeparator(*pattern, settings.DateSeparator);
    }
    if (auto pattern = PatternOf(longDate.get())) settings.LongDateFormat = *pattern;
    if (auto pattern = PatternOf(shortTime.get())) {
        settings.ShortTimeFormat = *pattern;
        settings.TimeSeparator = PatternSeparator(*pattern, settings.TimeSeparator);
    }
    // ICU's long time pattern adds the time zone; the medium one is the
    // hours-minutes-seconds form the settings mean.
    if (auto pattern = PatternOf(longTime.get())) settings.LongTimeFormat = *pattern;

    int32_t count = 0;
    const icu::UnicodeString* amPm = dateSymbols.getAmPmStrings(count);
    if (amPm && count >= 2) {
        settings.TimeAMString = ToCp1252Text(amPm[0]);
        settings.TimePMString = ToCp1252Text(amPm[1]);
    }
    const icu::UnicodeString* names = dateSymbols.getShortMonths(count);
    ReadNames(names, count, 0, settings.ShortMonthNames);
    names = dateSymbols.getMonths(count);
    ReadNames(names, count, 0, settings.LongMonthNames);
    // ICU's weekday arrays start with an unused entry; Sunday is index 1.
    names = dateSymbols.getShortWeekdays(count);
    ReadNames(names, count, 1, settings.ShortDayNames);
    names = dateSymbols.getWeekdays(count);
    ReadNames(names, count, 1, settings.LongDayNames);
    return settings;
}

TFormatSettings& CurrentSettings() {
    static TFormatSettings settings = UsFormatSettings();
    return settings;
}

std::recursive_mutex& ScopeMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

}  // namespace

const TFormatSettings& UsFormatSettings() {
    static const TFormatSettings settings = [] {
        TFormatSettings s;
        s.CurrencyString = "$";
        s.CurrencyFormat = 0;
        s.NegCurrFormat = 0;
        s.ThousandSeparator = ',';
        s.DecimalSeparator = '.';
        s.CurrencyDecimals = 2;
        s.DateSeparator = '/';
        s.ShortDateFormat = "M/d/yyyy";
        s.LongDateFormat = "dddd, MMMM dd, yyyy";
        s.TimeSeparator = ':';
        s.TimeAMString = "AM";
        s.TimePMString = "PM";
        s.ShortTimeFormat = "h:mm AMPM";
        s.LongTimeFormat = "h:mm:ss AMPM";
        s.ShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        s.LongMonthNames = {"January", "February", "March",     "April",   "May",      "June",
                            "July",    "August",   "September", "October", "November", "December"};
        s.ShortDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
        s.LongDayNames = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday",
                          "Saturday"};
        return s;
    }();
    return settings;
}

TFormatSettings LocaleFormatSettings(uint32_t lcid) {
    // Reading the settings builds several ICU formatters; tables of one locale
    // open scopes over and over, so each identifier is read once.
    static std::mutex cacheMutex;
    static std::map<uint32_t, TFormatSettings> cache;
    {
        std::lock_guard<std::mutex> lock(cacheMutex);
        if (auto it = cache.find(lcid); it != cache.end()) return it->second;
    }
    TFormatSettings settings = ReadLocaleSettings(LocaleNameForLcid(lcid)).value_or(UsFormatSettings());
    std::lock_guard<std::mutex> lock(cacheMutex);
    return cache.emplace(lcid, std::move(settings)).first->second;
}

const TFormatSettings& FormatSettings() { return CurrentSettings(); }

namespace {

// A two-digit year in a short date form ("yy", or ICU's "y") becomes four
// digits, as desktop short date forms are: a ticket log read for years must
// not show 2002 and 1902 alike.
std::string WithFourDigitYear(const std::string& format) {
    std::string out;
    char quote = 0;
    for (size_t i = 0; i < format.size();) {
        const char c = format[i];
        if (quote) {
            if (c == quote) quote = 0;
            out += c;
            ++i;
        } else if (c == '\'' || c == '"') {
            quote = c;
            out += c;
            ++i;
        } else if (c == 'y') {
            size_t j = i;
            while (j < format.size() && format[j] == 'y') ++j;
            out += "yyyy";
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// "de_DE.UTF-8@euro" -> "de_DE"; "" for the C and POSIX locales.
std::string LocaleNameOfEnvironment(const char* value) {
    if (!value) return {};
    const std::string name(value, std::strcspn(value, ".@"));
    if (name == "C" || name == "POSIX") return {};
    return name;
}

}  // namespace

TFormatSettings UserFormatSettingsOf(const std::string& localeName) {
    std::optional<TFormatSettings> read = ReadLocaleSettings(localeName);
    if (!read) return UsFormatSettings();
    read->ShortDateFormat = WithFourDigitYear(read->ShortDateFormat);
    return *read;
}

void InstallFormatSettings(const TFormatSettings& settings) {
    std::lock_guard<std::recursive_mutex> lock(ScopeMutex());
    CurrentSettings() = settings;
}

void InstallLocaleFormatSettings(const std::string& localeName) {
    InstallFormatSettings(UserFormatSettingsOf(localeName));
}

std::string UserLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            // The first variable that is set decides, as for the C library.
            std::string name = LocaleNameOfEnvironment(value);
            return name.empty() ? "en_US" : name;
        }
    }
    return "en_US";
}

void InstallUserFormatSettings() { InstallLocaleFormatSettings(UserLocaleName()); }

TFormatSettingsScope::TFormatSettingsScope(const TFormatSettings& settings)
    : m_Lock(ScopeMutex()), m_Saved(CurrentSettings()) {
    CurrentSettings() = settings;
}

// The settings are read before the delegated constructor takes the lock, so
// reading ICU data does not hold up other scopes.
TFormatSettingsScope::TFormatSettingsScope(uint16_t languageId, uint16_t sortId)
    : TFormatSettingsScope(languageId == 0 ? UsFormatSettings()
                                           : LocaleFormatSettings(MakeLcid(languageId, sortId))) {}

TFormatSettingsScope::~TFormatSettingsScope() { CurrentSettings() = std::move(m_Saved); }

}  // namespace veltra
