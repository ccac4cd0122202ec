// Input: two selector bytes, then the raw data file. The first selects the state: bits 0-4 the
// BufferSize in force (0 meaning nothing captured yet, 31 meaning 1024), bit 5 zero-crossing
// mode, bit 6 hi-res times, bit 7 one consecutive point instead of three. The second gives the
// size of the pieces in which the file is handed to the reader a second time (1..64 bytes);
// both reads must agree. The second read takes the portable path where the first may take the
// wide one, so the two paths are checked against each other too. A file read completely must come
// back unchanged through the writer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "analysis/measurement_state.h"
#include "files/raw_data_file.h"
#include "files/wide_writer_lines.h"
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
  static fc::MeasurementState whole;
  static fc::MeasurementState pieces;
  if (size < 2) return 0;
  Reset(whole, data[0]);
  Reset(pieces, data[0]);
  const std::size_t piece_size = 1 + data[1] % 64;
  const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);

  fc::fuzzing::NullDisplay display;
  const auto outcome = fc::ReadRawDataText(whole, display, text, "Raw.txt");
  fc::fuzzing::NullDisplay pieces_display;
  fc::UseWideWriterLines(false);
  const auto in_pieces =
      fc::ReadRawDataInPieces(pieces, pieces_display, text, "Raw.txt", piece_size);
  fc::UseWideWriterLines(true);
  if (in_pieces.status != outcome.status || in_pieces.frames_read != outcome.frames_read ||
      !(in_pieces.message == outcome.message) || pieces_display.log_size != display.log_size) {
    __builtin_trap();
  }
  const int touched = std::min(outcome.frames_read + 1, fc::kFrameCount);
  if (std::memcmp(whole.Row(0), pieces.Row(0),
                  static_cast<std::size_t>(touched) * fc::kFrameRowBytes) != 0) {
    __builtin_trap();
  }

  if (outcome.status == fc::RawReadStatus::Done && outcome.frames_read > 0) {
    const std::string written = fc::RawDataText(whole);
    const auto again = fc::ReadRawDataText(whole, display, written, "Raw.txt");
    if (again.status != fc::RawReadStatus::Done || again.frames_read != outcome.frames_read ||
        fc::RawDataText(whole) != written) {
      __builtin_trap();
    }
  }
  return 0;
}
