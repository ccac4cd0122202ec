#pragma once

#include <cstdint>
#include <string_view>

#include "analysis/measurement_state.h"
#include "analysis/message.h"

namespace fc {

// One of the two number questions of the Preferences menu.
struct SettingQuestion {
  std::string_view prompt;
  std::string_view title;
  int low;
  int high;
  std::string_view refusal;  // shown (OK, no icon, default title) for a value out of range
};

inline constexpr SettingQuestion kMaxLimitQuestion{
    "Enter counts from Max/Min to call a pulse (from 5-40 counts).", "Enter Counts",
    kMaxLimitLowest, kMaxLimitHighest, "Value must be between 5 and 40.  Try again."};

inline constexpr SettingQuestion kJumpQuestion{
    "Enter jump in counts to look for preceeding the Max or Min counts (from 30 to 90 counts).",
    "Enter Jump Counts", kJumpLowest, kJumpHighest, "Value must be between 30 and 90.  Try again."};

// Asks until the answer reads as a whole number within the question's range, or is empty
// (Cancel, or a cleared field), and returns the value to keep: the answer's, or `old_value`.
// Every question shows `old_value` as plain digits.
int16_t AskSetting(Dialogs& dialogs, const SettingQuestion& question, int16_t old_value);

// Which of the Preferences items carry a check mark after the settings refresh.
// `consecutive` is 3, 2 or 1 for the marked consecutive-points entry, and 0 when the setting
// holds another value (the three marks are then left as they were).
struct PreferenceMarks {
  int consecutive = 0;
  bool zero_crossing_yes = false;
  bool hi_res_yes = false;
};

// The settings refresh of the menu: the core UpdateConsecutive, then the marks it implies.
PreferenceMarks RefreshPreferences(MeasurementState& state);

}  // namespace fc
