// The processor time keeping a recording costs: 120 s of 48 kHz stereo samples, as a card
// delivers them (16-bit, in pieces of 40 ms), handed to the kept recording a hundred times faster
// than real time, in FLAC on the disk of the given directory. Prints the process's processor time
// per second of input, as a share of one core.
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "capture/audiofile/audio_recording.h"

namespace {
double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path dir = argc > 1 ? argv[1] : ".";
  const std::filesystem::path path = dir / "keep-bench.flac";
  constexpr int kRate = 48000;
  constexpr int kSeconds = 120;
  constexpr size_t kPiece = kRate / 25;
  // One second of a pulse train with a little noise and a sine, made before the clock starts.
  std::vector<float> second(2 * static_cast<size_t>(kRate));
  for (size_t n = 0; n < static_cast<size_t>(kRate); ++n) {
    const bool high = n % 15000 < 1500;
    const float noise = static_cast<float>((n * 2654435761u) % 64) / 32768.0f;
    second[2 * n] = (high ? 0.9f : -0.9f) + noise;
    second[2 * n + 1] = std::round(std::sin(static_cast<double>(n) * 0.01) * 16000) / 32768.0f;
  }
  const double before = ProcessorSeconds();
  {
    auto made = fc::AudioRecording::Create(path);
    if (!made) {
      std::fprintf(stderr, "%s\n", made.error().c_str());
      return 1;
    }
    auto& recording = *made.value();
    recording.Begin(kRate, 2, fc::SampleWidth::Signed16);
    for (int s = 0; s < kSeconds; ++s) {
      for (size_t at = 0; at < static_cast<size_t>(kRate); at += kPiece) {
        recording.Write(second.data() + 2 * at, kPiece);
      }
      // A hundred times faster than a card, so that the writer is never left behind.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    recording.Finish();
    if (auto failure = recording.TakeFailure()) {
      std::fprintf(stderr, "%s\n", failure->c_str());
      return 1;
    }
  }
  const double used = ProcessorSeconds() - before;
  std::printf(
      "keeping a recording, 48 kHz stereo 16-bit FLAC: %.3f s of processor time for %d s "
      "of input, %.2f %% of a core (goal at most 1 %%); file %ju bytes\n",
      used, kSeconds, 100.0 * used / kSeconds,
      static_cast<uintmax_t>(std::filesystem::file_size(path)));
  std::filesystem::remove(path);
  return 0;
}
