#include "capture/capture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>
#include <utility>

#include "analysis/frame_analysis.h"
#include "analysis/number_text.h"

namespace fc {

namespace {
constexpr float kSecondsPerDay = 86400.0f;

// Seconds from one start time (a time of day) to a later one less than a day after it.
double SecondsBetween(float earlier, float later) {
  double seconds = static_cast<double>(later) - static_cast<double>(earlier);
  if (seconds < 0.0) seconds += static_cast<double>(kSecondsPerDay);
  return seconds;
}
}

Message OpenFailedMessage() {
  return Message{"Wave input device didn't open!", MessageButtons::Ok, MessageIcon::Exclamation,
                 "Ack!"};
}

Message TimedOutQuestion() {
  return Message{"Timed Out.  Continue?", MessageButtons::YesNoCancel, MessageIcon::None,
                 "Continue"};
}

Message InputLostMessage() {
  return Message{"The sound input was lost. The run has been stopped.", MessageButtons::Ok,
                 MessageIcon::Exclamation, "Ack!"};
}

Message BlockTimeMessage(float seconds_per_block) {
  return Message{"Avg time per block = " +
                     FormatPattern(static_cast<double>(seconds_per_block), kMismatchPattern),
                 MessageButtons::Ok, MessageIcon::None, ""};
}

std::string AverageLabelText(double average) {
  return "Average = " + FormatPattern(average, kAveragePattern);
}

// Host's defaults live beside the texts they show.
MessageAnswer Host::TimedOut() { return dialogs().Show(TimedOutQuestion()); }
void Host::InputLost() { dialogs().Show(InputLostMessage()); }

Capture::Capture(MeasurementState& state, Display& display, WaveInput& input, Host& host,
                 Clock& clock)
    : state_(state), display_(display), input_(input), host_(host), clock_(clock) {}

Capture::~Capture() { CloseInput(); }

void Capture::CloseInput() {
  if (state_.hWaveIn == 0) return;
  input_.Reset(state_.hWaveIn);
  samples_lost_ = input_.SamplesLost(state_.hWaveIn);
  input_.Close(state_.hWaveIn);
  state_.hWaveIn = 0;
}

template <typename Call>
auto Capture::WhileWaiting(Call call) -> decltype(call()) {
  auto answer = std::async(std::launch::async, std::move(call));
  const auto step = [](double seconds) { return std::chrono::duration<double>(seconds); };
  if (answer.wait_for(step(kQuickAnswerSeconds)) != std::future_status::ready) {
    do {
      host_.WaitBriefly();
    } while (answer.wait_for(step(kWaitStepSeconds)) != std::future_status::ready);
  }
  return answer.get();
}

const DeviceList& Capture::InitDevices() {
  devices_ = WhileWaiting([this] { return CapableDevices(input_); });
  EndIfNoDevices(devices_, input_, host_);
  return devices_;
}

void Capture::Start(int selected_position) {
  if (state_.hWaveIn != 0) return;  // a run is in progress (the button is disabled then)
  // CurrentFrame is set to 0 only once the device has opened, so that a failed Start leaves
  // the run still in the store usable (it can be written out afterwards).
  display_.ClearLog();
  display_.Trace().Clear();
  display_.Scope().Clear();
  display_.RunBegun(FrameTiming::StartTimes);

  state_.BufferSize = kCaptureBufferSize;
  state_.QuillRecordFreq = kCaptureRate;

  format_.format_tag = 1;
  format_.channels = 2;
  format_.samples_per_sec = static_cast<uint32_t>(std::lround(state_.QuillRecordFreq));
  format_.bits_per_sample = 8;
  format_.block_align = static_cast<uint16_t>(format_.channels * format_.bits_per_sample / 8);
  format_.avg_bytes_per_sec = format_.samples_per_sec * format_.block_align;
  format_.extra_size = 0;

  const int device_id = devices_.DeviceId(selected_position);
  state_.hWaveIn = WhileWaiting([this, device_id] { return input_.Open(device_id, format_); });
  if (state_.hWaveIn == 0) {
    host_.dialogs().Show(input_.ServerReached() ? OpenFailedMessage() : NoSoundServerMessage());
    return;
  }
  state_.CurrentFrame = 0;
  state_.RunFramesBefore = 0;
  state_.StoreStartSeconds = 0.0;
  sum_before_ = 0.0;
  elapsed_before_ = 0.0;
  if (listener_ != nullptr) listener_->RunStarted(state_);
  samples_lost_ = 0;
  card_rate_.Restart();
  input_.Start(state_.hWaveIn);
  state_.RunStarted = true;
  host_.SetFileButtonsEnabled(false);
  host_.SetStopEnabled(true);
  host_.SetStartEnabled(false);
  RecordFrames();
}

void Capture::Queue() {
  header_.data = state_.Row(state_.CurrentFrame);
  input_.PrepareHeader(state_.hWaveIn, header_);
  input_.AddBuffer(state_.hWaveIn, header_);
  // The question comes at the first check after more than five seconds, so within one wait
  // step of the five seconds, well before six.
  deadline_ = clock_.MonotonicSeconds() + kFrameTimeoutSeconds;
  state_.FrameStartTime[static_cast<std::size_t>(state_.CurrentFrame)] =
      static_cast<float>(clock_.SecondsSinceMidnight());
  if (state_.CurrentFrame == 0 && state_.RunFramesBefore > 0) {
    state_.StoreStartSeconds =
        elapsed_before_ + SecondsBetween(last_start_before_, state_.FrameStartTime[0]);
  }
}

// Makes the device let go of the header it holds, and records on for the next queueing.
void Capture::RestartInput() {
  input_.Reset(state_.hWaveIn);
  input_.Start(state_.hWaveIn);
}

Capture::WaitEnd Capture::AwaitFrame() {
  for (;;) {
    if (state_.hWaveIn == 0) return WaitEnd::Stopped;
    if (input_.Lost(state_.hWaveIn)) {
      // A frame finished just before the server went away is still a good frame.
      return header_.Done() ? WaitEnd::DoneThenLost : WaitEnd::Lost;
    }
    if (clock_.MonotonicSeconds() > deadline_) {
      const MessageAnswer answer = host_.TimedOut();
      if (answer == MessageAnswer::Cancel) {
        // No unload handling and no stop report, but the device must let go of the frame
        // store before the program frees it.
        CloseInput();
        host_.EndProgram();
        return WaitEnd::ProgramEnding;
      }
      if (host_.Ending()) return WaitEnd::ProgramEnding;
      if (state_.hWaveIn == 0) return WaitEnd::Stopped;
      RestartInput();
      card_rate_.Restart();
      if (answer != MessageAnswer::Yes) return WaitEnd::TimedOutNo;
      Queue();  // the same frame again, with a new deadline and start time
      continue;
    }
    if (header_.Done()) return WaitEnd::Done;
    host_.WaitBriefly();
    if (host_.Ending()) return WaitEnd::ProgramEnding;
    clock_.Sleep(kWaitStepSeconds);
  }
}

void Capture::RecordFrames() {
  if (state_.hWaveIn == 0) return;
  header_.data = state_.Row(state_.CurrentFrame);
  header_.buffer_length = static_cast<uint32_t>(2 * state_.BufferSize);
  header_.flags.store(0, std::memory_order_release);

  for (;;) {
    Queue();
    const WaitEnd end = AwaitFrame();
    switch (end) {
      case WaitEnd::ProgramEnding:
      case WaitEnd::Stopped:  // the device has been reset and closed already
        return;
      case WaitEnd::Lost:
        input_.Reset(state_.hWaveIn);
        input_.UnprepareHeader(state_.hWaveIn, header_);
        ReportLoss();
        return;
      case WaitEnd::Done:
      case WaitEnd::DoneThenLost:
      case WaitEnd::TimedOutNo:
        break;
    }
    input_.UnprepareHeader(state_.hWaveIn, header_);
    // A frame cut short by a time-out holds less card time than its length.
    if (end == WaitEnd::TimedOutNo) {
      card_rate_.Restart();
    } else {
      card_rate_.FrameDone(clock_.MonotonicSeconds(),
                           static_cast<double>(state_.BufferSize) / state_.QuillRecordFreq);
    }

    state_.PreciseResults[static_cast<std::size_t>(state_.CurrentFrame)] = header_.precise;
    AnalyzeFrame(state_, display_);
    if (listener_ != nullptr) listener_->FrameAnalysed(state_, state_.CurrentFrame);
    ++state_.CurrentFrame;
    if (state_.CurrentFrame > kLastFrame && !continue_past_store_) {
      Stop();
    } else {
      if (state_.CurrentFrame > kLastFrame) StartStoreAgain();
      if (end == WaitEnd::DoneThenLost) {
        ReportLoss();
        return;
      }
    }

    host_.ProcessPendingInput();
    if (host_.Ending() || state_.hWaveIn == 0) return;
  }
}

void Capture::StartStoreAgain() {
  if (listener_ != nullptr) listener_->StoreFilled(state_);
  for (int row = 0; row < kFrameCount; ++row)
    sum_before_ += state_.FrameResults[static_cast<std::size_t>(row)];
  elapsed_before_ = state_.StoreStartSeconds +
                    SecondsBetween(state_.FrameStartTime[0], state_.FrameStartTime[kLastFrame]);
  last_start_before_ = state_.FrameStartTime[kLastFrame];
  // A fresh store, as at the program's start: the row after the last frame of a stopped run
  // then holds no samples of an earlier store.
  std::fill_n(state_.Row(0), static_cast<std::size_t>(kFrameCount) * kFrameRowBytes, uint8_t{0});
  state_.FrameStartTime.fill(0.0f);
  state_.FrameResults.fill(0.0);
  state_.PreciseResults.fill(PreciseReading{});
  state_.RunFramesBefore += kFrameCount;
  state_.CurrentFrame = 0;
}

void Capture::ReportLoss() {
  host_.InputLost();
  if (host_.Ending()) return;
  Stop();
}

void Capture::StopRecording() {
  const bool running = state_.hWaveIn != 0;
  CloseInput();
  host_.SetStopEnabled(false);
  host_.SetStartEnabled(true);
  host_.SetFileButtonsEnabled(true);
  // Without a run there is nothing to report (Stop is enabled before the first Start).
  if (!running) return;

  const int n = state_.CurrentFrame;
  if (state_.RunFramesBefore > 0) {
    // The whole run, over all its stores.
    const int64_t frames = state_.RunFramesBefore + n;
    double elapsed = elapsed_before_;
    double sum = sum_before_;
    if (n >= 1) {
      elapsed = state_.StoreStartSeconds +
                SecondsBetween(state_.FrameStartTime[0],
                               state_.FrameStartTime[static_cast<std::size_t>(n - 1)]);
    }
    for (int i = 0; i < n; ++i) sum += state_.FrameResults[static_cast<std::size_t>(i)];
    host_.dialogs().Show(
        BlockTimeMessage(static_cast<float>(elapsed / static_cast<double>(frames - 1))));
    host_.SetAverageLabel(AverageLabelText(sum / static_cast<double>(frames)));
    return;
  }
  if (n >= 2) {
    float elapsed =
        state_.FrameStartTime[static_cast<std::size_t>(n - 1)] - state_.FrameStartTime[0];
    // The start times are times of day: a run that crossed midnight went round the clock once
    // (a run lasts about 67 minutes at most).
    if (elapsed < 0.0f) elapsed += kSecondsPerDay;
    host_.dialogs().Show(BlockTimeMessage(elapsed / static_cast<float>(n - 1)));
  }
  if (n >= 1) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += state_.FrameResults[static_cast<std::size_t>(i)];
    host_.SetAverageLabel(AverageLabelText(sum / n));
  }
}

void Capture::Stop() {
  StopRecording();
  host_.ShowCommand3();
}

void Capture::Unload() {
  if (state_.hWaveIn != 0) StopRecording();
}

}  // namespace fc
