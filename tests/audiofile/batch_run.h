#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "capture/audiofile/audio_file_input.h"
#include "cli/cli_app.h"

namespace fc::testing {

// The batch program run in this process with the audio-file input; a FIFO is given up on after
// `fifo_wait_seconds`.
struct CliRun {
  int status = 0;
  std::string out;
  std::string err;
};

inline CliRun RunBatch(std::vector<std::string> args, double fifo_wait_seconds = 5.0) {
  SoundEnvironment sound;
  sound.make_file_input = [fifo_wait_seconds](const std::string& path,
                                              const AudioFileOptions& options) {
    AudioFileOptions chosen = options;
    chosen.fifo_wait_seconds = fifo_wait_seconds;
    return std::make_unique<AudioFileInput>(path, chosen);
  };
  args.insert(args.begin(), "frequency-counter-cli");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out;
  std::ostringstream err;
  CliRun run;
  run.status = RunCli(static_cast<int>(argv.size()), argv.data(), out, err, sound);
  run.out = out.str();
  run.err = err.str();
  return run;
}

}  // namespace fc::testing
