#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/precise_reading.h"

namespace fc {

// Times the pulses of the first channel at the input's own rate, beside the frame detector that
// sees them only averaged down. A trigger with hysteresis switches at 25 % and 75 % of the span
// between the signal's recent low and high levels (each follows a new extreme at once and lets
// go of it while the signal is at that level), so any level from 5 % to full scale works
// without a setting; an edge
// is timed where the signal crosses the middle of that span, by linear interpolation between the
// two samples around it. It times the leading edges of the pulses, the start of the shorter part
// of the period: rising ones, or falling ones when the signal is high for more than 55 % of its
// first period, switching later only when the mean duty passes 60 % (or back below 40 %), so a
// train near 50 % duty keeps its choice. The edge the trigger arms on comes before the levels
// are known: its samples are kept and it is timed at the next edge of its polarity, with the
// levels the later edges are timed with, when the signal sat at the level it left before it.
//
// Frames: EndFrame() closes the frame at the last sample fed and reads the period from the
// edges in it, together with the last edge of an earlier frame (within kMaxPeriodSeconds), so
// that a period longer than a frame is read in the frame where it closes. A frame whose chosen
// edges close no interval (the first of a slow train) reads the two last edges of the other
// polarity when both lie in it and the duty is near half, or else, at any duty, the arming edge
// with the first chosen edge when the arming edge is of the chosen polarity.
class EdgeTimer {
 public:
  static constexpr double kMaxPeriodSeconds = 60.0;
  static constexpr double kNoSignalSeconds = 60.0;

  explicit EdgeTimer(uint32_t rate);

  // One first-channel sample (-1..1).
  void Feed(float sample) {
    if (armed_ && ready_) {
      Trigger(sample);
    } else {
      Arm(sample);
    }
    Track(sample);
    previous_ = sample;
    ++fed_;
  }

  // A hole in the input of `samples` samples: time passes, and no interval spans it.
  void Gap(size_t samples);

  // Closes the frame at the last sample fed and starts the next one there.
  PreciseReading EndFrame();
  // Drops the edges of the open frame; the next frame starts at the next sample. The last edge
  // before it is kept, for the interval that straddles the boundary.
  void RestartFrame();

  bool TimesFallingEdges() const { return falling_; }

 private:
  void Arm(float sample);
  void Trigger(float sample);
  void Track(float sample);
  void NoteNoise(float sample);
  void TimeArmingEdge();
  void Rising(double time);
  void Falling(double time);
  // Folds in the duty of a period just closed; true when it (re)chose the polarity and gave the
  // timer the edges it already had of the one chosen.
  bool UpdateDuty(double duty);
  void Emit(double time);
  void SwitchTo(bool falling);

  bool SpanSuffices(double span) const;

  double rate_;
  double own_release_;    // per-sample weights with which a level lets go of an extreme
  double other_release_;
  double noise_weight_;
  double noise_;  // mean sample-to-sample step between edges
  uint64_t fed_ = 0;
  bool ready_ = false;  // the levels have seen a sample
  bool armed_ = false;  // the trigger knows whether the signal is high or low
  bool high_ = false;
  float previous_ = 0.0f;
  double low_ = 0.0;
  double high_level_ = 0.0;
  double crossing_ = -1.0;  // time of the last crossing of the middle, < 0: none yet
  double step_ = 0.0;       // the sample-to-sample step across the last crossing

  // The samples of the edge that armed the trigger: some before it, from the ring the unarmed
  // trigger keeps, and the ones after it, up to the array's size.
  static constexpr size_t kLeadSamples = 16;
  std::array<float, kLeadSamples> lead_{};
  uint64_t lead_from_ = 0;  // the first sample in the ring that follows the last gap
  std::array<float, 128> arming_edge_{};
  size_t arming_size_ = 0;
  uint64_t arming_start_ = 0;  // sample number of arming_edge_[0]
  bool arming_pending_ = false;
  bool arming_rising_ = false;
  double arming_time_ = -1.0;  // its time once timed, < 0: none

  // The last two edges of each polarity (< 0: none), and the last edge of either.
  double rises_[2] = {-1.0, -1.0};
  double falls_[2] = {-1.0, -1.0};
  double last_edge_ = 0.0;  // the start counts as one for the no-signal time-out

  bool decided_ = false;
  bool falling_ = false;
  double duty_ = 0.5;

  double frame_start_ = 0.0;
  double before_ = -1.0;  // the last timed edge before the open frame, < 0: none
  std::vector<double> edges_;

  // Per-edge timing variance pooled over recent frames (in samples squared), for frames with
  // too few edges to tell it themselves.
  double pooled_variance_ = 0.0;
  double pooled_dof_ = 0.0;
};

// Of two timers' readings of the same frame, the sounder one: the only one there is, or the one
// with the smaller uncertainty, `first` on a tie. A reading that missed or doubled an edge has a
// large scatter about its fit or fewer edges, so it is the less certain. Without a reading,
// "no signal" only when neither timer saw an edge.
PreciseReading SounderReading(const PreciseReading& first, const PreciseReading& second);

}  // namespace fc
