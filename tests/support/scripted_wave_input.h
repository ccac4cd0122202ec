#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/fake_clock.h"
#include "capture/wave_input.h"

namespace fc {

// A sound input for tests, driven by a FakeClock: a queued buffer is filled and marked done
// `buffer_seconds` after it was queued on a started device, when the clock gets there. Buffers
// are counted from 0 in the order of AddBuffer calls over the object's life ("queue numbers").
// Misuse that a real device would refuse or suffer from (a call on a closed handle, a buffer
// queued twice, a header unprepared while the device still holds it) is collected in `errors`.
class ScriptedWaveInput : public WaveInput {
 public:
  explicit ScriptedWaveInput(FakeClock& clock);
  ~ScriptedWaveInput() override;
  ScriptedWaveInput(const ScriptedWaveInput&) = delete;
  ScriptedWaveInput& operator=(const ScriptedWaveInput&) = delete;

  // --- Script ---
  std::vector<WaveInDevice> devices{{"Scripted input", true}};
  bool open_fails = false;
  WaveInHandle handle_to_give = 7;
  double buffer_seconds = 4.0;
  // Writes the bytes of the buffer with the given queue number; without it the buffer is
  // marked done and its bytes are left as they were.
  std::function<void(int queue, uint8_t* data, uint32_t length)> fill;
  std::set<int> never_complete;  // queue numbers that are never filled (time-outs)
  int lose_at_queue = -1;        // the device goes away when this buffer is queued
  int lose_after_queue = -1;     // ... right after it has filled this buffer
  bool server_reached = true;    // false: Devices() found no sound server
  uint64_t samples_lost = 0;     // what SamplesLost reports

  // --- Record ---
  std::vector<std::string> calls;  // "Devices", "Open 0", "Start", "PrepareHeader", "AddBuffer",
                                   // "UnprepareHeader", "Reset", "Close"
  std::vector<std::string> errors;
  std::vector<const uint8_t*> queued_data;  // the data address of every AddBuffer, in order
  std::vector<double> queued_at;            // the clock's monotonic time of every AddBuffer
  int opened_device = -2;
  WaveFormat opened_format;
  bool lost = false;
  bool restore_pulses = false;  // the last RestorePulses

  int queued_count() const { return static_cast<int>(queued_data.size()); }
  // Every buffer gets the same bytes (the rest of the buffer is zero-filled).
  void FillEveryBufferWith(std::vector<uint8_t> bytes);

  std::vector<WaveInDevice> Devices() override;
  bool ServerReached() const override { return server_reached; }
  WaveInHandle Open(int device_id, const WaveFormat& format) override;
  void Start(WaveInHandle handle) override;
  void PrepareHeader(WaveInHandle handle, WaveHeader& header) override;
  void AddBuffer(WaveInHandle handle, WaveHeader& header) override;
  void UnprepareHeader(WaveInHandle handle, WaveHeader& header) override;
  void Reset(WaveInHandle handle) override;
  void Close(WaveInHandle handle) override;
  bool Lost(WaveInHandle handle) override;
  void RestorePulses(bool on) override { restore_pulses = on; }
  uint64_t SamplesLost(WaveInHandle handle) override;

 private:
  bool CheckHandle(WaveInHandle handle, const char* call);
  // The same check for a question (Lost, SamplesLost), which is not one of the recorded calls.
  void CheckAskedHandle(WaveInHandle handle, const char* question);
  void OnClock();

  FakeClock& clock_;
  int subscription_;
  WaveInHandle open_handle_ = 0;
  bool started_ = false;
  bool prepared_ = false;
  WaveHeader* in_flight_ = nullptr;  // the header the device holds, if any
  int in_flight_queue_ = -1;
  double due_ = 0.0;
};

}  // namespace fc
