#include "cli/cli_app.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/measurement_state.h"
#include "capture/clock.h"
#include "capture/device_list.h"
#include "support/scripted_wave_input.h"
#include "cli/descriptor_output.h"
#include "files/atomic_file.h"
#include "support/unix_socket.h"

namespace fc {
namespace {

namespace fs = std::filesystem;

// One frame of 1024 pairs whose first channel is a square wave: low (2) for the first half of
// each period and high (253) for the second, so a rise and a fall come once per period.
std::vector<int> SquareFrame(int period) {
  std::vector<int> bytes;
  for (int j = 0; j < kCaptureBufferSize; ++j) {
    bytes.push_back((j % period) < period / 2 ? 2 : 253);
    bytes.push_back(128);
  }
  return bytes;
}

std::string RawText(int last_frame, const std::vector<std::vector<int>>& frames) {
  std::string text = " " + std::to_string(last_frame) + " \r\n";
  for (const auto& frame : frames) {
    for (int b : frame) text += " " + std::to_string(b) + " \r\n";
  }
  return text;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("fc-cli-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    sound_.clock = &clock_;
    sound_.make_input = [this](AudioBackend backend) {
      made_for_ = backend;
      auto input = std::make_unique<ScriptedWaveInput>(clock_);
      input->devices = devices_;
      const std::vector<int> frame = SquareFrame(128);
      input->FillEveryBufferWith(std::vector<uint8_t>(frame.begin(), frame.end()));
      input->fill = [this, square = input->fill](int queue, uint8_t* data, uint32_t length) {
        square(queue, data, length);
        if (on_fill_) on_fill_(queue);
      };
      input->open_fails = open_fails_;
      input->never_complete = never_complete_;
      input->server_reached = server_reached_;
      input->samples_lost = samples_lost_;
      return input;
    };
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  static std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  int Run(const std::vector<std::string>& args) {
    out_.str("");
    return RunOn(args, out_);
  }

  int RunOn(std::vector<std::string> args, std::ostream& out) {
    args.insert(args.begin(), "frequency-counter-cli");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    err_.str("");
    return RunCli(static_cast<int>(argv.size()), argv.data(), out, err_, sound_);
  }

  fs::path dir_;
  FakeClock clock_;
  SoundEnvironment sound_;
  std::vector<WaveInDevice> devices_{{"Built-in microphone", true}};
  bool open_fails_ = false;
  std::set<int> never_complete_;
  bool server_reached_ = true;
  std::function<void(int queue)> on_fill_;  // after the buffer with this queue number filled
  uint64_t samples_lost_ = 0;
  AudioBackend made_for_ = AudioBackend::Automatic;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(CliTest, AnalyzePrintsTheFrameLinesOfTheLog) {
  // Periods of 128 and 64 points: 0.5 s and 0.25 s at 256 pairs per second.
  const auto raw = Write("raw.txt", RawText(1, {SquareFrame(128), SquareFrame(64)}));
  EXPECT_EQ(Run({"analyze", raw.string()}), 0);
  EXPECT_EQ(out_.str(), " 0   .5000   .000\n 1   .2500   .000\n");
  EXPECT_EQ(err_.str(), "");

  EXPECT_EQ(Run({"analyze", raw.string(), "--zero-crossing", "yes"}), 0);
  EXPECT_EQ(out_.str(), " 0   .5000   \n 1   .2500   \n");
}

TEST_F(CliTest, ExplainTellsWhyAFrameHasNoReadingAndLeavesTheFrameLines) {
  // Frame 1 is a square wave between 100 and 150: it never reaches a zone.
  std::vector<int> weak = SquareFrame(128);
  for (std::size_t b = 0; b < weak.size(); b += 2) weak[b] = weak[b] == 2 ? 100 : 150;
  const auto raw = Write("raw.txt", RawText(1, {SquareFrame(128), weak}));
  for (const char* mode : {"no", "yes"}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(Run({"analyze", raw.string(), "--zero-crossing", mode}), 0);
    const std::string plain = out_.str();
    EXPECT_EQ(Run({"analyze", raw.string(), "--zero-crossing", mode, "--explain"}), 0);
    EXPECT_EQ(out_.str(), plain);
    EXPECT_EQ(err_.str(),
              std::string("frame 1: ") +
                  (mode == std::string("no") ? "never enters a zone" : "no point in either zone") +
                  ": 101 counts short of the top zone, 96 short of the bottom "
                  "zone; input 100 to 150, zones above 250 and below 5\n"
                  "  The input stays between 100 and 150; pulses must rise above 250 and fall "
                  "below 5. Raise the input level, or raise Max Limit (Preferences).\n");
  }
}

TEST_F(CliTest, SettingsComeFromTheConfigurationFileAndAreChecked) {
  // A jump of 90 is still passed by the 251-count steps; a hand-edited jump of 20 falls back to
  // 80, and zero-crossing mode comes from line 7.
  const auto raw = Write("raw.txt", RawText(0, {SquareFrame(128)}));
  const auto config = Write("Config.vmk", " 3 \r\n 5 \r\n 20 \r\n\r\n\r\n 0 \r\n 1 \r\n 0 \r\n");
  EXPECT_EQ(Run({"analyze", raw.string(), "--config", config.string()}), 0);
  EXPECT_EQ(out_.str(), " 0   .5000   \n");
  EXPECT_EQ(Run({"analyze", raw.string(), "--config", config.string(), "--zero-crossing", "no"}),
            0);
  EXPECT_EQ(out_.str(), " 0   .5000   .000\n");
}

TEST_F(CliTest, BadInputEndsWithItsOwnStatus) {
  EXPECT_EQ(Run({"analyze", (dir_ / "missing.txt").string()}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_NE(err_.str().find("missing.txt"), std::string::npos);

  const auto bad = Write("bad.txt", " 0 \r\n 12a \r\n");
  EXPECT_EQ(Run({"analyze", bad.string()}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_NE(err_.str().find("line 2"), std::string::npos) << err_.str();

  // Announces frames 0..2 but holds one and a half: frame 0 is printed, the rest reported.
  std::vector<int> half = SquareFrame(128);
  half.resize(1024);
  const auto short_file = Write("short.txt", RawText(2, {SquareFrame(128), half}));
  EXPECT_EQ(Run({"analyze", short_file.string()}), 3);
  EXPECT_EQ(out_.str(), " 0   .5000   .000\n");
  EXPECT_NE(err_.str(), "");

  EXPECT_EQ(Run({"analyze"}), 2);
  EXPECT_EQ(Run({"frobnicate"}), 2);
  EXPECT_EQ(Run({"analyze", short_file.string(), "--zero-crossing", "maybe"}), 2);
  EXPECT_EQ(Run({"analyze", short_file.string(), "--jump", "40000"}), 2);
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(out_.str().find("record"), std::string::npos);
}

// A configuration file named on the command line must be read; and a FIFO that nobody writes
// to reads as an empty raw file rather than leaving the program waiting.
TEST_F(CliTest, UnreadableConfigurationAndWriterlessFifoAreErrors) {
  const auto raw = Write("raw.txt", RawText(0, {SquareFrame(128)}));
  const fs::path socket_path = dir_ / "Config.vmk";  // exists, but cannot be opened
  const int socket_fd = testing::BoundUnixSocket(socket_path.string(), false);
  ASSERT_GE(socket_fd, 0);
  const int status = Run({"analyze", raw.string(), "--config", socket_path.string()});
  ::close(socket_fd);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_NE(err_.str().find(socket_path.string()), std::string::npos) << err_.str();

  const fs::path fifo = dir_ / "fifo.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(Run({"analyze", fifo.string()}), 1);
  EXPECT_NE(err_.str().find("the file is empty"), std::string::npos) << err_.str();
}

TEST_F(CliTest, ResultsWritesTheResultsFileBytes) {
  // An edge is a step of more than 220 counts to one of the next two points, so the rise is
  // sloped over two points to be found at 150 and not one point early.
  std::vector<int> frame(2 * kCaptureBufferSize, 128);
  frame[2 * 100] = 250;  // a fall from 250 to 20 at point 100
  frame[2 * 101] = 20;
  for (int j = 101; j < 150; ++j) frame[2 * j] = 20;
  frame[2 * 150] = 20;  // a rise from 20 to 250 two points after point 150
  frame[2 * 151] = 128;
  frame[2 * 152] = 250;
  frame[2 * 400] = 250;  // a second fall at point 400
  frame[2 * 401] = 20;
  const auto raw = Write("raw.txt", RawText(0, {frame}));
  // T = 0.125 * 0 + 8 * 100; dt = 50 / 256 s; R = 60 / (2 dt) = 153.6.
  const std::string expected = " 0   800.0000   153.6\r\n";
  EXPECT_EQ(Run({"results", raw.string(), "-o", "-"}), 0);
  EXPECT_EQ(out_.str(), expected);

  const fs::path rpm = dir_ / "RPM.txt";
  EXPECT_EQ(Run({"results", raw.string(), "-o", rpm.string()}), 0);
  EXPECT_EQ(ReadText(rpm), expected);

  // Without -o the file goes to the program directory.
  fs::remove(rpm);
  ::setenv("FREQUENCY_COUNTER_HOME", dir_.c_str(), 1);
  EXPECT_EQ(Run({"results", raw.string()}), 0);
  ::unsetenv("FREQUENCY_COUNTER_HOME");
  EXPECT_EQ(ReadText(rpm), expected);

  EXPECT_EQ(Run({"results", raw.string(), "-o", (dir_ / "no-such-dir" / "RPM.txt").string()}), 1);
  EXPECT_NE(err_.str().find("no-such-dir"), std::string::npos);
}

TEST_F(CliTest, ResultsNeverOverwritesItsOwnInput) {
  const std::string text = RawText(0, {SquareFrame(128)});
  const auto raw = Write("raw.txt", text);
  const fs::path link = dir_ / "link.txt";
  fs::create_symlink("raw.txt", link);
  const fs::path hard = dir_ / "hard.txt";
  fs::create_hard_link(raw, hard);
  for (const fs::path& output : {raw, link, hard}) {
    EXPECT_EQ(Run({"results", raw.string(), "-o", output.string()}), 2) << output;
    EXPECT_NE(err_.str().find(output.string()), std::string::npos) << err_.str();
  }
  EXPECT_EQ(Read(raw), text);
}

TEST_F(CliTest, AverageReadsTheBoxesAsTheWindowDoes) {
  // Frames 0..18 at 0.5 s, frame 19 at 1.0 s, frame 20 only closes the run (the range is
  // capped at the frame before the last one read).
  std::vector<std::vector<int>> frames(19, SquareFrame(128));
  frames.push_back(SquareFrame(256));
  frames.push_back(SquareFrame(128));
  const auto raw = Write("raw.txt", RawText(20, frames));
  EXPECT_EQ(Run({"average", raw.string(), "--first", "0", "--last", "99"}), 0);
  EXPECT_EQ(out_.str(), "Avg: .5250  ( 20 readings)\n");
  EXPECT_EQ(Run({"average", raw.string(), "--first", "-3", "--last", "1 9", "--remove-bad"}), 0);
  EXPECT_EQ(out_.str(), "Avg: .5000  ( 19 readings)\n");
  EXPECT_EQ(Run({"average", raw.string(), "--first", "5", "--last", "4"}), 0);
  EXPECT_EQ(out_.str(), "Avg: .0000  ( 0 readings)\n");
  EXPECT_EQ(Run({"average", raw.string(), "--first", "0", "--last", "99999"}), 2);
  EXPECT_EQ(out_.str(), "");
  // A text without a leading number is no frame number, not frame 0.
  for (const char* text : {"abc", "", "nan", "-"}) {
    EXPECT_EQ(Run({"average", raw.string(), "--first", text, "--last", "5"}), 2) << text;
    EXPECT_EQ(Run({"average", raw.string(), "--first", "0", "--last", text}), 2) << text;
    EXPECT_EQ(out_.str(), "");
  }
}

TEST_F(CliTest, OutputThatCannotBeWrittenIsAFailure) {
  const auto raw = Write("raw.txt", RawText(1, {SquareFrame(128), SquareFrame(64)}));
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  const int closed = ::dup(full);
  ::close(closed);
  const std::vector<std::vector<std::string>> commands = {
      {"analyze", raw.string()},
      {"results", raw.string(), "-o", "-"},
      {"average", raw.string(), "--first", "0", "--last", "1"}};
  for (const auto& [fd, reason] :
       {std::pair{full, "No space left on device"}, std::pair{closed, "Bad file descriptor"}}) {
    for (const auto& command : commands) {
      SCOPED_TRACE(command[0] + " " + reason);
      DescriptorOutput buffer(fd);
      std::ostream out(&buffer);
      EXPECT_EQ(RunOn(command, out), 1);
      EXPECT_NE(err_.str().find(std::string("standard output: ") + reason), std::string::npos)
          << err_.str();
    }
  }
  ::close(full);

  // Large output goes out in blocks, all of it.
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  {
    DescriptorOutput buffer(pipe_fds[1], 16);
    std::ostream out(&buffer);
    EXPECT_EQ(RunOn({"analyze", raw.string()}, out), 0);
  }
  ::close(pipe_fds[1]);
  char text[256];
  const ssize_t n = ::read(pipe_fds[0], text, sizeof text);
  ::close(pipe_fds[0]);
  EXPECT_EQ(std::string(text, static_cast<std::size_t>(std::max<ssize_t>(n, 0))),
            " 0   .5000   .000\n 1   .2500   .000\n");
}

TEST_F(CliTest, DevicesListsTheCapableInputsByPosition) {
  devices_ = {{"Line in", false}, {"Built-in microphone", true}, {"USB sound card", true}};
  EXPECT_EQ(Run({"devices"}), 0);
  EXPECT_EQ(out_.str(), "0\tBuilt-in microphone\n1\tUSB sound card\n");
}

TEST_F(CliTest, RecordRunsTheCaptureForTheFramesAskedFor) {
  const fs::path raw = dir_ / "Raw.txt";
  EXPECT_EQ(Run({"record", "--frames", "3", "--raw", raw.string()}), 0);
  EXPECT_EQ(out_.str(), " 0   .5000   .000\n 1   .5000   .000\n 2   .5000   .000\n");
  // Frames complete after 4 s, noticed within one 15 ms wait step.
  EXPECT_NE(err_.str().find("Avg time per block = 4.00"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("Average = .5000\n"), std::string::npos) << err_.str();
  // The file ends with the frame after the last recorded one, as Write Raw Data does.
  std::ifstream in(raw, std::ios::binary);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, " 3 \r");
  int lines = 1;
  while (std::getline(in, line)) ++lines;
  EXPECT_EQ(lines, 1 + 4 * 2048);
  EXPECT_EQ(err_.str().find("lost"), std::string::npos) << err_.str();

  // Samples the input had to drop are not passed over in silence.
  samples_lost_ = 1234;
  EXPECT_EQ(Run({"record", "--frames", "2"}), 0);
  EXPECT_NE(err_.str().find("Samples lost to input overruns: 1234 "), std::string::npos)
      << err_.str();
}

TEST_F(CliTest, TheSoundSystemIsForcedOrFollowsTheServer) {
  struct Case {
    std::vector<std::string> args;
    const char* variable;  // FREQUENCY_COUNTER_AUDIO, nullptr: unset
    bool server;
    AudioBackend expected;
  };
  const Case cases[] = {
      {{"devices"}, nullptr, true, AudioBackend::Pulse},
      {{"devices"}, nullptr, false, AudioBackend::Alsa},
      {{"devices"}, "", false, AudioBackend::Alsa},
      {{"devices"}, "alsa", true, AudioBackend::Alsa},
      {{"devices"}, "pulse", false, AudioBackend::Pulse},
      {{"devices", "--audio", "pulse"}, "alsa", false, AudioBackend::Pulse},
      {{"record", "--frames", "1", "--audio", "alsa"}, "pulse", true, AudioBackend::Alsa},
  };
  for (const Case& c : cases) {
    if (c.variable != nullptr) {
      setenv(kAudioVariable, c.variable, 1);
    } else {
      unsetenv(kAudioVariable);
    }
    sound_.server_reachable = [&c] { return c.server; };
    made_for_ = AudioBackend::Automatic;
    EXPECT_EQ(Run(c.args), 0) << ::testing::PrintToString(c.args) << " " << err_.str();
    EXPECT_EQ(made_for_, c.expected)
        << ::testing::PrintToString(c.args) << " " << (c.variable ? c.variable : "-");
    if (c.args[0] == "devices") {
      EXPECT_EQ(err_.str(), "Sound system: " + AudioBackendName(c.expected) + "\n");
    }
  }

  // An unknown value is said and ignored; an unknown option value is a usage error.
  setenv(kAudioVariable, "oss", 1);
  sound_.server_reachable = [] { return false; };
  EXPECT_EQ(Run({"devices"}), 0);
  EXPECT_EQ(made_for_, AudioBackend::Alsa);
  EXPECT_NE(err_.str().find("FREQUENCY_COUNTER_AUDIO=oss is neither alsa nor pulse"),
            std::string::npos)
      << err_.str();
  unsetenv(kAudioVariable);
  made_for_ = AudioBackend::Automatic;
  EXPECT_EQ(Run({"devices", "--audio", "oss"}), 2);
  EXPECT_EQ(made_for_, AudioBackend::Automatic);
}

TEST_F(CliTest, RecordReportsAnInputThatDoesNotOpen) {
  open_fails_ = true;
  EXPECT_EQ(Run({"record", "--frames", "1"}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_NE(err_.str().find("Wave input device didn't open!"), std::string::npos);

  open_fails_ = false;
  devices_ = {{"Line in", false}};
  EXPECT_EQ(Run({"record"}), 1);
  EXPECT_NE(err_.str().find("You have no audio input devices!"), std::string::npos);
  devices_ = {{"Built-in microphone", true}};
  EXPECT_EQ(Run({"record", "--device", "1"}), 2);
  EXPECT_EQ(Run({"record", "--device", "-1"}), 2);
  EXPECT_NE(err_.str().find("-1"), std::string::npos) << err_.str();
  EXPECT_LT(err_.str().size(), 200u) << err_.str();
}

TEST_F(CliTest, NoSoundServerIsToldApartFromNoInputs) {
  // Without a server the automatic choice is ALSA; the message is for PulseAudio asked for.
  server_reached_ = false;
  devices_.clear();
  const std::string told = NoSoundServerMessage().text + "\n";
  EXPECT_EQ(Run({"devices", "--audio", "pulse"}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(err_.str(), "Sound system: PulseAudio\n" + told);
  EXPECT_EQ(Run({"record", "--frames", "1", "--audio", "pulse"}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(err_.str(), told);

  // No server and no card, or only inputs that cannot record: both commands say so, and fail.
  server_reached_ = true;
  for (const std::vector<WaveInDevice>& inputs :
       {std::vector<WaveInDevice>{}, std::vector<WaveInDevice>{{"Line in", false}}}) {
    devices_ = inputs;
    EXPECT_EQ(Run({"devices"}), 1);
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(err_.str(), "Sound system: ALSA\n" + NoDevicesMessage().text + "\n");
    EXPECT_EQ(Run({"record", "--frames", "1"}), 1);
    EXPECT_EQ(err_.str(), NoDevicesMessage().text + "\n");
  }
}

TEST_F(CliTest, RecordEndsBeforeAFrameThatTimedOut) {
  // Frame 2 never arrives: frames 0 and 1 are the run, and the file ends with an empty frame 2.
  never_complete_ = {2};
  const fs::path raw = dir_ / "Raw.txt";
  EXPECT_EQ(Run({"record", "--frames", "5", "--raw", raw.string()}), 1);
  EXPECT_EQ(out_.str(), " 0   .5000   .000\n 1   .5000   .000\n");
  EXPECT_NE(err_.str().find("Timed out"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("Average = .5000\n"), std::string::npos) << err_.str();
  EXPECT_EQ(Read(raw), RawText(2, {SquareFrame(128), SquareFrame(128),
                                   std::vector<int>(2 * kCaptureBufferSize, 0)}));

  // Nothing recorded: an existing file keeps what it held.
  never_complete_ = {0};
  const auto kept = Write("kept.txt", "an earlier run");
  EXPECT_EQ(Run({"record", "--raw", kept.string()}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(Read(kept), "an earlier run");
  EXPECT_NE(err_.str().find("\"" + kept.string() + "\" was left as it was."), std::string::npos)
      << err_.str();
  const fs::path fresh = dir_ / "fresh.txt";
  EXPECT_EQ(Run({"record", "--raw", fresh.string()}), 1);
  EXPECT_NE(err_.str().find("\"" + fresh.string() + "\" was not written."), std::string::npos)
      << err_.str();
  EXPECT_FALSE(fs::exists(fresh));
}

TEST_F(CliTest, RecordKeepsTheRawFileOfTheRunSoFar) {
  // A file that cannot be written is found out before the input is even opened.
  const fs::path nowhere = dir_ / "no-such-dir" / "Raw.txt";
  EXPECT_EQ(Run({"record", "--frames", "1", "--raw", nowhere.string()}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_NE(err_.str().find(nowhere.string()), std::string::npos) << err_.str();

  // While frame 2 records, the file holds frames 0 and 1. The disk is then full: the final
  // write (frames 0 to 2 and the empty frame 3) fails and names the file and why, and that copy
  // stays.
  const fs::path raw = dir_ / "Raw.txt";
  std::string during_frame_2;
  std::optional<ScopedWriteFailure> disk_full;
  on_fill_ = [&](int queue) {
    if (queue != 2) return;
    during_frame_2 = Read(raw);
    disk_full.emplace(0);
  };
  EXPECT_EQ(Run({"record", "--frames", "3", "--raw", raw.string()}), 1);
  disk_full.reset();
  EXPECT_EQ(during_frame_2, RawText(1, {SquareFrame(128), SquareFrame(128)}));
  EXPECT_EQ(out_.str().size(), 3 * std::string(" 0   .5000   .000\n").size());
  EXPECT_NE(err_.str().find("\"" + raw.string() + "\": No space left on device"), std::string::npos)
      << err_.str();
  EXPECT_EQ(Read(raw), during_frame_2);
}

TEST_F(CliTest, RecordUntilStoppedKeepsEachStoreAsANumberedRawPart) {
  const fs::path plain = dir_ / "plain.txt";
  ASSERT_EQ(Run({"record", "--frames", "1001", "--raw", plain.string()}), 0) << err_.str();
  const std::string plain_lines = out_.str();

  const fs::path raw = dir_ / "run.txt";
  ASSERT_EQ(Run({"record", "--until-stopped", "--frames", "1100", "--raw", raw.string()}), 0)
      << err_.str();
  EXPECT_FALSE(fs::exists(raw));
  const std::string lines = out_.str();
  EXPECT_EQ(lines.substr(0, plain_lines.size()), plain_lines);
  EXPECT_EQ(lines.substr(plain_lines.size(), 21), " 1001   .5000   .000\n");
  EXPECT_EQ(lines.substr(lines.size() - 21), " 1099   .5000   .000\n");
  EXPECT_NE(err_.str().find("Average = .5000\n"), std::string::npos) << err_.str();
  // The full store's part is the file a run of 1001 frames writes; the last part holds the
  // frames after it, read back as rows 0.., with the empty row after the last frame.
  EXPECT_TRUE(Read(NumberedPart(raw, 1)) == Read(plain));
  ASSERT_EQ(Run({"analyze", NumberedPart(raw, 2).string()}), 0) << err_.str();
  std::string second;
  for (int row = 0; row < 99; ++row) second += " " + std::to_string(row) + "   .5000   .000\n";
  EXPECT_EQ(out_.str(), second + " 99   .0000   .000\n");
  EXPECT_FALSE(fs::exists(NumberedPart(raw, 3)));

  // Never over a user's file: a part name taken at the start refuses the run, one taken
  // during it ends the raw parts and keeps the file.
  EXPECT_EQ(Run({"record", "--until-stopped", "--frames", "3", "--raw", raw.string()}), 1);
  EXPECT_NE(err_.str().find("run-0001.txt\" exists already"), std::string::npos) << err_.str();
  EXPECT_EQ(out_.str(), "");
  fs::remove(NumberedPart(raw, 1));
  fs::remove(NumberedPart(raw, 2));
  on_fill_ = [&](int queue) {
    if (queue == 10) std::ofstream(NumberedPart(raw, 2)) << "mine";
  };
  EXPECT_EQ(Run({"record", "--until-stopped", "--frames", "1003", "--raw", raw.string()}), 0);
  EXPECT_NE(err_.str().find("run-0002.txt\" appeared during the run and was not overwritten; "
                            "the frames from 1001 on"),
            std::string::npos)
      << err_.str();
  EXPECT_TRUE(Read(NumberedPart(raw, 1)) == Read(plain));
  EXPECT_TRUE(Read(NumberedPart(raw, 2)) == "mine");

  // More frames than a store holds is a run in parts only.
  EXPECT_EQ(Run({"record", "--frames", "1002"}), 2);
  EXPECT_NE(err_.str().find("add --until-stopped"), std::string::npos) << err_.str();
}

TEST_F(CliTest, TermAndHangUpEndTheRunAsCtrlCDoes) {
  EndRunOnStopSignals();
  sound_.interrupted = [] { return StopSignalFlag().load(); };
  const fs::path raw = dir_ / "Raw.txt";
  for (const int signal : {SIGTERM, SIGHUP}) {
    StopSignalFlag() = false;
    fs::remove(raw);
    on_fill_ = [signal](int queue) {
      if (queue == 1) std::raise(signal);
    };
    // The run ends after the frame being recorded, with the file written.
    EXPECT_EQ(Run({"record", "--raw", raw.string()}), 0) << signal;
    EXPECT_EQ(out_.str(), " 0   .5000   .000\n 1   .5000   .000\n") << signal;
    EXPECT_EQ(Read(raw).substr(0, 5), " 2 \r\n") << signal;
  }
  // A stop while the input has stopped delivering (frame 1 never arrives) ends the run about a
  // second later, not at the time-out: frame 0 is kept, frame 1 is not.
  never_complete_ = {1};
  on_fill_ = nullptr;
  fs::remove(raw);
  const double begun = clock_.MonotonicSeconds();
  sound_.interrupted = [this, begun] { return clock_.MonotonicSeconds() > begun + 5.0; };
  EXPECT_EQ(Run({"record", "--raw", raw.string()}), 0) << err_.str();
  EXPECT_EQ(out_.str(), " 0   .5000   .000\n");
  EXPECT_LT(clock_.MonotonicSeconds(), begun + 7.0);
  EXPECT_NE(err_.str().find("did not finish within a second of the stop"), std::string::npos)
      << err_.str();
  EXPECT_EQ(err_.str().find("Timed out"), std::string::npos) << err_.str();
  EXPECT_EQ(Read(raw).substr(0, 5), " 1 \r\n");
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);
}

// A frame line that standard output does not take ends the run after its frame, with the raw
// file holding every frame analysed; the reason is told and the run fails.
TEST_F(CliTest, RecordEndsAfterAFrameLineThatCouldNotBeWritten) {
  EndRunOnStopSignals();  // as the sound helper starts: SIGPIPE is ignored
  const fs::path raw = dir_ / "Raw.txt";
  const std::vector<int> empty(2 * kCaptureBufferSize, 0);

  // The reader takes frame 0's line and goes away while frame 1 records (`| head -1`).
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  std::string taken;
  on_fill_ = [&](int queue) {
    if (queue != 1 || pipe_fds[0] < 0) return;
    char text[64];
    const ssize_t n = ::read(pipe_fds[0], text, sizeof text);
    taken.assign(text, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    ::close(pipe_fds[0]);
    pipe_fds[0] = -1;
  };
  {
    DescriptorOutput buffer(pipe_fds[1]);
    std::ostream out(&buffer);
    EXPECT_EQ(RunOn({"record", "--frames", "5", "--raw", raw.string()}, out), 1);
  }
  ::close(pipe_fds[1]);
  on_fill_ = nullptr;
  EXPECT_EQ(taken, " 0   .5000   .000\n");
  EXPECT_NE(err_.str().find("standard output: Broken pipe"), std::string::npos) << err_.str();
  EXPECT_EQ(Read(raw), RawText(2, {SquareFrame(128), SquareFrame(128), empty}));

  // Standard output closed (`>&-`): not even frame 0's line arrives.
  const int closed = ::dup(STDERR_FILENO);
  ::close(closed);
  {
    DescriptorOutput buffer(closed);
    std::ostream out(&buffer);
    EXPECT_EQ(RunOn({"record", "--frames", "5", "--raw", raw.string()}, out), 1);
  }
  EXPECT_NE(err_.str().find("standard output: Bad file descriptor"), std::string::npos)
      << err_.str();
  EXPECT_EQ(Read(raw), RawText(1, {SquareFrame(128), empty}));
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(signal, SIG_DFL);
}

// The CSV needs no drawing library, so it is written here too; frames without a reading keep
// their line with an empty rpm, and a file that ends early still charts its complete frames.
TEST_F(CliTest, ChartWritesTheCsvAndReadsRawAsAnalyzeDoes) {
  const std::vector<int> flat(2 * kCaptureBufferSize, 128);
  std::vector<int> half = SquareFrame(64);
  half.resize(1024);
  const auto raw = Write("raw.txt", RawText(3, {SquareFrame(128), flat, SquareFrame(64), half}));
  const fs::path csv = dir_ / "run.csv";
  EXPECT_EQ(Run({"chart", raw.string(), "-o", csv.string(), "--pulses-per-rev", "2"}), 3);
  EXPECT_EQ(ReadText(csv),
            "frame,time_s,period_s,rpm,precise_period_s,uncertainty_s,edges\n"
            "0,0.000,0.500000,60.000,,,\n"
            "1,4.000,0.000000,,,,\n"
            "2,8.000,0.250000,120.000,,,\n");

  EXPECT_EQ(Run({"chart", (dir_ / "missing.txt").string(), "-o", csv.string()}), 1);
  const auto bad = Write("bad.txt", " 0 \r\n 300 \r\n");
  EXPECT_EQ(Run({"chart", bad.string(), "-o", csv.string()}), 1);
  EXPECT_NE(err_.str().find("line 2"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"chart", raw.string(), "-o", (dir_ / "run.txt").string()}), 2);
  EXPECT_EQ(Run({"chart", raw.string(), "-o", csv.string(), "--pulses-per-rev", "0"}), 2);
  EXPECT_EQ(Run({"chart", raw.string(), "-o", csv.string(), "--pulses-per-rev", "1e9"}), 2);
  EXPECT_NE(err_.str().find("--pulses-per-rev: Pulses per revolution go from"), std::string::npos)
      << err_.str();
  EXPECT_EQ(Run({"chart", raw.string(), "-o", csv.string(), "--pulses-per-rev", "2,5"}), 3);
  EXPECT_NE(ReadText(csv).find("0,0.000,0.500000,48.000,,,\n"), std::string::npos) << ReadText(csv);
  // This program has no drawing; the helper beside it has.
  EXPECT_EQ(Run({"chart", raw.string(), "-o", (dir_ / "run.png").string()}), 1);
  EXPECT_FALSE(fs::exists(dir_ / "run.png"));
  // A file that cannot be written is reported with the writer's message.
  EXPECT_EQ(Run({"chart", raw.string(), "-o", (dir_ / "no" / "run.csv").string()}), 1);
  EXPECT_NE(err_.str().find("run.csv"), std::string::npos) << err_.str();
}

#ifdef FC_CHART_HELPER
// The helper draws offscreen whatever platform the session names and with no desktop session
// at all: it neither aborts nor talks about Qt; Qt starts only for a picture. A run without a
// reading says so on the picture and on standard error; its CSV is just its rows.
TEST_F(CliTest, ChartHelperDrawsOffscreenQuietly) {
  const std::vector<int> flat(2 * kCaptureBufferSize, 128);
  const auto good = Write("good.txt", RawText(0, {SquareFrame(128)}));
  const auto none = Write("none.txt", RawText(1, {flat, flat}));
  const auto helper = [&](const std::string& platform, const std::string& args) {
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR "
                                "QT_QPA_PLATFORM=" + platform + " '" FC_CHART_HELPER "' " +
                                args + " >'" + (dir_ / "out").string() + "' 2>'" +
                                (dir_ / "err").string() + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  for (const std::string platform : {"xcb", "wayland", "eglfs"}) {
    SCOPED_TRACE(platform);
    EXPECT_EQ(helper(platform, "chart --help"), 0);
    EXPECT_NE(ReadText(dir_ / "out").find("--pulses-per-rev"), std::string::npos);
    EXPECT_EQ(ReadText(dir_ / "err"), "");
    EXPECT_EQ(helper(platform, "chart --width 5"), 2);
    EXPECT_EQ(ReadText(dir_ / "err").find("Qt"), std::string::npos) << ReadText(dir_ / "err");
    EXPECT_EQ(helper(platform, "chart " + good.string() + " -o " + (dir_ / "q.csv").string()), 0);
    EXPECT_EQ(ReadText(dir_ / "err"), "");
    EXPECT_EQ(ReadText(dir_ / "q.csv").substr(0, 26), "frame,time_s,period_s,rpm,");
    EXPECT_EQ(helper(platform, "chart " + good.string() + " -o " + (dir_ / "q.png").string()), 0);
    EXPECT_EQ(ReadText(dir_ / "err"), "");
    EXPECT_EQ(ReadText(dir_ / "q.png").substr(1, 3), "PNG");
  }

  EXPECT_EQ(helper("xcb", "chart " + none.string() + " -o " + (dir_ / "n.svg").string()), 0);
  EXPECT_EQ(ReadText(dir_ / "err"), "No frame of \"" + none.string() +
                                        "\" has a reading (every period is .0000), so the chart "
                                        "has no line; \"analyze --explain\" tells why each "
                                        "frame has none.\n");
  EXPECT_NE(ReadText(dir_ / "n.svg").find("No frame has a reading."), std::string::npos);
  EXPECT_EQ(helper("xcb", "chart " + none.string() + " -o " + (dir_ / "n.csv").string()), 0);
  EXPECT_EQ(ReadText(dir_ / "err"), "");
  EXPECT_EQ(ReadText(dir_ / "n.csv"),
            "frame,time_s,period_s,rpm,precise_period_s,uncertainty_s,edges\n"
            "0,0.000,0.000000,,,,\n1,4.000,0.000000,,,,\n");
}
#endif

}  // namespace
}  // namespace fc
