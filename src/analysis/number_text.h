#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fc {

// Decimal patterns used for every number the program shows or writes. A '#' before the point is
// a digit left out when it would be a leading zero, a '0' a digit always shown; the '0's after
// the point are the fixed decimals. An integer part longer than the pattern is written in full.
inline constexpr std::string_view kPeriodPattern = "#####.0000";  // frame line period
inline constexpr std::string_view kMismatchPattern = "##.000";    // frame line mismatch, block time
inline constexpr std::string_view kAveragePattern = "##.0000";    // averages
inline constexpr std::string_view kResultTimePattern = "####.0000";  // results file T
inline constexpr std::string_view kRpmPattern = "#####.0";           // results file R

// A whole number as shown on its own: one blank where a minus sign would stand (" 12", "-5").
std::string FormatInteger(long long value);

// A whole number as written on a line of a text file: the integer form and one trailing blank.
std::string FormatPrintNumber(long long value);

// Formats `value` with a decimal pattern. A tie rounds away from zero, decided on the exact
// binary value (0.15625 with four decimals gives ".1563"). A negative value gets a leading "-";
// a value that rounds to zero has no sign.
std::string FormatPattern(double value, std::string_view pattern);

// The value of the leading number of a typed text. Blanks, tabs and line feeds anywhere are
// ignored ("4 5" reads 45); the number is an optional sign, digits, an optional point with
// fraction digits and an optional exponent. Text without such a number reads 0. Too large a
// value reads as an infinity, so range checks on the result reject it.
double ReadLeadingNumber(std::string_view text);

// The same, but nullopt for a text without a leading number ("abc", "", "nan", "-"), where
// ReadLeadingNumber gives 0.
std::optional<double> FindLeadingNumber(std::string_view text);

// Nearest whole number, ties to the even one (2.5 gives 2, 3.5 gives 4).
double RoundHalfEven(double value);

// The leading number of a typed text rounded to a whole number: how every typed number is read.
inline double ReadWholeNumber(std::string_view text) {
  return RoundHalfEven(ReadLeadingNumber(text));
}

}  // namespace fc
