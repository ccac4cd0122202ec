#include "files/config_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "files/atomic_file.h"
#include "files/temp_dir.h"

namespace fc {

// Readable failure output; internal linkage keeps it out of other test files' way.
static void PrintTo(const AveragingPanel& panel, std::ostream* out) {
  *out << "{\"" << panel.FirstText << "\", \"" << panel.LastText << "\", " << panel.Check1 << "}";
}

namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

class ConfigFileTest : public ::testing::Test {
 protected:
  void Load(const std::string& contents) {
    WriteBytes(path, contents);
    LoadConfiguration(path, state, panel);
  }
  void ExpectSettings(int points, int max_limit, int jump, int zero, int hi_res) {
    EXPECT_EQ(state.ConsecutivePoints, points);
    EXPECT_EQ(state.MaxLimitCounts, max_limit);
    EXPECT_EQ(state.JumpCounts, jump);
    EXPECT_EQ(state.LookForZeroCrossing, zero);
    EXPECT_EQ(state.UseHiResTime, hi_res);
  }

  TempDir dir;
  std::filesystem::path path = dir / "Config.vmk";
  MeasurementState state;
  AveragingPanel panel;
};

TEST_F(ConfigFileTest, SavesFirstStartDefaults) {
  state.ConsecutivePoints = 3;
  state.MaxLimitCounts = 5;
  state.JumpCounts = 80;
  EXPECT_EQ(SaveConfiguration(path, state, panel), std::nullopt);
  EXPECT_EQ(ReadBytes(path), " 3 \r\n 5 \r\n 80 \r\n\r\n\r\n 0 \r\n 0 \r\n 0 \r\n");
}

TEST_F(ConfigFileTest, RoundTripKeepsValuesAndBlanks) {
  state.ConsecutivePoints = 2;
  state.MaxLimitCounts = 17;
  state.JumpCounts = -45;
  state.LookForZeroCrossing = 1;
  state.UseHiResTime = 1;
  panel = {"  12 ", "4,0", 1};
  ASSERT_EQ(SaveConfiguration(path, state, panel), std::nullopt);
  EXPECT_EQ(ReadBytes(path), " 2 \r\n 17 \r\n-45 \r\n  12 \r\n4,0\r\n 1 \r\n 1 \r\n 1 \r\n");

  MeasurementState loaded;
  AveragingPanel loaded_panel;
  LoadConfiguration(path, loaded, loaded_panel);
  EXPECT_EQ(loaded_panel, panel);
  EXPECT_EQ(loaded.ConsecutivePoints, 2);
  EXPECT_EQ(loaded.MaxLimitCounts, 17);
  EXPECT_EQ(loaded.JumpCounts, -45);
  EXPECT_EQ(loaded.LookForZeroCrossing, 1);
  EXPECT_EQ(loaded.UseHiResTime, 1);
}

TEST_F(ConfigFileTest, TextsAreSavedUpToTheirFirstLineBreak) {
  panel = {"10\r\n 3", "20\nx", 0};
  ASSERT_EQ(SaveConfiguration(path, state, panel), std::nullopt);
  EXPECT_EQ(ReadBytes(path), " 0 \r\n 0 \r\n 0 \r\n10\r\n20\r\n 0 \r\n 0 \r\n 0 \r\n");
}

TEST_F(ConfigFileTest, MissingOrEmptyFileSkipsEveryStep) {
  state.ConsecutivePoints = 2;
  state.JumpCounts = 60;
  panel = {"first", "last", 1};
  LoadConfiguration(path, state, panel);  // no file
  ExpectSettings(2, 0, 60, 0, 0);
  EXPECT_EQ(panel, (AveragingPanel{"", "", 1}));

  panel = {"first", "last", 1};
  Load("");
  ExpectSettings(2, 0, 60, 0, 0);
  EXPECT_EQ(panel, (AveragingPanel{"", "", 1}));

  // An endless file is looked at only so far: every line-1 read fails, the rest is skipped.
  panel = {"first", "last", 1};
  EXPECT_EQ(LoadConfiguration("/dev/zero", state, panel, ReadableFiles::AlsoPipesAndDevices),
            std::nullopt);
  ExpectSettings(2, 0, 60, 0, 0);
  EXPECT_EQ(panel, (AveragingPanel{"", "", 1}));

  // A FIFO is no file for the window (opening it would wait for a writer), and one without a
  // writer reads as empty where pipes are allowed.
  std::filesystem::path fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  panel = {"first", "last", 1};
  const auto refused = LoadConfiguration(fifo, state, panel);
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->find(fifo.string() + "\": Not a regular file"), std::string::npos) << *refused;
  EXPECT_EQ(panel, (AveragingPanel{"", "", 1}));
  EXPECT_EQ(LoadConfiguration(fifo, state, panel, ReadableFiles::AlsoPipesAndDevices),
            std::nullopt);
  ExpectSettings(2, 0, 60, 0, 0);

  // A directory where the file should be reads as no file.
  panel = {"first", "last", 2};
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  LoadConfiguration(path, state, panel);
  EXPECT_EQ(panel, (AveragingPanel{"", "", 2}));
}

TEST_F(ConfigFileTest, ShortFilesCarryTheTextBuffer) {
  // Ends after line 4: both boxes get line 4; " 12 " is no check-box state.
  panel.Check1 = 1;
  Load(" 1 \r\n 9 \r\n 33 \r\n 12 \r\n");
  ExpectSettings(1, 9, 33, 0, 0);
  EXPECT_EQ(panel, (AveragingPanel{" 12 ", " 12 ", 1}));

  // ... and a line 4 that is a check-box state sets the box too.
  Load(" 1 \r\n 9 \r\n 33 \r\n 2\r\n");
  EXPECT_EQ(panel, (AveragingPanel{" 2", " 2", 2}));

  // Ends after line 5: the box is set from line 5 when it is 0, 1 or 2.
  Load(" 1 \r\n 9 \r\n 33 \r\n 10\r\n 0 \r\n");
  EXPECT_EQ(panel, (AveragingPanel{" 10", " 0 ", 0}));
  Load(" 1 \r\n 9 \r\n 33 \r\n 10\r\n 20\r\n");
  EXPECT_EQ(panel, (AveragingPanel{" 10", " 20", 0}));

  // Ends after line 2: the rest is skipped, the boxes emptied.
  state = MeasurementState();
  Load(" 3 \r\n 5 \r\n");
  ExpectSettings(3, 5, 0, 0, 0);
  EXPECT_EQ(panel, (AveragingPanel{"", "", 0}));
}

TEST_F(ConfigFileTest, HandEditedValuesLoadUncheckedAndSaveBack) {
  Load(" 7 \r\n 100 \r\n 80 \r\n\r\n\r\n 0 \r\n 2 \r\n 1 \r\n");
  ExpectSettings(7, 100, 80, 2, 1);
  UpdateConsecutive(state);
  ASSERT_EQ(SaveConfiguration(path, state, panel), std::nullopt);
  EXPECT_EQ(ReadBytes(path), " 7 \r\n 5 \r\n 80 \r\n\r\n\r\n 0 \r\n 2 \r\n 1 \r\n");
}

TEST_F(ConfigFileTest, LinesThatAreNotNumbersKeepTheSetting) {
  state.ConsecutivePoints = 2;
  state.MaxLimitCounts = 9;
  state.JumpCounts = 44;
  state.LookForZeroCrossing = 1;
  state.UseHiResTime = 0;
  Load("12abc\r\nabc\r\n\r\n a \r\n b \r\n x \r\n 40000 \r\n 1,5 \r\n");
  // The bad lines are consumed all the same: the texts still come from lines 4 and 5. A comma
  // ends a number, so the last line reads 1.
  ExpectSettings(2, 9, 44, 1, 1);
  EXPECT_EQ(panel, (AveragingPanel{" a ", " b ", 0}));
}

TEST_F(ConfigFileTest, NumbersAreRoundedAndBlanksIgnored) {
  Load("\t2.5 \r\n  35  \r\n 3.5e1\r\n\r\n\r\n 1.5 \r\n -0 \r\n+1\r\n");
  ExpectSettings(2, 35, 35, 0, 1);
  EXPECT_EQ(panel.Check1, 2);
}

TEST_F(ConfigFileTest, AcceptsEveryLineEnd) {
  const AveragingPanel expected{" 3 ", "9 ", 1};
  for (const char* eol : {"\r\n", "\n", "\r"}) {
    SCOPED_TRACE(::testing::PrintToString(std::string(eol)));
    state = MeasurementState();
    panel = AveragingPanel();
    const std::string e = eol;
    Load(" 2 " + e + " 30 " + e + " 90 " + e + " 3 " + e + "9 " + e + " 1 " + e + " 1 " + e + " 0 " + e);
    ExpectSettings(2, 30, 90, 1, 0);
    EXPECT_EQ(panel, expected);
  }
}

// Saved by an editor that marks its UTF-8: the mark is no part of line 1, and the save that
// follows writes every value back on its own line.
TEST_F(ConfigFileTest, ByteOrderMarkIsSkipped) {
  const std::string text = " 2 \r\n 12 \r\n 64 \r\n 4 \r\n  20 \r\n 1 \r\n 1 \r\n 0 \r\n";
  Load("\xEF\xBB\xBF" + text);
  ExpectSettings(2, 12, 64, 1, 0);
  EXPECT_EQ(panel, (AveragingPanel{" 4 ", "  20 ", 1}));
  ASSERT_EQ(SaveConfiguration(path, state, panel), std::nullopt);
  EXPECT_EQ(ReadBytes(path), text);
}

TEST_F(ConfigFileTest, SaveFailureKeepsOldFileAndNamesIt) {
  WriteBytes(path, "old config");
  std::optional<std::string> error;
  {
    ScopedWriteFailure fault(8);
    error = SaveConfiguration(path, state, panel);
  }
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find(path.string()), std::string::npos) << *error;
  EXPECT_EQ(ReadBytes(path), "old config");

  error = SaveConfiguration(dir / "missing" / "Config.vmk", state, panel);
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("No such file or directory"), std::string::npos) << *error;
}

}  // namespace
}  // namespace fc
