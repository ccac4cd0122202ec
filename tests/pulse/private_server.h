#pragma once

#include <sys/types.h>

#include <string>

namespace fc::testing {

// A private PulseAudio server from scripts/pulse-server in a fresh directory, playing a square
// pulse train (full scale, high for `width_us` of every `period_us`) into its null sink.
class PrivateServer {
 public:
  PrivateServer() = default;
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;
  ~PrivateServer() { Stop(); }

  // False when no server could start; `problem()` then says why. `required()` tells whether
  // the environment asks for a failure instead of a skip then (FC_REQUIRE_PULSE=1).
  bool Start(int period_us, int width_us);
  // The same, playing one period of unsigned 8-bit mono samples at 48 kHz over and over.
  bool StartPlaying(const std::string& period_file);
  void Stop();

  const std::string& address() const { return address_; }
  const std::string& problem() const { return problem_; }
  pid_t server_pid() const;
  static bool required();

 private:
  bool Launch(const std::string& train_environment);

  std::string dir_;
  std::string address_;
  std::string problem_;
};

}  // namespace fc::testing
