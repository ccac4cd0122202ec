#include "cli/monitoring.h"

#include "analysis/pulses_per_rev.h"

namespace fc {

CLI::Validator PulsesPerRevOption(const std::string& option) {
  return CLI::Validator(
      [option](std::string& text) {
        const Result<double> read = ReadPulsesPerRev(text, option);
        if (!read) return read.error();
        text = FormatPulsesPerRev(read.value());
        return std::string();
      },
      "PULSES");
}

}  // namespace fc
