// frequency-counter-cli: the file commands run here; the sound commands run in
// frequency-counter-cli-sound beside it, which links the sound libraries.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

#include "capture/clock.h"
#include "cli/cli_app.h"
#include "cli/descriptor_output.h"
#include "files/program_directory.h"

namespace {

constexpr const char* kSoundProgram = "frequency-counter-cli-sound";

bool IsSoundCommand(const std::string& word) { return word == "devices" || word == "record"; }

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') continue;
    if (!IsSoundCommand(argv[i])) break;
    const std::string sound = (fc::ExecutableDirectory() / kSoundProgram).string();
    ::execv(sound.c_str(), argv);
    std::cerr << "Could not start " << sound << ": " << std::strerror(errno) << "\n";
    return fc::kExitBadInput;
  }
  fc::SystemClock clock;
  fc::SoundEnvironment sound;
  sound.make_input = [](fc::AudioBackend) {
    return nullptr;
  };  // never asked: the sound commands left above
  sound.clock = &clock;
  fc::DescriptorOutput buffer(STDOUT_FILENO);
  std::ostream out(&buffer);
  return fc::RunCli(argc, argv, out, std::cerr, sound);
}
