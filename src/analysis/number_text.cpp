#include "analysis/number_text.h"

#include <locale.h>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace fc {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// strtod that ignores the process locale (the window sets the user's locale at start-up).
double ParseDecimal(const std::string& text) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return strtod_l(text.c_str(), nullptr, c_locale);
}

__extension__ typedef unsigned __int128 Uint128;

std::string ToDecimal(Uint128 value) {
  std::string text;
  do {
    text.insert(text.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
    value /= 10;
  } while (value != 0);
  return text;
}

// The digits of magnitude * 10^decimals rounded to a whole number, a tie away from zero,
// decided on the exact binary value; at least decimals + 1 digits.
std::string ExactRoundedDigits(double magnitude, std::size_t decimals) {
  std::string digits;
  if (decimals <= 18) {
    // magnitude = m * 2^e exactly, with m below 2^53, so m * 10^decimals fits in 128 bits.
    int exponent = 0;
    const double fraction = std::frexp(magnitude, &exponent);
    const auto m = static_cast<uint64_t>(std::ldexp(fraction, 53));
    const int e = exponent - 53;
    if (e >= 0 || m == 0) {
      char buffer[400];
      std::snprintf(buffer, sizeof buffer, "%.0f", magnitude);  // a whole number: exact
      digits = std::string(buffer) + std::string(decimals, '0');
    } else {
      Uint128 scaled = m;
      for (std::size_t i = 0; i < decimals; ++i) scaled *= 10;
      const int shift = -e;
      Uint128 whole = 0;
      if (shift < 128) {
        whole = scaled >> shift;
        const Uint128 remainder = scaled - (whole << shift);
        if (remainder >= (static_cast<Uint128>(1) << (shift - 1))) ++whole;
      }
      digits = ToDecimal(whole);
    }
  } else {
    // glibc prints the exact decimal expansion of a double when asked for enough digits.
    constexpr int kExactDigits = 1100;
    std::vector<char> buffer(kExactDigits + 400);
    std::snprintf(buffer.data(), buffer.size(), "%.*f", kExactDigits, magnitude);
    const std::string exact(buffer.data());
    const auto point = exact.find('.');
    digits = exact.substr(0, point) + exact.substr(point + 1, decimals);
    if (exact[point + 1 + decimals] >= '5') {
      std::size_t i = digits.size();
      while (i > 0) {
        --i;
        if (digits[i] == '9') {
          digits[i] = '0';
          if (i == 0) digits.insert(digits.begin(), '1');
        } else {
          ++digits[i];
          break;
        }
      }
    }
  }
  if (digits.size() < decimals + 1) digits.insert(0, decimals + 1 - digits.size(), '0');
  return digits;
}

}  // namespace

std::string FormatInteger(long long value) {
  return value < 0 ? std::to_string(value) : " " + std::to_string(value);
}

std::string FormatPrintNumber(long long value) { return FormatInteger(value) + " "; }

std::string FormatPattern(double value, std::string_view pattern) {
  const auto dot = pattern.find('.');
  std::size_t decimals = 0;
  std::size_t min_integer_digits = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '0') continue;
    if (dot != std::string_view::npos && i > dot) {
      ++decimals;
    } else {
      ++min_integer_digits;
    }
  }
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";

  std::string digits = ExactRoundedDigits(std::fabs(value), decimals);
  std::string integer_part = digits.substr(0, digits.size() - decimals);
  const std::string fraction_part = digits.substr(digits.size() - decimals);
  const auto first_nonzero = integer_part.find_first_not_of('0');
  integer_part = first_nonzero == std::string::npos ? "" : integer_part.substr(first_nonzero);
  if (integer_part.size() < min_integer_digits) {
    integer_part.insert(0, min_integer_digits - integer_part.size(), '0');
  }
  const bool is_zero = digits.find_first_not_of('0') == std::string::npos;
  std::string text = (value < 0 && !is_zero) ? "-" : "";
  text += integer_part;
  if (dot != std::string_view::npos) text += "." + fraction_part;
  return text;
}

double ReadLeadingNumber(std::string_view text) { return FindLeadingNumber(text).value_or(0.0); }

std::optional<double> FindLeadingNumber(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\n') s += c;
  }
  std::size_t i = 0;
  std::string number;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') number += '-';
    ++i;
  }
  const std::size_t integer_start = i;
  while (i < s.size() && IsDigit(s[i])) number += s[i++];
  const bool has_integer = i > integer_start;
  bool has_fraction = false;
  if (i < s.size() && s[i] == '.') {
    std::size_t j = i + 1;
    while (j < s.size() && IsDigit(s[j])) ++j;
    has_fraction = j > i + 1;
    if (has_integer || has_fraction) {
      number.append(s, i, j - i);
      i = j;
    }
  }
  if (!has_integer && !has_fraction) return std::nullopt;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    std::size_t k = j;
    while (k < s.size() && IsDigit(s[k])) ++k;
    if (k > j) number.append(s, i, k - i);
  }
  return ParseDecimal(number);
}

double RoundHalfEven(double value) { return std::nearbyint(value); }

}  // namespace fc
