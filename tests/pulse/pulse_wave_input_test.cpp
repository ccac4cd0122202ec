#include "capture/pulse/pulse_wave_input.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "analysis/frame_analysis.h"
#include "analysis/measurement_state.h"
#include "pulse/private_server.h"
#include "support/fakes.h"
#include "support/wave_format.h"
#include "support/unix_socket.h"

namespace fc {
namespace {

using Seconds = std::chrono::duration<double>;

// The private server's pulse train: 0.3125 s period (80 points at 256 Hz), 31.25 ms high.
constexpr int kPeriodUs = 312500;
constexpr int kWidthUs = 31250;
constexpr int kPeriodPoints = 80;

using testing::EightBitStereo;

double Since(std::chrono::steady_clock::time_point start) {
  return Seconds(std::chrono::steady_clock::now() - start).count();
}

bool WaitDone(const WaveHeader& header, double seconds) {
  const auto start = std::chrono::steady_clock::now();
  while (!header.Done()) {
    if (Since(start) > seconds) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Points where the first channel reaches full scale after being below it.
std::vector<int> RisingEdges(const uint8_t* row, int points) {
  std::vector<int> edges;
  for (int i = 1; i < points; ++i) {
    if (row[2 * i] == 255 && row[2 * i - 2] != 255) edges.push_back(i);
  }
  return edges;
}

class PulseInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server_.Start(kPeriodUs, kWidthUs)) {
      if (testing::PrivateServer::required()) FAIL() << server_.problem();
      GTEST_SKIP() << server_.problem();
    }
    PulseWaveInput::Options options;
    options.server = server_.address();
    input_ = std::make_unique<PulseWaveInput>(options);
    devices_ = input_->Devices();
    for (size_t id = 0; id < devices_.size(); ++id) {
      if (devices_[id].name.find("Test-pulse-input") != std::string::npos) test_device_ = static_cast<int>(id);
    }
    ASSERT_GE(test_device_, 0) << "the monitor of the test sink is not listed";
  }

  testing::PrivateServer server_;
  std::unique_ptr<PulseWaveInput> input_;
  std::vector<WaveInDevice> devices_;
  int test_device_ = -1;
};

// Records `points` stereo points into `data`, queued at once after the previous recording.
void Record(WaveInput& input, WaveInHandle handle, WaveHeader& header, uint8_t* data, int points) {
  header.data = data;
  header.buffer_length = static_cast<uint32_t>(2 * points);
  input.PrepareHeader(handle, header);
  input.AddBuffer(handle, header);
  ASSERT_TRUE(WaitDone(header, 8.0)) << "no " << points << " points within 8 s";
  input.UnprepareHeader(handle, header);
}

TEST_F(PulseInputTest, RecordsThePulsePeriodOnEveryFrame) {
  for (const WaveInDevice& device : devices_) EXPECT_TRUE(device.can_record_8bit_stereo) << device.name;

  MeasurementState state;
  UpdateConsecutive(state);  // 3 points, Max Limit 5, jump 80
  state.BufferSize = kCaptureBufferSize;
  state.QuillRecordFreq = kCaptureRate;
  fc::testing::FakeDisplay display;

  const WaveInHandle handle = input_->Open(test_device_, EightBitStereo());
  ASSERT_NE(handle, 0);
  input_->Start(handle);
  WaveHeader header;

  // The detector cannot see an edge on the first points of a frame (it looks three points
  // back from point 6), so the frames are lined up with the train first: two periods to find a
  // rising edge, then as many points as put the next one at point 20 of frame 0. Recordings
  // queued at once follow each other without a gap, so frames 1 and 2 then have their first
  // rising edge at 36 and 52 (1024 = 12 * 80 + 64).
  std::vector<uint8_t> lead(2 * 2 * kPeriodPoints);
  ASSERT_NO_FATAL_FAILURE(Record(*input_, handle, header, lead.data(), 2 * kPeriodPoints));
  const std::vector<int> lead_edges = RisingEdges(lead.data(), 2 * kPeriodPoints);
  ASSERT_FALSE(lead_edges.empty());
  const int shift = (lead_edges.front() - 20 + kPeriodPoints) % kPeriodPoints;
  if (shift > 0) {
    ASSERT_NO_FATAL_FAILURE(Record(*input_, handle, header, lead.data(), shift));
  }

  const int first_edges[] = {20, 36, 52};
  for (int frame = 0; frame < 3; ++frame) {
    ASSERT_NO_FATAL_FAILURE(Record(*input_, handle, header, state.Row(frame), 1024)) << "frame " << frame;
    EXPECT_FALSE(input_->Lost(handle));
    state.CurrentFrame = static_cast<int16_t>(frame);
    AnalyzeFrame(state, display);

    const std::vector<int> edges = RisingEdges(state.Row(frame), 1024);
    EXPECT_DOUBLE_EQ(state.FrameResults[frame], 0.3125)
        << "frame " << frame << ", rising edges at " << ::testing::PrintToString(edges);
    ASSERT_FALSE(edges.empty());
    EXPECT_EQ(edges.front(), first_edges[frame]) << "frame " << frame;
    for (size_t k = 1; k < edges.size(); ++k) EXPECT_EQ(edges[k] - edges[k - 1], kPeriodPoints);
    // Full scale throughout: at most one value between the levels at each edge, never two in
    // a row (a resampler's ringing would give 250, 253, ...), and both channels alike.
    const uint8_t* row = state.Row(frame);
    for (int i = 0; i < 1024; ++i) {
      EXPECT_EQ(row[2 * i], row[2 * i + 1]) << "frame " << frame << " point " << i;
      const bool between = row[2 * i] != 0 && row[2 * i] != 255;
      const bool previous_between = i > 0 && row[2 * i - 2] != 0 && row[2 * i - 2] != 255;
      EXPECT_FALSE(between && previous_between) << "frame " << frame << " point " << i;
    }
  }
  input_->Reset(handle);
  input_->Close(handle);
}

TEST_F(PulseInputTest, ShortBuffersQueuedAtOnceJoinWithoutAGap) {
  const WaveInHandle handle = input_->Open(test_device_, EightBitStereo());
  ASSERT_NE(handle, 0);
  input_->Start(handle);
  WaveHeader header;
  // Buffers of 1 to 7 points, most of them shorter than one delivery from the server.
  std::vector<uint8_t> joined;
  std::vector<uint8_t> buffer(2 * 7);
  for (int i = 0; joined.size() < 2u * 4 * kPeriodPoints; ++i) {
    const int points = i % 7 + 1;
    ASSERT_NO_FATAL_FAILURE(Record(*input_, handle, header, buffer.data(), points));
    joined.insert(joined.end(), buffer.begin(), buffer.begin() + 2 * points);
  }
  input_->Close(handle);

  const std::vector<int> edges = RisingEdges(joined.data(), static_cast<int>(joined.size() / 2));
  ASSERT_GE(edges.size(), 3u);
  for (size_t k = 1; k < edges.size(); ++k) {
    EXPECT_EQ(edges[k] - edges[k - 1], kPeriodPoints) << "edges " << ::testing::PrintToString(edges);
  }
  for (size_t i = 0; i < joined.size(); i += 2) ASSERT_EQ(joined[i], joined[i + 1]) << i;
}

TEST_F(PulseInputTest, ResetReturnsTheBufferAndRecordingGoesOnForTheNext) {
  std::vector<uint8_t> buffer(2048, 0x55);
  const WaveInHandle handle = input_->Open(test_device_, EightBitStereo());
  ASSERT_NE(handle, 0);
  input_->Start(handle);
  WaveHeader header;
  header.data = buffer.data();
  header.buffer_length = 2048;
  input_->PrepareHeader(handle, header);
  input_->AddBuffer(handle, header);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_FALSE(header.Done());
  input_->Reset(handle);
  EXPECT_TRUE(header.Done());
  input_->UnprepareHeader(handle, header);

  // About 0.8 s were recorded, the rest of the buffer is untouched, and stays so.
  int written = 0;
  for (uint8_t byte : buffer) written += byte != 0x55 ? 1 : 0;
  EXPECT_GT(written, 100);
  for (size_t i = 1024; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0x55) << i;
  const std::vector<uint8_t> after_reset = buffer;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(buffer, after_reset);

  // Queued again, the buffer is filled from its start.
  std::fill(buffer.begin(), buffer.end(), 0x55);
  input_->PrepareHeader(handle, header);
  input_->AddBuffer(handle, header);
  EXPECT_FALSE(header.Done());
  ASSERT_TRUE(WaitDone(header, 8.0));
  const size_t edges = RisingEdges(buffer.data(), 1024).size();
  EXPECT_TRUE(edges == 12 || edges == 13) << edges;  // 1024 / 80 = 12.8
  input_->Close(handle);
}

TEST_F(PulseInputTest, KilledServerIsNoticedAtOnceAndNothingHangs) {
  const WaveInHandle handle = input_->Open(test_device_, EightBitStereo());
  ASSERT_NE(handle, 0);
  input_->Start(handle);
  std::vector<uint8_t> buffer(2048);
  WaveHeader header;
  header.data = buffer.data();
  header.buffer_length = 2048;
  input_->PrepareHeader(handle, header);
  input_->AddBuffer(handle, header);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(input_->Lost(handle));

  const pid_t pid = server_.server_pid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  const auto killed = std::chrono::steady_clock::now();
  while (!input_->Lost(handle) && Since(killed) < 5.0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(input_->Lost(handle));
  EXPECT_LT(Since(killed), 1.0);
  EXPECT_FALSE(header.Done());

  const auto closing = std::chrono::steady_clock::now();
  input_->Reset(handle);
  EXPECT_TRUE(header.Done());
  input_->UnprepareHeader(handle, header);
  input_->Close(handle);
  EXPECT_LT(Since(closing), 1.0);

  // With the server gone there is nothing to list or open, and no waiting for it either; the
  // empty list is told apart from a server without sources.
  EXPECT_TRUE(input_->ServerReached());
  const auto asking = std::chrono::steady_clock::now();
  EXPECT_TRUE(input_->Devices().empty());
  EXPECT_FALSE(input_->ServerReached());
  EXPECT_EQ(input_->Open(0, EightBitStereo()), 0);
  EXPECT_LT(Since(asking), 2.0);
}

TEST_F(PulseInputTest, SourceThatGoesAwayIsLost) {
  const WaveInHandle handle = input_->Open(test_device_, EightBitStereo());
  ASSERT_NE(handle, 0);
  input_->Start(handle);
  std::vector<uint8_t> buffer(2048);
  WaveHeader header;
  header.data = buffer.data();
  header.buffer_length = 2048;
  input_->AddBuffer(handle, header);
  // As if the device were unplugged: the sink and its monitor go.
  const std::string unload = "PULSE_SERVER=" + server_.address() + " pactl unload-module module-null-sink";
  ASSERT_EQ(std::system(unload.c_str()), 0);
  const auto unloaded = std::chrono::steady_clock::now();
  while (!input_->Lost(handle) && Since(unloaded) < 5.0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(input_->Lost(handle));
  EXPECT_LT(Since(unloaded), 1.0);
  input_->Reset(handle);
  input_->Close(handle);
}

TEST_F(PulseInputTest, UnknownDeviceOrUnsupportedFormatGivesNoHandle) {
  EXPECT_EQ(input_->Open(static_cast<int>(devices_.size()), EightBitStereo()), 0);
  EXPECT_EQ(input_->Open(-1, EightBitStereo()), 0);
  WaveFormat sixteen_bit = EightBitStereo();
  sixteen_bit.bits_per_sample = 16;
  EXPECT_EQ(input_->Open(test_device_, sixteen_bit), 0);
  WaveFormat too_fast = EightBitStereo();
  too_fast.samples_per_sec = 96000;  // above the sink's 48 kHz: there is nothing to average
  EXPECT_EQ(input_->Open(test_device_, too_fast), 0);

  // A handle that was never given is lost and its calls do nothing.
  WaveHeader header;
  input_->AddBuffer(12345, header);
  input_->Reset(12345);
  EXPECT_FALSE(header.Done());
  EXPECT_TRUE(input_->Lost(12345));
}

TEST(PulseWaveInputWithoutServerTest, ListsNothingAndOpensNothing) {
  PulseWaveInput::Options options;
  options.server = "unix:/nonexistent-fc-pulse/native";
  PulseWaveInput input(options);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(input.Devices().empty());
  EXPECT_FALSE(input.ServerReached());
  EXPECT_EQ(input.Open(0, EightBitStereo()), 0);
  EXPECT_FALSE(input.ServerReached());
  EXPECT_LT(Since(start), 2.0);
}

// A server that takes the connection but never answers: each call gives up within its one
// time-out, connecting and listing together, and says so.
TEST(PulseWaveInputWithoutServerTest, ServerThatDoesNotAnswer) {
  char dir[] = "/tmp/fc-mute-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string socket_path = std::string(dir) + "/native";
  const int listener = testing::BoundUnixSocket(socket_path, true);
  ASSERT_GE(listener, 0);

  PulseWaveInput::Options options;
  options.server = "unix:" + socket_path;
  options.timeout = std::chrono::milliseconds(600);
  PulseWaveInput input(options);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(input.Devices().empty());
  EXPECT_LT(Since(start), 3.0);
  EXPECT_FALSE(input.ServerReached());
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(input.Open(0, EightBitStereo()), 0);
  EXPECT_LT(Since(start), 3.0);
  EXPECT_FALSE(input.ServerReached());

  ::close(listener);
  ::unlink(socket_path.c_str());
  ::rmdir(dir);
}

}  // namespace
}  // namespace fc
