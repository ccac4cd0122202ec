// frequency-counter-cli-sound: the batch program with the sound inputs and libsndfile linked
// in. The frequency-counter-cli that users run hands `devices`, `record` and `analyze-audio`
// over to it, so that the file commands do not pay for loading those libraries at every start.
#include <unistd.h>

#include <iostream>
#include <memory>

#include "capture/audiofile/audio_file_input.h"
#include "capture/audiofile/audio_recording.h"
#include "capture/backends/sound_input.h"
#include "capture/clock.h"
#include "cli/cli_app.h"
#include "cli/descriptor_output.h"

int main(int argc, char** argv) {
  fc::EndRunOnStopSignals();
  fc::SystemClock clock;
  fc::SoundEnvironment sound;
  fc::ServerCheck server;
  sound.server_reachable = [&server] { return server.Reachable(); };
  sound.make_input = [&server](fc::AudioBackend backend) {
    return fc::MakeWaveInput(backend, server.Answered());
  };
  sound.clock = &clock;
  sound.interrupted = [] { return fc::StopSignalFlag().load(); };
  sound.make_file_input = [](const std::string& path, const fc::AudioFileOptions& options) {
    return std::make_unique<fc::AudioFileInput>(path, options);
  };
  sound.keep_recording =
      [](const std::string& path) -> fc::Result<std::shared_ptr<fc::KeptRecording>> {
    auto made = fc::AudioRecording::Create(path);
    if (!made) return fc::Error{made.error()};
    return std::shared_ptr<fc::KeptRecording>(std::move(made.value()));
  };
  // Its write errors name the reason (a closed descriptor, a reader gone away).
  fc::DescriptorOutput buffer(STDOUT_FILENO);
  std::ostream out(&buffer);
  return fc::RunCli(argc, argv, out, std::cerr, sound);
}
