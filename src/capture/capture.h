#pragma once

#include <optional>
#include <string>

#include "analysis/display.h"
#include "analysis/measurement_state.h"
#include "analysis/message.h"
#include "capture/clock.h"
#include "capture/device_list.h"
#include "capture/host.h"
#include "capture/wave_input.h"

namespace fc {

inline constexpr double kFrameTimeoutSeconds = 5.0;
inline constexpr double kWaitStepSeconds = 0.015;  // sleep between two checks of the done flag
// Listing and opening run beside the window's thread; an answer slower than this keeps the
// window painted until it comes.
inline constexpr double kQuickAnswerSeconds = 0.1;

// The texts the capture shows.
Message OpenFailedMessage();  // "Wave input device didn't open!"
Message TimedOutQuestion();   // "Timed Out.  Continue?" Yes/No/Cancel
Message InputLostMessage();   // the device or the sound server went away during a run
Message BlockTimeMessage(float seconds_per_block);  // "Avg time per block = 4.125"
std::string AverageLabelText(double average);       // "Average = .3750"

// Told of a run's progress (the window keeps a journal of it). Called on the capture's thread.
class RunListener {
 public:
  virtual ~RunListener() = default;
  // The device opened: a new run begins at frame 0.
  virtual void RunStarted(const MeasurementState& state) = 0;
  // Frame `frame` was recorded and analysed; the next one is not queued yet.
  virtual void FrameAnalysed(const MeasurementState& state, int frame) = 0;
  // A run that goes on past the store has filled it (rows 0..1000, CurrentFrame 1001); the
  // store is cleared and starts again at row 0 right after this returns.
  virtual void StoreFilled(const MeasurementState& /*state*/) {}
};

// Start, the frame loop and Stop. Owns the one format record and the one buffer header; all
// other state lives in the MeasurementState. Runs on the window's thread only.
class Capture {
 public:
  Capture(MeasurementState& state, Display& display, WaveInput& input, Host& host, Clock& clock);
  // Resets and closes a device still open (the program ended without a stop), so that it never
  // writes into the frame store or the header after they are gone.
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // Fills the device table (see InitDevices in device_list.h) and returns it; the window
  // shows its names in DevicesBox and selects `selected`. Ends the program when it is empty.
  const DeviceList& InitDevices();
  const DeviceList& devices() const { return devices_; }

  // StartButton: opens the device at `selected_position` of the device list and records until
  // the run ends (returns then).
  void Start(int selected_position);
  // The frame loop; called by Start.
  void RecordFrames();
  // Closes the device (when a run is in progress), swaps the buttons, shows the stop report.
  void StopRecording();
  // StopButton: StopRecording, then Command3 is shown. Also ends the run after frame 1000,
  // unless the run continues past the store.
  void Stop();
  // The window's unload: stops a run still in progress. The window then reports Ending() so
  // that a frame loop waiting below returns without touching anything.
  void Unload();

  // Whether a run goes on past frame 1000, starting the store again at row 0 (off: the run
  // ends when the store is full). Taken at each Start.
  void SetContinuePastStore(bool on) { continue_past_store_ = on; }

  // Null for none.
  void SetRunListener(RunListener* listener) { listener_ = listener; }

  bool Recording() const { return state_.hWaveIn != 0; }
  const WaveFormat& format() const { return format_; }
  const WaveHeader& header() const { return header_; }
  // Sample pairs the device dropped during the last run (overruns), as it reported at the stop.
  uint64_t samples_lost() const { return samples_lost_; }
  // The card's sample rate against the monotonic clock over the last run, once it lasted 60 s
  // without a restart; none when the input dropped samples (card time then ran uncounted).
  std::optional<CardRateMeter::Rate> card_rate() const {
    if (samples_lost_ > 0) return std::nullopt;
    return card_rate_.Measured(kWaitStepSeconds);
  }

 private:
  void Queue();
  // DoneThenLost: the frame completed, and the device went away in the same poll.
  enum class WaitEnd { Done, DoneThenLost, TimedOutNo, Stopped, Lost, ProgramEnding };
  WaitEnd AwaitFrame();
  void RestartInput();
  void CloseInput();
  void ReportLoss();
  // The store is full and the run goes on: tells the listener, keeps what the stop report
  // needs of the store's frames, and starts the store again at row 0.
  void StartStoreAgain();
  // Runs `call` (a listing or an opening) on a thread of its own and waits for it as for a frame:
  // the window repaints but takes no input meanwhile.
  template <typename Call>
  auto WhileWaiting(Call call) -> decltype(call());

  MeasurementState& state_;
  Display& display_;
  WaveInput& input_;
  Host& host_;
  Clock& clock_;
  DeviceList devices_;
  WaveFormat format_;
  WaveHeader header_;
  double deadline_ = 0.0;  // monotonic seconds
  RunListener* listener_ = nullptr;
  uint64_t samples_lost_ = 0;
  CardRateMeter card_rate_;
  bool continue_past_store_ = false;
  // Of the stores before the current one, for the stop report: the sum of their periods, the
  // seconds from the run's first frame to the start of their last frame, and that start time
  // (a time of day).
  double sum_before_ = 0.0;
  double elapsed_before_ = 0.0;
  float last_start_before_ = 0.0f;
};

}  // namespace fc
