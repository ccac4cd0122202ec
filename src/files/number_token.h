#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fc {

// The value of a text that is wholly one number: an optional sign, digits with an optional
// point and fraction (or a point and digits), an optional exponent; nothing else, no blanks.
// nullopt for anything else ("12a", "", "1e", "-", "1,5").
std::optional<double> ParseNumberToken(std::string_view token);

// A short, printable rendering of file text for a message: quoted, control and non-ASCII
// bytes shown as '?', cut after 32 characters.
std::string QuoteFileText(std::string_view text);

}  // namespace fc
