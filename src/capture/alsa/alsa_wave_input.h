#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture/session_table.h"
#include "capture/wave_input.h"

namespace fc {

// Sound input straight from ALSA, for a machine without a sound server. The devices are the
// PCMs that ALSA's device hints offer for capture, named by their descriptions, `default` first.
// A device is recorded at a common rate it offers (no resampling by ALSA), in 16 or 8 bits with
// one or two channels, and averaged down to the requested rate in unsigned 8 bits; a mono
// device gives both channels the same samples. Each open handle has a reader thread that
// sleeps in poll() on the PCM's descriptors and reads only while a buffer is queued, so the
// device's own buffer holds the input between two buffers.
class AlsaWaveInput final : public WaveInput {
 public:
  struct Options {
    // How often the reader wakes for data. Fewer wake-ups cost less processor time; a done flag
    // up to this late matters little beside the capture's own checks every 15 ms.
    std::chrono::microseconds period{40000};
    std::chrono::microseconds buffer{2000000};  // the device's buffer, as far as it allows
    // Whether the PCMs of the sound servers' own plugins (pulse, jack, and those stacked on
    // them) are listed and opened. Off when ALSA stands in for a server that did not answer:
    // the pulse plugin would wait on that server for ever.
    bool server_plugins = true;
  };

  AlsaWaveInput();
  explicit AlsaWaveInput(Options options);
  ~AlsaWaveInput() override;
  AlsaWaveInput(const AlsaWaveInput&) = delete;
  AlsaWaveInput& operator=(const AlsaWaveInput&) = delete;

  std::vector<WaveInDevice> Devices() override;
  // False when the last listing found nothing but the PCMs of server plugins it left out: the
  // inputs there are belong to the server that did not answer.
  bool ServerReached() const override { return server_reached_; }
  // Accepts 8-bit PCM with 1 or 2 channels at a rate no higher than the device's.
  WaveInHandle Open(int device_id, const WaveFormat& format) override;
  // Starts the device (the first time; later calls do nothing).
  void Start(WaveInHandle handle) override;
  void PrepareHeader(WaveInHandle handle, WaveHeader& header) override;
  void AddBuffer(WaveInHandle handle, WaveHeader& header) override;
  // Lets go of the header if it is still queued.
  void UnprepareHeader(WaveInHandle handle, WaveHeader& header) override;
  // Returns a queued buffer with its done flag set; what the device holds is dropped and
  // recording starts afresh.
  void Reset(WaveInHandle handle) override;
  void Close(WaveInHandle handle) override;
  // True once the device has gone away or fails beyond recovery; also for an unknown handle.
  bool Lost(WaveInHandle handle) override;
  uint64_t SamplesLost(WaveInHandle handle) override;
  void RestorePulses(bool on) override { restore_pulses_ = on; }
  void KeepRecording(std::shared_ptr<RecordingSink> sink) override { keep_ = std::move(sink); }

 private:
  class Session;

  Options options_;
  std::vector<std::string> pcm_names_;  // identifier -> PCM name, from the last listing
  SessionTable<Session> sessions_;
  bool restore_pulses_ = false;
  bool server_reached_ = true;
  std::shared_ptr<RecordingSink> keep_;
};

}  // namespace fc
