#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "analysis/message.h"
#include "analysis/number_text.h"

namespace fc {

// The input box shared by the detailed graph and the next-frame anticipation.
inline constexpr std::string_view kFramePrompt = "Enter frame #";
inline constexpr std::string_view kFrameTitle = "Frame #";
inline constexpr std::string_view kFrameDefaultAnswer = "1";

// The frame number typed into that box, rounded ties to even; or the warning for a number
// outside 0..last (also one too large for any integer type), before anything changes.
struct FrameAnswer {
  int frame = 0;
  std::optional<Message> warning;
};

inline FrameAnswer ReadFrameAnswer(std::string_view answer, int last) {
  const double number = ReadWholeNumber(answer);
  if (!(number >= 0.0 && number <= last)) {
    return {
        0, WarningMessage("The frame number must lie between 0 and " + std::to_string(last) + ".")};
  }
  return {static_cast<int>(number), std::nullopt};
}

}  // namespace fc
