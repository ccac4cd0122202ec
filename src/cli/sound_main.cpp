// frequency-counter-cli-sound: the batch program with the sound inputs linked in. The
// frequency-counter-cli that users run hands `devices` and `record` over to it, so that the
// file commands do not pay for loading the sound libraries at every start.
#include <unistd.h>

#include <iostream>
#include <memory>

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
  // Its write errors name the reason (a closed descriptor, a reader gone away).
  fc::DescriptorOutput buffer(STDOUT_FILENO);
  std::ostream out(&buffer);
  return fc::RunCli(argc, argv, out, std::cerr, sound);
}
