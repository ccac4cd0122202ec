#include "capture/native_samples.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace fc {
namespace {

TEST(NativeSamplesTest, ScalesBothWidthsAndSpreadsMonoOverBothChannels) {
  const int16_t wide[] = {-32768, 16384, 32767, 0};
  std::vector<uint8_t> bytes(sizeof wide);
  std::memcpy(bytes.data(), wide, sizeof wide);
  std::vector<float> out(8);
  ToFloatFrames(bytes.data(), NativeSampleFormat::Signed16, 1, 4, 2, out.data());
  EXPECT_EQ(out, (std::vector<float>{-1.0f, -1.0f, 0.5f, 0.5f, 32767.0f / 32768.0f,
                                     32767.0f / 32768.0f, 0.0f, 0.0f}));

  // Stereo 8-bit, offset binary: the channels stay apart; stereo into mono keeps the first.
  const uint8_t narrow[] = {0, 255, 128, 192};
  out.assign(4, 9.0f);
  ToFloatFrames(narrow, NativeSampleFormat::Unsigned8, 2, 2, 2, out.data());
  EXPECT_EQ(out, (std::vector<float>{-1.0f, 127.0f / 128.0f, 0.0f, 0.5f}));
  ToFloatFrames(narrow, NativeSampleFormat::Unsigned8, 2, 2, 1, out.data());
  EXPECT_EQ(out[0], -1.0f);
  EXPECT_EQ(out[1], 0.0f);
}

}  // namespace
}  // namespace fc
