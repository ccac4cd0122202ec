#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audiofile/batch_run.h"
#include "capture/audio_replay.h"
#include "capture/audiofile/audio_file_input.h"
#include "capture/audiofile/audio_recording.h"
#include "capture/block_averager.h"
#include "capture/buffer_filler.h"
#include "capture/capture.h"
#include "capture/fake_host.h"
#include "capture/pulse/pulse_wave_input.h"
#include "cli/cli_app.h"
#include "files/atomic_file.h"
#include "pulse/private_server.h"
#include "support/scripted_wave_input.h"
#include "support/wave_format.h"

namespace fc::testing {
namespace {

namespace fs = std::filesystem;

// A full-scale pulse train, by default 80 points at 256 Hz apart (.3125 s) and 8 points high
// (a tenth of the period).
float Train(double seconds, double period = 0.3125, double duty = 0.1) {
  const double phase = std::fmod(seconds + 0.2, period);
  return phase < period * duty ? 1.0f : -1.0f;
}

struct FileShape {
  int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  int rate = 48000;
  int channels = 2;
  int train_channel = 1;  // from 1; the next channel holds half scale, the others silence
  double seconds = 9.0;
  double period = 0.3125;
  double duty = 0.1;
};

// Writes the shape with libsndfile; false when this libsndfile cannot write the format.
bool WriteShape(const fs::path& path, const FileShape& shape) {
  SF_INFO info{};
  info.samplerate = shape.rate;
  info.channels = shape.channels;
  info.format = shape.format;
  if (!sf_format_check(&info)) return false;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return false;
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  const auto frames = static_cast<size_t>(shape.seconds * shape.rate);
  std::vector<float> block;
  for (size_t at = 0; at < frames; at += 4096) {
    const size_t count = std::min<size_t>(4096, frames - at);
    block.assign(count * static_cast<size_t>(shape.channels), 0.0f);
    for (size_t f = 0; f < count; ++f) {
      const double t = static_cast<double>(at + f) / shape.rate;
      block[f * shape.channels + shape.train_channel - 1] = Train(t, shape.period, shape.duty);
      if (shape.train_channel < shape.channels) {
        block[f * shape.channels + shape.train_channel] = 0.5f;
      }
    }
    sf_writef_float(file, block.data(), static_cast<sf_count_t>(count));
  }
  sf_close(file);
  return true;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string Token(const std::string& line, int index) {
  std::istringstream in(line);
  std::string token;
  for (int i = 0; i <= index; ++i) in >> token;
  return token;
}

struct Replayed {
  std::unique_ptr<MeasurementState> state = std::make_unique<MeasurementState>();
  FakeDisplay display;
  std::string error;
  ReplayOutcome outcome;
};

Replayed Replay(const fs::path& path, AudioFileOptions options = {}, bool restore = false) {
  Replayed replayed;
  UpdateConsecutive(*replayed.state);
  AudioFileInput input(path, options);
  ReplayOptions replay;
  replay.restore_pulses = restore;
  auto result = ReplayAudio(*replayed.state, replayed.display, input, replay);
  if (result) {
    replayed.outcome = result.value();
  } else {
    replayed.error = result.error();
  }
  return replayed;
}

class AudioFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("fc-audio-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

// Every format, width, rate and channel case reads the train's period on every frame, takes
// the channel asked for first and the next one (or the same one) second, and leaves the
// second after the last whole frame over.
TEST_F(AudioFileTest, EveryFormatReadsThePeriodOnEveryFrame) {
  struct Case {
    const char* name;
    FileShape shape;
    bool lossy = false;
  };
  const Case cases[] = {
      {"wav16.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 1}},
      {"wav8.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 1, 1}},
      {"wavex24.wav", {SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 96000, 6, 3}},
      {"rf64.rf64", {SF_FORMAT_RF64 | SF_FORMAT_PCM_32, 384000, 1, 1}},
      {"w64.w64", {SF_FORMAT_W64 | SF_FORMAT_FLOAT, 44100, 2, 2}},
      {"flac.flac", {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 22050, 8, 8}},
      {"flac24.flac", {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 192000, 2, 1}},
      {"aiff.aiff", {SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 32000, 2, 2}},
      {"caf.caf", {SF_FORMAT_CAF | SF_FORMAT_FLOAT, 16000, 3, 2}},
      {"double.wav", {SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 2048, 2, 1}},
      {"vorbis.ogg", {SF_FORMAT_OGG | SF_FORMAT_VORBIS, 48000, 2, 1}, true},
      {"opus.opus", {SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 1, 1}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir / c.name;
    if (!WriteShape(path, c.shape)) {
      // Opus is optional in libsndfile; everything else must be there.
      EXPECT_EQ(c.shape.format, SF_FORMAT_OGG | SF_FORMAT_OPUS);
      continue;
    }
    AudioFileOptions options;
    options.channel = c.shape.train_channel;
    const Replayed replayed = Replay(path, options);
    ASSERT_EQ(replayed.error, "");
    EXPECT_EQ(replayed.outcome.frames, 2);
    EXPECT_NEAR(replayed.outcome.position.seconds_left_over, 1.0, c.lossy ? 0.1 : 0.001);
    EXPECT_FALSE(replayed.outcome.position.ended_early);
    const auto lines = Lines(replayed.display.log);
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& line : lines) EXPECT_EQ(Token(line, 1), ".3125") << line;
    const uint8_t* row = replayed.state->Row(0);
    const bool has_next = c.shape.train_channel < c.shape.channels;
    for (int j = 0; j < kCaptureBufferSize; j += 97) {
      if (has_next) {
        EXPECT_NEAR(row[2 * j + 1], 192, c.lossy ? 3 : 0) << "point " << j;
      } else {
        EXPECT_EQ(row[2 * j + 1], row[2 * j]) << "point " << j;
      }
    }
  }
}

// The same samples through the audio-file input and through a live input that delivers them
// in odd pieces to the capture loop give the same frame bytes and lines, pulse restorer on or
// off.
TEST_F(AudioFileTest, FileAndLiveInputGiveTheSameFrames) {
  constexpr int kRate = 44100;
  constexpr int kFrames = 3;
  const size_t count = static_cast<size_t>(kRate) * (4 * kFrames + 1);
  // An AC-coupled train (a one-pole high-pass of the square) with a little noise, and a slow
  // sine on the second channel, as 16-bit samples.
  std::vector<short> samples(2 * count);
  double previous_in = 0.0;
  double out = 0.0;
  uint32_t noise = 12345;
  for (size_t n = 0; n < count; ++n) {
    const double in = Train(static_cast<double>(n) / kRate) * 0.8;
    out = 0.995 * (out + in - previous_in);
    previous_in = in;
    noise = noise * 1664525u + 1013904223u;
    const double value = out + (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * 0.01;
    samples[2 * n] = static_cast<short>(std::lround(std::clamp(value, -1.0, 0.99) * 32767));
    samples[2 * n + 1] = static_cast<short>(std::lround(std::sin(n * 0.001) * 20000));
  }
  const fs::path path = dir / "live.wav";
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr);
  sf_writef_short(file, samples.data(), static_cast<sf_count_t>(count));
  sf_close(file);

  for (const bool restore : {false, true}) {
    SCOPED_TRACE(restore ? "restorer on" : "restorer off");
    const Replayed replayed = Replay(path, {}, restore);
    ASSERT_EQ(replayed.error, "");
    ASSERT_EQ(replayed.outcome.frames, kFrames);

    // The live side: the capture loop with a device that delivers 1733 frames at a time, as a
    // card's thread does, through a filler of its own.
    MeasurementState state;
    UpdateConsecutive(state);
    FakeDisplay display;
    FakeClock clock;
    ScriptedWaveInput input(clock);
    FakeHost host(clock);
    Capture capture(state, display, input, host, clock);
    BufferFiller filler(kRate, 256, 2, 1733 * 256 / kRate + 2, restore);
    size_t delivered = 0;
    std::vector<float> piece;
    input.fill = [&](int, uint8_t* data, uint32_t length) {
      WaveHeader header;
      header.data = data;
      header.buffer_length = length;
      filler.Queue(header);
      while (!header.Done() && delivered < count) {
        const size_t frames = std::min<size_t>(1733, count - delivered);
        piece.resize(2 * frames);
        for (size_t i = 0; i < 2 * frames; ++i) {
          piece[i] = static_cast<float>(samples[2 * delivered + i]) / 32768.0f;
        }
        filler.Push(piece.data(), frames);
        delivered += frames;
      }
      filler.Release(&header);
    };
    host.on_input = [&] {
      if (state.CurrentFrame == kFrames) capture.Stop();
    };
    capture.InitDevices();
    capture.Start(0);
    ASSERT_EQ(state.CurrentFrame, kFrames);
    for (int frame = 0; frame < kFrames; ++frame) {
      EXPECT_EQ(0,
                std::memcmp(state.Row(frame), replayed.state->Row(frame), 2 * kCaptureBufferSize))
          << "frame " << frame;
    }
    EXPECT_EQ(display.log, replayed.display.log);
    if (restore) continue;
    // The edge timer beside the averaging changes no byte: the rows, and so the frame lines and
    // the raw file, are the plain block means of the samples.
    BlockAverager plain(kRate, 256, 2);
    std::vector<float> all(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) all[i] = static_cast<float>(samples[i]) / 32768.0f;
    std::vector<uint8_t> means;
    plain.Push(all.data(), count, [&](const uint8_t* f) { means.insert(means.end(), f, f + 2); });
    ASSERT_GE(means.size(), static_cast<size_t>(2 * kCaptureBufferSize * kFrames));
    for (int frame = 0; frame < kFrames; ++frame) {
      EXPECT_EQ(
          0, std::memcmp(replayed.state->Row(frame), means.data() + 2 * kCaptureBufferSize * frame,
                         2 * kCaptureBufferSize))
          << "frame " << frame;
    }
  }
}

// analyze-audio with a FIFO given up on after a fraction of a second.
CliRun AnalyzeAudio(std::vector<std::string> args) {
  args.insert(args.begin(), "analyze-audio");
  return RunBatch(std::move(args), 0.3);
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Bad input is told in a sentence with status 1 and writes nothing; a file whose samples end
// before its header says keeps its complete frames with status 3.
TEST_F(AudioFileTest, BadInputIsRefusedAndAFileThatEndsEarlyKeepsItsFrames) {
  const fs::path good = dir / "good.wav";
  ASSERT_TRUE(WriteShape(good, {}));
  const std::string bytes = ReadText(good);
  const auto write = [&](const char* name, const std::string& content) {
    std::ofstream(dir / name, std::ios::binary) << content;
    return (dir / name).string();
  };
  const std::string text = write("notes.wav", "These are not samples.\n");
  const std::string cut_header = write("cut-header.wav", bytes.substr(0, 30));
  const std::string empty = (dir / "empty.wav").string();
  ASSERT_TRUE(WriteShape(empty, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 1, 0.0}));
  const std::string slow = (dir / "slow.wav").string();
  ASSERT_TRUE(WriteShape(slow, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1000, 1, 1, 9.0}));
  const std::string short_file = (dir / "short.wav").string();
  ASSERT_TRUE(WriteShape(short_file, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 1, 3.0}));
  const std::string fifo = (dir / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{text}, "is not an audio file that can be read"},
      {{cut_header}, "is not an audio file that can be read"},
      {{empty}, "holds no samples."},
      {{good.string(), "--channel", "3"}, "has 2 channels; there is no channel 3."},
      {{slow}, "is recorded at 1000 Hz; replaying needs at least 2048 Hz."},
      {{fifo}, "delivered nothing within"},
      {{short_file}, "holds less than one frame"},
      {{good.string(), "--start", "9.5"}, "the replay cannot start at 9.500"},
      {{(dir / "missing.wav").string()}, "could not be opened: No such file or directory."},
  };
  const fs::path raw = dir / "Raw.txt";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--raw", raw.string()});
    const CliRun run = AnalyzeAudio(args);
    EXPECT_EQ(run.status, kExitBadInput);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(raw));
  }

  // Cut inside the samples, after two whole frames and a part of the third (5 s at 192000
  // bytes a second after the 44-byte header).
  const std::string cut = write("cut.wav", bytes.substr(0, 44 + 192000 * 9 - 192000 * 4 + 100));
  const CliRun run = AnalyzeAudio({cut, "--raw", raw.string()});
  EXPECT_EQ(run.status, kExitEndedEarly);
  EXPECT_EQ(Lines(run.out).size(), 1u);
  EXPECT_NE(run.err.find("before the length its header announces"), std::string::npos) << run.err;
  EXPECT_EQ(ReadText(raw).substr(0, 5), " 0 \r\n");
}

// A recording longer than the store: every frame is printed with its own number, --raw keeps
// the first 1001 frames, and --start moves the first frame.
TEST_F(AudioFileTest, LongFilesAreAnalysedPastTheStore) {
  const fs::path path = dir / "long.wav";
  ASSERT_TRUE(WriteShape(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 2048, 1, 1, 4.0 * 1003 + 2}));
  const fs::path raw = dir / "Raw.txt";
  const CliRun run = AnalyzeAudio({path.string(), "--raw", raw.string()});
  ASSERT_EQ(run.status, kExitOk) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 1003u);
  EXPECT_EQ(Token(lines[1001], 0), "1001");
  EXPECT_EQ(Token(lines[1002], 0), "1002");
  EXPECT_EQ(Token(lines[1002], 1), ".3125");
  EXPECT_NE(run.err.find("Frames: 1003. 2.000 seconds after the last frame were left over"),
            std::string::npos)
      << run.err;
  const std::string whole = ReadText(raw);
  EXPECT_EQ(whole.substr(0, 8), " 1000 \r\n");

  // What --explain tells of a frame past the store names that frame, not the row it used.
  const fs::path fast = dir / "fast.wav";
  ASSERT_TRUE(WriteShape(fast, {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 2048, 1, 1, 4.0 * 1003, 0.02,
                                0.5}));
  const CliRun explained = AnalyzeAudio({fast.string(), "--explain"});
  ASSERT_EQ(explained.status, kExitOk) << explained.err;
  for (const char* told : {"\nframe 1002: ", "\nframe 1002: frame reading disagrees"}) {
    EXPECT_NE(explained.err.find(told), std::string::npos) << told;
  }
  EXPECT_EQ(explained.err.find("\nframe 1000: frame reading disagrees", 0),
            explained.err.rfind("\nframe 1000: frame reading disagrees"));

  // From 8 s on, frame 0 is frame 2 of the whole file.
  const fs::path later = dir / "Later.txt";
  const CliRun started = AnalyzeAudio({path.string(), "--start", "8", "--raw", later.string()});
  ASSERT_EQ(started.status, kExitOk) << started.err;
  EXPECT_EQ(Lines(started.out).size(), 1001u);
  const std::string from = ReadText(later);
  const size_t frame_text = whole.find(" \r\n", 0) + 3;  // after line 1
  const auto nth_line = [](const std::string& s, size_t line) {
    size_t at = 0;
    for (size_t i = 0; i < line; ++i) at = s.find("\r\n", at) + 2;
    return at;
  };
  ASSERT_GT(frame_text, 0u);
  EXPECT_EQ(from.substr(nth_line(from, 1), 4096),
            whole.substr(nth_line(whole, 1 + 2 * 2048), 4096));
}

// --- Through the programs: record from the ALSA test input, keep, replay. ---

// Runs a shell command line; returns its standard output.
std::string Shell(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, got);
  const int raw = ::pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

// The samples of 2048 bytes a frame from a raw data file, frames 0 .. frames-1.
std::string FrameSamples(const std::string& raw, int frames) {
  size_t at = raw.find("\r\n") + 2;
  size_t end = at;
  for (int i = 0; i < frames * 2 * kCaptureBufferSize && end != std::string::npos; ++i) {
    end = raw.find("\r\n", end) + 2;
  }
  return raw.substr(at, end - at);
}

// analyze-audio of what record --keep-audio kept prints the run's frame lines and gives the
// run's frame bytes, as FLAC and as WAV, with the restorer on and off.
TEST_F(AudioFileTest, AKeptRecordingReplaysToTheRunsFrames) {
  const std::string cli = FC_CLI;
  for (const char* name : {"kept.flac", "kept.wav"}) {
    for (const std::string restore : {"", " --restore-pulses"}) {
      SCOPED_TRACE(std::string(name) + restore);
      const std::string kept = (dir / name).string();
      const std::string run_raw = (dir / "run.txt").string();
      const std::string replay_raw = (dir / "replay.txt").string();
      int status = -1;
      const std::string recorded =
          Shell(cli + " record --audio alsa --frames 3" + restore + " --keep-audio '" + kept +
                    "' --raw '" + run_raw + "' 2>/dev/null",
                &status);
      ASSERT_EQ(status, 0);
      ASSERT_EQ(Lines(recorded).size(), 3u);
      const std::string replayed = Shell(cli + " analyze-audio '" + kept + "'" + restore +
                                             " --raw '" + replay_raw + "' 2>/dev/null",
                                         &status);
      EXPECT_EQ(status, 0);
      EXPECT_EQ(replayed, recorded);
      EXPECT_EQ(FrameSamples(ReadText(replay_raw), 3), FrameSamples(ReadText(run_raw), 3));
      fs::remove(kept);
    }
  }
}

// What the PulseAudio input kept (floats, in 24-bit FLAC) replays to the frame it recorded,
// from its first sample on, restorer on.
TEST_F(AudioFileTest, APulseAudioRecordingReplaysToItsFrame) {
  PrivateServer server;
  if (!server.Start(312500, 31250)) {
    if (PrivateServer::required()) FAIL() << server.problem();
    GTEST_SKIP() << server.problem();
  }
  PulseWaveInput::Options options;
  options.server = server.address();
  PulseWaveInput input(options);
  int device = -1;
  const auto devices = input.Devices();
  for (size_t id = 0; id < devices.size(); ++id) {
    if (devices[id].name.find("Test-pulse-input") != std::string::npos)
      device = static_cast<int>(id);
  }
  ASSERT_GE(device, 0);
  const fs::path kept_path = dir / "pulse.flac";
  auto kept = AudioRecording::Create(kept_path);
  ASSERT_TRUE(kept) << kept.error();
  input.KeepRecording(kept.value());
  input.RestorePulses(true);
  const WaveInHandle handle = input.Open(device, EightBitStereo());
  ASSERT_NE(handle, 0);
  input.Start(handle);
  // Samples before the first queueing are not kept and not in the frame.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::vector<uint8_t> frame(2 * kCaptureBufferSize);
  WaveHeader header;
  header.data = frame.data();
  header.buffer_length = static_cast<uint32_t>(frame.size());
  input.AddBuffer(handle, header);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!header.Done() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(header.Done());
  input.UnprepareHeader(handle, header);
  input.Reset(handle);
  input.Close(handle);
  kept.value()->Finish();
  ASSERT_FALSE(kept.value()->TakeFailure());

  const Replayed replayed = Replay(kept_path, {}, true);
  ASSERT_EQ(replayed.error, "");
  ASSERT_EQ(replayed.outcome.frames, 1);
  EXPECT_EQ(0, std::memcmp(replayed.state->Row(0), frame.data(), frame.size()));
}

// Kept in parts, each 1001 frames of a run are a file of their own, cut at the sample that
// completed the last of them, so that each part replays to its own frames.
TEST_F(AudioFileTest, ARunKeptInPartsReplaysEachPartToItsFrames) {
  const fs::path kept_path = dir / "run.flac";
  auto made = AudioRecording::Create(kept_path);
  ASSERT_TRUE(made) << made.error();
  const std::shared_ptr<AudioRecording> kept = made.value();
  kept->KeepInParts();
  constexpr uint32_t kRate = 2048;
  BufferFiller filler(kRate, 256, 2, kCaptureBufferSize);
  filler.KeepInto(kept, SampleWidth::Signed16);
  std::vector<std::vector<uint8_t>> frames(kFrameCount + 2,
                                           std::vector<uint8_t>(2 * kCaptureBufferSize));
  std::vector<float> chunk;
  int64_t at = 0;
  for (std::vector<uint8_t>& frame : frames) {
    WaveHeader header;
    header.data = frame.data();
    header.buffer_length = static_cast<uint32_t>(frame.size());
    filler.Queue(header);
    while (!header.Done()) {
      chunk.clear();
      for (int f = 0; f < 333; ++f, ++at) {
        // Levels 16 bits hold exactly, so that the file replays to the very bytes.
        chunk.push_back(Train(static_cast<double>(at) / kRate) > 0.0f ? 32767.0f / 32768.0f
                                                                      : -1.0f);
        chunk.push_back(0.5f);
      }
      filler.Push(chunk.data(), 333);
    }
    filler.Release(&header);
    kept->Flush();  // as a live input gives the writer four seconds a frame
  }
  kept->Finish();
  const auto failure = kept->TakeFailure();
  ASSERT_FALSE(failure) << *failure;
  EXPECT_FALSE(fs::exists(kept_path));

  const Replayed first = Replay(NumberedPart(kept_path, 1));
  ASSERT_EQ(first.outcome.frames, kFrameCount) << first.error;
  for (const int row : {0, kLastFrame}) {
    EXPECT_EQ(0, std::memcmp(first.state->Row(row), frames[static_cast<size_t>(row)].data(),
                             frames[0].size()))
        << row;
  }
  const Replayed second = Replay(NumberedPart(kept_path, 2));
  ASSERT_EQ(second.outcome.frames, 2) << second.error;
  for (const int row : {0, 1}) {
    EXPECT_EQ(0,
              std::memcmp(second.state->Row(row),
                          frames[static_cast<size_t>(kFrameCount + row)].data(), frames[0].size()))
        << row;
  }
  EXPECT_FALSE(fs::exists(NumberedPart(kept_path, 3)));
}

// A disk that fills up (here a file size limit) stops the keeping with one message; the run
// records all its frames.
TEST_F(AudioFileTest, AFullDiskStopsOnlyTheKeeping) {
  const std::string kept = (dir / "full.flac").string();
  const std::string err = (dir / "err.txt").string();
  int status = -1;
  const std::string recorded =
      Shell("trap '' XFSZ; ulimit -f 50; exec " + std::string(FC_CLI) +
                " record --audio alsa --frames 6 --keep-audio '" + kept + "' 2>'" + err + "'",
            &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Lines(recorded).size(), 6u);
  const std::string report = ReadText(err);
  const size_t told = report.find("Keeping the recording in \"" + kept + "\" stopped:");
  EXPECT_NE(told, std::string::npos) << report;
  EXPECT_EQ(report.find("Keeping the recording", told + 1), std::string::npos) << report;
}

// The sample frames a kept file reads back with libsndfile (0 when it does not open), and its
// rate.
sf_count_t ReadableFrames(const std::string& path, int* rate = nullptr) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return 0;
  if (rate != nullptr) *rate = info.samplerate;
  std::vector<short> block(4096 * static_cast<size_t>(info.channels));
  sf_count_t frames = 0;
  for (sf_count_t got; (got = sf_readf_short(file, block.data(), 4096)) > 0;) frames += got;
  sf_close(file);
  return frames;
}

// A run killed with SIGKILL leaves a kept file that reads back with all it had written, and
// whose frames replay to the lines the run printed. (The test input runs far faster than a
// card, so the writer is only waited for, not timed.)
TEST_F(AudioFileTest, AKilledRunKeepsItsRecording) {
  const std::string kept = (dir / "killed.flac").string();
  const std::string lines_file = (dir / "lines.txt").string();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = ::open(lines_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    ::execl(FC_CLI, FC_CLI, "record", "--audio", "alsa", "--keep-audio", kept.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  constexpr sf_count_t kTenFrames = 10 * 4 * 48000;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  sf_count_t before = 0;
  while (before < kTenFrames && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    before = ReadableFrames(kept);
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_GE(before, kTenFrames);

  int rate = 0;
  EXPECT_GE(ReadableFrames(kept, &rate), before);
  EXPECT_EQ(rate, 48000);
  const auto run_lines = Lines(ReadText(lines_file));
  const auto replay_lines =
      Lines(Shell(std::string(FC_CLI) + " analyze-audio '" + kept + "' 2>/dev/null"));
  // The run may have printed a frame or two fewer than the file holds, or more: the lines
  // both have must agree.
  EXPECT_GE(replay_lines.size(), 10u);
  const size_t both = std::min(run_lines.size(), replay_lines.size());
  EXPECT_GE(both, 5u);
  for (size_t i = 0; i < both; ++i) EXPECT_EQ(replay_lines[i], run_lines[i]);
}

// --precise puts the edge timer's line after each frame line and leaves the frame lines as they
// were; a train the frame detector reads as twice its period, or not at all, is marked on that
// line and by --explain.
TEST_F(AudioFileTest, PreciseLinesFollowTheFramesAndMarkDisagreement) {
  struct Case {
    double period;
    double duty;
    const char* detector;  // the frame detector's period
    bool disagrees;
  };
  const Case cases[] = {
      {0.3125, 0.1, ".3125", false}, {0.04, 0.1, ".0781", true}, {0.02, 0.5, ".0000", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.period);
    const fs::path path = dir / "train.wav";
    FileShape shape;
    shape.period = c.period;
    shape.duty = c.duty;
    ASSERT_TRUE(WriteShape(path, shape));
    const CliRun plain = AnalyzeAudio({path.string()});
    const CliRun precise =
        AnalyzeAudio({"--precise", "--explain", "--pulses-per-rev", "2.5", path.string()});
    ASSERT_EQ(0, precise.status) << precise.err;
    const std::vector<std::string> frames = Lines(plain.out);
    const std::vector<std::string> lines = Lines(precise.out);
    ASSERT_EQ(2u, frames.size());
    ASSERT_EQ(2 * frames.size(), lines.size());
    for (std::size_t f = 0; f < frames.size(); ++f) {
      SCOPED_TRACE(lines[2 * f + 1]);
      EXPECT_EQ(frames[f], lines[2 * f]);
      EXPECT_EQ(c.detector, Token(frames[f], 1));
      const std::string& line = lines[2 * f + 1];
      EXPECT_EQ("precise", Token(line, 0));
      // Edges on whole samples, as generated here, may fall a sample early or late.
      EXPECT_NEAR(c.period, std::stod(Token(line, 1)), c.period * 1e-5);
      EXPECT_EQ("\u00b1", Token(line, 2));
      EXPECT_LT(std::stod(Token(line, 3)), c.period * 1e-5);
      EXPECT_NEAR(4.0 / c.period, std::stoi(Token(line, 5)), 2.0);
      EXPECT_NEAR(60.0 / (c.period * 2.5), std::stod(Token(line, 7)), 1e-3);
      EXPECT_EQ(c.disagrees, line.find("  frame reading disagrees") != std::string::npos);
      EXPECT_EQ(c.disagrees, precise.err.find("frame " + std::to_string(f) +
                                              ": frame reading disagrees") != std::string::npos);
    }
  }
}

}  // namespace
}  // namespace fc::testing
