#include "capture/capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/fake_host.h"
#include "support/scripted_wave_input.h"

namespace fc::testing {
namespace {

constexpr double kNoon = 43200.0;

// A full-scale square wave on the first channel, `period` points long, low half first: its
// period reads as period / 256 seconds.
void SquareWave(uint8_t* data, uint32_t length, int period) {
  for (uint32_t j = 0; 2 * j + 1 < length; ++j) {
    data[2 * j] = (static_cast<int>(j) % period) < period / 2 ? 0 : 255;
    data[2 * j + 1] = 128;
  }
}

class CaptureTest : public ::testing::Test {
 protected:
  CaptureTest() : clock(kNoon), input(clock), host(clock), capture(state, display, input, host, clock) {
    UpdateConsecutive(state);  // 3 points, Max Limit 5, jump 80
    input.fill = [this](int queue, uint8_t* data, uint32_t length) {
      const auto found = periods.find(queue);
      SquareWave(data, length, found == periods.end() ? 64 : found->second);
    };
    capture.InitDevices();
  }

  // Stop is clicked while frame `frame` is being recorded.
  void ClickStopDuringFrame(int frame) {
    host.on_wait = [this, frame] {
      if (state.CurrentFrame == frame) stop_clicked = true;
    };
    host.on_input = [this] {
      if (stop_clicked) capture.Stop();
    };
  }

  std::vector<std::string> CallsAfterAddBuffer(int n, std::size_t count) {
    int seen = 0;
    for (std::size_t i = 0; i < input.calls.size(); ++i) {
      if (input.calls[i] == "AddBuffer" && seen++ == n) {
        const auto first = input.calls.begin() + static_cast<std::ptrdiff_t>(i) + 1;
        const auto last = input.calls.begin() +
                          static_cast<std::ptrdiff_t>(std::min(input.calls.size(), i + 1 + count));
        return {first, last};
      }
    }
    return {};
  }

  MeasurementState state;
  FakeDisplay display;
  FakeClock clock;
  ScriptedWaveInput input;
  FakeHost host;
  Capture capture;
  std::map<int, int> periods;  // queue number -> square-wave period in points (default 64)
  bool stop_clicked = false;
};

TEST_F(CaptureTest, FullRunStopsItselfAfterFrame1000) {
  periods = {{0, 32}, {1000, 128}};
  bool file_buttons_during_run = true;
  host.on_input = [this, &file_buttons_during_run] {
    if (state.CurrentFrame == 500) file_buttons_during_run = host.file_buttons_enabled;
    // The last block starts exactly 4000 s after the first, so 1000 blocks of 4 s.
    if (state.CurrentFrame == 1000) clock.SetTimeOfDay(kNoon + 4000.0);
  };
  capture.Start(0);

  EXPECT_EQ(state.CurrentFrame, 1001);
  EXPECT_EQ(state.hWaveIn, 0);
  EXPECT_TRUE(state.RunStarted);
  EXPECT_TRUE(host.start_enabled);
  EXPECT_FALSE(host.stop_enabled);
  EXPECT_TRUE(host.command3_visible);
  EXPECT_FALSE(file_buttons_during_run);
  EXPECT_TRUE(host.file_buttons_enabled);
  ASSERT_EQ(host.dialog.shown.size(), 1u);
  EXPECT_EQ(host.dialog.shown[0], (Message{"Avg time per block = 4.000", MessageButtons::Ok,
                                           MessageIcon::None, ""}));
  // (0.125 + 999 x 0.25 + 0.5) / 1001 = 0.250125
  EXPECT_EQ(host.label2, "Average = .2501");
  EXPECT_EQ(state.FrameResults[0], 0.125);
  EXPECT_EQ(state.FrameResults[1000], 0.5);

  EXPECT_EQ(input.opened_device, 0);
  const WaveFormat& f = input.opened_format;
  EXPECT_EQ(std::vector<int>({f.format_tag, f.channels, static_cast<int>(f.samples_per_sec),
                              static_cast<int>(f.avg_bytes_per_sec), f.block_align,
                              f.bits_per_sample, f.extra_size}),
            std::vector<int>({1, 2, 256, 512, 2, 8, 0}));
  EXPECT_EQ(capture.header().buffer_length, 2048u);
  ASSERT_EQ(input.queued_count(), 1001);
  for (int k = 0; k < 1001; ++k) ASSERT_EQ(input.queued_data[static_cast<std::size_t>(k)], state.Row(k));
  EXPECT_TRUE(input.errors.empty()) << input.errors.front();
  EXPECT_EQ(std::vector<std::string>(input.calls.begin(), input.calls.begin() + 6),
            (std::vector<std::string>{"Devices", "Open 0", "Start", "PrepareHeader", "AddBuffer",
                                      "UnprepareHeader"}));
  EXPECT_EQ(std::vector<std::string>(input.calls.end() - 3, input.calls.end()),
            (std::vector<std::string>{"UnprepareHeader", "Reset", "Close"}));
  // Pending input is handled once per frame; the wait sleeps between checks instead of spinning.
  EXPECT_EQ(host.input_calls, 1001);
  EXPECT_GT(host.wait_calls, 1001 * 200);
  EXPECT_NEAR(clock.MonotonicSeconds(), 1001 * 4.0, 1001 * 2 * kWaitStepSeconds);
}

// The stores a run hands over when it goes on past frame 1000.
class StoreListener : public RunListener {
 public:
  void RunStarted(const MeasurementState&) override {}
  void FrameAnalysed(const MeasurementState&, int) override {}
  void StoreFilled(const MeasurementState& state) override {
    filled_at.push_back(state.CurrentFrame);
    last_row_period.push_back(state.FrameResults[kLastFrame]);
  }
  std::vector<int> filled_at;
  std::vector<double> last_row_period;
};

TEST_F(CaptureTest, RunGoingOnPastTheStoreNumbersOnAndReportsTheWholeRun) {
  capture.SetContinuePastStore(true);
  StoreListener listener;
  capture.SetRunListener(&listener);
  periods = {{1000, 128}, {1001, 32}};   // the last row of the first store, the first of the next
  clock.SetTimeOfDay(86400.0 - 3000.0);  // midnight comes during the first store
  host.on_input = [this] {
    // The clock jumps an hour forward between the stores: the report must cover both.
    if (state.RunFramesBefore == 1001 && state.CurrentFrame == 0) {
      clock.SetTimeOfDay(clock.SecondsSinceMidnight() + 3600.0);
    }
    if (state.RunFrame(state.CurrentFrame) == 1500) capture.Stop();
  };
  capture.Start(0);

  EXPECT_EQ(listener.filled_at, std::vector<int>{1001});
  EXPECT_EQ(listener.last_row_period, std::vector<double>{0.5});
  EXPECT_EQ(state.RunFramesBefore, 1001);
  EXPECT_EQ(state.CurrentFrame, 499);
  ASSERT_EQ(input.queued_count(), 1500);
  EXPECT_EQ(input.queued_data[1001], state.Row(0));
  EXPECT_EQ(state.FrameResults[0], 0.125);
  EXPECT_EQ(state.FrameResults[600], 0.0);  // the store started afresh
  EXPECT_NE(display.log.find("\r\n 1000   .5000   .000\r\n 1001   .1250   .000\r\n 1002   .2500"),
            std::string::npos);
  EXPECT_NE(display.log.find("\r\n 1499   .2500   .000\r\n"), std::string::npos);

  // (1498 x 0.25 + 0.5 + 0.125) / 1500 = 0.250083
  EXPECT_EQ(host.label2, "Average = .2501");
  ASSERT_EQ(host.dialog.shown.size(), 1u);
  const std::string& block = host.dialog.shown[0].text;
  ASSERT_EQ(block.rfind("Avg time per block = ", 0), 0u) << block;
  const double expected = (input.queued_at[1499] - input.queued_at[0] + 3600.0) / 1499.0;
  EXPECT_NEAR(std::stod(block.substr(21)), expected, 0.0015) << block;
  EXPECT_TRUE(input.errors.empty());
}

TEST_F(CaptureTest, StartClearsTheReadoutAndSetsTheCaptureParameters) {
  display.Trace().DrawLine(0, 0, 1, 1);
  display.Scope().DrawLine(0, 0, 1, 1);
  ClickStopDuringFrame(0);
  capture.Start(0);
  EXPECT_EQ(display.trace.clears, 1);
  EXPECT_EQ(display.scope.clears, 1);
  EXPECT_EQ(display.log, " 0   .2500   .000\r\n");
  EXPECT_EQ(state.BufferSize, 1024);
  EXPECT_EQ(state.QuillRecordFreq, 256.0f);
}

TEST_F(CaptureTest, StopClickedDuringAFrameTakesEffectAfterItsAnalysis) {
  state.FrameResults[4] = 9.0;
  ClickStopDuringFrame(3);
  capture.Start(0);

  EXPECT_EQ(state.CurrentFrame, 4);
  EXPECT_EQ(input.queued_count(), 4);
  EXPECT_EQ(state.FrameResults[3], 0.25);
  EXPECT_EQ(state.FrameResults[4], 9.0);
  EXPECT_EQ(host.input_calls, 4);
  EXPECT_TRUE(host.command3_visible);
  EXPECT_EQ(input.calls.back(), "Close");
  EXPECT_TRUE(input.errors.empty());
}

TEST_F(CaptureTest, StopReportExamples) {
  clock.SetTimeOfDay(1000.0);
  host.on_input = [this] {
    if (state.CurrentFrame == 4) clock.SetTimeOfDay(1016.5);
    if (state.CurrentFrame == 5) capture.Stop();
  };
  capture.Start(0);
  ASSERT_EQ(host.dialog.shown.size(), 1u);
  EXPECT_EQ(host.dialog.shown[0].text, "Avg time per block = 4.125");

  periods = {{5, 64}, {6, 128}};
  ClickStopDuringFrame(1);
  capture.Start(0);
  EXPECT_EQ(host.label2, "Average = .3750");
}

TEST_F(CaptureTest, RunAcrossMidnightReportsThePlainBlockTime) {
  clock.SetTimeOfDay(86398.0);
  host.on_input = [this] {
    if (state.CurrentFrame == 2) clock.SetTimeOfDay(6.0);
    if (state.CurrentFrame == 3) capture.Stop();
  };
  capture.Start(0);
  EXPECT_EQ(state.FrameStartTime[2], 6.0f);
  ASSERT_EQ(host.dialog.shown.size(), 1u);
  EXPECT_EQ(host.dialog.shown[0].text, "Avg time per block = 4.000");
}

TEST_F(CaptureTest, StopWithFewerThanTwoFrames) {
  // Before any run: no device call, no message, the label as it was.
  host.label2 = "before";
  capture.Stop();
  EXPECT_TRUE(input.calls == std::vector<std::string>{"Devices"});
  EXPECT_TRUE(host.dialog.shown.empty());
  EXPECT_EQ(host.label2, "before");
  EXPECT_TRUE(host.start_enabled);
  EXPECT_FALSE(host.stop_enabled);
  EXPECT_TRUE(host.command3_visible);

  // One frame: the label shows its result and there is no time per block.
  periods = {{0, 128}};
  ClickStopDuringFrame(0);
  capture.Start(0);
  EXPECT_EQ(state.CurrentFrame, 1);
  EXPECT_TRUE(host.dialog.shown.empty());
  EXPECT_EQ(host.label2, "Average = .5000");
}

TEST_F(CaptureTest, SecondShorterRunLeavesLaterFramesAsTheyWere) {
  ClickStopDuringFrame(5);
  capture.Start(0);
  ASSERT_EQ(state.CurrentFrame, 6);
  const float start_time_4 = state.FrameStartTime[4];
  std::vector<uint8_t> row_4(state.Row(4), state.Row(4) + kFrameRowBytes);

  for (int q = 6; q < 9; ++q) periods[q] = 128;
  stop_clicked = false;
  ClickStopDuringFrame(2);
  capture.Start(0);
  EXPECT_EQ(state.CurrentFrame, 3);
  EXPECT_EQ(state.FrameResults[2], 0.5);
  EXPECT_EQ(state.FrameResults[3], 0.25);
  EXPECT_EQ(state.FrameResults[5], 0.25);
  EXPECT_EQ(state.FrameStartTime[4], start_time_4);
  EXPECT_TRUE(std::equal(row_4.begin(), row_4.end(), state.Row(4)));
  EXPECT_EQ(host.label2, "Average = .5000");
  EXPECT_EQ(std::count(display.log.begin(), display.log.end(), '\n'), 3);
  EXPECT_TRUE(input.errors.empty());
}

TEST_F(CaptureTest, TimeOutYesQueuesTheSameFrameAgain) {
  input.never_complete = {2};
  periods = {{3, 128}};
  host.dialog.answers = {MessageAnswer::Yes};
  ClickStopDuringFrame(3);
  capture.Start(0);

  ASSERT_GE(host.dialog.shown.size(), 1u);
  EXPECT_EQ(host.dialog.shown[0], (Message{"Timed Out.  Continue?", MessageButtons::YesNoCancel,
                                           MessageIcon::None, "Continue"}));
  const double waited = host.dialog.shown_at[0] - input.queued_at[2];
  EXPECT_GT(waited, 5.0);
  EXPECT_LE(waited, 6.0);

  ASSERT_EQ(input.queued_count(), 5);
  EXPECT_EQ(input.queued_data[3], state.Row(2));
  EXPECT_EQ(input.queued_data[4], state.Row(3));
  // The device lets go of the buffer before it is queued again.
  EXPECT_EQ(CallsAfterAddBuffer(2, 4),
            (std::vector<std::string>{"Reset", "Start", "PrepareHeader", "AddBuffer"}));
  EXPECT_TRUE(input.errors.empty());
  EXPECT_NEAR(state.FrameStartTime[2], kNoon + input.queued_at[3], 0.01);
  EXPECT_EQ(state.FrameResults[2], 0.5);
  EXPECT_EQ(state.CurrentFrame, 4);
}

TEST_F(CaptureTest, TimeOutNoAnalysesWhatTheFrameHolds) {
  SquareWave(state.Row(2), 2048, 100);  // left there by an earlier run
  input.never_complete = {2};
  host.dialog.answers = {MessageAnswer::No};
  ClickStopDuringFrame(3);
  capture.Start(0);

  EXPECT_EQ(state.FrameResults[2], 100.0 / 256);
  EXPECT_EQ(CallsAfterAddBuffer(2, 3),
            (std::vector<std::string>{"Reset", "Start", "UnprepareHeader"}));
  EXPECT_EQ(input.queued_data[3], state.Row(3));
  EXPECT_EQ(state.CurrentFrame, 4);
  EXPECT_TRUE(input.errors.empty());
}

TEST_F(CaptureTest, TimeOutCancelEndsWithoutTouchingAnything) {
  input.never_complete = {1};
  state.FrameResults[1] = 9.0;
  host.dialog.answers = {MessageAnswer::Cancel};
  capture.Start(0);

  EXPECT_TRUE(host.ended);
  EXPECT_EQ(host.dialog.shown.size(), 1u);
  // Only the device is let go of: no stop report, the buttons as they were.
  EXPECT_EQ(CallsAfterAddBuffer(1, 3), (std::vector<std::string>{"Reset", "Close"}));
  EXPECT_EQ(state.CurrentFrame, 1);
  EXPECT_EQ(state.FrameResults[1], 9.0);
  EXPECT_EQ(state.hWaveIn, 0);
  EXPECT_FALSE(host.start_enabled);
  EXPECT_FALSE(host.command3_visible);
  EXPECT_EQ(host.input_calls, 1);
  EXPECT_TRUE(input.errors.empty());
}

// The frame store and the header go away with the window while the device would still fill the
// queued frame: at Cancel, and when the program ends in the middle of a frame any other way.
// (Under AddressSanitizer a device left open writes into freed memory here.)
TEST(CaptureEndTest, TheDeviceIsLetGoBeforeTheStoreIsFreed) {
  FakeClock clock;
  ScriptedWaveInput input(clock);
  input.FillEveryBufferWith(std::vector<uint8_t>(2048, 200));
  FakeDisplay display;
  for (const bool cancel : {true, false}) {
    SCOPED_TRACE(cancel ? "Cancel" : "ended while waiting");
    FakeHost host(clock);
    auto state = std::make_unique<MeasurementState>();
    auto capture = std::make_unique<Capture>(*state, display, input, host, clock);
    capture->InitDevices();
    const int first_queue = input.queued_count();
    input.never_complete = {first_queue + 1};
    if (cancel) {
      host.dialog.answers = {MessageAnswer::Cancel};
    } else {
      host.on_wait = [&] { host.ended = state->CurrentFrame == 1; };
    }
    capture->Start(0);
    ASSERT_TRUE(host.ended);
    capture.reset();
    state.reset();
    // The device goes on delivering after the program's end.
    input.never_complete.clear();
    clock.Advance(10.0);
    EXPECT_EQ(input.calls.back(), "Close");
    EXPECT_EQ(input.queued_count(), first_queue + 2);
    EXPECT_TRUE(input.errors.empty());
  }
}

TEST_F(CaptureTest, DeviceThatDoesNotOpen) {
  ClickStopDuringFrame(1);
  capture.Start(0);
  ASSERT_EQ(state.CurrentFrame, 2);
  const int button_calls = host.button_calls;
  host.dialog.shown.clear();
  display.Trace().DrawLine(0, 0, 1, 1);

  input.open_fails = true;
  capture.Start(0);
  EXPECT_EQ(host.dialog.shown, (std::vector<Message>{{"Wave input device didn't open!",
                                                      MessageButtons::Ok,
                                                      MessageIcon::Exclamation, "Ack!"}}));
  EXPECT_EQ(state.CurrentFrame, 2);
  EXPECT_EQ(display.log, "");
  EXPECT_TRUE(display.trace.lines.empty());
  EXPECT_EQ(state.hWaveIn, 0);
  EXPECT_EQ(host.button_calls, button_calls);
  EXPECT_EQ(input.calls.back(), "Open 0");
}

TEST_F(CaptureTest, FailedFirstStartLeavesRunNotStarted) {
  input.open_fails = true;
  capture.Start(0);
  EXPECT_FALSE(state.RunStarted);
  EXPECT_EQ(state.BufferSize, 1024);
  EXPECT_EQ(host.button_calls, 0);
}

TEST_F(CaptureTest, DeviceLostMidRunStopsTheRun) {
  input.lose_at_queue = 3;
  state.FrameResults[3] = 9.0;
  capture.Start(0);

  EXPECT_EQ(state.CurrentFrame, 3);
  EXPECT_EQ(state.FrameResults[2], 0.25);
  EXPECT_EQ(state.FrameResults[3], 9.0);
  EXPECT_EQ(state.hWaveIn, 0);
  ASSERT_EQ(host.dialog.shown.size(), 2u);
  EXPECT_EQ(host.dialog.shown[0], InputLostMessage());
  EXPECT_NE(host.dialog.shown[0].text.find("lost"), std::string::npos);
  EXPECT_EQ(host.dialog.shown[1].text.rfind("Avg time per block = ", 0), 0u);
  EXPECT_EQ(host.label2, "Average = .2500");
  EXPECT_TRUE(host.start_enabled);
  EXPECT_FALSE(host.stop_enabled);
  EXPECT_TRUE(host.command3_visible);
  EXPECT_EQ(input.calls.back(), "Close");
  EXPECT_TRUE(input.errors.empty());
  // Noticed at once, not after a time-out.
  EXPECT_LT(host.dialog.shown_at[0] - input.queued_at[3], 0.1);
}

// A host that hears of a time-out and of a lost input through calls of their own: the capture
// shows no message box for either, and goes on by the host's answer.
class EventHost : public FakeHost {
 public:
  using FakeHost::FakeHost;
  MessageAnswer TimedOut() override {
    events.push_back("timed out at frame " + std::to_string(state->CurrentFrame));
    return MessageAnswer::No;
  }
  void InputLost() override {
    events.push_back("lost at frame " + std::to_string(state->CurrentFrame));
  }
  const MeasurementState* state = nullptr;
  std::vector<std::string> events;
};

TEST(HostEventTest, TimeOutAndLossComeAsCallsOfTheirOwn) {
  FakeClock clock(kNoon);
  ScriptedWaveInput input(clock);
  EventHost host(clock);
  MeasurementState state;
  host.state = &state;
  FakeDisplay display;
  Capture capture(state, display, input, host, clock);
  capture.InitDevices();
  input.never_complete = {1};
  input.lose_at_queue = 3;
  capture.Start(0);

  EXPECT_EQ(host.events,
            (std::vector<std::string>{"timed out at frame 1", "lost at frame 3"}));
  ASSERT_EQ(host.dialog.shown.size(), 1u);  // the stop report alone
  EXPECT_EQ(host.dialog.shown[0].text.rfind("Avg time per block = ", 0), 0u);
  EXPECT_EQ(state.CurrentFrame, 3);
  EXPECT_EQ(state.hWaveIn, 0);
}

// A sound server that is slow to list and to open.
class SlowInput : public ScriptedWaveInput {
 public:
  using ScriptedWaveInput::ScriptedWaveInput;
  std::vector<WaveInDevice> Devices() override {
    Pause();
    return ScriptedWaveInput::Devices();
  }
  WaveInHandle Open(int device_id, const WaveFormat& format) override {
    Pause();
    return ScriptedWaveInput::Open(device_id, format);
  }

 private:
  static void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }
};

// While a slow server lists and opens, the window repaints but takes no input; a server that
// cannot be used is named.
TEST(SlowServerTest, WaitsAsForAFrameAndReportsTheServer) {
  FakeClock clock;
  SlowInput input(clock);
  FakeHost host(clock);
  MeasurementState state;
  FakeDisplay display;
  Capture capture(state, display, input, host, clock);
  EXPECT_EQ(capture.InitDevices().names, std::vector<std::string>{"Scripted input"});
  EXPECT_GT(host.wait_calls, 0);
  const int waits = host.wait_calls;

  input.open_fails = true;
  input.server_reached = false;
  capture.Start(0);
  EXPECT_GT(host.wait_calls, waits);
  EXPECT_EQ(host.input_calls, 0);
  EXPECT_EQ(host.dialog.shown, std::vector<Message>{NoSoundServerMessage()});

  input.devices.clear();
  EXPECT_TRUE(capture.InitDevices().empty());
  EXPECT_TRUE(host.ended);
  EXPECT_EQ(host.dialog.shown.back(), NoSoundServerMessage());
}

// The server goes away in the same poll that finds frame 2 complete: the frame counts.
TEST_F(CaptureTest, FrameCompletedAsTheDeviceIsLostIsKept) {
  input.lose_after_queue = 2;
  periods = {{2, 128}};
  capture.Start(0);

  EXPECT_EQ(state.CurrentFrame, 3);
  EXPECT_EQ(state.FrameResults[2], 0.5);
  EXPECT_EQ(std::count(display.log.begin(), display.log.end(), '\n'), 3);
  EXPECT_EQ(input.queued_count(), 3);
  ASSERT_EQ(host.dialog.shown.size(), 2u);
  EXPECT_EQ(host.dialog.shown[0], InputLostMessage());
  EXPECT_EQ(host.label2, "Average = .3333");
  EXPECT_EQ(input.calls.back(), "Close");
  EXPECT_TRUE(input.errors.empty());
}

TEST_F(CaptureTest, UnloadBetweenFramesStopsTheRunAndTheLoopLeavesItAlone) {
  host.on_input = [this] {
    if (state.CurrentFrame == 2) {
      capture.Unload();
      host.unloaded = true;
    }
  };
  capture.Start(0);
  EXPECT_EQ(state.CurrentFrame, 2);
  EXPECT_EQ(input.calls.back(), "Close");
  EXPECT_EQ(host.dialog.shown.size(), 1u);
  EXPECT_FALSE(host.command3_visible);
  EXPECT_TRUE(input.errors.empty());
}

TEST_F(CaptureTest, UnloadWhileAFrameIsAwaitedMakesNoFurtherDeviceCalls) {
  host.on_wait = [this] {
    if (state.CurrentFrame == 1 && !host.unloaded) {
      capture.Unload();
      host.unloaded = true;
    }
  };
  capture.Start(0);
  EXPECT_EQ(state.CurrentFrame, 1);
  EXPECT_EQ(input.calls.back(), "Close");
  EXPECT_TRUE(input.errors.empty());
}

}  // namespace
}  // namespace fc::testing
