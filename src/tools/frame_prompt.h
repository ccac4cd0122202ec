#pragma once

#include <string_view>

namespace fc {

// The input box shared by the detailed graph and the next-frame anticipation.
inline constexpr std::string_view kFramePrompt = "Enter frame #";
inline constexpr std::string_view kFrameTitle = "Frame #";
inline constexpr std::string_view kFrameDefaultAnswer = "1";

}  // namespace fc
