#include "capture/edge_timer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "capture/block_averager.h"
#include "capture/buffer_filler.h"
#include "capture/pulse_restorer.h"
#include "pulse/ac_train.h"

namespace fc {
namespace {

using testing::AcTrain;

struct Filled {
  std::vector<PreciseReading> readings;
  std::vector<uint8_t> bytes;  // every completed frame, in order
};

// Pushes stereo `samples` through a filler in pieces of 10 ms, queueing the next frame only
// after the piece that completed the last one, as a backend's callback and the capture loop do.
Filled Fill(const std::vector<float>& samples, uint32_t rate, bool restore) {
  const uint32_t length = 2 * kCaptureBufferSize;
  BufferFiller filler(rate, static_cast<uint32_t>(kCaptureRate), 2, 64, restore);
  std::vector<uint8_t> data(length);
  WaveHeader header;
  header.data = data.data();
  header.buffer_length = length;
  filler.Queue(header);
  Filled out;
  const size_t piece = rate / 100;
  for (size_t f = 0; f < samples.size() / 2; f += piece) {
    filler.Push(samples.data() + 2 * f, std::min(piece, samples.size() / 2 - f));
    if (header.Done()) {
      out.readings.push_back(header.precise);
      out.bytes.insert(out.bytes.end(), data.begin(), data.end());
      filler.Queue(header);
    }
  }
  return out;
}

// Generated trains of known period through the filler: every frame that closes an interval
// reads the period within the bound, with an uncertainty and a consistent set of intervals, and
// the frames' bytes are those of the averaging alone.
TEST(EdgeTimerTest, ReadsGeneratedTrainsWithinTheirBounds) {
  const struct {
    const char* name;
    double period_s, duty, level, noise, corner, edge;
    uint32_t rate;
    bool restore;
    int frames, readings;
    double bound;
  } trains[] = {
      {"DC 1/7 s", 1.0 / 7, 0.5, 0.99, 0, 0, 3, 48000, false, 3, 3, 2e-6},
      {"DC 0.1234567 s", 0.1234567, 0.5, 0.99, 0, 0, 3, 48000, false, 3, 3, 2e-6},
      {"DC 0.2 ms", 0.0002, 0.5, 0.99, 0, 0, 3, 48000, false, 3, 3, 2e-6},
      {"DC 44.1 kHz", 0.1234567, 0.5, 0.99, 0, 0, 3, 44100, false, 3, 3, 2e-6},
      {"duty 5 %", 1.0 / 7, 0.05, 0.99, 0, 0, 3, 48000, false, 3, 3, 2e-6},
      {"duty 95 %", 1.0 / 7, 0.95, 0.99, 0, 0, 3, 48000, false, 3, 3, 2e-6},
      {"20 % with noise", 0.1234567, 0.5, 0.2, 0.01, 0, 3, 48000, false, 3, 3, 2e-5},
      {"5 % level", 0.05, 0.3, 0.05, 0.002, 0, 3, 48000, false, 3, 3, 2e-5},
      {"AC-coupled 50 ms", 0.05, 0.5, 0.2, 0.01, 50, 0, 48000, true, 3, 3, 1e-4},
      {"AC-coupled 0.3 s", 0.3, 0.25, 0.2, 0.01, 50, 0, 48000, true, 3, 3, 1e-4},
      // Too fast for the restorer: read on the input itself.
      {"AC-coupled 2 ms", 0.002, 0.5, 0.2, 0.01, 50, 0, 48000, true, 3, 3, 1e-4},
      // Pulses going low: on the restored input the first frame ends with few edges.
      {"AC-coupled 0.5 s, duty 95 %", 0.5, 0.95, 0.2, 0.01, 50, 0, 48000, true, 3, 3, 1e-4},
      // Few edges a frame: timing to the nearest sample would be off by some 3e-6.
      {"DC 1.23456789 s", 1.23456789, 0.5, 0.99, 0, 0, 3, 48000, false, 3, 3, 2e-6},
      // The first frame too, though its last rising edge is the only one timed in it.
      {"DC 1.9876543 s", 1.9876543, 0.5, 0.99, 0, 0, 3, 48000, false, 3, 3, 2e-6},
      // Short pulses: the first frame has a second rising edge only if the edge the trigger
      // arms on is timed too.
      {"DC 1.987654 s, duty 5 %", 1.987654, 0.05, 0.99, 0, 0, 3, 48000, false, 3, 3, 2e-6},
      {"20 % with noise, 1.987654 s, duty 5 %", 1.987654, 0.05, 0.2, 0.01, 0, 3, 48000, false, 3, 3,
       2e-5},
      // Rising edges at 1.36 s (the trigger arms on it), 6.79, 12.22 and 17.65 s: frames 3 and
      // 4 each close an interval opened in an earlier frame.
      {"longer than a frame", 5.43211, 0.5, 0.99, 0, 0, 3, 48000, false, 5, 2, 2e-6},
  };
  for (const auto& t : trains) {
    SCOPED_TRACE(t.name);
    AcTrain train;
    train.period_points = t.period_s * kCaptureRate;
    train.duty = t.duty;
    train.level = t.level;
    train.noise_rms = t.noise;
    train.corner_hz = t.corner;
    train.edge_samples = t.edge;
    train.rate = t.rate;
    const std::vector<float> samples = train.Samples(t.frames);
    const Filled filled = Fill(samples, t.rate, t.restore);
    ASSERT_EQ(filled.readings.size(), static_cast<size_t>(t.frames));
    int readings = 0;
    for (size_t f = 0; f < filled.readings.size(); ++f) {
      const PreciseReading& r = filled.readings[f];
      EXPECT_FALSE(r.no_signal) << "frame " << f;
      if (!r.has_reading) continue;
      ++readings;
      const double error = std::abs(r.period_s - t.period_s);
      EXPECT_LE(error / t.period_s, t.bound) << "frame " << f;
      // The first reading, with no earlier frame to tell the timing noise, does not claim to be
      // surer than it is.
      if (readings == 1) {
        EXPECT_LE(error, 2.0 * r.uncertainty_s) << "frame " << f;
      }
      EXPECT_GT(r.uncertainty_s, 0.0) << "frame " << f;
      EXPECT_LT(r.uncertainty_s, t.bound * t.period_s) << "frame " << f;
      EXPECT_GE(r.edges, 2) << "frame " << f;
      // Every single interval is the period to within a few samples: no edge missed or doubled.
      EXPECT_NEAR(r.shortest_s, t.period_s, 3.0 / t.rate) << "frame " << f;
      EXPECT_NEAR(r.longest_s, t.period_s, 3.0 / t.rate) << "frame " << f;
    }
    EXPECT_EQ(readings, t.readings);

    // The frame detector sees exactly what the averaging alone gives.
    std::vector<float> input = samples;
    if (t.restore) PulseRestorer(t.rate).RestoreFirstChannel(input.data(), input.size() / 2, 2);
    std::vector<uint8_t> averaged;
    BlockAverager(t.rate, static_cast<uint32_t>(kCaptureRate), 2)
        .Push(input.data(), input.size() / 2,
              [&](const uint8_t* pair) { averaged.insert(averaged.end(), pair, pair + 2); });
    averaged.resize(filled.bytes.size());
    EXPECT_TRUE(filled.bytes == averaged) << "the frame bytes differ from the averaging alone";

    // The leading edges are timed: falling ones when the pulses go low.
    EdgeTimer timer(t.rate);
    for (size_t i = 0; i < samples.size(); i += 2) timer.Feed(samples[i]);
    if (!t.restore) {
      EXPECT_EQ(timer.TimesFallingEdges(), t.duty > 0.5);
    }
  }

  // A quiet input: no reading, and "no signal" once 60 s have passed without an edge.
  AcTrain silence;
  silence.level = 0.0;
  silence.noise_rms = 0.002;
  silence.corner_hz = 0;
  const Filled filled = Fill(silence.Samples(17), silence.rate, false);
  ASSERT_EQ(filled.readings.size(), 17u);
  for (size_t f = 0; f < filled.readings.size(); ++f) {
    EXPECT_FALSE(filled.readings[f].has_reading) << "frame " << f;
    EXPECT_EQ(filled.readings[f].no_signal, (f + 1) * 4 > 60) << "frame " << f;
  }
}

}  // namespace
}  // namespace fc
