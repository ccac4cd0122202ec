#pragma once

#include "analysis/measurement_state.h"
#include "capture/capture.h"
#include "capture/host.h"

namespace fc {

inline constexpr double kStopGraceSeconds = 1.0;

// The capture's host without a window (the batch recorder, the benchmark): there are no buttons
// to enable and no input to wait for; the run stops after `frames` frames of the run (0: not
// before the capture ends it) or when StopRequested says so, and otherwise goes on after
// BetweenFrames. Messages and the average label are the subclass's.
class HeadlessHost : public Host {
 public:
  HeadlessHost(MeasurementState& state, int frames) : state_(state), frames_(frames) {}

  void Attach(Capture& capture) { capture_ = &capture; }

  void ProcessPendingInput() override {
    if (capture_ == nullptr || !capture_->Recording()) return;
    const bool enough = frames_ > 0 && state_.RunFrame(state_.CurrentFrame) >= frames_;
    if (enough || StopRequested()) {
      StopRun();
    } else {
      BetweenFrames(state_);
    }
  }
  // A stop asked for while a frame is awaited gives the input about a second more to finish that
  // frame; then the run ends without it, so that an input that has stopped delivering (a frozen
  // sound server) cannot hold the program until the time-out.
  void WaitBriefly() override {
    if (capture_ == nullptr || !capture_->Recording() || !StopRequested()) {
      stop_waits_ = 0;
      return;
    }
    if (++stop_waits_ * kWaitStepSeconds < kStopGraceSeconds) return;
    frame_dropped_ = true;
    StopRun();
  }
  // The run ended on a stop before the frame being recorded was finished.
  bool frame_dropped() const { return frame_dropped_; }
  void EndProgram() override { ending_ = true; }
  bool Ending() const override { return ending_; }
  void SetStartEnabled(bool) override {}
  void SetStopEnabled(bool) override {}
  void ShowCommand3() override {}
  void SetFileButtonsEnabled(bool) override {}

 protected:
  virtual bool StopRequested() { return false; }
  virtual void BeforeStop() {}
  // After a frame when the run goes on, with the run's state: the device holds no buffer here.
  virtual void BetweenFrames(const MeasurementState& /*state*/) {}

  // Ends the run now, as the Stop button does.
  void StopRun() {
    if (capture_ == nullptr || !capture_->Recording()) return;
    BeforeStop();
    capture_->Stop();
  }

 private:
  MeasurementState& state_;
  int frames_;
  Capture* capture_ = nullptr;
  bool ending_ = false;
  int stop_waits_ = 0;
  bool frame_dropped_ = false;
};

}  // namespace fc
