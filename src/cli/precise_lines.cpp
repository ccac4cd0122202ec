#include "cli/precise_lines.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "analysis/precise_compare.h"

namespace fc {
namespace {

std::string Significant(double value, int digits) {
  char text[48];
  std::snprintf(text, sizeof text, "%#.*g", digits, value);
  return text;
}

}  // namespace

void AddPreciseOptions(CLI::App& command, PreciseOptions& options) {
  command.add_flag("--precise", options.lines,
                   "After each frame line print the edge timer's reading of the frame, timed at "
                   "the input's own rate: '  precise PERIOD_S ± U_S  EDGES edges  RPM rpm', "
                   "where U is the expanded uncertainty (twice the standard uncertainty, about "
                   "95 %); periods are in seconds of the sound card's clock unless --rate-ppm "
                   "corrects them");
  command
      .add_option("--rate-ppm", options.rate_ppm,
                  "Correct the precise readings by your calibration of the sound card's clock: "
                  "its sample rate in parts per million above nominal (negative when slow); "
                  "the readings are then in seconds of true time")
      ->check(CLI::Range(-100000.0, 100000.0));
}

std::string PreciseLine(const PreciseReading& reading, double frame_period_s,
                        const PreciseOptions& options) {
  if (!reading.has_reading) {
    return reading.no_signal ? "  precise no signal\n" : "  precise no reading\n";
  }
  const PreciseReading shown = CorrectedForRate(reading, options.rate_ppm);
  const double rpm = 60.0 / (shown.period_s * options.pulses_per_rev);
  std::string line = "  precise " + Significant(shown.period_s, 6) + " \u00b1 " +
                     Significant(ExpandedUncertainty(shown), 2) + " s  " +
                     std::to_string(shown.edges) + " edges  " + Significant(rpm, 6) + " rpm";
  if (FrameReadingDisagrees(frame_period_s, reading)) line += "  frame reading disagrees";
  return line + "\n";
}

std::string DisagreementText(int64_t frame, const PreciseReading& reading, double frame_period_s,
                             const PreciseOptions& options) {
  if (!FrameReadingDisagrees(frame_period_s, reading)) return "";
  const PreciseReading shown = CorrectedForRate(reading, options.rate_ppm);
  std::string text = "frame " + std::to_string(frame) +
                     ": frame reading disagrees: the frame "
                     "detector reads ";
  text += frame_period_s > 0.0 ? Significant(frame_period_s, 4) + " s" : std::string("nothing");
  text += " and the edge timer " + Significant(shown.period_s, 6) +
          " s; the edge timer's reading is the one to use (the frame detector sees the signal "
          "averaged to 256 points per second and reads a fast train as a multiple of its "
          "period, or not at all).\n";
  return text;
}

void AfterFrameLine(const MeasurementState& state, int frame, double frame_period_s,
                    const PreciseOptions& options, std::ostream* out, std::ostream* explain) {
  const int row = std::clamp<int>(state.CurrentFrame, 0, kLastFrame);
  const PreciseReading& reading = state.PreciseResults[static_cast<std::size_t>(row)];
  // Each as its frame is analysed, as the frame line before it.
  if (options.lines && out != nullptr)
    *out << PreciseLine(reading, frame_period_s, options) << std::flush;
  if (explain != nullptr) *explain << DisagreementText(state.RunFrame(frame), reading, frame_period_s, options);
}

void ReportCardClock(const std::optional<CardRateMeter::Rate>& measured,
                     const PreciseOptions& options, std::ostream& err) {
  if (measured) {
    char text[96];
    std::snprintf(text, sizeof text, "%+.0f ppm (within %.0f ppm, over %.0f s)", measured->ppm,
                  measured->bound_ppm, measured->span_s);
    err << "Sound card's sample rate against the system's monotonic clock: " << text
        << "; the precise readings are in seconds of the card's clock unless --rate-ppm "
           "corrects them.\n";
  }
  if (options.rate_ppm != 0.0) {
    char text[32];
    std::snprintf(text, sizeof text, "%+g", options.rate_ppm);
    err << "Precise readings corrected by " << text << " ppm (--rate-ppm).\n";
  }
}

}  // namespace fc
