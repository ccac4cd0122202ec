#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture/session_table.h"
#include "capture/wave_input.h"

namespace fc {

// Sound input from a PulseAudio server (or PipeWire's PulseAudio server) through libpulse.
// Every source, monitors included, is a device named by its description. Each open handle has
// its own connection with a libpulse thread; the caller's thread only queues the buffer and
// watches the done flag. The stream records at the source's own rate (no resampling by the
// server) and is averaged down to the requested rate in unsigned 8 bits.
class PulseWaveInput final : public WaveInput {
 public:
  struct Options {
    std::string server;  // empty: the default server (PULSE_SERVER or the user's server)
    std::string client_name = "frequency-counter";
    // All that one listing or one opening may take, connecting included: a server that does
    // not answer is reported well within five seconds.
    std::chrono::milliseconds timeout{4000};
    std::chrono::microseconds fragment{15625};  // how often recorded data arrives
    // Open waits this long for the first data (within `timeout`).
    std::chrono::milliseconds first_data_timeout{3000};
  };

  PulseWaveInput();
  explicit PulseWaveInput(Options options);
  ~PulseWaveInput() override;
  PulseWaveInput(const PulseWaveInput&) = delete;
  PulseWaveInput& operator=(const PulseWaveInput&) = delete;

  // True when a server answers (the one of Options::server, or the default one).
  bool ServerReachable();

  std::vector<WaveInDevice> Devices() override;
  // False when the last Devices() or failed Open() could not connect to a server, or the server
  // did not answer within the time-out; true after a listing, even one without sources.
  bool ServerReached() const override { return server_reached_; }
  // Accepts 8-bit PCM with 1 or 2 channels at a rate no higher than the source's.
  WaveInHandle Open(int device_id, const WaveFormat& format) override;
  void Start(WaveInHandle handle) override;
  void PrepareHeader(WaveInHandle handle, WaveHeader& header) override;
  void AddBuffer(WaveInHandle handle, WaveHeader& header) override;
  // Lets go of the header if it is still queued.
  void UnprepareHeader(WaveInHandle handle, WaveHeader& header) override;
  // Returns a queued buffer with its done flag set; recording goes on and is dropped until
  // the next AddBuffer.
  void Reset(WaveInHandle handle) override;
  void Close(WaveInHandle handle) override;
  // True once the connection or the stream has failed or ended; also for an unknown handle.
  bool Lost(WaveInHandle handle) override;
  void RestorePulses(bool on) override { restore_pulses_ = on; }
  void KeepRecording(std::shared_ptr<RecordingSink> sink) override { keep_ = std::move(sink); }

 private:
  class Session;
  using Deadline = std::chrono::steady_clock::time_point;
  // Lists the sources into source_names_ (and `devices`); false when the server could not be
  // asked.
  bool ListSources(Deadline deadline, std::vector<WaveInDevice>* devices);

  Options options_;
  std::vector<std::string> source_names_;  // identifier -> source name, from the last listing
  bool server_reached_ = true;             // nothing has been asked yet
  SessionTable<Session> sessions_;
  bool restore_pulses_ = false;
  std::shared_ptr<RecordingSink> keep_;
};

}  // namespace fc
