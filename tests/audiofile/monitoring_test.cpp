// Unattended runs through analyze-audio of generated files: the limits and their exit status,
// the statistics and JSON Lines read back, and JSON Lines through a real MQTT broker.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/audiofile/audio_file_input.h"
#include "cli/cli_app.h"
#include "cli/monitoring.h"
#include "audiofile/batch_run.h"

namespace fc::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A pulse train whose period is set frame by frame (4 s each); a period of 0 is a silent frame.
// The phase runs on across frames, so that only the interval at a change is in between.
void WriteTrain(const fs::path& path, const std::vector<double>& periods) {
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr);
  std::vector<float> samples;
  double phase = 0.0;
  for (const double period : periods) {
    for (int i = 0; i < 4 * info.samplerate; ++i) {
      if (period > 0.0) phase = std::fmod(phase + 1.0 / (period * info.samplerate), 1.0);
      samples.push_back(period > 0.0 && phase < 0.1 ? 0.9f : -0.9f);
    }
  }
  sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(file);
}

CliRun Cli(std::vector<std::string> args) { return RunBatch(std::move(args)); }

std::vector<std::string> Lines(const std::string& text, const std::string& prefix = "") {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  }
  return lines;
}

class MonitoringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("fc-monitor-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    wav = dir / "train.wav";
    // 192 RPM twice, 240 RPM twice, 192 RPM, a silent frame. The edge timer's fit of a frame
    // after a change holds an interval of each period.
    WriteTrain(wav, {0.3125, 0.3125, 0.25, 0.25, 0.3125, 0.0});
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
  fs::path wav;
};

// Each frame outside the band prints its line, and only those; the run then ends with 4.
// Limits that make no sense are a usage error naming the option, and nothing is written.
TEST_F(MonitoringTest, AlarmsAndTheirExitStatus) {
  const std::string file = wav.string();
  const CliRun calm = Cli({"analyze-audio", file, "--min-rpm", "150", "--max-rpm", "250"});
  EXPECT_EQ(calm.status, kExitOk) << calm.err;
  EXPECT_TRUE(Lines(calm.err, "ALARM").empty()) << calm.err;
  EXPECT_EQ(Lines(calm.out).size(), 6u);

  struct Case {
    std::vector<std::string> args;
    std::vector<int> frames;  // the frames outside
    std::string end;          // how their lines end
  };
  const Case cases[] = {
      {{"--max-rpm", "220"}, {2, 3}, " RPM above 220 RPM"},
      {{"--min-rpm", "200"}, {0, 1, 4}, " RPM below 200 RPM"},
      {{"--min-period", "0.3"}, {2, 3}, " s period below 0.3 s"},
      {{"--max-period", "0.3"}, {0, 1, 4}, " s period above 0.3 s"},
      // 2.5 pulses a turn: 76.8 and 96 RPM.
      {{"--max-rpm", "90", "--pulses-per-rev", "2,5"}, {2, 3}, " RPM above 90 RPM"},
      {{"--alarm-on-no-reading"}, {5}, "no reading"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"analyze-audio", file};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(args[2]);
    const CliRun run = Cli(args);
    EXPECT_EQ(run.status, kExitAlarm) << run.err;
    const std::vector<std::string> alarms = Lines(run.err, "ALARM");
    ASSERT_EQ(alarms.size(), c.frames.size()) << run.err;
    for (std::size_t i = 0; i < alarms.size(); ++i) {
      EXPECT_EQ(alarms[i].rfind("ALARM frame " + std::to_string(c.frames[i]) + ": ", 0), 0u)
          << alarms[i];
      EXPECT_TRUE(alarms[i].ends_with(c.end)) << alarms[i];
    }
    EXPECT_NE(run.err.find("Frames outside the limits: " + std::to_string(c.frames.size())),
              std::string::npos);
  }
  // A steady frame's line in full.
  EXPECT_EQ(Lines(Cli({"analyze-audio", file, "--max-rpm", "220"}).err, "ALARM")[1],
            "ALARM frame 3: 240.0 RPM above 220 RPM");

  const fs::path raw = dir / "Raw.txt";
  const std::vector<std::vector<std::string>> bad = {
      {"--min-rpm", "abc"},         {"--max-rpm", "-5"},
      {"--min-period", "0"},        {"--max-period", "0.5s"},
      {"--pulses-per-rev", "0"},    {"--pulses-per-rev", "1e9"},
      {"--min-rpm", "300", "--max-rpm", "200"}, {"--min-period", "0.5", "--max-period", "0.1"}};
  for (const auto& options : bad) {
    std::vector<std::string> args = {"analyze-audio", file, "--raw", raw.string()};
    args.insert(args.end(), options.begin(), options.end());
    SCOPED_TRACE(options[0] + " " + options[1]);
    const CliRun run = Cli(args);
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_NE(run.err.find(options[0]), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(raw));
  }
}

// Every frame's object and the summary, parsed back; the summary's statistics against a
// direct computation over the objects' own readings, and the frame numbers against the CSV
// that chart writes of the same frames.
TEST_F(MonitoringTest, JsonLinesReadBackAndAgreeWithTheCsv) {
  const fs::path raw = dir / "Raw.txt";
  const CliRun run = Cli({"analyze-audio", wav.string(), "--jsonl", "--raw", raw.string(),
                          "--pulses-per-rev", "2.5", "--max-rpm", "90"});
  ASSERT_EQ(run.status, kExitAlarm) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 7u) << run.out;
  std::vector<json> frames;
  for (const std::string& line : lines) frames.push_back(json::parse(line));
  const json summary = frames.back().at("summary");
  frames.pop_back();

  double sum = 0.0;
  int readings = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const json& f = frames[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(f.at("frame"), i);
    EXPECT_EQ(f.at("time_s"), 4.0 * static_cast<double>(i));
    if (i == 5) {
      EXPECT_TRUE(f.at("reading_s").is_null());
      EXPECT_TRUE(f.at("rpm").is_null());
      EXPECT_FALSE(f.at("reason").get<std::string>().empty());
      continue;
    }
    const double reading = f.at("reading_s");
    EXPECT_EQ(reading, f.at("precise").at("period_s").get<double>());
    EXPECT_GT(f.at("precise").at("edges").get<int>(), 2);
    EXPECT_DOUBLE_EQ(f.at("reading_rpm").get<double>(), 60.0 / (reading * 2.5));
    EXPECT_EQ(f.at("alarm").is_string(), i == 2 || i == 3);
    sum += reading;
    ++readings;
  }
  const double mean = sum / readings;
  double squares = 0.0;
  for (const json& f : frames) {
    if (!f.at("reading_s").is_null()) squares += std::pow(f.at("reading_s").get<double>() - mean, 2);
  }
  const json& period = summary.at("period_s");
  EXPECT_EQ(summary.at("frames"), 6);
  EXPECT_EQ(summary.at("readings"), readings);
  EXPECT_EQ(summary.at("alarms"), 2);
  EXPECT_EQ(summary.at("exit_status"), kExitAlarm);
  EXPECT_NEAR(period.at("mean").get<double>(), mean, 1e-12 * mean);
  const double sd = std::sqrt(squares / (readings - 1));
  EXPECT_NEAR(period.at("standard_deviation").get<double>(), sd, 1e-12 * mean);
  EXPECT_NEAR(period.at("stability_ppm").get<double>(), sd / mean * 1e6, 1e-6);
  EXPECT_EQ(period.at("min_frame"), 3);  // frame 2 holds one longer interval
  EXPECT_EQ(summary.at("rpm").at("max_frame"), period.at("min_frame"));
  EXPECT_NE(run.err.find("Readings: 5 of 6 frames."), std::string::npos) << run.err;

  const fs::path csv = dir / "run.csv";
  ASSERT_EQ(Cli({"chart", raw.string(), "-o", csv.string(), "--pulses-per-rev", "2,5"}).status,
            kExitOk);
  std::ifstream in(csv);
  std::string row;
  std::getline(in, row);
  for (const json& f : frames) {
    ASSERT_TRUE(std::getline(in, row));
    int frame = 0;
    double time_s = 0, period_s = 0, rpm = 0;
    const int fields = std::sscanf(row.c_str(), "%d,%lf,%lf,%lf", &frame, &time_s, &period_s, &rpm);
    EXPECT_EQ(frame, f.at("frame"));
    EXPECT_NEAR(period_s, f.at("period_s").get<double>(), 5e-7);
    if (fields == 4) {
      EXPECT_NEAR(rpm, f.at("rpm").get<double>(), 5e-4);
    } else {
      EXPECT_TRUE(f.at("rpm").is_null()) << row;
    }
  }
}

// A port nobody listens on now: the kernel's choice for a socket bound to port 0.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

// Starts `command` through the shell in its own process; its pid.
pid_t Start(const std::string& command) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Waits until the port takes a connection; false when `pid` ended first or after a minute, far
// beyond what a broker needs to start even on a busy machine.
bool AwaitListener(int port, pid_t pid) {
  for (int i = 0; i < 3000; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (connected) return true;
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// analyze-audio --jsonl | mosquitto_pub -l: a broker on the loopback gets every object, and a
// subscriber reads each back as the object the program printed.
TEST_F(MonitoringTest, JsonLinesReachAnMqttBroker) {
  const char* broker = "/usr/sbin/mosquitto";
  if (::access(broker, X_OK) != 0 || ::access("/usr/bin/mosquitto_pub", X_OK) != 0 ||
      ::access("/usr/bin/mosquitto_sub", X_OK) != 0) {
    GTEST_SKIP() << "mosquitto and mosquitto-clients are not installed (./dev installs them).";
  }
  const int port = FreePort();
  const fs::path config = dir / "mosquitto.conf";
  const fs::path log = dir / "broker.log";
  std::ofstream(config) << "listener " << port << " 127.0.0.1\nallow_anonymous true\n";
  const pid_t broker_pid =
      Start(std::string(broker) + " -c '" + config.string() + "' >'" + log.string() + "' 2>&1");
  const auto stop_broker = [&] {
    ::kill(broker_pid, SIGTERM);
    ::waitpid(broker_pid, nullptr, 0);
  };
  if (!AwaitListener(port, broker_pid)) {
    stop_broker();
    FAIL() << "The broker did not start: " << ReadText(log);
  }

  // A lasting session subscribed first (-E: once the broker has acknowledged it), so that the
  // broker keeps every object for it, then read back.
  const std::string where = " -h 127.0.0.1 -p " + std::to_string(port) + " -t fc/counter/1 -q 1";
  const std::string subscriber = "/usr/bin/mosquitto_sub" + where + " -i fc-sub -c";
  const int subscribed = std::system((subscriber + " -E").c_str());

  const fs::path printed = dir / "printed.jsonl";
  const std::string pipeline = std::string("set -o pipefail; '") + FC_CLI + "' analyze-audio '" +
                               wav.string() + "' --jsonl 2>/dev/null | tee '" + printed.string() +
                               "' | /usr/bin/mosquitto_pub" + where + " -l";
  const int piped = std::system(("bash -c \"" + pipeline + "\"").c_str());
  const fs::path received = dir / "received.jsonl";
  const int read_back =
      std::system((subscriber + " -C 7 -W 60 >'" + received.string() + "'").c_str());
  stop_broker();
  EXPECT_EQ(subscribed, 0);
  EXPECT_TRUE(WIFEXITED(piped) && WEXITSTATUS(piped) == 0) << piped;
  EXPECT_EQ(read_back, 0);

  const auto sent = Lines(ReadText(printed));
  const auto got = Lines(ReadText(received));
  ASSERT_EQ(sent.size(), 7u);
  ASSERT_EQ(got.size(), sent.size()) << ReadText(log);
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(json::parse(got[i]), json::parse(sent[i]));
  EXPECT_EQ(json::parse(got.back()).at("summary").at("frames"), 6);
}

}  // namespace
}  // namespace fc::testing
