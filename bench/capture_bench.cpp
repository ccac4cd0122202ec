// Records a few frames through the capture loop and a sound input (PulseAudio, or ALSA with
// --audio alsa) and prints the processor time used while recording and the average time per
// block.
//
//   capture-bench [--audio pulse|alsa] [--server unix:/path/native] [--device N] [--frames N]
//                 [--period SECONDS] [--goal PERCENT]

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/display.h"
#include "analysis/measurement_state.h"
#include "capture/alsa/alsa_wave_input.h"
#include "capture/capture.h"
#include "capture/clock.h"
#include "capture/edge_timer.h"
#include "capture/headless_host.h"
#include "capture/pulse/pulse_wave_input.h"

namespace {

double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

class NullPicture : public fc::Picture {
 public:
  void Clear() override {}
  void DrawLine(double, double, double, double, std::optional<fc::Color>) override {}
};

class PrintingDisplay : public fc::Display {
 public:
  void SetFrameLabel(int index, const std::string& text) override {
    if (index == 1) std::printf("  frame: %s\n", text.c_str());
  }
  void AppendLog(const std::string&) override {}
  void ClearLog() override {}
  fc::Picture& Trace() override { return picture_; }
  fc::Picture& Scope() override { return picture_; }

 private:
  NullPicture picture_;
};

class PrintingDialogs : public fc::Dialogs {
 public:
  fc::MessageAnswer Show(const fc::Message& message) override {
    std::printf("  message: %s\n", message.text.c_str());
    // A time-out ends the run: there is nobody to answer.
    return message.buttons == fc::MessageButtons::Ok ? fc::MessageAnswer::Ok
                                                     : fc::MessageAnswer::No;
  }
  std::string Ask(const std::string&, const std::string&, const std::string&) override {
    return "";
  }
};

// The system clock, with the start time of every frame noted in full precision and the
// processor time at the first one.
class BenchClock : public fc::SystemClock {
 public:
  double SecondsSinceMidnight() override {
    const double now = MonotonicSeconds();
    if (frame_starts.empty()) processor_at_start = ProcessorSeconds();
    frame_starts.push_back(now);
    return fc::SystemClock::SecondsSinceMidnight();
  }
  std::vector<double> frame_starts;
  double processor_at_start = 0.0;
};

class BenchHost : public fc::HeadlessHost {
 public:
  BenchHost(fc::MeasurementState& state, BenchClock& clock, int frames)
      : fc::HeadlessHost(state, frames), clock_(clock) {}

  fc::Dialogs& dialogs() override { return dialogs_; }
  void SetAverageLabel(const std::string& text) override {
    std::printf("  label: %s\n", text.c_str());
  }

  double processor_at_end = 0.0;
  double time_at_end = 0.0;

 protected:
  void BeforeStop() override {
    processor_at_end = ProcessorSeconds();
    time_at_end = clock_.MonotonicSeconds();
  }

 private:
  BenchClock& clock_;
  PrintingDialogs dialogs_;
};

int Usage() {
  std::fprintf(
      stderr,
      "usage: capture-bench [--audio pulse|alsa] [--server SERVER] [--device N] [--frames N] "
      "[--period SECONDS] [--goal PERCENT]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  fc::PulseWaveInput::Options options;
  int device = 0;
  int frames = 3;
  double period = 0.0;
  double goal = 2.0;  // percent of one core
  std::string audio = "pulse";
  fc::AlsaWaveInput::Options alsa_options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    const char* value = argv[++i];
    if (arg == "--server") {
      options.server = value;
    } else if (arg == "--device") {
      device = std::atoi(value);
    } else if (arg == "--frames") {
      frames = std::atoi(value);
    } else if (arg == "--fragment-us") {
      options.fragment = std::chrono::microseconds(std::atoi(value));
    } else if (arg == "--period") {
      period = std::atof(value);
    } else if (arg == "--alsa-period-us") {
      alsa_options.period = std::chrono::microseconds(std::atoi(value));
    } else if (arg == "--alsa-buffer-us") {
      alsa_options.buffer = std::chrono::microseconds(std::atoi(value));
    } else if (arg == "--goal") {
      goal = std::atof(value);
    } else if (arg == "--audio" &&
               (std::strcmp(value, "pulse") == 0 || std::strcmp(value, "alsa") == 0)) {
      audio = value;
    } else {
      return Usage();
    }
  }
  if (frames < 2 || frames > fc::kFrameCount) return Usage();

  fc::MeasurementState state;
  fc::UpdateConsecutive(state);
  PrintingDisplay display;
  BenchClock clock;
  BenchHost host(state, clock, frames);
  fc::PulseWaveInput pulse_input(options);
  fc::AlsaWaveInput alsa_input(alsa_options);
  fc::WaveInput& input = audio == "alsa" ? static_cast<fc::WaveInput&>(alsa_input) : pulse_input;
  fc::Capture capture(state, display, input, host, clock);
  host.Attach(capture);

  const fc::DeviceList& devices = capture.InitDevices();
  if (devices.empty() || device < 0 || device >= static_cast<int>(devices.names.size())) {
    std::fprintf(stderr, "capture-bench: no input device %d\n", device);
    return 1;
  }
  std::printf("recording %d frames from \"%s\"\n", frames, devices.names[device].c_str());
  capture.Start(device);

  if (state.CurrentFrame < frames || clock.frame_starts.size() < static_cast<size_t>(frames)) {
    std::fprintf(stderr, "capture-bench: the run ended after %d frames\n", state.CurrentFrame);
    return 1;
  }
  const double wall = host.time_at_end - clock.frame_starts.front();
  const double processor = host.processor_at_end - clock.processor_at_start;
  const double percent = 100.0 * processor / wall;
  const double per_block =
      (clock.frame_starts[static_cast<size_t>(frames - 1)] - clock.frame_starts.front()) /
      (frames - 1);
  const double block_error = 100.0 * (per_block / 4.0 - 1.0);

  std::printf(
      "processor time while recording: %.2f %% of one core (%.3f s in %.3f s; goal <= %g %%)%s\n",
      percent, processor, wall, goal, percent <= goal ? "" : "  ABOVE GOAL");
  std::printf("average time per block: %.4f s (%+.2f %% from 4.000 s; goal within 1 %%)%s\n",
              per_block, block_error, std::fabs(block_error) <= 1.0 ? "" : "  OUTSIDE GOAL");
  // The edge timer's part of that figure: the timer alone on as many 48 kHz samples as the run
  // took, of a noisy 7 Hz train at 20 % of full scale.
  {
    const auto count = static_cast<size_t>(48000.0 * wall);
    std::vector<float> first(count);
    uint32_t noise = 1;
    for (size_t n = 0; n < count; ++n) {
      noise = noise * 1664525u + 1013904223u;
      const double level = (n % 6857) < 3428 ? 0.2 : -0.2;
      first[n] =
          static_cast<float>(level + (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * 0.035);
    }
    fc::EdgeTimer timer(48000);
    const double start = ProcessorSeconds();
    for (const float sample : first) timer.Feed(sample);
    const fc::PreciseReading reading = timer.EndFrame();
    const double timer_percent = 100.0 * (ProcessorSeconds() - start) / wall;
    std::printf("edge timer at 48 kHz: %.3f %% of one core (goal <= 0.3 %%; %d edges timed)%s\n",
                timer_percent, reading.edges, timer_percent <= 0.3 ? "" : "  ABOVE GOAL");
  }
  std::printf("samples lost to overruns: %llu\n",
              static_cast<unsigned long long>(capture.samples_lost()));
  if (period > 0.0) {
    int right = 0;
    for (int f = 0; f < frames; ++f)
      right += std::fabs(state.FrameResults[f] - period) < 1e-9 ? 1 : 0;
    std::printf("frames measuring %.4f s: %d of %d\n", period, right, frames);
  }
  return 0;
}
