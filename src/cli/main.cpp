// frequency-counter-cli: the file commands run here; the sound commands run in
// frequency-counter-cli-sound beside it, which links the sound libraries, and `chart` in
// frequency-counter-cli-chart, which links the drawing libraries.
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>

#include "capture/clock.h"
#include "cli/cli_app.h"
#include "cli/descriptor_output.h"
#include "files/atomic_file.h"
#include "files/program_directory.h"

namespace {

// The helper program that runs a command, or nullptr for the commands run here.
const char* HelperFor(const std::string& word) {
  if (word == "devices" || word == "record" || word == "analyze-audio") {
    return "frequency-counter-cli-sound";
  }
  if (word == "chart") return "frequency-counter-cli-chart";
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') continue;
    const char* helper_name = HelperFor(argv[i]);
    if (helper_name == nullptr) break;
    const std::string helper = (fc::ExecutableDirectory() / helper_name).string();
    ::execv(helper.c_str(), argv);
    std::cerr << "Could not start " << helper << ": " << fc::ErrorText(errno) << "\n";
    return fc::kExitBadInput;
  }
  fc::SystemClock clock;
  fc::SoundEnvironment sound;
  sound.clock = &clock;
  fc::DescriptorOutput buffer(STDOUT_FILENO);
  std::ostream out(&buffer);
  return fc::RunCli(argc, argv, out, std::cerr, sound);
}
