#include "capture/block_averager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace fc {
namespace {

std::vector<uint8_t> Average(BlockAverager& averager, const std::vector<float>& samples) {
  std::vector<uint8_t> out;
  averager.Push(samples.data(), samples.size() / static_cast<size_t>(averager.Channels()),
                [&](const uint8_t* frame) { out.insert(out.end(), frame, frame + averager.Channels()); });
  return out;
}

TEST(BlockAveragerTest, ConvertsMeansToUnsignedEightBits) {
  EXPECT_EQ(BlockAverager::ToUnsigned8(0.0), 128);
  EXPECT_EQ(BlockAverager::ToUnsigned8(0.5), 192);
  EXPECT_EQ(BlockAverager::ToUnsigned8(-0.5), 64);
  EXPECT_EQ(BlockAverager::ToUnsigned8(0.3), 166);   // 166.4
  EXPECT_EQ(BlockAverager::ToUnsigned8(-0.3), 90);   // 89.6
  EXPECT_EQ(BlockAverager::ToUnsigned8(-1.0), 0);
  EXPECT_EQ(BlockAverager::ToUnsigned8(1.0), 255);   // 256 is clipped
  EXPECT_EQ(BlockAverager::ToUnsigned8(32767.0 / 32768.0), 255);
  EXPECT_EQ(BlockAverager::ToUnsigned8(3.0), 255);
  EXPECT_EQ(BlockAverager::ToUnsigned8(-3.0), 0);
  EXPECT_EQ(BlockAverager::ToUnsigned8(std::nan("")), 128);
}

TEST(BlockAveragerTest, AveragesWholeBlocksPerChannel) {
  BlockAverager averager(1024, 256, 2);  // four input frames per output frame
  const std::vector<float> samples = {
      1, 0, 1, 0, 1, 0, 1, 0,                // left full scale, right mid
      -1, 0.5f, -1, 0.5f, -1, 0.5f, -1, 0.5f,
      0, 0, 0, 0, 0, 0, 0.5f, -1,            // means 0.125 and -0.25
      0.25f, 0.25f,                          // an unfinished block gives nothing yet
  };
  EXPECT_EQ(Average(averager, samples), (std::vector<uint8_t>{255, 128, 0, 192, 144, 96}));
}

TEST(BlockAveragerTest, FractionalRatioSplitsBlocksByInputTime) {
  // 2.5 input frames per output frame: blocks of 3, 2, 3, 2 frames.
  BlockAverager averager(640, 256, 1);
  const std::vector<float> samples = {0.0f, 0.25f, 0.5f, 1, 1, -1, -1, -1, 0.5f, 0};
  EXPECT_EQ(Average(averager, samples), (std::vector<uint8_t>{160, 255, 0, 160}));
}

TEST(BlockAveragerTest, FullScaleEdgeHasOneIntermediateValueAndNoOvershoot) {
  // One second at 48 kHz, low until input frame 1000 and high from there. Output 5 covers input
  // frames 938..1124: 62 low and 125 high, mean 63/187, giving 171.
  BlockAverager averager(48000, 256, 1);
  std::vector<float> samples(48000, 1.0f);
  for (int i = 0; i < 1000; ++i) samples[i] = -1.0f;
  const std::vector<uint8_t> out = Average(averager, samples);
  ASSERT_EQ(out.size(), 256u);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(out[k], 0) << k;
  EXPECT_EQ(out[5], 171);
  for (int k = 6; k < 256; ++k) EXPECT_EQ(out[k], 255) << k;
}

TEST(BlockAveragerTest, ChunkBoundariesDoNotMatter) {
  std::vector<float> samples(2 * 9000);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i * 37 % 200) / 100.0f - 1.0f;
  BlockAverager whole(44100, 256, 2);
  const std::vector<uint8_t> expected = Average(whole, samples);
  ASSERT_EQ(expected.size(), 2u * 52);  // 9000 * 256 / 44100 = 52.2: 52 complete blocks

  BlockAverager pieces(44100, 256, 2);
  std::vector<uint8_t> out;
  const auto sink = [&](const uint8_t* frame) { out.insert(out.end(), frame, frame + 2); };
  size_t frame = 0;
  for (size_t step = 1; frame < 9000; step = step * 3 % 997 + 1) {
    const size_t count = std::min(step, 9000 - frame);
    pieces.Push(samples.data() + 2 * frame, count, sink);
    frame += count;
  }
  EXPECT_EQ(out, expected);
}

TEST(BlockAveragerTest, SilenceCountsAsMidLevel) {
  BlockAverager averager(1024, 256, 1);
  std::vector<uint8_t> out;
  const auto sink = [&](const uint8_t* frame) { out.push_back(frame[0]); };
  const std::vector<float> high = {1, 1};
  averager.Push(high.data(), 2, sink);
  averager.PushSilence(6, sink);  // completes the half-high block, then one silent block
  EXPECT_EQ(out, (std::vector<uint8_t>{192, 128}));
}

}  // namespace
}  // namespace fc
