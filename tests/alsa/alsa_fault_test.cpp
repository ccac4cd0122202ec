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

// The fault PCM opened, started and one frame queued into `frame`.
struct QueuedFrame {
  explicit QueuedFrame(AlsaWaveInput::Options options) : input(options) {
    input.Devices();
    handle = input.Open(0, EightBitStereo());
    if (handle == 0) return;
    input.Start(handle);
    header.data = frame.data();
    header.buffer_length = static_cast<uint32_t>(frame.size());
    input.AddBuffer(handle, header);
  }

  AlsaWaveInput input;
  WaveInHandle handle = 0;
  std::vector<uint8_t> frame = std::vector<uint8_t>(2048);
  WaveHeader header;
};

TEST(AlsaFaultTest, AnOverrunIsCountedAndTheRecordingGoesOn) {
  Ask("48000", nullptr, nullptr);  // after a second of input
  AlsaWaveInput::Options options;
  options.buffer = std::chrono::milliseconds(250);
  QueuedFrame run(options);
  ASSERT_NE(run.handle, 0);
  ASSERT_TRUE(Within(std::chrono::seconds(10), [&] { return run.header.Done(); }));
  run.input.UnprepareHeader(run.handle, run.header);
  EXPECT_FALSE(run.input.Lost(run.handle));
  for (size_t i = 0; i < run.frame.size(); ++i) ASSERT_EQ(run.frame[i], 192) << i;
  // At least the quarter second the device held, which the restart threw away.
  EXPECT_GE(run.input.SamplesLost(run.handle), 60u);
  EXPECT_LE(run.input.SamplesLost(run.handle), 256u);
  run.input.Close(run.handle);
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
    QueuedFrame run{AlsaWaveInput::Options{}};
    ASSERT_NE(run.handle, 0);
    EXPECT_TRUE(Within(std::chrono::seconds(10), [&] { return run.input.Lost(run.handle); }));
    EXPECT_FALSE(run.header.Done());
    run.input.Reset(run.handle);
    EXPECT_TRUE(run.header.Done());
    run.input.Close(run.handle);
  }
}

}  // namespace
}  // namespace fc
