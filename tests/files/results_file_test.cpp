#include "files/results_file.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "files/atomic_file.h"
#include "files/temp_dir.h"

namespace fc {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

class ResultsFileTest : public ::testing::Test {
 protected:
  ResultsFileTest() {
    state.BufferSize = 1024;
    state.QuillRecordFreq = 256.0f;
    for (int f = 0; f < kFrameCount; ++f) Flat(f);
  }

  // First channel at mid level; the second channel swings hard to show it is never looked at.
  void Flat(int frame) {
    for (int j = 0; j < 1024; ++j) {
      state.Row(frame)[2 * j] = 128;
      state.Row(frame)[2 * j + 1] = (j % 2 == 0) ? 0 : 255;
    }
  }
  void Set(int frame, int point, int value) { state.Row(frame)[2 * point] = static_cast<uint8_t>(value); }
  void Fill(int frame, int from, int to, int value) {
    for (int p = from; p <= to; ++p) Set(frame, p, value);
  }

  // A fall at 100 (250 to 20) and a rise at 150 (20 to 250), with mid-level points before each
  // step so that the look two points ahead does not find it one point early.
  void FallAndRise(int frame) {
    Set(frame, 100, 250);
    Fill(frame, 101, 148, 20);
    Set(frame, 149, 128);
    Set(frame, 150, 20);
    Fill(frame, 151, 1023, 250);
  }

  MeasurementState state;
};

TEST_F(ResultsFileTest, ExampleLines) {
  EXPECT_EQ(ResultsLine(state, 0), " 0   .0000   .0");

  // Only a rise, at 40.
  Set(1, 40, 10);
  Fill(1, 41, 1023, 250);
  EXPECT_EQ(ResultsLine(state, 1), " 1   .1250   1.0");
  EXPECT_EQ(state.Leave, 40);
  EXPECT_EQ(state.Approach, 0);

  // Fall at 100, rise at 150, second fall at 400: 60 / (2 * 50 / 256) = 153.6.
  FallAndRise(3);
  Set(3, 399, 128);
  Fill(3, 401, 1023, 20);
  EXPECT_EQ(ResultsLine(state, 3), " 3   800.3750   153.6");
  EXPECT_EQ(state.Approach, 100);
  EXPECT_EQ(state.Leave, 150);
  EXPECT_EQ(state.ApproachNext, 400);
  EXPECT_EQ(state.LeaveNext, 0);
}

TEST_F(ResultsFileTest, RpmRules) {
  // No second fall: a tenth of the value (dt divided by 0.1).
  FallAndRise(2);
  EXPECT_EQ(ResultsLine(state, 2), " 2   800.2500   15.4");
  EXPECT_EQ(state.ApproachNext, 0);

  // Rise first, then fall: R = 1.
  Set(4, 50, 10);
  Fill(4, 51, 299, 250);
  Fill(4, 301, 1023, 10);
  Set(4, 299, 128);
  Set(4, 300, 250);
  EXPECT_EQ(ResultsLine(state, 4), " 4   2400.5000   1.0");
  EXPECT_EQ(state.Leave, 50);
  EXPECT_EQ(state.Approach, 300);

  // A fall and never a rise: R = 1.
  Set(5, 10, 250);
  Fill(5, 11, 1023, 20);
  EXPECT_EQ(ResultsLine(state, 5), " 5   80.6250   1.0");

  // A long half period: 60 / (2 * 900 / 256) = 8.533 with a second fall.
  Set(6, 10, 250);
  Fill(6, 11, 908, 20);
  Set(6, 909, 128);
  Set(6, 910, 20);
  Fill(6, 911, 1012, 250);
  Set(6, 1013, 128);
  Set(6, 1014, 250);
  Fill(6, 1015, 1023, 20);
  EXPECT_EQ(ResultsLine(state, 6), " 6   80.7500   8.5");
  EXPECT_EQ(state.ApproachNext, 1014);
}

TEST_F(ResultsFileTest, EdgeThresholdIs220) {
  // A step of exactly 220 to the next point is no edge; 221 is.
  Set(0, 10, 250);
  Fill(0, 11, 1023, 30);
  EXPECT_EQ(ResultsLine(state, 0), " 0   .0000   .0");
  Fill(0, 11, 1023, 29);
  EXPECT_EQ(ResultsLine(state, 0), " 0   80.0000   1.0");
  EXPECT_EQ(state.Approach, 10);

  // The same through the point two ahead.
  Flat(0);
  Set(0, 10, 250);
  Set(0, 11, 128);
  Fill(0, 12, 1023, 30);
  EXPECT_EQ(ResultsLine(state, 0), " 0   .0000   .0");
  Fill(0, 12, 1023, 29);
  EXPECT_EQ(ResultsLine(state, 0), " 0   80.0000   1.0");

  // Rises likewise: 30 to 250 is no edge, 29 to 250 is.
  Flat(0);
  Set(0, 10, 30);
  Fill(0, 11, 1023, 250);
  EXPECT_EQ(ResultsLine(state, 0), " 0   .0000   .0");
  Set(0, 10, 29);
  EXPECT_EQ(ResultsLine(state, 0), " 0   .0000   1.0");
  EXPECT_EQ(state.Leave, 10);
}

TEST_F(ResultsFileTest, FallAtSampleZeroIsOverwritten) {
  Set(0, 0, 250);
  Set(0, 1, 20);
  Set(0, 300, 250);
  Fill(0, 301, 1023, 20);
  EXPECT_EQ(ResultsLine(state, 0), " 0   2400.0000   1.0");
  EXPECT_EQ(state.Approach, 300);
  EXPECT_EQ(state.ApproachNext, 0);
}

TEST_F(ResultsFileTest, SkipAfterFirstEdgeAndThirdEdges) {
  // Falls at 100 and 101 (the second one inside the skip), then at 102.. no more: only one.
  Set(0, 100, 250);
  Set(0, 101, 249);
  Set(0, 102, 20);
  Fill(0, 103, 1023, 20);
  ResultsLine(state, 0);
  EXPECT_EQ(state.Approach, 100);   // 250 against 20 two points ahead
  EXPECT_EQ(state.ApproachNext, 0);  // 101 (249 against 20) was skipped

  // The same after the first rise.
  Flat(2);
  Set(2, 100, 10);
  Set(2, 101, 11);
  Fill(2, 102, 1023, 250);
  ResultsLine(state, 2);
  EXPECT_EQ(state.Leave, 100);
  EXPECT_EQ(state.LeaveNext, 0);

  // Three rises: the first two are kept, the third changes nothing.
  Flat(1);
  for (int at : {100, 200, 300}) {
    Set(1, at - 1, 128);
    Set(1, at, 10);
    Fill(1, at + 1, at + 50, 250);
  }
  ResultsLine(state, 1);
  EXPECT_EQ(state.Leave, 100);
  EXPECT_EQ(state.LeaveNext, 200);
}

TEST_F(ResultsFileTest, LastFivePointsAreNotExamined) {
  Set(0, 1019, 250);
  Set(0, 1020, 20);
  EXPECT_EQ(ResultsLine(state, 0), " 0   .0000   .0");
  // The scratch values are those of the last examined point, 1018.
  EXPECT_EQ(state.FoundNextMax, 128);
  EXPECT_EQ(state.FoundMax, 128 - 250);
  EXPECT_EQ(state.FoundMin, 128 - 20);

  Flat(0);
  Set(0, 1018, 250);
  Set(0, 1019, 20);
  EXPECT_EQ(ResultsLine(state, 0), " 0   8144.0000   1.0");
}

TEST_F(ResultsFileTest, FileCoversFramesToCurrentFrameAndLeavesItAlone) {
  TempDir dir;
  const auto path = dir / "RPM.txt";
  state.CurrentFrame = 2;
  FallAndRise(2);
  const std::string expected =
      " 0   .0000   .0\r\n 1   .1250   .0\r\n 2   800.2500   15.4\r\n";
  EXPECT_EQ(WriteResults(state, path), DoneMessage());
  EXPECT_EQ(ReadBytes(path), expected);
  EXPECT_EQ(state.CurrentFrame, 2);
  EXPECT_EQ(state.Approach, 100);  // the last frame's scan
  EXPECT_EQ(WriteResults(state, path), DoneMessage());
  EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(ResultsFileTest, FullStoreWritesFrames0To1000) {
  state.CurrentFrame = 1001;
  const std::string text = ResultsText(state);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1001);
  const std::string last = " 1000   125.0000   .0\r\n";
  EXPECT_EQ(text.substr(text.size() - last.size()), last);
  EXPECT_EQ(state.CurrentFrame, 1001);
}

TEST_F(ResultsFileTest, NothingCapturedOrWriteFailureChangesNothing) {
  TempDir dir;
  const auto path = dir / "RPM.txt";
  WriteBytes(path, "old results");
  for (auto [buffer_size, rate] : {std::pair{0, 256.0f}, std::pair{1024, 0.0f}}) {
    state.BufferSize = buffer_size;
    state.QuillRecordFreq = rate;
    const Message message = WriteResults(state, path);
    EXPECT_EQ(message.icon, MessageIcon::Exclamation);
    EXPECT_EQ(message.buttons, MessageButtons::Ok);
    EXPECT_EQ(message.title, "");
    EXPECT_NE(message.text.find(path.string()), std::string::npos) << message.text;
    EXPECT_EQ(ReadBytes(path), "old results");
  }

  // A write that fails leaves the scan's variables too: frame 1 would set Approach 100.
  state.BufferSize = 1024;
  state.QuillRecordFreq = 256.0f;
  state.CurrentFrame = 1;
  FallAndRise(1);
  state.FoundMax = 1;
  state.FoundMin = 2;
  state.FoundNextMax = 3;
  state.Approach = 4;
  state.Leave = 5;
  state.ApproachNext = 6;
  state.LeaveNext = 7;
  const auto expect_scan_untouched = [&] {
    EXPECT_EQ(state.FoundMax, 1);
    EXPECT_EQ(state.FoundMin, 2);
    EXPECT_EQ(state.FoundNextMax, 3);
    EXPECT_EQ(state.Approach, 4);
    EXPECT_EQ(state.Leave, 5);
    EXPECT_EQ(state.ApproachNext, 6);
    EXPECT_EQ(state.LeaveNext, 7);
    EXPECT_EQ(state.CurrentFrame, 1);
  };
  Message message;
  {
    ScopedWriteFailure fault(10);
    message = WriteResults(state, path);
  }
  EXPECT_EQ(message.icon, MessageIcon::Exclamation);
  EXPECT_NE(message.text.find(path.string()), std::string::npos) << message.text;
  EXPECT_NE(message.text.find("No space left on device"), std::string::npos) << message.text;
  EXPECT_EQ(ReadBytes(path), "old results");
  expect_scan_untouched();

  // The same when the file cannot even be created.
  message = WriteResults(state, dir / "missing" / "RPM.txt");
  EXPECT_EQ(message.icon, MessageIcon::Exclamation);
  EXPECT_NE(message.text.find("No such file or directory"), std::string::npos) << message.text;
  expect_scan_untouched();
}

}  // namespace
}  // namespace fc
