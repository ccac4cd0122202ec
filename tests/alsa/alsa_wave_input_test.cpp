#include "capture/alsa/alsa_wave_input.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "support/wave_format.h"

namespace fc {
namespace {

// The test PCMs (asound.conf beside this file) play a pulse train 80 points apart at 256 Hz,
// high for 8 points, first rising at point 20.
constexpr int kPeriodPoints = 80;

using testing::EightBitStereo;

bool WaitDone(const WaveHeader& header) {
  const auto start = std::chrono::steady_clock::now();
  while (!header.Done()) {
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(10)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(AlsaWaveInputTest, ListsTheCapturePcmsDefaultFirstAndRefusesWhatItCannotRecord) {
  AlsaWaveInput input;
  const std::vector<WaveInDevice> devices = input.Devices();
  // Not the null device, which records only silence.
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[0].name, "Default test input");
  EXPECT_EQ(devices[1].name, "Test pulse train");
  EXPECT_EQ(devices[2].name, "Mono test pulse train");
  for (const WaveInDevice& device : devices) EXPECT_TRUE(device.can_record_8bit_stereo);

  EXPECT_EQ(input.Open(3, EightBitStereo()), 0);
  EXPECT_EQ(input.Open(-1, EightBitStereo()), 0);
  WaveFormat sixteen_bit = EightBitStereo();
  sixteen_bit.bits_per_sample = 16;
  EXPECT_EQ(input.Open(0, sixteen_bit), 0);
  WaveFormat three_channels = EightBitStereo();
  three_channels.channels = 3;
  EXPECT_EQ(input.Open(0, three_channels), 0);
  WaveFormat too_fast = EightBitStereo();
  too_fast.samples_per_sec = 400000;  // above every rate it records at
  EXPECT_EQ(input.Open(0, too_fast), 0);
  EXPECT_TRUE(input.Lost(12345));
}

TEST(AlsaWaveInputTest, BuffersQueuedOneAfterAnotherJoinWithoutAGapFromStereoAndMono) {
  for (const int device : {1, 2}) {
    SCOPED_TRACE(device == 1 ? "stereo" : "mono");
    AlsaWaveInput input;
    input.Devices();
    const WaveInHandle handle = input.Open(device, EightBitStereo());
    ASSERT_NE(handle, 0);
    input.Start(handle);
    WaveHeader header;
    // Buffers of 1 to 7 points, against reads of a 25th of a second of input.
    std::vector<uint8_t> joined;
    std::vector<uint8_t> buffer(2 * 7);
    for (int i = 0; joined.size() < 2u * 5 * kPeriodPoints; ++i) {
      const int points = i % 7 + 1;
      header.data = buffer.data();
      header.buffer_length = static_cast<uint32_t>(2 * points);
      input.PrepareHeader(handle, header);
      input.AddBuffer(handle, header);
      ASSERT_TRUE(WaitDone(header)) << "buffer " << i;
      input.UnprepareHeader(handle, header);
      joined.insert(joined.end(), buffer.begin(), buffer.begin() + 2 * points);
    }
    EXPECT_FALSE(input.Lost(handle));
    EXPECT_EQ(input.SamplesLost(handle), 0u);
    input.Reset(handle);
    input.Close(handle);

    // Full scale throughout, both channels alike, rising every 80 points from point 20.
    for (size_t i = 0; i < joined.size(); i += 2) {
      const size_t point = i / 2;
      ASSERT_EQ(joined[i], joined[i + 1]) << point;
      const bool high = point >= 20 && (point - 20) % kPeriodPoints < 8;
      ASSERT_EQ(joined[i], high ? 255 : 0) << "point " << point;
    }
  }
}

}  // namespace
}  // namespace fc
