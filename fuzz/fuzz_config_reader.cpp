// Loads any text as the configuration file; whatever it loads must survive a save and a load.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "analysis/measurement_state.h"
#include "files/config_file.h"

namespace {

bool SameSettings(const fc::MeasurementState& a, const fc::MeasurementState& b) {
  return a.ConsecutivePoints == b.ConsecutivePoints && a.MaxLimitCounts == b.MaxLimitCounts &&
         a.JumpCounts == b.JumpCounts && a.LookForZeroCrossing == b.LookForZeroCrossing &&
         a.UseHiResTime == b.UseHiResTime;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static fc::MeasurementState loaded;
  static fc::MeasurementState reloaded;
  for (fc::MeasurementState* state : {&loaded, &reloaded}) {
    state->ConsecutivePoints = state->MaxLimitCounts = state->JumpCounts = 0;
    state->LookForZeroCrossing = state->UseHiResTime = 0;
  }
  fc::AveragingPanel panel;
  fc::LoadConfigurationText(std::string_view(reinterpret_cast<const char*>(data), size), loaded,
                            panel);
  if (panel.Check1 < 0 || panel.Check1 > 2) __builtin_trap();

  const std::string saved = fc::ConfigurationText(loaded, panel);
  fc::AveragingPanel panel_again;
  fc::LoadConfigurationText(std::string_view(saved), reloaded, panel_again);
  if (!SameSettings(loaded, reloaded) || !(panel == panel_again)) __builtin_trap();
  return 0;
}
