// Locale services and format settings over ICU.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "platform/format_settings.h"
#include "platform/locale_services.h"

namespace veltra {
namespace {

constexpr uint32_t kEnUs = 0x0409;
constexpr uint32_t kDeDe = 0x0407;
constexpr uint32_t kDeDePhonebook = 0x00010407;
constexpr uint32_t kFrFr = 0x040C;
constexpr uint32_t kJaJp = 0x0411;
constexpr uint32_t kSvSe = 0x041D;
constexpr uint32_t kTrTr = 0x041F;

std::string AllBytes() {
    std::string bytes(256, '\0');
    for (size_t i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i);
    return bytes;
}

// --- Locale identifiers -----------------------------------------------------

TEST(LocaleNameForLcid, MapsIdentifiersIncludingSortIds) {
    const struct {
        uint32_t lcid;
        const char* name;
    } cases[] = {
        {kEnUs, "en_US"},
        {kDeDe, "de_DE"},
        {kDeDePhonebook, "de_DE@collation=phonebook"},
        {kSvSe, "sv_SE"},
        {0x7777, ""},
        {0xFFFF, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LocaleNameForLcid(c.lcid), c.name) << std::hex << c.lcid;
    }
}

TEST(IsLocaleInstalled, KnownLanguagesYesUnknownIdentifiersNo) {
    const struct {
        uint32_t lcid;
        bool installed;
    } cases[] = {
        {kEnUs, true},  // English collation is the root collation, still installed
        {kDeDe, true},
        {kFrFr, true},
        {kJaJp, true},
        {kSvSe, true},
        {kDeDePhonebook, true},
        {0x0809, true},   // en-GB
        {0x0000, false},  // neutral: maps to root only
        {0x0400, false},  // user-default pseudo identifier
        {0x7777, false},
        {0xFFFF, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsLocaleInstalled(c.lcid), c.installed) << std::hex << c.lcid;
        EXPECT_EQ(TLocaleCollator::Open(c.lcid) != nullptr, c.installed) << std::hex << c.lcid;
    }
}

// --- Windows-1252 -----------------------------------------------------------

TEST(Cp1252, EveryByteRoundTrips) {
    const std::string bytes = AllBytes();
    const std::string utf8 = Cp1252ToUtf8(bytes);
    EXPECT_EQ(Utf8ToCp1252(utf8), bytes);
    // Each byte is one character: 128 ASCII bytes, 128 two- or three-byte ones.
    size_t characters = 0;
    for (char c : utf8) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    EXPECT_EQ(characters, 256u);
}

TEST(Cp1252, DecodesAndEncodesCharacters) {
    const struct {
        std::string cp1252;
        std::string utf8;
    } cases[] = {
        {"A", "A"},
        {"\x80", "\u20AC"},             // euro sign
        {"\x81", "\xC2\x81"},           // undefined byte <-> C1 control
        {"\x8D\x8F\x90\x9D", "\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
        {"\x9F", "\u0178"},             // Y with diaeresis
        {"\xE9t\xE9", "\u00E9t\u00E9"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Cp1252ToUtf8(c.cp1252), c.utf8);
        EXPECT_EQ(Utf8ToCp1252(c.utf8), c.cp1252);
    }
}

TEST(Cp1252, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    const struct {
        std::string utf8;
        std::string cp1252;
    } cases[] = {
        {"\u3042", "?"},               // hiragana
        {"x\uFF21y", "x?y"},           // full-width A has no fallback here
        {"\U0001F600!", "?!"},         // outside the BMP: one character, one '?'
        {"\u20BD", "?"},               // rouble sign
        {"\xFF" "a", "?a"},            // ill-formed UTF-8
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8ToCp1252(c.utf8), c.cp1252) << c.utf8;
}

// --- Collation --------------------------------------------------------------

int Compare(const TLocaleCollator& collator, std::string_view a, std::string_view b) {
    return collator.Compare(reinterpret_cast<const uint8_t*>(a.data()), a.size(),
                            reinterpret_cast<const uint8_t*>(b.data()), b.size());
}

TEST(LocaleCollator, ComparesInStringSortMode) {
    const struct {
        uint32_t lcid;
        std::string a;
        std::string b;
        int expected;
    } cases[] = {
        {kEnUs, "abc", "abc", 0},
        {kEnUs, "a", "B", -1},
        {kEnUs, "B", "c", -1},
        {kEnUs, "a", "A", -1},           // case is a tertiary difference
        {kEnUs, "e", "\xE9", -1},        // accent is a secondary difference
        {kEnUs, "\xE9", "f", -1},
        {kEnUs, "a-b", "ab", -1},        // punctuation is not ignored
        {kEnUs, "a b", "ab", -1},
        {kEnUs, "ab", "a-b", 1},
        {kEnUs, "", "a", -1},
        {kEnUs, "\xF6", "z", -1},
        {kSvSe, "\xF6", "z", 1},         // Swedish sorts o-umlaut after z
        {kDeDe, "\xE4" "b", "ad", -1},   // standard German: a-umlaut near a
        {kDeDePhonebook, "\xE4" "b", "ad", 1},  // phone book: a-umlaut as "ae"
        {kTrTr, "\xE7", "d", -1},
    };
    for (const auto& c : cases) {
        const auto collator = TLocaleCollator::Open(c.lcid);
        ASSERT_NE(collator, nullptr) << std::hex << c.lcid;
        EXPECT_EQ(Compare(*collator, c.a, c.b), c.expected)
            << std::hex << c.lcid << " '" << c.a << "' vs '" << c.b << "'";
        EXPECT_EQ(Compare(*collator, c.b, c.a), -c.expected)
            << std::hex << c.lcid << " '" << c.b << "' vs '" << c.a << "'";
    }
}

TEST(LocaleCollator, StopsAtLengthOrZeroByte) {
    const auto collator = TLocaleCollator::Open(kEnUs);
    ASSERT_NE(collator, nullptr);
    const auto* abcX = reinterpret_cast<const uint8_t*>("abcX");
    const auto* abcY = reinterpret_cast<const uint8_t*>("abcY");
    const auto* abZero = reinterpret_cast<const uint8_t*>("ab\0z");
    const auto* ab = reinterpret_cast<const uint8_t*>("ab");
    EXPECT_EQ(collator->Compare(abcX, 3, abcY, 3), 0);
    EXPECT_EQ(collator->Compare(abcX, 4, abcY, 4), -1);
    EXPECT_EQ(collator->Compare(abZero, 4, ab, 2), 0);
    EXPECT_EQ(collator->Compare(abcX, 0, abcY, 0), 0);
    EXPECT_EQ(collator->Compare(abZero, 4, abcX, 3), -1);
}

TEST(LocaleCollator, MapWithoutUpperKeepsWindows1252Text) {
    // No Windows-1252 character has a distinct half-width form.
    const auto collator = TLocaleCollator::Open(kJaJp);
    ASSERT_NE(collator, nullptr);
    EXPECT_EQ(collator->Map(AllBytes(), false), AllBytes());
}

TEST(LocaleCollator, UpperCasesEveryByteWithoutChangingLength) {
    const auto collator = TLocaleCollator::Open(kEnUs);
    ASSERT_NE(collator, nullptr);
    // Expected upper case of each byte: ASCII and Latin-1 letters shift by
    // 0x20 (except the division sign), the Windows additions map to their
    // capitals, and characters whose capital expands or lies outside the code
    // page (sharp s, micro sign, f with hook) stay.
    std::string expected = AllBytes();
    for (int b = 'a'; b <= 'z'; ++b) expected[size_t(b)] = char(b - 0x20);
    for (int b = 0xE0; b <= 0xFE; ++b) {
        if (b != 0xF7) expected[size_t(b)] = char(b - 0x20);
    }
    expected[0x9A] = '\x8A';  // s caron
    expected[0x9C] = '\x8C';  // oe ligature
    expected[0x9E] = '\x8E';  // z caron
    expected[0xFF] = '\x9F';  // y diaeresis
    const std::string upper = collator->Map(AllBytes(), true);
    ASSERT_EQ(upper.size(), 256u);
    for (size_t b = 0; b < 256; ++b) {
        EXPECT_EQ(uint8_t(upper[b]), uint8_t(expected[b])) << "byte " << std::hex << b;
    }
}

TEST(LocaleCollator, UpperCaseFollowsTheLocale) {
    const struct {
        uint32_t lcid;
        std::string text;
        std::string upper;
    } cases[] = {
        {kEnUs, "stra\xDF" "e", "STRA\xDF" "E"},  // "SS" would expand
        {kDeDe, "gr\xFC\xDF" "e", "GR\xDC\xDF" "E"},
        {kEnUs, "list", "LIST"},
        {kTrTr, "list", "LiST"},                  // dotted capital I is not in the code page
        {kFrFr, std::string("\xE9t\xE9\0x", 5), std::string("\xC9T\xC9\0X", 5)},
        {kEnUs, "", ""},
    };
    for (const auto& c : cases) {
        const auto collator = TLocaleCollator::Open(c.lcid);
        ASSERT_NE(collator, nullptr);
        EXPECT_EQ(collator->Map(c.text, true), c.upper) << c.text;
    }
}

TEST(LocaleCollator, CollationTableSortsBytesWithCompare) {
    for (uint32_t lcid : {kEnUs, kDeDe, kSvSe}) {
        const auto collator = TLocaleCollator::Open(lcid);
        ASSERT_NE(collator, nullptr);
        uint8_t table[256];
        collator->BuildCollationTable(table);

        std::array<int, 256> position{};
        position.fill(-1);
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(position[table[i]], -1) << "byte listed twice: " << int(table[i]);
            position[table[i]] = i;
        }
        EXPECT_EQ(table[0], 0);
        for (int i = 1; i < 256; ++i) {
            const uint8_t prev = table[i - 1];
            const uint8_t cur = table[i];
            const int order = collator->Compare(&prev, 1, &cur, 1);
            EXPECT_LE(order, 0) << std::hex << lcid << ": " << int(prev) << " before " << int(cur);
            if (order == 0) {
                EXPECT_LT(prev, cur) << "ties keep byte order";
            }
        }
        EXPECT_LT(position['a'], position['B']);
        EXPECT_LT(position['B'], position['c']);
        EXPECT_LT(position['-'], position['0']);
        EXPECT_LT(position['9'], position['a']);
        if (lcid == kSvSe) {
            EXPECT_GT(position[0xF6], position['z']);
        } else {
            EXPECT_LT(position[0xF6], position['p']);
        }
    }
}

// --- Format settings --------------------------------------------------------

TEST(FormatSettings, UsSettingsAreFixed) {
    const TFormatSettings& us = UsFormatSettings();
    EXPECT_EQ(us.CurrencyString, "$");
    EXPECT_EQ(us.CurrencyFormat, 0);
    EXPECT_EQ(us.NegCurrFormat, 0);
    EXPECT_EQ(us.ThousandSeparator, ',');
    EXPECT_EQ(us.DecimalSeparator, '.');
    EXPECT_EQ(us.CurrencyDecimals, 2);
    EXPECT_EQ(us.DateSeparator, '/');
    EXPECT_EQ(us.ShortDateFormat, "M/d/yyyy");
    EXPECT_EQ(us.LongDateFormat, "dddd, MMMM dd, yyyy");
    EXPECT_EQ(us.TimeSeparator, ':');
    EXPECT_EQ(us.TimeAMString, "AM");
    EXPECT_EQ(us.TimePMString, "PM");
    EXPECT_EQ(us.ShortTimeFormat, "h:mm AMPM");
    EXPECT_EQ(us.LongTimeFormat, "h:mm:ss AMPM");
    EXPECT_EQ(us.ShortMonthNames[0], "Jan");
    EXPECT_EQ(us.ShortMonthNames[8], "Sep");
    EXPECT_EQ(us.LongMonthNames[1], "February");
    EXPECT_EQ(us.LongMonthNames[11], "December");
    EXPECT_EQ(us.ShortDayNames[0], "Sun");
    EXPECT_EQ(us.ShortDayNames[6], "Sat");
    EXPECT_EQ(us.LongDayNames[3], "Wednesday");
}

TEST(FormatSettings, LocaleSettingsComeFromIcu) {
    const struct {
        uint32_t lcid;
        char decimal;
        char thousand;
        char dateSeparator;
        const char* currency;
        int currencyFormat;
        int negCurrFormat;
        int currencyDecimals;
    } cases[] = {
        {kEnUs, '.', ',', '/', "$", 0, 1, 2},
        {kDeDe, ',', '.', '.', "\x80", 3, 8, 2},
        {kFrFr, ',', '\xA0', '/', "\x80", 3, 8, 2},   // narrow no-break space -> no-break space
        {0x0413, ',', '.', '-', "\x80", 2, 12, 2},    // nl-NL: "€ -1"
        {0x0807, '.', '\x92', '.', "CHF", 2, 2, 2},   // de-CH: apostrophe grouping, "CHF-1"
        {kJaJp, '.', ',', '/', "\xA5", 0, 1, 0},      // full-width yen -> yen sign; no decimals
        {0x0419, ',', '\xA0', '.', "RUB", 3, 8, 2},   // rouble sign not in the code page
    };
    for (const auto& c : cases) {
        const TFormatSettings s = LocaleFormatSettings(c.lcid);
        SCOPED_TRACE(testing::Message() << std::hex << c.lcid);
        EXPECT_EQ(s.DecimalSeparator, c.decimal);
        EXPECT_EQ(s.ThousandSeparator, c.thousand);
        EXPECT_EQ(s.DateSeparator, c.dateSeparator);
        EXPECT_EQ(s.CurrencyString, c.currency);
        EXPECT_EQ(s.CurrencyFormat, c.currencyFormat);
        EXPECT_EQ(s.NegCurrFormat, c.negCurrFormat);
        EXPECT_EQ(s.CurrencyDecimals, c.currencyDecimals);
    }
}

TEST(FormatSettings, PatternsAndNamesAreConverted) {
    const TFormatSettings en = LocaleFormatSettings(kEnUs);
    EXPECT_EQ(en.ShortDateFormat, "M/d/yy");
    EXPECT_EQ(en.LongDateFormat, "dddd, MMMM d, y");
    EXPECT_EQ(en.ShortTimeFormat, "h:mm AMPM");  // ICU writes a narrow no-break space
    EXPECT_EQ(en.LongTimeFormat, "h:mm:ss AMPM");
    EXPECT_EQ(en.TimeSeparator, ':');
    EXPECT_EQ(en.ShortMonthNames, UsFormatSettings().ShortMonthNames);
    EXPECT_EQ(en.LongMonthNames, UsFormatSettings().LongMonthNames);
    EXPECT_EQ(en.ShortDayNames, UsFormatSettings().ShortDayNames);
    EXPECT_EQ(en.LongDayNames, UsFormatSettings().LongDayNames);

    const TFormatSettings de = LocaleFormatSettings(kDeDe);
    EXPECT_EQ(de.ShortDateFormat, "dd.MM.yy");
    EXPECT_EQ(de.LongDateFormat, "dddd, d. MMMM y");
    EXPECT_EQ(de.ShortTimeFormat, "HH:mm");
    EXPECT_EQ(de.LongMonthNames[2], "M\xE4rz");
    EXPECT_EQ(de.LongDayNames[0], "Sonntag");

    const TFormatSettings pt = LocaleFormatSettings(0x0416);  // pt-BR keeps quoted literals
    EXPECT_EQ(pt.LongDateFormat, "dddd, d 'de' MMMM 'de' y");

    const TFormatSettings fi = LocaleFormatSettings(0x040B);  // fi-FI: "H.mm"
    EXPECT_EQ(fi.TimeSeparator, '.');
    EXPECT_EQ(fi.LongDateFormat, "dddd d. MMMM y");

    const TFormatSettings sa = LocaleFormatSettings(0x0401);  // ar-SA: bidi marks and era dropped
    EXPECT_EQ(sa.ShortDateFormat, "d/M/y");
    EXPECT_EQ(sa.DateSeparator, '/');
}

TEST(FormatSettings, UnknownLocalesFallBackToUs) {
    // 0x7777 is unknown to ICU, 0x0000 maps to root only, and 0x047A (Mapuche)
    // is an identifier ICU maps but has no format data for.
    for (uint32_t lcid : {0x7777u, 0x0000u, 0x047Au}) {
        EXPECT_EQ(LocaleFormatSettings(lcid), UsFormatSettings()) << std::hex << lcid;
    }
}

TEST(FormatSettingsScope, InstallsAndRestores) {
    ASSERT_EQ(FormatSettings(), UsFormatSettings());
    const TFormatSettings german = LocaleFormatSettings(kDeDe);
    ASSERT_NE(german, UsFormatSettings());
    {
        TFormatSettingsScope scope(german);
        EXPECT_EQ(FormatSettings(), german);
    }
    EXPECT_EQ(FormatSettings(), UsFormatSettings());
    {
        TFormatSettingsScope scope(0x0407, 0);
        EXPECT_EQ(FormatSettings(), german);
    }
    EXPECT_EQ(FormatSettings(), UsFormatSettings());
    {
        TFormatSettingsScope scope(0x0407, 1);  // sort ID does not change formats
        EXPECT_EQ(FormatSettings().DecimalSeparator, ',');
    }
    {
        TFormatSettingsScope scope(0, 0);  // no locale: the US settings
        EXPECT_EQ(FormatSettings(), UsFormatSettings());
    }
    EXPECT_EQ(FormatSettings(), UsFormatSettings());
}

// A caller's scope around an engine call that opens its own scope: the inner
// one must not wait for the outer (same thread) and must restore it.
TEST(FormatSettingsScope, NestsOnOneThread) {
    const TFormatSettings german = LocaleFormatSettings(kDeDe);
    {
        TFormatSettingsScope outer(german);
        {
            TFormatSettingsScope inner(0, 0);
            EXPECT_EQ(FormatSettings(), UsFormatSettings());
        }
        EXPECT_EQ(FormatSettings(), german);
    }
    EXPECT_EQ(FormatSettings(), UsFormatSettings());
}

TEST(FormatSettingsScope, ThreadsDoNotInterleave) {
    const TFormatSettings german = LocaleFormatSettings(kDeDe);
    const TFormatSettings french = LocaleFormatSettings(kFrFr);
    ASSERT_NE(german, french);
    std::atomic<int> mismatches{0};
    auto run = [&mismatches](const TFormatSettings& mine) {
        for (int i = 0; i < 2000; ++i) {
            TFormatSettingsScope scope(mine);
            if (FormatSettings() != mine) ++mismatches;
            std::this_thread::yield();
            if (FormatSettings() != mine) ++mismatches;
        }
    };
    std::thread a(run, std::cref(german));
    std::thread b(run, std::cref(french));
    std::thread c(run, std::cref(UsFormatSettings()));
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(FormatSettings(), UsFormatSettings());
}

}  // namespace
}  // namespace veltra
