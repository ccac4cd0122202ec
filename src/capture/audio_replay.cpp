#include "capture/audio_replay.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "analysis/frame_analysis.h"
#include "analysis/number_text.h"

namespace fc {

namespace {

// Frames past the store are analysed in its last row: their lines carry their own numbers.
class RenumberedDisplay : public Display {
 public:
  explicit RenumberedDisplay(Display& display) : display_(display) {}
  void Number(int64_t frame) { number_ = FormatInteger(frame); }

  void SetFrameLabel(int index, const std::string& text) override {
    display_.SetFrameLabel(index, Renumbered(text));
  }
  void AppendLog(const std::string& text) override { display_.AppendLog(Renumbered(text)); }
  void ClearLog() override { display_.ClearLog(); }
  Picture& Trace() override { return display_.Trace(); }
  Picture& Scope() override { return display_.Scope(); }
  void RunBegun(FrameTiming timing) override { display_.RunBegun(timing); }
  void FramePublished(const MeasurementState& state, int frame, double period) override {
    display_.FramePublished(state, frame, period);
  }

 private:
  std::string Renumbered(const std::string& text) const {
    if (text.compare(0, row_number_.size(), row_number_) != 0) return text;
    return number_ + text.substr(row_number_.size());
  }

  Display& display_;
  const std::string row_number_ = FormatInteger(kLastFrame);
  std::string number_;
};

}  // namespace

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

  display.ClearLog();
  display.Trace().Clear();
  display.Scope().Clear();
  display.RunBegun(FrameTiming::FrameNumber);
  state.CurrentFrame = 0;
  state.RunFramesBefore = 0;
  state.StoreStartSeconds = 0.0;
  state.QuillRecordFreq = kCaptureRate;
  state.BufferSize = kCaptureBufferSize;
  input.Start(handle);

  RenumberedDisplay beyond(display);
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
      beyond.Number(outcome.frames);
      AnalyzeFrame(state, beyond);
    } else {
      AnalyzeFrame(state, display);
    }
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
  if (!store_told && options.store_filled) options.store_filled();
  return outcome;
}

}  // namespace fc
