// The edge timer's accuracy and cost: generated trains of known period pushed through the
// buffer filler as a backend pushes them, the worst relative error of a frame's period against
// the goal of each kind of train, how often the reported uncertainty covers the true error, and
// the timer's processor time per second of 48 kHz stereo input.
//
//   edge-timer-bench [--cli FREQUENCY_COUNTER_CLI WORK_DIR]
// With --cli each train is written as a 16-bit WAV file into WORK_DIR and read back by
// `analyze-audio --precise --jsonl` (with --restore-pulses for the AC-coupled rows) instead,
// whose JSON numbers carry the full double: the same goals hold end to end.
// Goals: a full-scale DC square with its edges between samples 2e-6 (and a reading in every
// frame up to 2 s); 20 % of full scale with 1 % RMS noise 2e-5; AC-coupled through a 50 Hz
// one-pole high-pass (20 %, 1 % noise) with the pulse restorer 1e-4; uncertainty (k = 2)
// covering the error in 95 % of frames; at most 3 ms of processor time per second of input
// (0.3 % of a core) for the timers, the two that --restore-pulses runs included.

#include <time.h>

#include <sndfile.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/measurement_state.h"
#include "capture/buffer_filler.h"
#include "capture/edge_timer.h"
#include "capture/pulse_restorer.h"
#include "pulse/ac_train_samples.h"

namespace {

using fc::testing::AcTrain;

double ProcessorMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

std::vector<fc::PreciseReading> Fill(const std::vector<float>& samples, uint32_t rate,
                                     bool restore) {
  const uint32_t length = 2 * fc::kCaptureBufferSize;
  fc::BufferFiller filler(rate, static_cast<uint32_t>(fc::kCaptureRate), 2, 64, restore);
  std::vector<uint8_t> data(length);
  fc::WaveHeader header;
  header.data = data.data();
  header.buffer_length = length;
  filler.Queue(header);
  std::vector<fc::PreciseReading> readings;
  const size_t piece = rate / 100;
  for (size_t f = 0; f < samples.size() / 2; f += piece) {
    filler.Push(samples.data() + 2 * f, std::min(piece, samples.size() / 2 - f));
    if (header.Done()) {
      readings.push_back(header.precise);
      filler.Queue(header);
    }
  }
  return readings;
}

// The train as a 16-bit stereo WAV, through analyze-audio --precise --jsonl: one reading per
// frame object. Empty when the file could not be written or the program not run.
std::vector<fc::PreciseReading> ViaCli(const std::string& cli, const std::string& dir,
                                       const std::vector<float>& samples, uint32_t rate,
                                       bool restore) {
  const std::string path = dir + "/edge-timer-train.wav";
  SF_INFO info{};
  info.samplerate = static_cast<int>(rate);
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return {};
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size() / 2));
  sf_close(file);
  const std::string command = "'" + cli + "' analyze-audio --precise --jsonl" +
                              (restore ? " --restore-pulses" : "") + " '" + path + "' 2>/dev/null";
  FILE* out = ::popen(command.c_str(), "r");
  if (out == nullptr) return {};
  std::vector<fc::PreciseReading> readings;
  std::string line;
  char piece[4096];
  while (std::fgets(piece, sizeof piece, out) != nullptr) {
    line += piece;
    if (line.back() != '\n') continue;
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    line.clear();
    if (!j.is_object() || !j.contains("frame")) continue;  // the summary, or not JSON
    fc::PreciseReading r;
    const nlohmann::json& precise = j["precise"];
    if (precise.is_object()) {
      r.has_reading = true;
      r.period_s = precise.value("period_s", 0.0);
      r.uncertainty_s = precise.value("uncertainty_s", 0.0);
      r.edges = precise.value("edges", 0);
    }
    readings.push_back(r);
  }
  ::pclose(out);
  std::remove(path.c_str());
  return readings;
}

struct Row {
  const char* kind;
  double period_s;
  double duty = 0.5;
  uint32_t rate = 48000;
};

struct Kind {
  const char* name;
  double level, noise, corner, edge;
  bool restore;
  double goal;
};

constexpr Kind kKinds[] = {
    {"DC full scale", 0.99, 0.0, 0.0, 3.0, false, 2e-6},
    {"DC 20 %, 1 % noise", 0.2, 0.01, 0.0, 3.0, false, 2e-5},
    {"AC 50 Hz, restored", 0.2, 0.01, 50.0, 3.0, true, 1e-4},
};

const Kind& KindOf(const char* name) {
  for (const Kind& k : kKinds) {
    if (std::string_view(k.name) == name) return k;
  }
  return kKinds[0];
}

}  // namespace

int main(int argc, char** argv) {
  std::string cli;
  std::string work;
  if (argc == 4 && std::string_view(argv[1]) == "--cli") {
    cli = argv[2];
    work = argv[3];
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: edge-timer-bench [--cli FREQUENCY_COUNTER_CLI WORK_DIR]\n");
    return 2;
  }
  const Row rows[] = {
      // Periods of a fractional number of samples, so that no edge falls on a sample.
      {"DC full scale", 0.0002},        {"DC full scale", 0.00123457},
      {"DC full scale", 0.0123457},     {"DC full scale", 1.0 / 7},
      {"DC full scale", 0.1234567},     {"DC full scale", 0.5123457},
      {"DC full scale", 1.9876543},     {"DC full scale", 19.876543},
      {"DC full scale", 1.0 / 7, 0.05}, {"DC full scale", 1.0 / 7, 0.95},
      {"DC full scale", 1.987654, 0.05}, {"DC full scale", 1.987654, 0.95},
      {"DC full scale", 0.0002, 0.5, 44100}, {"DC full scale", 1.0 / 7, 0.5, 96000},
      {"DC 20 %, 1 % noise", 0.0002},   {"DC 20 %, 1 % noise", 0.0123457},
      {"DC 20 %, 1 % noise", 0.1234567}, {"DC 20 %, 1 % noise", 1.9876543},
      {"DC 20 %, 1 % noise", 0.1234567, 0.05}, {"DC 20 %, 1 % noise", 0.1234567, 0.95},
      {"DC 20 %, 1 % noise", 1.987654, 0.05}, {"DC 20 %, 1 % noise", 1.987654, 0.95},
      {"AC 50 Hz, restored", 0.002},    {"AC 50 Hz, restored", 0.0123457},
      {"AC 50 Hz, restored", 0.002, 0.05}, {"AC 50 Hz, restored", 0.002, 0.95},
      {"AC 50 Hz, restored", 0.05},     {"AC 50 Hz, restored", 0.2},
      {"AC 50 Hz, restored", 1.9876543}, {"AC 50 Hz, restored", 0.2, 0.05},
      {"AC 50 Hz, restored", 0.2, 0.95},
  };
  if (!cli.empty()) std::printf("through %s analyze-audio --precise --jsonl\n", cli.c_str());
  std::printf("%-20s %6s %11s %5s %7s %10s %8s %6s %6s %s\n", "train", "kHz", "period s", "duty",
              "read", "worst err", "goal", "<=u", "<=2u", "");
  int covered = 0;
  int frames_read = 0;
  bool all_met = true;
  for (const Row& row : rows) {
    const Kind& kind = KindOf(row.kind);
    AcTrain train;
    train.period_points = row.period_s * fc::kCaptureRate;
    train.duty = row.duty;
    train.level = kind.level;
    train.noise_rms = kind.noise;
    train.corner_hz = kind.corner;
    train.edge_samples = kind.edge;
    train.rate = row.rate;
    const int frames = row.period_s > 2.5 ? 18 : 5;
    const std::vector<float> samples = train.Samples(frames);
    const std::vector<fc::PreciseReading> readings =
        cli.empty() ? Fill(samples, row.rate, kind.restore)
                    : ViaCli(cli, work, samples, row.rate, kind.restore);
    const double goal = kind.goal;
    double worst = 0.0;
    int read = 0;
    int within_u = 0;
    int within_2u = 0;
    bool every_frame = true;
    for (size_t f = 0; f < readings.size(); ++f) {
      const fc::PreciseReading& r = readings[f];
      if (!r.has_reading) {
        every_frame = false;
        continue;
      }
      ++read;
      const double error = std::abs(r.period_s - row.period_s);
      worst = std::max(worst, error / row.period_s);
      within_u += error <= r.uncertainty_s ? 1 : 0;
      within_2u += error <= 2.0 * r.uncertainty_s ? 1 : 0;
    }
    covered += within_2u;
    frames_read += read;
    const bool met = read > 0 && worst <= goal && (row.period_s > 2.0 || every_frame);
    all_met = all_met && met;
    std::printf("%-20s %6.1f %11.7g %4.0f%% %3d/%-3zu %10.2e %8.0e %5.0f%% %5.0f%% %s\n", kind.name,
                row.rate / 1000.0, row.period_s, row.duty * 100, read, readings.size(), worst, goal,
                read ? 100.0 * within_u / read : 0.0, read ? 100.0 * within_2u / read : 0.0,
                met ? "" : "MISSED");
  }
  std::printf("uncertainty (k = 2) covers the error in %.1f %% of %d frames (goal: 95 %%)\n",
              frames_read ? 100.0 * covered / frames_read : 0.0, frames_read);

  // Cost: the timer alone on the first channel of 60 s of a noisy train, and the two timers
  // of --restore-pulses (one on the restored channel, one on the input), best of three; and
  // the whole filler, restorer off and on, for comparison.
  AcTrain train;
  train.period_points = fc::kCaptureRate / 7;
  train.level = 0.2;
  train.noise_rms = 0.01;
  train.corner_hz = 0;
  train.edge_samples = 3;
  const double seconds = 60.0;
  const std::vector<float> samples = train.Pairs(static_cast<size_t>(seconds * train.rate));
  std::vector<float> restored(samples.size() / 2);
  fc::PulseRestorer restorer(train.rate);
  for (size_t i = 0; i < restored.size(); ++i) restored[i] = restorer.Restore(samples[2 * i]);
  double best = 1e300;
  double pair_best = 1e300;
  double filler_best = 1e300;
  double restoring_best = 1e300;
  for (int round = 0; round < 3; ++round) {
    fc::EdgeTimer timer(train.rate);
    const double start = ProcessorMs();
    for (size_t i = 0; i < samples.size(); i += 2) timer.Feed(samples[i]);
    (void)timer.EndFrame();
    best = std::min(best, ProcessorMs() - start);
    fc::EdgeTimer on_input(train.rate);
    fc::EdgeTimer on_restored(train.rate);
    const double pair_start = ProcessorMs();
    for (size_t i = 0; i < restored.size(); ++i) {
      on_input.Feed(samples[2 * i]);
      on_restored.Feed(restored[i]);
    }
    (void)on_input.EndFrame();
    (void)on_restored.EndFrame();
    pair_best = std::min(pair_best, ProcessorMs() - pair_start);
    const double filler_start = ProcessorMs();
    (void)Fill(samples, train.rate, false);
    filler_best = std::min(filler_best, ProcessorMs() - filler_start);
    const double restoring_start = ProcessorMs();
    (void)Fill(samples, train.rate, true);
    restoring_best = std::min(restoring_best, ProcessorMs() - restoring_start);
  }
  const double per_second = best / seconds;
  const double pair_per_second = pair_best / seconds;
  std::printf(
      "edge timer: %.3f ms of processor time per second of 48 kHz stereo input "
      "(%.3f %% of a core), the two of --restore-pulses %.3f ms (%.3f %%; goal: at most "
      "3 ms, 0.3 %%); the whole buffer filler: %.3f ms, with --restore-pulses %.3f ms\n",
      per_second, per_second / 10.0, pair_per_second, pair_per_second / 10.0, filler_best / seconds,
      restoring_best / seconds);
  all_met = all_met && per_second <= 3.0 && pair_per_second <= 3.0 && covered >= 0.95 * frames_read;
  std::printf("%s\n", all_met ? "all goals met" : "some goals missed");
  return 0;
}
