// The processor time keeping a recording costs: 120 s of 48 kHz stereo samples, as a card
// delivers them (16-bit, in pieces of 40 ms), handed to the kept recording as fast as it takes
// them, in FLAC on the disk of the given directory. Prints the process's processor time per
// second of input, as a share of one core.
#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
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
  std::vector<float> piece(2 * kPiece);
  const double before = ProcessorSeconds();
  {
    auto made = fc::AudioRecording::Create(path);
    if (!made) {
      std::fprintf(stderr, "%s\n", made.error().c_str());
      return 1;
    }
    auto& recording = *made.value();
    recording.Begin(kRate, 2, fc::SampleWidth::Signed16);
    for (size_t n = 0; n < static_cast<size_t>(kRate) * kSeconds; n += kPiece) {
      for (size_t f = 0; f < kPiece; ++f) {
        const bool high = (n + f) % 15000 < 1500;
        const float noise = static_cast<float>(((n + f) * 2654435761u) % 64) / 32768.0f;
        piece[2 * f] = (high ? 0.9f : -0.9f) + noise;
        piece[2 * f + 1] = std::round(std::sin(static_cast<double>(n + f) * 0.01) * 16000) / 32768.0f;
      }
      recording.Write(piece.data(), kPiece);
    }
    recording.Finish();
    if (auto failure = recording.TakeFailure()) {
      std::fprintf(stderr, "%s\n", failure->c_str());
      return 1;
    }
  }
  const double used = ProcessorSeconds() - before;
  std::printf("keeping a recording, 48 kHz stereo 16-bit FLAC: %.3f s of processor time for %d s "
              "of input, %.2f %% of a core (goal at most 1 %%); file %ju bytes\n",
              used, kSeconds, 100.0 * used / kSeconds,
              static_cast<uintmax_t>(std::filesystem::file_size(path)));
  std::filesystem::remove(path);
  return 0;
}
