#include "capture/pulse_restorer.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "capture/clock.h"
#include "capture/pulse/pulse_wave_input.h"
#include "cli/cli_app.h"
#include "pulse/ac_train.h"
#include "pulse/private_server.h"

namespace fc {
namespace {

using testing::AcTrain;
using testing::FramePeriods;

constexpr int kFrames = 3;

// Trains across the working range, each read on every frame through restorer, averager and
// detector to within one point of its period.
TEST(PulseRestorerTest, RestoredTrainsReadTheirPeriodOnEveryFrame) {
  const struct {
    double period, duty, level, noise, corner;
  } trains[] = {
      {100, 0.5, 0.2, 0.005, 50},  // the microphone input of the recording test
      {13, 0.5, 0.2, 0.005, 200},  // the shortest period, the steepest corner
      {20, 0.25, 0.05, 0.0, 100},  // the lowest level
      {50, 0.1, 0.2, 0.01, 5},     // a short pulse through the slowest corner
      {100, 0.9, 1.0, 0.02, 20},   // saturating, with the most noise
      {250, 0.75, 0.5, 0.01, 10}, {500, 0.25, 0.1, 0.005, 200},
      {100, 0.5, 1.0, 0.0, 0},  // DC-coupled trains pass unharmed
      {20, 0.5, 0.2, 0.005, 0},
  };
  for (const auto& t : trains) {
    AcTrain train;
    train.period_points = t.period;
    train.duty = t.duty;
    train.level = t.level;
    train.noise_rms = t.noise;
    train.corner_hz = t.corner;
    SCOPED_TRACE(::testing::Message() << "period " << t.period << " duty " << t.duty << " level "
                                      << t.level << " noise " << t.noise << " corner " << t.corner);
    const auto restored = FramePeriods(train.Samples(kFrames), train.rate, kFrames, true);
    ASSERT_EQ(restored.size(), static_cast<size_t>(kFrames));
    for (int f = 0; f < kFrames; ++f) {
      EXPECT_NEAR(restored[f], t.period / kCaptureRate, 1.0 / kCaptureRate + 1e-9) << "frame " << f;
    }
    if (t.corner > 0 && t.level < 1.0) {
      // Without the restorer the same input reads nothing.
      for (double period : FramePeriods(train.Samples(kFrames), train.rate, kFrames, false)) {
        EXPECT_EQ(period, 0.0);
      }
    }
  }

  // An input without a signal, only noise, stays still: no pulse in any frame, and the
  // restored first channel does not move.
  AcTrain silence;
  silence.level = 0.0;
  silence.noise_rms = 0.02;
  std::vector<float> samples = silence.Samples(kFrames);
  for (double period : FramePeriods(samples, silence.rate, kFrames, true)) EXPECT_EQ(period, 0.0);
  PulseRestorer(silence.rate).RestoreFirstChannel(samples.data(), samples.size() / 2, 2);
  int changes = 0;
  for (size_t i = 2; i < samples.size(); i += 2) changes += samples[i] != samples[i - 2] ? 1 : 0;
  EXPECT_EQ(changes, 0);
}

// Through the private sound server and the batch program: a 100-point train at 20 % of full
// scale behind a 50 Hz high-pass, as a microphone input gives it.
TEST(PulseRestorerTest, RecordingOfAnAcCoupledInputReadsRightOnlyWithTheRestorer) {
  AcTrain train;  // 100 points, half high, 20 %, 50 Hz
  train.noise_rms = 0.005;
  const auto period_samples =
      static_cast<size_t>(std::lround(train.period_points * train.rate / kCaptureRate));
  const std::vector<float> pairs = train.Pairs(period_samples);
  const std::filesystem::path period_file =
      std::filesystem::temp_directory_path() / ("fc-ac-train-" + std::to_string(getpid()) + ".u8");
  {
    std::ofstream out(period_file, std::ios::binary);
    for (size_t i = 0; i < pairs.size(); i += 2) {
      out.put(static_cast<char>(BlockAverager::ToUnsigned8(pairs[i])));
    }
  }
  testing::PrivateServer server;
  const bool started = server.StartPlaying(period_file.string());
  std::filesystem::remove(period_file);
  if (!started) {
    if (testing::PrivateServer::required()) FAIL() << server.problem();
    GTEST_SKIP() << server.problem();
  }

  SystemClock clock;
  SoundEnvironment sound;
  sound.clock = &clock;
  sound.make_input = [&](AudioBackend) {
    PulseWaveInput::Options options;
    options.server = server.address();
    return std::make_unique<PulseWaveInput>(options);
  };
  const auto record = [&](std::vector<const char*> args, std::string& err) {
    std::ostringstream out;
    std::ostringstream errors;
    args.insert(args.begin(), "frequency-counter-cli");
    EXPECT_EQ(RunCli(static_cast<int>(args.size()), args.data(), out, errors, sound), kExitOk)
        << errors.str();
    err = errors.str();
    return out.str();
  };

  std::string err;
  EXPECT_EQ(record({"record", "--frames", "1"}, err), " 0   .0000   .000\n");
  EXPECT_EQ(err.find("Pulse restorer"), std::string::npos) << err;
  EXPECT_EQ(record({"record", "--restore-pulses", "--frames", "3"}, err),
            " 0   .3906   .000\n 1   .3906   .000\n 2   .3906   .000\n");
  EXPECT_NE(err.find("Pulse restorer: on"), std::string::npos) << err;
}

}  // namespace
}  // namespace fc
