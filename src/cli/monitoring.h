#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace fc {

// Checks a typed pulses-per-revolution value for `option` and hands it on as a plain decimal,
// so that the option can be read into a double; a bad value is a usage error naming it.
CLI::Validator PulsesPerRevOption(const std::string& option);

}  // namespace fc
