#include "files/number_token.h"

#include "analysis/number_text.h"

namespace fc {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<double> ParseNumberToken(std::string_view token) {
  std::size_t i = 0;
  const std::size_t n = token.size();
  if (i < n && (token[i] == '+' || token[i] == '-')) ++i;
  const std::size_t integer_start = i;
  while (i < n && IsDigit(token[i])) ++i;
  bool has_digits = i > integer_start;
  if (i < n && token[i] == '.') {
    ++i;
    const std::size_t fraction_start = i;
    while (i < n && IsDigit(token[i])) ++i;
    has_digits = has_digits || i > fraction_start;
  }
  if (!has_digits) return std::nullopt;
  if (i < n && (token[i] == 'e' || token[i] == 'E')) {
    ++i;
    if (i < n && (token[i] == '+' || token[i] == '-')) ++i;
    const std::size_t exponent_start = i;
    while (i < n && IsDigit(token[i])) ++i;
    if (i == exponent_start) return std::nullopt;
  }
  if (i != n) return std::nullopt;
  return ReadLeadingNumber(token);
}

std::string QuoteFileText(std::string_view text) {
  constexpr std::size_t kMaxShown = 32;
  std::string quoted = "\"";
  for (std::size_t i = 0; i < text.size() && i < kMaxShown; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    quoted += (c < 0x20 || c >= 0x7f) ? '?' : static_cast<char>(c);
  }
  if (text.size() > kMaxShown) quoted += "...";
  quoted += '"';
  return quoted;
}

}  // namespace fc
