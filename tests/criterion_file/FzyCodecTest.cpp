#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <limits>
#include <optional>

#include "criterion_file/FzyFormat.h"
#include "support/Cp1252.h"

namespace vark::test {
namespace {

TEST(Cp1252, EncodesOneBytePerCharacter) {
    struct Case {
        const char* name;
        std::string utf8;
        std::string bytes;
    };
    const Case cases[] = {
        {"ascii", "FZY_TYPE 123", "FZY_TYPE 123"},
        {"latin-1", "Très médiocre ÿ",
         "Tr\xE8s m\xE9"
         "diocre \xFF"},
        {"specials of 0x80-0x9F", "€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ",
         "\x80\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8E\x91\x92\x93\x94\x95\x96\x97\x98"
         "\x99\x9A\x9B\x9C\x9E\x9F"},
        {"outside the code page", "Ωж中😀", "????"},
        {"C1 control without a byte", "\xC2\x80", "?"},
        {"unassigned bytes come back", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D",
         "\x81\x8D\x8F\x90\x9D"},
        {"truncated sequence", "a\xC3", "a?"},
        {"broken sequence", "a\xE2\x82z", "a??z"},
        {"stray continuation", "\x80\xBF", "??"},
        {"overlong", "\xC0\xAF", "??"},
        {"surrogate", "\xED\xA0\x80", "???"},
        {"embedded nul", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeCp1252(c.utf8), c.bytes) << c.name;
    }
}

TEST(Cp1252, EveryByteSurvivesADecodeEncodeRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    EXPECT_EQ(EncodeCp1252(DecodeCp1252(all)), all);
    EXPECT_EQ(DecodeCp1252("\x80\xE9"), "€é");
}

// What a layer's undeclared texts are matched and read with.
TEST(Cp1252, ExactEncodingAndUtf8Validity) {
    struct Case {
        const char* name;
        std::string utf8;
        std::optional<std::string> bytes;
    };
    const Case cases[] = {
        {"latin and specials", "Forêt €", "For\xEAt \x80"},
        {"a question mark is one", "?", "?"},
        {"unassigned bytes", "\xC2\x81\xC2\x9D", "\x81\x9D"},
        {"outside the code page", "Ωmega", std::nullopt},
        {"C1 control without a byte", "\xC2\x80", std::nullopt},
        {"malformed", "a\xC3", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeCp1252Exactly(c.utf8), c.bytes) << c.name;
    }
    for (const char* valid : {"", "Forêt", "😀", "\xF4\x8F\xBF\xBF"}) {
        EXPECT_TRUE(IsValidUtf8(valid)) << valid;
    }
    for (const char* invalid :
         {"For\xEAt", "\xC0\xAF", "\xED\xA0\x80", "a\xC3", "\xF4\x90\x80\x80", "\xBF"}) {
        EXPECT_FALSE(IsValidUtf8(invalid)) << invalid;
    }
}

TEST(FzyFormat, OleDatesOfKnownMoments) {
    setenv("TZ", "UTC", 1);
    tzset();
    struct Case {
        int year, month, day, hour, minute, second;
        double ole;
    };
    const Case cases[] = {
        {1899, 12, 30, 0, 0, 0, 0.0},     {1900, 1, 1, 0, 0, 0, 2.0},
        {2024, 1, 15, 12, 0, 0, 45306.5}, {2000, 2, 29, 18, 0, 0, 36585.75},
        {1970, 1, 1, 6, 0, 0, 25569.25},  {9999, 12, 31, 0, 0, 0, 2958465.0},
        {1899, 12, 29, 6, 0, 0, -1.25},   {100, 1, 1, 0, 0, 0, -657434.0},
    };
    for (const Case& c : cases) {
        const auto tm = fzy::CalendarFromOleDate(c.ole);
        ASSERT_TRUE(tm) << c.ole;
        EXPECT_EQ(tm->tm_year + 1900, c.year) << c.ole;
        EXPECT_EQ(tm->tm_mon + 1, c.month) << c.ole;
        EXPECT_EQ(tm->tm_mday, c.day) << c.ole;
        EXPECT_EQ(tm->tm_hour * 3600 + tm->tm_min * 60 + tm->tm_sec,
                  c.hour * 3600 + c.minute * 60 + c.second)
            << c.ole;
        if (c.year >= 1970) {
            std::tm t{};
            t.tm_year = c.year - 1900;
            t.tm_mon = c.month - 1;
            t.tm_mday = c.day;
            t.tm_hour = c.hour;
            t.tm_min = c.minute;
            t.tm_sec = c.second;
            EXPECT_DOUBLE_EQ(fzy::OleDateFromTime(timegm(&t)), c.ole);
        }
    }
    // Local time, not UTC.
    setenv("TZ", "UTC-2", 1);
    tzset();
    EXPECT_DOUBLE_EQ(fzy::OleDateFromTime(0), 25569.0 + 2.0 / 24);
    unsetenv("TZ");
    tzset();

    for (double bad :
         {std::nan(""), std::numeric_limits<double>::infinity(), -657435.0, 2958466.0, 1e300}) {
        EXPECT_FALSE(fzy::CalendarFromOleDate(bad)) << bad;
    }
}

TEST(FzyFormat, NumbersAndDatesAsTheLocaleWritesThem) {
    struct Case {
        double value;
        const char* dot;
        const char* comma;
    };
    const Case cases[] = {
        {0.0, "0", "0"},
        {-0.0, "0", "0"},
        {0.5, "0.5", "0,5"},
        {-2.25, "-2.25", "-2,25"},
        {1234567.125, "1234567.125", "1234567,125"},
        {1.0 / 3, "0.333333333333333", "0,333333333333333"},
        {1e20, "1E+20", "1E+20"},
        {1.5e-7, "1.5E-07", "1,5E-07"},
        {999, "999", "999"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fzy::FormatNumber(c.value, "."), c.dot) << c.value;
        EXPECT_EQ(fzy::FormatNumber(c.value, ","), c.comma) << c.value;
    }
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(fzy::UserDecimalSeparator(), ".");
    EXPECT_EQ(fzy::FormatOleDate(45306.5, "C"), "01/15/24 12:00:00");
    EXPECT_EQ(fzy::FormatOleDate(45306.0, "C"), "01/15/24");
    EXPECT_EQ(fzy::FormatOleDate(0.75, "C"), "18:00:00");
    EXPECT_EQ(fzy::FormatOleDate(45306.99999999, "C"), "01/16/24");
    EXPECT_EQ(fzy::FormatOleDate(1e300, "C"), "1E+300");
    // A locale that is not installed falls back to "C".
    EXPECT_EQ(fzy::FormatOleDate(45306.5, "xx_NOWHERE.UTF-8"), "01/15/24 12:00:00");
}

TEST(FzyFormat, DescriptionDatesAreUnambiguousUnderTheCLocale) {
    // 8 December 2026, 14:30: "12/08/26" under the C locale, 12 August to
    // most readers.
    const double december8 = 46364 + 14.5 / 24;
    struct Case {
        const char* locale;
        const char* language;
        std::string expected;
    } cases[] = {
        {"C", "fr", "08/12/2026 14:30:00"},       {"POSIX", "es", "08/12/2026 14:30:00"},
        {"C", "de", "08.12.2026 14:30:00"},       {"C", "en", "2026-12-08 14:30:00"},
        {"C", "", "2026-12-08 14:30:00"},         {"xx_NOWHERE.UTF-8", "fr", "08/12/2026 14:30:00"},
        {"C.UTF-8", "de", "08.12.2026 14:30:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + " " + c.language);
        EXPECT_EQ(fzy::FormatOleDateFor(december8, c.language, c.locale), c.expected);
    }
    EXPECT_EQ(fzy::FormatOleDateFor(46364, "fr", "C"), "08/12/2026");
    EXPECT_EQ(fzy::FormatOleDateFor(0.75, "fr", "C"), "18:00:00");
}

}  // namespace
}  // namespace vark::test
