#include "capture/audio_replay.h"

#include <algorithm>
#include <cmath>

#include "analysis/frame_analysis.h"

namespace fc {

Result<ReplayOutcome> ReplayAudio(MeasurementState& state, Display& display, FileInput& input,
                                  const ReplayOptions& options) {
  WaveFormat format;
  format.format_tag = 1;
  format.channels = 2;
  format.samples_per_sec = static_cast<uint32_t>(std::lround(kCaptureRate));
  format.bits_per_sample = 8;
  format.block_align = 2;
  format.avg_bytes_per_sec = format.samples_per_sec * format.block_align;
  input.RestorePulses(options.restore_pulses);
  const WaveInHandle handle = input.Open(0, format);
  if (handle == 0) return Error{input.OpenError()};

  BeginReplay(state, display);
  state.QuillRecordFreq = kCaptureRate;
  state.BufferSize = kCaptureBufferSize;
  input.Start(handle);

  WaveHeader header;
  header.buffer_length = static_cast<uint32_t>(2 * kCaptureBufferSize);
  ReplayOutcome outcome;
  bool store_told = false;
  for (;;) {
    if (outcome.frames > kLastFrame && !options.beyond_store) break;
    const int row = static_cast<int>(std::min<int64_t>(outcome.frames, kLastFrame));
    header.data = state.Row(row);
    input.PrepareHeader(handle, header);
    input.AddBuffer(handle, header);
    const bool done = header.Done();
    input.UnprepareHeader(handle, header);
    if (!done) {
      // The partial frame at the end is not a frame: its row goes back to no samples.
      if (outcome.frames <= kLastFrame) std::fill_n(state.Row(row), kFrameRowBytes, uint8_t{0});
      break;
    }
    state.CurrentFrame = static_cast<int16_t>(row);
    state.PreciseResults[static_cast<std::size_t>(row)] = header.precise;
    if (outcome.frames > kLastFrame) {
      // Frames past the store are analysed in its last row, numbered and timed as the run's.
      state.RunFramesBefore = outcome.frames - kLastFrame;
      state.StoreStartSeconds = static_cast<double>(state.RunFramesBefore) * kFrameSeconds;
    }
    AnalyzeFrame(state, display);
    ++outcome.frames;
    if (outcome.frames == kFrameCount && options.store_filled) {
      store_told = true;
      options.store_filled();
    }
    if (options.go_on && !options.go_on(outcome.frames)) {
      outcome.cancelled = true;
      break;
    }
  }
  outcome.position = input.Where(handle);
  input.Reset(handle);
  input.Close(handle);
  state.CurrentFrame = static_cast<int16_t>(std::clamp<int64_t>(outcome.frames - 1, 0, kLastFrame));
  state.RunFramesBefore = 0;
  state.StoreStartSeconds = 0.0;
  if (!store_told && options.store_filled) options.store_filled();
  return outcome;
}

}  // namespace fc
