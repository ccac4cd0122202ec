// frequency-counter-cli-sound: the batch program with the PulseAudio input linked in. The
// frequency-counter-cli that users run hands `devices` and `record` over to it, so that the
// file commands do not pay for loading the sound libraries at every start.
#include <iostream>
#include <memory>

#include "capture/clock.h"
#include "capture/pulse/pulse_wave_input.h"
#include "cli/cli_app.h"

int main(int argc, char** argv) {
  fc::EndRunOnStopSignals();
  fc::SystemClock clock;
  fc::SoundEnvironment sound;
  sound.make_input = [] { return std::make_unique<fc::PulseWaveInput>(); };
  sound.clock = &clock;
  sound.interrupted = [] { return fc::StopSignalFlag().load(); };
  return fc::RunCli(argc, argv, std::cout, std::cerr, sound);
}
