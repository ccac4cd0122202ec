#include "analysis/pulses_per_rev.h"

#include <cmath>

#include "analysis/number_text.h"

namespace fc {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The text with blanks around it removed and its comma made a point, when it is digits with at
// most one separator followed by 1..3 decimals; empty otherwise.
std::string PlainDecimal(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
  std::string plain;
  std::size_t integer_digits = 0;
  std::size_t decimals = 0;
  bool separator = false;
  for (const char c : text) {
    if (IsDigit(c)) {
      (separator ? decimals : integer_digits) += 1;
      plain += c;
    } else if ((c == '.' || c == ',') && !separator) {
      separator = true;
      plain += '.';
    } else {
      return {};
    }
  }
  if (integer_digits + decimals == 0) return {};
  if (separator && (decimals == 0 || decimals > kPulsesPerRevDecimals)) return {};
  return plain;
}

}  // namespace

Result<double> ReadPulsesPerRev(std::string_view text, std::string_view what) {
  const std::string plain = PlainDecimal(text);
  const auto value = plain.empty() ? std::nullopt : FindLeadingNumber(plain);
  if (!value || !(*value >= kMinPulsesPerRev) || !(*value <= kMaxPulsesPerRev)) {
    return Error{(what.empty() ? std::string() : std::string(what) + ": ") +
                 "Pulses per revolution go from 0.001 to 1000 with at most 3 decimals after a "
                 "point or a comma (2.5 or 2,5); \"" + std::string(text) +
                 "\" is not such a number."};
  }
  return *value;
}

std::string FormatPulsesPerRev(double pulses_per_rev) {
  std::string text = FormatPattern(pulses_per_rev, "0.000");
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

double RpmOfPeriod(double period_s, double pulses_per_rev) {
  if (!(period_s > 0.0) || !(pulses_per_rev > 0.0)) return 0.0;
  return 60.0 / (period_s * pulses_per_rev);
}

}  // namespace fc
