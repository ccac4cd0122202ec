#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <thread>
#include <vector>

#include "capture/alsa/alsa_wave_input.h"
#include "support/wave_format.h"

namespace fc {
namespace {

using testing::EightBitStereo;

// The fault PCM (fault_pcm.cpp) delivers a constant level, read as 192, as fast as it is read;
// the variables below make it overrun or go away after so many frames at 48 kHz.
void Ask(const char* xrun_at, const char* xrun_again, const char* gone_at) {
  const auto set = [](const char* name, const char* value) {
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  };
  set("FC_FAULT_XRUN_AT", xrun_at);
  set("FC_FAULT_XRUN_AGAIN", xrun_again);
  set("FC_FAULT_GONE_AT", gone_at);
}

template <typename Ready>
bool Within(std::chrono::seconds limit, Ready ready) {
  const auto start = std::chrono::steady_clock::now();
  while (!ready()) {
    if (std::chrono::steady_clock::now() - start > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(AlsaFaultTest, AnOverrunIsCountedAndTheRecordingGoesOn) {
  Ask("48000", nullptr, nullptr);  // after a second of input
  AlsaWaveInput::Options options;
  options.buffer = std::chrono::milliseconds(250);
  AlsaWaveInput input(options);
  ASSERT_EQ(input.Devices().size(), 1u);
  const WaveInHandle handle = input.Open(0, EightBitStereo());
  ASSERT_NE(handle, 0);
  input.Start(handle);
  std::vector<uint8_t> frame(2048);
  WaveHeader header;
  header.data = frame.data();
  header.buffer_length = 2048;
  input.AddBuffer(handle, header);
  ASSERT_TRUE(Within(std::chrono::seconds(10), [&] { return header.Done(); }));
  input.UnprepareHeader(handle, header);
  EXPECT_FALSE(input.Lost(handle));
  for (size_t i = 0; i < frame.size(); ++i) ASSERT_EQ(frame[i], 192) << i;
  // At least the quarter second the device held, which the restart threw away.
  EXPECT_GE(input.SamplesLost(handle), 60u);
  EXPECT_LE(input.SamplesLost(handle), 256u);
  input.Close(handle);
}

TEST(AlsaFaultTest, AnUnpluggedDeviceOrOneThatKeepsOverrunningIsLost) {
  struct Case {
    const char* xrun_at;
    const char* xrun_again;
    const char* gone_at;
  };
  for (const Case& c : {Case{nullptr, nullptr, "48000"}, Case{"48000", "1", nullptr}}) {
    SCOPED_TRACE(c.gone_at != nullptr ? "unplugged" : "overrunning");
    Ask(c.xrun_at, c.xrun_again, c.gone_at);
    AlsaWaveInput input;
    input.Devices();
    const WaveInHandle handle = input.Open(0, EightBitStereo());
    ASSERT_NE(handle, 0);
    input.Start(handle);
    std::vector<uint8_t> frame(2048);
    WaveHeader header;
    header.data = frame.data();
    header.buffer_length = 2048;
    input.AddBuffer(handle, header);
    EXPECT_TRUE(Within(std::chrono::seconds(10), [&] { return input.Lost(handle); }));
    EXPECT_FALSE(header.Done());
    input.Reset(handle);
    EXPECT_TRUE(header.Done());
    input.Close(handle);
  }
}

}  // namespace
}  // namespace fc
