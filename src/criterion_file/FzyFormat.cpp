#include "criterion_file/FzyFormat.h"

#include <langinfo.h>
#include <locale.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vark::fzy {

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date (H. Hinnant's algorithm).
constexpr long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

struct Civil {
    long long year;
    unsigned month;
    unsigned day;
};

constexpr Civil CivilFromDays(long long z) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {y + (m <= 2), m, d};
}

constexpr long long kOleEpochDays = DaysFromCivil(1899, 12, 30);
// 1 January 100 and 31 December 9999 as OLE day numbers.
constexpr long long kFirstOleDay = DaysFromCivil(100, 1, 1) - kOleEpochDays;
constexpr long long kLastOleDay = DaysFromCivil(9999, 12, 31) - kOleEpochDays;

/// A locale of the environment for `mask`, or the "C" locale; freed on scope exit.
class EnvLocale {
public:
    EnvLocale(int mask, const char* name) {
        m_locale = newlocale(mask, name, static_cast<locale_t>(0));
        if (m_locale == static_cast<locale_t>(0)) {
            m_locale = newlocale(mask, "C", static_cast<locale_t>(0));
        }
    }
    ~EnvLocale() {
        if (m_locale != static_cast<locale_t>(0)) {
            freelocale(m_locale);
        }
    }
    EnvLocale(const EnvLocale&) = delete;
    EnvLocale& operator=(const EnvLocale&) = delete;
    locale_t get() const { return m_locale; }

private:
    locale_t m_locale;
};

}  // namespace

double OleDateFromTime(std::time_t moment) {
    std::tm local{};
    localtime_r(&moment, &local);
    const long long days =
        DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday)) -
        kOleEpochDays;
    const int seconds = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    // Only moments after 1899 are written, so the fraction simply adds.
    return static_cast<double>(days) + seconds / 86400.0;
}

double OleDateNow() {
    return OleDateFromTime(std::time(nullptr));
}

std::optional<std::tm> CalendarFromOleDate(double oleDate) {
    if (!std::isfinite(oleDate) || oleDate < static_cast<double>(kFirstOleDay) ||
        oleDate >= static_cast<double>(kLastOleDay + 1)) {
        return std::nullopt;
    }
    long long day = static_cast<long long>(std::trunc(oleDate));
    long long seconds = std::llround(std::fabs(oleDate - static_cast<double>(day)) * 86400.0);
    if (seconds >= 86400) {
        seconds -= 86400;
        day += 1;
    }
    const long long epochDays = day + kOleEpochDays;
    const Civil c = CivilFromDays(epochDays);
    std::tm tm{};
    tm.tm_year = static_cast<int>(c.year - 1900);
    tm.tm_mon = static_cast<int>(c.month) - 1;
    tm.tm_mday = static_cast<int>(c.day);
    tm.tm_hour = static_cast<int>(seconds / 3600);
    tm.tm_min = static_cast<int>((seconds / 60) % 60);
    tm.tm_sec = static_cast<int>(seconds % 60);
    // 1970-01-01 was a Thursday.
    tm.tm_wday = static_cast<int>(((epochDays % 7) + 11) % 7);
    tm.tm_yday = static_cast<int>(epochDays - DaysFromCivil(c.year, 1, 1));
    return tm;
}

std::string FormatNumber(double value, std::string_view decimalSeparator) {
    if (value == 0) {
        return "0";
    }
    std::array<char, 64> buf{};
    std::snprintf(buf.data(), buf.size(), "%.15G", value);
    std::string out;
    for (const char* p = buf.data(); *p != '\0'; ++p) {
        if (*p == '.') {
            out += decimalSeparator;
        } else {
            out += *p;
        }
    }
    return out;
}

std::string UserDecimalSeparator() {
    EnvLocale loc(LC_NUMERIC_MASK, "");
    if (loc.get() == static_cast<locale_t>(0)) {
        return ".";
    }
    const char* radix = nl_langinfo_l(RADIXCHAR, loc.get());
    return (radix != nullptr && *radix != '\0') ? std::string(radix) : std::string(".");
}

std::string FormatNumber(double value) {
    return FormatNumber(value, UserDecimalSeparator());
}

namespace {

/// The formats of a date with its time, the date alone and the time alone.
struct DateFormats {
    std::string both;
    std::string date;
    std::string time;
};

std::string FormatCalendar(double oleDate, const DateFormats& formats, locale_t locale) {
    const std::optional<std::tm> tm = CalendarFromOleDate(oleDate);
    if (!tm) {
        return FormatNumber(oleDate);
    }
    const bool hasTime = tm->tm_hour != 0 || tm->tm_min != 0 || tm->tm_sec != 0;
    const bool hasDate = std::trunc(oleDate) != 0;
    const std::string& format =
        (hasDate && hasTime) ? formats.both : (hasDate ? formats.date : formats.time);
    std::array<char, 256> buf{};
    std::size_t n = 0;
    if (locale != static_cast<locale_t>(0)) {
        n = strftime_l(buf.data(), buf.size(), format.c_str(), &*tm, locale);
    } else {
        n = std::strftime(buf.data(), buf.size(), format.c_str(), &*tm);
    }
    return std::string(buf.data(), n);
}

}  // namespace

std::string FormatOleDateFor(double oleDate, std::string_view languageCode,
                             const char* localeName) {
    EnvLocale loc(LC_TIME_MASK, localeName);
    const char* dateFormat =
        loc.get() != static_cast<locale_t>(0) ? nl_langinfo_l(D_FMT, loc.get()) : nullptr;
    if (dateFormat != nullptr && std::string_view(dateFormat) != "%m/%d/%y") {
        return FormatCalendar(oleDate, {"%x %X", "%x", "%X"}, loc.get());
    }
    std::string date = "%Y-%m-%d";
    if (languageCode == "fr" || languageCode == "es") {
        date = "%d/%m/%Y";
    } else if (languageCode == "de") {
        date = "%d.%m.%Y";
    }
    return FormatCalendar(oleDate, {date + " %H:%M:%S", date, "%H:%M:%S"}, loc.get());
}

std::string FormatOleDate(double oleDate, const char* localeName) {
    EnvLocale loc(LC_TIME_MASK, localeName);
    return FormatCalendar(oleDate, {"%x %X", "%x", "%X"}, loc.get());
}

}  // namespace vark::fzy
