#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/edge_timer.h"
#include "capture/recording_sink.h"

namespace fc {

// The recording format handed to the device when it is opened.
struct WaveFormat {
  uint16_t format_tag = 0;  // 1: PCM
  uint16_t channels = 0;
  uint32_t samples_per_sec = 0;
  uint32_t avg_bytes_per_sec = 0;
  uint16_t block_align = 0;
  uint16_t bits_per_sample = 0;
  uint16_t extra_size = 0;
};

// What the sound-system backends record and convert from: 8-bit PCM, one or two channels, at a
// rate.
inline bool RecordableFormat(const WaveFormat& format) {
  return format.bits_per_sample == 8 && format.channels >= 1 && format.channels <= 2 &&
         format.samples_per_sec != 0;
}

// The one buffer header through which every frame is recorded. The device writes
// `buffer_length` bytes to `data` and then sets kDone in `flags`; the device may do that from a
// thread of its own, hence the atomic.
struct WaveHeader {
  static constexpr uint32_t kDone = 1;

  uint8_t* data = nullptr;
  uint32_t buffer_length = 0;
  std::atomic<uint32_t> flags{0};
  // The edge timer's reading of the samples this buffer was averaged from; set before kDone by
  // a backend that times edges (a default reading, without one, from any other).
  PreciseReading precise;

  bool Done() const { return (flags.load(std::memory_order_acquire) & kDone) != 0; }
};

struct WaveInDevice {
  std::string name;
  bool can_record_8bit_stereo = false;
};

using WaveInHandle = int32_t;  // 0: no device open

// The narrow sound-input interface the capture relies on. Results of the calls are not
// examined by the capture; only the handle from Open and the header's done flag are.
class WaveInput {
 public:
  virtual ~WaveInput() = default;
  // All input devices in identifier order (identifier = position in this list).
  virtual std::vector<WaveInDevice> Devices() = 0;
  // False when the last Devices() or failed Open() found no sound server to ask (none running,
  // none reachable, none that answered): its empty list or its failure then says nothing about
  // the inputs. An input that needs no server is always reached. Devices() and Open() may be
  // called on another thread, one call at a time.
  virtual bool ServerReached() const { return true; }
  // A non-zero handle on success, 0 on failure.
  virtual WaveInHandle Open(int device_id, const WaveFormat& format) = 0;
  virtual void Start(WaveInHandle handle) = 0;
  virtual void PrepareHeader(WaveInHandle handle, WaveHeader& header) = 0;
  // Queues the buffer; its done flag reads 0 until the device has filled it.
  virtual void AddBuffer(WaveInHandle handle, WaveHeader& header) = 0;
  virtual void UnprepareHeader(WaveInHandle handle, WaveHeader& header) = 0;
  // Stops recording and returns a queued buffer (the device lets go of it).
  virtual void Reset(WaveInHandle handle) = 0;
  virtual void Close(WaveInHandle handle) = 0;
  // True once the device or the sound server has gone away; the capture then stops the run.
  virtual bool Lost(WaveInHandle handle) = 0;
  // From the next Open on, turns the spikes that an AC-coupled input leaves of a pulse train
  // back into full-scale pulses on the first channel, at the input's own rate before it is
  // brought down to the recording rate. An input without a higher rate of its own ignores it.
  virtual void RestorePulses(bool /*on*/) {}
  // From the next Open on, hands the samples of the run, as the input delivers them from the
  // first queued buffer on, to `sink`; null stops that. An input that has no samples of its
  // own (a replayed file) ignores it.
  virtual void KeepRecording(std::shared_ptr<RecordingSink> /*sink*/) {}
  // Sample pairs (at the opened rate) the device had to drop since Start because they were not
  // read in time (overruns). Asked before Close; 0 for a device that never drops any.
  virtual uint64_t SamplesLost(WaveInHandle /*handle*/) { return 0; }
};

}  // namespace fc
