#include "support/scripted_wave_input.h"

#include <algorithm>
#include <cstring>

namespace fc {

ScriptedWaveInput::ScriptedWaveInput(FakeClock& clock)
    : clock_(clock), subscription_(clock.Subscribe([this] { OnClock(); })) {}

ScriptedWaveInput::~ScriptedWaveInput() { clock_.Unsubscribe(subscription_); }

void ScriptedWaveInput::FillEveryBufferWith(std::vector<uint8_t> bytes) {
  fill = [bytes = std::move(bytes)](int, uint8_t* data, uint32_t length) {
    const std::size_t n = std::min<std::size_t>(bytes.size(), length);
    std::memcpy(data, bytes.data(), n);
    std::memset(data + n, 0, length - n);
  };
}

bool ScriptedWaveInput::CheckHandle(WaveInHandle handle, const char* call) {
  calls.emplace_back(call);
  if (open_handle_ == 0 || handle != open_handle_) {
    errors.push_back(std::string(call) + " with handle " + std::to_string(handle) +
                     (open_handle_ == 0 ? " while no device is open" : " (not the open one)"));
    return false;
  }
  return true;
}

void ScriptedWaveInput::CheckAskedHandle(WaveInHandle handle, const char* question) {
  if (open_handle_ == 0 || handle != open_handle_) {
    errors.push_back(std::string(question) + " with handle " + std::to_string(handle));
  }
}

std::vector<WaveInDevice> ScriptedWaveInput::Devices() {
  calls.emplace_back("Devices");
  return devices;
}

WaveInHandle ScriptedWaveInput::Open(int device_id, const WaveFormat& format) {
  calls.push_back("Open " + std::to_string(device_id));
  if (open_handle_ != 0) errors.emplace_back("Open while a device is open");
  opened_device = device_id;
  opened_format = format;
  if (open_fails) return 0;
  open_handle_ = handle_to_give;
  started_ = false;
  prepared_ = false;
  in_flight_ = nullptr;
  lost = false;
  return open_handle_;
}

void ScriptedWaveInput::Start(WaveInHandle handle) {
  if (!CheckHandle(handle, "Start")) return;
  if (started_) return;
  started_ = true;
  if (in_flight_ != nullptr) due_ = clock_.MonotonicSeconds() + buffer_seconds;
}

void ScriptedWaveInput::PrepareHeader(WaveInHandle handle, WaveHeader&) {
  if (!CheckHandle(handle, "PrepareHeader")) return;
  if (in_flight_ != nullptr) errors.emplace_back("PrepareHeader while the device holds the buffer");
  prepared_ = true;
}

void ScriptedWaveInput::AddBuffer(WaveInHandle handle, WaveHeader& header) {
  if (!CheckHandle(handle, "AddBuffer")) return;
  if (!prepared_) errors.emplace_back("AddBuffer of an unprepared header");
  if (in_flight_ != nullptr) errors.emplace_back("AddBuffer while the device holds the buffer");
  const int queue = queued_count();
  queued_data.push_back(header.data);
  queued_at.push_back(clock_.MonotonicSeconds());
  header.flags.fetch_and(~WaveHeader::kDone, std::memory_order_acq_rel);
  in_flight_ = &header;
  in_flight_queue_ = queue;
  due_ = clock_.MonotonicSeconds() + buffer_seconds;
  if (queue == lose_at_queue) lost = true;
}

void ScriptedWaveInput::UnprepareHeader(WaveInHandle handle, WaveHeader&) {
  if (!CheckHandle(handle, "UnprepareHeader")) return;
  if (in_flight_ != nullptr)
    errors.emplace_back("UnprepareHeader while the device holds the buffer");
  prepared_ = false;
}

void ScriptedWaveInput::Reset(WaveInHandle handle) {
  if (!CheckHandle(handle, "Reset")) return;
  started_ = false;
  if (in_flight_ != nullptr) {
    // Returned unfilled, marked done, as a real device does.
    in_flight_->flags.fetch_or(WaveHeader::kDone, std::memory_order_acq_rel);
    in_flight_ = nullptr;
  }
}

void ScriptedWaveInput::Close(WaveInHandle handle) {
  if (!CheckHandle(handle, "Close")) return;
  if (in_flight_ != nullptr) errors.emplace_back("Close while the device holds the buffer");
  open_handle_ = 0;
  started_ = false;
  in_flight_ = nullptr;
}

bool ScriptedWaveInput::Lost(WaveInHandle handle) {
  CheckAskedHandle(handle, "Lost");
  return lost;
}

uint64_t ScriptedWaveInput::SamplesLost(WaveInHandle handle) {
  CheckAskedHandle(handle, "SamplesLost");
  return samples_lost;
}

void ScriptedWaveInput::OnClock() {
  if (in_flight_ == nullptr || !started_ || lost) return;
  if (never_complete.count(in_flight_queue_) != 0) return;
  if (clock_.MonotonicSeconds() < due_) return;
  WaveHeader& header = *in_flight_;
  in_flight_ = nullptr;
  if (fill) fill(in_flight_queue_, header.data, header.buffer_length);
  header.flags.fetch_or(WaveHeader::kDone, std::memory_order_acq_rel);
  if (in_flight_queue_ == lose_after_queue) lost = true;
}

}  // namespace fc
