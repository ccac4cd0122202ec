// Input: one selector byte (bits 0-4 the BufferSize in force, 0 meaning nothing captured yet;
// bit 5 zero-crossing mode; bit 6 hi-res times; bit 7 one consecutive point instead of three),
// then the raw data file. A file read completely must come back unchanged through the writer.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "analysis/measurement_state.h"
#include "files/raw_data_file.h"
#include "null_display.h"

namespace {

void Reset(fc::MeasurementState& state, uint8_t selector) {
  const int32_t sizes = selector & 0x1f;
  state.BufferSize = sizes == 31 ? 1024 : sizes;
  state.CurrentFrame = 0;
  state.QuillRecordFreq = 0.0f;
  state.ConsecutivePoints = (selector & 0x80) ? 1 : 3;
  state.MaxLimitCounts = 0;
  state.JumpCounts = 0;
  fc::UpdateConsecutive(state);
  state.LookForZeroCrossing = (selector & 0x20) ? 1 : 0;
  state.UseHiResTime = (selector & 0x40) ? 1 : 0;
  state.AnticCounts = 50.0f;
  state.FoundMax = state.FoundMin = state.FoundNextMax = 0;
  state.Approach = state.Leave = state.ApproachNext = state.LeaveNext = 0;
  state.PrevPulseSpacing = 0.0f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static fc::MeasurementState state;
  if (size == 0) return 0;
  Reset(state, data[0]);
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  fc::fuzzing::NullDisplay display;
  const auto outcome = fc::ReadRawDataText(state, display, text, "Raw.txt");
  if (outcome.status == fc::RawReadStatus::Done && outcome.frames_read > 0) {
    const std::string written = fc::RawDataText(state);
    const auto again = fc::ReadRawDataText(state, display, written, "Raw.txt");
    if (again.status != fc::RawReadStatus::Done || again.frames_read != outcome.frames_read ||
        fc::RawDataText(state) != written) {
      __builtin_trap();
    }
  }
  return 0;
}
