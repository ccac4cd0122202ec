#pragma once

#include <atomic>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "analysis/result.h"
#include "capture/audio_backend.h"
#include "capture/clock.h"
#include "capture/file_input.h"
#include "capture/recording_sink.h"
#include "capture/wave_input.h"
#include "chart/run_series.h"

namespace fc {

// Exit statuses of the batch program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitBadInput = 1;  // RAW missing or invalid, or the device failed
inline constexpr int kExitUsage = 2;
inline constexpr int kExitEndedEarly = 3;  // RAW ended before the frames it announces

// Where `devices` and `record` get their sound input and time from; tests pass a scripted
// input and a fake clock.
struct SoundEnvironment {
  // The input of a chosen backend (Pulse or Alsa). None by default: only `devices` and
  // `record` ask for one.
  std::function<std::unique_ptr<WaveInput>(AudioBackend)> make_input =
      [](AudioBackend) -> std::unique_ptr<WaveInput> { return nullptr; };
  // Whether a sound server answers; without one, the automatic choice is ALSA.
  std::function<bool()> server_reachable = [] { return false; };
  Clock* clock = nullptr;
  // Asked between frames of `record`; true ends the run after the frame (Ctrl-C).
  std::function<bool()> interrupted = [] { return false; };
  // The audio-file input of `analyze-audio` and the recording `record --keep-audio` keeps;
  // only the sound helper, which links libsndfile, supplies them.
  std::function<std::unique_ptr<FileInput>(const std::string& path, const AudioFileOptions&)>
      make_file_input;
  std::function<Result<std::shared_ptr<KeptRecording>>(const std::string& path)> keep_recording;
};

// Makes Ctrl-C, SIGTERM and SIGHUP end the program at once while nothing is recorded yet (the
// sound system may be stuck in a call that never returns), and, once `record`'s device has
// opened, end the run as Ctrl-C always did: after the frame being recorded, with the raw file
// written. They set StopSignalFlag(); a second one during a run ends the program at once.
// SIGPIPE is ignored: a reader that goes away (`| head -1`) is then a failed write, which ends
// the run after its frame with the raw file written, instead of killing the program before that.
void EndRunOnStopSignals();
std::atomic<bool>& StopSignalFlag();

// How `chart` draws its picture; only the chart helper program, which links the drawing
// libraries, supplies it.
struct ChartImage {
  double pulses_per_rev = 1.0;
  int width = 800;
  int height = 500;
  bool svg = false;  // otherwise PNG
};
struct ChartEnvironment {
  std::function<std::string(const RunSeries& series, const ChartImage& image)> render;
};

// The batch program on the same core as the window: analyze, results, average, chart, devices,
// record, analyze-audio.
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           const SoundEnvironment& sound, const ChartEnvironment& chart = {});

}  // namespace fc
