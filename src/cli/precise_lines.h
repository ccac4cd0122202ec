#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "analysis/measurement_state.h"
#include "analysis/precise_reading.h"
#include "capture/clock.h"

namespace CLI {
class App;
}

namespace fc {

// The edge timer's readings in the batch program: the `--precise` line after each frame line,
// the disagreement told by `--explain`, and the card's clock in the stop report.
struct PreciseOptions {
  bool lines = false;           // --precise
  double pulses_per_rev = 1.0;  // --pulses-per-rev, as the monitoring options read it
  double rate_ppm = 0.0;        // --rate-ppm: the user's calibration of the card's clock
};

// --precise and --rate-ppm (--pulses-per-rev is the monitoring options', shared).
void AddPreciseOptions(CLI::App& command, PreciseOptions& options);

// "  precise 0.0400000 ± 2.4e-08 s  101 edges  1500.00 rpm", with "  frame reading disagrees"
// at the end when the frame detector's period is more than 2 % away; "  precise no reading" or
// "  precise no signal" for a frame the timer did not read. LF at the end. The ± is the
// expanded uncertainty (twice the standard uncertainty).
std::string PreciseLine(const PreciseReading& reading, double frame_period_s,
                        const PreciseOptions& options);

// The sentence `--explain` gives for a frame whose readings disagree; empty when they agree.
std::string DisagreementText(int64_t frame, const PreciseReading& reading, double frame_period_s,
                             const PreciseOptions& options);

// After the frame line of `frame` (its reading is in the state's current row): the precise
// line on `out` with --precise (flushed), and the disagreement on `explain` when given.
void AfterFrameLine(const MeasurementState& state, int frame, double frame_period_s,
                    const PreciseOptions& options, std::ostream* out, std::ostream* explain);

// The stop report's line on the card's clock: its rate against the monotonic clock when the
// run lasted long enough to tell, and the correction applied.
void ReportCardClock(const std::optional<CardRateMeter::Rate>& measured,
                     const PreciseOptions& options, std::ostream& err);

}  // namespace fc
