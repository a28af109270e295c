#pragma once

// Dates and numbers of the criterion file as the user reads them.
//
// Dates are OLE Automation dates: days since 30 December 1899 00:00 as a
// double, the fraction being the time of day (for days before that date the
// fraction still counts forward from midnight), in local time.
//
// Numbers and dates in descriptions follow the user's conventions as the C
// library reads them from the environment (LC_ALL, then LC_NUMERIC or
// LC_TIME, then LANG); a locale that is not installed counts as "C". The
// environment is read on every call, so there is nothing to initialise and
// no global locale is changed.

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace vark::fzy {

/// The OLE Automation date of a moment, in local time, to the second.
double OleDateFromTime(std::time_t moment);
/// The OLE Automation date of now, local time, to the second.
double OleDateNow();

/// The calendar date and time of an OLE Automation date, rounded to the
/// second. nullopt for NaN, infinities and dates outside the years 100 to
/// 9999 (the range such dates may hold). Fills tm_year, tm_mon, tm_mday,
/// tm_hour, tm_min, tm_sec, tm_wday and tm_yday.
std::optional<std::tm> CalendarFromOleDate(double oleDate);

/// A number as the user's locale writes it: up to 15 significant digits,
/// no thousands separator, the decimal separator given, an exponent
/// ("1E+20", "1E-07") only where fixed notation would need more digits than
/// that; "0" for zero (of either sign).
std::string FormatNumber(double value, std::string_view decimalSeparator);
/// The same with the decimal separator of the user's locale (LC_NUMERIC).
std::string FormatNumber(double value);
/// The user's decimal separator ("." when the locale cannot be had).
std::string UserDecimalSeparator();

/// A date in the general date format of the locale named `localeName`
/// ("" = the user's, from LC_TIME): the date and the time of day ("%x %X");
/// the date alone when the time is midnight; the time alone for day 0 (30
/// December 1899). A value that is not a date (see CalendarFromOleDate) is
/// written as a number.
std::string FormatOleDate(double oleDate, const char* localeName = "");
/// The same, unambiguous whatever the locale: when the locale's date
/// format is the C locale's two-digit "%m/%d/%y" (the C and POSIX locales,
/// or a locale that cannot be had), which most readers take for another
/// day, the convention of the interface language `languageCode` instead:
/// "fr" and "es" "%d/%m/%Y", "de" "%d.%m.%Y", any other ISO "%Y-%m-%d",
/// with the time as "%H:%M:%S".
std::string FormatOleDateFor(double oleDate, std::string_view languageCode,
                             const char* localeName = "");

}  // namespace vark::fzy
