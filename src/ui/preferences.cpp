#include "ui/preferences.h"

#include <string>

#include "analysis/number_text.h"

namespace fc {

int16_t AskSetting(Dialogs& dialogs, const SettingQuestion& question, int16_t old_value) {
  const std::string prompt(question.prompt);
  const std::string title(question.title);
  const std::string shown_value = std::to_string(old_value);
  for (;;) {
    const std::string answer = dialogs.Ask(prompt, title, shown_value);
    if (answer.empty()) return old_value;
    // Values beyond 16 bits (and a text too large for a double, which reads as an infinity)
    // fail the range test like any other.
    const double value = ReadWholeNumber(answer);
    if (value >= question.low && value <= question.high) return static_cast<int16_t>(value);
    dialogs.Show(Message{std::string(question.refusal), MessageButtons::Ok, MessageIcon::None, ""});
  }
}

PreferenceMarks RefreshPreferences(MeasurementState& state) {
  UpdateConsecutive(state);
  PreferenceMarks marks;
  if (state.ConsecutivePoints >= 1 && state.ConsecutivePoints <= 3) {
    marks.consecutive = state.ConsecutivePoints;
  }
  marks.zero_crossing_yes = state.LookForZeroCrossing == 1;
  marks.hi_res_yes = state.UseHiResTime == 1;
  return marks;
}

}  // namespace fc
