// The typed-number reader, the whole-number check of the file readers and the decimal patterns.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "analysis/number_text.h"
#include "files/number_token.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const double value = fc::ReadLeadingNumber(text);
  const double whole = fc::RoundHalfEven(value);
  if (std::isfinite(value) && std::fabs(whole - value) > 0.5) __builtin_trap();
  if (std::fabs(whole) < 1e15) (void)fc::FormatInteger(static_cast<long long>(whole));
  for (std::string_view pattern : {fc::kPeriodPattern, fc::kMismatchPattern, fc::kAveragePattern,
                                   fc::kResultTimePattern, fc::kRpmPattern}) {
    if (fc::FormatPattern(value, pattern).empty()) __builtin_trap();
  }
  // A text that is wholly a number reads the same through either reader.
  if (const auto token = fc::ParseNumberToken(text)) {
    if (!(*token == value || (std::isnan(*token) && std::isnan(value)))) __builtin_trap();
  }
  (void)fc::QuoteFileText(text);
  return 0;
}
