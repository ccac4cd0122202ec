#include "cli/cli_app.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "analysis/display.h"
#include "analysis/frame_diagnosis.h"
#include "analysis/measurement_state.h"
#include "analysis/message.h"
#include "analysis/number_text.h"
#include "capture/audio_replay.h"
#include "capture/capture.h"
#include "capture/device_list.h"
#include "capture/headless_host.h"
#include "cli/descriptor_output.h"
#include "cli/precise_lines.h"
#include "files/atomic_file.h"
#include "files/config_file.h"
#include "files/program_directory.h"
#include "files/raw_data_file.h"
#include "files/results_file.h"
#include "tools/averaging.h"
#include "analysis/averaging_panel.h"

namespace fc {
namespace {

class NullPicture : public Picture {
 public:
  void Clear() override {}
  void DrawLine(double, double, double, double, std::optional<Color>) override {}
};

// One line on why `frame` has no reading, with its levels, and below it, indented, the advice
// the window's run chart shows for it; nothing when it has a reading.
void ExplainFrame(const MeasurementState& state, int frame, std::ostream& err) {
  const FrameDiagnosis diagnosis = DiagnoseFrame(state, frame);
  if (diagnosis.reason == NoReading::None) return;
  const InputLevels& l = diagnosis.levels;
  err << "frame " << frame << ": " << ReasonText(diagnosis) << "; input " << l.lowest << " to "
      << l.highest << ", zones above " << l.top_limit << " and below " << l.bottom_limit << "\n"
      << "  " << NoReadingAdvice(diagnosis) << "\n"
      << std::flush;
}

// Prints every frame line as the log shows it, one per line with LF; or nothing at all.
// With `explain` set, each frame without a reading is also explained there, after its line. A
// recording, or a replay explained on another stream, shows each line as its frame is
// analysed; a plain replay leaves the stream to write in large blocks. With `series` set it
// also keeps the run chart's series.
class StreamDisplay : public Display {
 public:
  StreamDisplay(std::ostream* out, bool flush_each_line, std::ostream* explain = nullptr,
                RunSeries* series = nullptr, const PreciseOptions* precise = nullptr)
      : out_(out), flush_(flush_each_line), explain_(explain), series_(series), precise_(precise) {}
  void SetFrameLabel(int, const std::string&) override {}
  void AppendLog(const std::string& text) override {
    if (out_ != nullptr) {
      std::string line = text;
      if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
        line.replace(line.size() - 2, 2, "\n");
      }
      *out_ << line;
      if (flush_) out_->flush();
    }
  }
  void ClearLog() override {}
  Picture& Trace() override { return picture_; }
  Picture& Scope() override { return picture_; }
  void RunBegun(FrameTiming timing) override {
    if (series_ != nullptr) series_->Begin(timing);
  }
  // Published right after the frame's line. A frame with a period has a reading, so only the
  // others are diagnosed.
  void FramePublished(const MeasurementState& state, int frame, double period) override {
    if (series_ != nullptr) series_->Record(state, frame, period);
    if (explain_ != nullptr && !(period > 0.0)) ExplainFrame(state, frame, *explain_);
    if (precise_ != nullptr) AfterFrameLine(state, frame, period, *precise_, out_, explain_);
  }

 private:
  std::ostream* out_;
  bool flush_;
  std::ostream* explain_;
  RunSeries* series_;
  const PreciseOptions* precise_;
  NullPicture picture_;
};

struct SettingsOptions {
  std::string config;
  std::optional<int> consecutive;
  std::optional<int> max_limit;
  std::optional<int> jump;
  std::optional<std::string> zero_crossing;
  std::optional<std::string> hi_res;
};

void AddSettingsOptions(CLI::App& command, SettingsOptions& settings) {
  const auto int16_range =
      CLI::Range(std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max());
  command
      .add_option("--config", settings.config,
                  "Take the settings from a configuration file (Config.vmk); the options "
                  "below override its values")
      ->check(CLI::ExistingFile);
  command
      .add_option("--consecutive", settings.consecutive,
                  "Consecutive points that confirm a pulse: 1, 2 or 3 (default 3)")
      ->check(int16_range);
  command
      .add_option("--max-limit", settings.max_limit,
                  "Counts from the top or bottom within which a sample is a maximum or "
                  "minimum: 5..40 (default 5; other values give the default)")
      ->check(int16_range);
  command
      .add_option("--jump", settings.jump,
                  "Jump in counts that must precede a maximum or minimum: 30..90 (default 80; "
                  "other values give the default)")
      ->check(int16_range);
  command
      .add_option("--zero-crossing", settings.zero_crossing,
                  "Measure between crossings of the mid level instead of jumps (default no)")
      ->check(CLI::IsMember({"yes", "no"}));
  command
      .add_option("--hi-res", settings.hi_res,
                  "With --zero-crossing yes, interpolate the crossing times (default no)")
      ->check(CLI::IsMember({"yes", "no"}));
}

// Settings as a first start of the window has them, then the configuration file and the
// options, then the same check the window applies when it is activated. Returns the error of a
// configuration file that cannot be read: unlike the window, the batch program does not carry
// on with defaults the user did not ask for.
std::optional<std::string> ApplySettings(const SettingsOptions& settings, MeasurementState& state) {
  if (!settings.config.empty()) {
    AveragingPanel unused;
    if (auto error =
            LoadConfiguration(settings.config, state, unused, ReadableFiles::AlsoPipesAndDevices)) {
      return error;
    }
  }
  if (settings.consecutive) state.ConsecutivePoints = static_cast<int16_t>(*settings.consecutive);
  if (settings.max_limit) state.MaxLimitCounts = static_cast<int16_t>(*settings.max_limit);
  if (settings.jump) state.JumpCounts = static_cast<int16_t>(*settings.jump);
  if (settings.zero_crossing) state.LookForZeroCrossing = *settings.zero_crossing == "yes" ? 1 : 0;
  if (settings.hi_res) state.UseHiResTime = *settings.hi_res == "yes" ? 1 : 0;
  UpdateConsecutive(state);
  return std::nullopt;
}

// Reads RAW into a fresh store as Read Raw Data does; frame lines go to `lines` when given,
// with `explain` each frame without a reading is explained on `err`, and the analysed frames
// go to `series` when given. Returns the exit status of the read.
int ReadRaw(const std::string& raw, MeasurementState& state, std::ostream* lines, std::ostream& err,
            bool explain = false, RunSeries* series = nullptr) {
  state.BufferSize = kCaptureBufferSize;
  state.QuillRecordFreq = kCaptureRate;
  StreamDisplay display(lines, explain, explain ? &err : nullptr, series);
  const RawReadOutcome outcome =
      ReadRawData(state, display, raw, ReadableFiles::AlsoPipesAndDevices);
  switch (outcome.status) {
    case RawReadStatus::Done:
      return kExitOk;
    case RawReadStatus::Invalid:
      err << outcome.message.text << "\n";
      return kExitBadInput;
    case RawReadStatus::EndedEarly:
      err << outcome.message.text << "\n";
      return kExitEndedEarly;
  }
  return kExitBadInput;
}

// Whether two names lead to the same file (the same device and inode, links followed).
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::atomic<bool> g_stop_signal{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

std::atomic<bool> g_recording{false};

constexpr std::string_view kStoppedBeforeRun =
    "Stopped before recording began; nothing was recorded.\n";
constexpr std::string_view kStoppedAtOnce =
    "Stopped at once; the frame being recorded is lost, the frames before it are kept.\n";

// From here on a stop signal ends the run after the frame rather than the program at once.
void StopSignalsEndRunAfterFrame() { g_recording.store(true); }

// Only async-signal-safe calls here: write, sigaction, raise.
extern "C" void OnStopSignal(int signal) {
  const bool recording = g_recording.load();
  if (g_stop_signal.exchange(true) == false && recording) return;  // the run ends after the frame
  const std::string_view text = recording ? kStoppedAtOnce : kStoppedBeforeRun;
  [[maybe_unused]] const auto written = ::write(STDERR_FILENO, text.data(), text.size());
  // Ended by the signal itself, as the shell expects of a stopped program.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  ::raise(signal);
}

// The capture's window side for a terminal: messages go to standard error, a time-out ends
// the run (there is no one to ask), and the run stops after the frames asked for, Ctrl-C, or a
// frame line that standard output did not take. With a raw file, the file holds the run so far
// after every frame.
class BatchHost : public HeadlessHost, public Dialogs {
 public:
  BatchHost(std::ostream& out, std::ostream& err, const SoundEnvironment& sound,
            MeasurementState& state, int frames, std::filesystem::path raw_path,
            KeptRecording* kept = nullptr)
      : HeadlessHost(state, frames),
        out_(out),
        err_(err),
        sound_(sound),
        raw_path_(std::move(raw_path)),
        raw_(raw_path_),
        kept_(kept) {}

  // The keeping's failure, told once (it stops only the keeping).
  void TellKeepingFailure() {
    if (kept_ == nullptr) return;
    if (auto failure = kept_->TakeFailure()) err_ << *failure << "\n";
  }

  bool timed_out() const { return timed_out_; }
  bool input_lost() const { return input_lost_; }
  bool output_failed() const { return output_failed_; }

  // The run's whole raw file, as WriteRawData writes it, by appending to the file kept during
  // the run.
  Status WriteFinalRawData(const MeasurementState& state) {
    return raw_.Write(state, std::min<int>(state.CurrentFrame, kLastFrame));
  }

  Dialogs& dialogs() override { return *this; }
  MessageAnswer Show(const Message& message) override {
    if (message == TimedOutQuestion()) {
      err_ << "Timed out: the input delivered no frame within 5 seconds; the run ends.\n";
      timed_out_ = true;
      // The unfinished frame is no measurement: the run ends before it.
      StopRun();
      return MessageAnswer::No;
    }
    if (message == InputLostMessage()) input_lost_ = true;
    err_ << message.text << "\n";
    return MessageAnswer::Ok;
  }
  std::string Ask(const std::string&, const std::string&, const std::string&) override {
    return "";
  }
  void SetAverageLabel(const std::string& text) override { err_ << text << "\n"; }
  // The capture enables Stop once the device has opened and the run begins.
  void SetStopEnabled(bool enabled) override {
    if (enabled) StopSignalsEndRunAfterFrame();
  }

 protected:
  // Frame lines that no one receives are no run: the frames stop, the raw file keeps them.
  bool StopRequested() override {
    if (!output_failed_ && !OutputDelivered(out_, err_)) {
      output_failed_ = true;
      err_ << "The run ends after this frame.\n";
    }
    return output_failed_ || sound_.interrupted();
  }

  // A kill or a power cut then loses at most the frame being recorded. A failure is told once;
  // the copy before it stays, and the run goes on.
  void BetweenFrames(const MeasurementState& state) override {
    TellKeepingFailure();
    if (raw_path_.empty() || state.CurrentFrame <= 0) return;
    const Status written = raw_.Write(state, state.CurrentFrame - 1);
    if (!written && !raw_failure_told_) {
      err_ << written.error() << "\n";
      raw_failure_told_ = true;
    }
  }

 private:
  std::ostream& out_;
  std::ostream& err_;
  const SoundEnvironment& sound_;
  std::filesystem::path raw_path_;
  RawDataAppender raw_;
  KeptRecording* kept_;
  bool timed_out_ = false;
  bool input_lost_ = false;
  bool output_failed_ = false;
  bool raw_failure_told_ = false;
};

// `analyze-audio`: the file through the audio-file input, every frame's line as it is analysed,
// the stop report on `err`. With `raw_out`, the first 1001 frames are written there.
int AnalyzeAudio(const std::string& path, const AudioFileOptions& file_options, bool restore_pulses,
                 const std::string& raw_out, const SoundEnvironment& sound, MeasurementState& state,
                 std::ostream& out, std::ostream& err, bool explain,
                 const PreciseOptions& precise) {
  if (!sound.make_file_input) {
    err << "This program cannot read audio files; run it as frequency-counter-cli.\n";
    return kExitBadInput;
  }
  if (!raw_out.empty()) {
    if (auto problem = CheckWritable(raw_out)) {
      err << *problem << "\n";
      return kExitBadInput;
    }
  }
  const std::unique_ptr<FileInput> input = sound.make_file_input(path, file_options);
  StreamDisplay display(&out, true, explain ? &err : nullptr, nullptr, &precise);
  std::optional<std::string> raw_failure;
  bool any_frame = false;
  ReplayOptions options;
  options.restore_pulses = restore_pulses;
  options.beyond_store = true;
  options.go_on = [&](int64_t) {
    any_frame = true;
    return !sound.interrupted();
  };
  options.store_filled = [&] {
    if (raw_out.empty() || !any_frame) return;
    const Message written = WriteRawData(state, raw_out);
    if (written != DoneMessage()) raw_failure = written.text;
  };
  const Result<ReplayOutcome> replay = ReplayAudio(state, display, *input, options);
  if (!replay) {
    err << replay.error() << "\n";
    return kExitBadInput;
  }
  const ReplayOutcome& outcome = replay.value();
  const FileInput::Position& position = outcome.position;
  if (position.ended_early) err << position.ended_early_why << "\n";
  if (outcome.frames == 0) {
    if (!position.ended_early) {
      err << "The audio file \"" << path
          << "\" holds less than one frame (4 seconds); nothing was analysed.\n";
    }
    return kExitBadInput;
  }
  err << "Frames: " << outcome.frames << ".";
  if (position.seconds_left_over > 0.0) {
    char left[32];
    std::snprintf(left, sizeof left, "%.3f", position.seconds_left_over);
    err << " " << left << " seconds after the last frame were left over (a partial frame is not "
        << "a frame).";
  }
  err << "\n";
  if (raw_failure) {
    err << *raw_failure << "\n";
    return kExitBadInput;
  }
  return position.ended_early ? kExitEndedEarly : kExitOk;
}

// `chart`: RAW's frames as a PNG or SVG picture of the run chart, or as its CSV table.
int WriteChart(const std::string& raw, MeasurementState& state, const std::string& output,
               const ChartImage& image, const ChartEnvironment& chart, std::ostream& err) {
  const std::string extension = std::filesystem::path(output).extension().string();
  std::string lower;
  for (const char c : extension)
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower != ".png" && lower != ".svg" && lower != ".csv") {
    err << "The chart file must end in .png, .svg or .csv: " << output << "\n";
    return kExitUsage;
  }
  RunSeries series;
  const int status = ReadRaw(raw, state, nullptr, err, false, &series);
  if (status == kExitBadInput) return status;
  std::string bytes;
  if (lower == ".csv") {
    bytes = series.CsvText(image.pulses_per_rev);
  } else if (chart.render) {
    ChartImage picture = image;
    picture.svg = lower == ".svg";
    bytes = chart.render(series, picture);
  } else {
    err << "This program cannot draw charts; run it as frequency-counter-cli.\n";
    return kExitBadInput;
  }
  if (auto error = WriteFileAtomically(output, bytes)) {
    err << *error << "\n";
    return kExitBadInput;
  }
  // The picture says so too; a CSV's empty rpm fields say it row by row.
  if (lower != ".csv" && !series.empty() && !series.AnyReading()) {
    err << "No frame of \"" << raw << "\" has a reading (every period is .0000), so the "
        << "chart has no line; \"analyze --explain\" tells why each frame has none.\n";
  }
  return status;
}

}  // namespace

std::atomic<bool>& StopSignalFlag() { return g_stop_signal; }

void EndRunOnStopSignals() {
  g_recording.store(false);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           const SoundEnvironment& sound, const ChartEnvironment& chart) {
  CLI::App app{
      "Pulse-period counter without a window: analyses raw recordings, writes results, "
      "averages, charts a run, lists sound inputs and records from one, and replays audio files.",
      "frequency-counter-cli"};
  app.require_subcommand(1);

  std::string raw;
  SettingsOptions settings;

  auto* analyze = app.add_subcommand(
      "analyze",
      "Read a raw data file (Raw.txt) and print the line of every frame as the log shows it");
  analyze->add_option("RAW", raw, "Raw data file")->required();
  bool explain = false;
  analyze->add_flag("--explain", explain,
                    "For each frame without a reading, print on standard error why: the "
                    "detector's reason and the input's lowest and highest sample against the "
                    "zones");
  AddSettingsOptions(*analyze, settings);

  std::string output;
  auto* results = app.add_subcommand(
      "results", "Read a raw data file and write the results file (RPM.txt) of its frames");
  results->add_option("RAW", raw, "Raw data file")->required();
  results->add_option("-o,--output", output,
                      "Results file to write; '-' for standard output (default: RPM.txt in the "
                      "program directory, which FREQUENCY_COUNTER_HOME names when set)");
  AddSettingsOptions(*results, settings);

  std::string first_text;
  std::string last_text;
  bool remove_bad = false;
  auto* average = app.add_subcommand(
      "average", "Read a raw data file and print the average period over a range of frames");
  average->add_option("RAW", raw, "Raw data file")->required();
  // The window reads a box's leading number; a text with none would silently mean frame 0.
  const CLI::Validator typed_number(
      [](std::string& text) {
        return FindLeadingNumber(text) ? std::string() : "\"" + text + "\" is not a number";
      },
      "");
  average
      ->add_option("--first", first_text, "First frame of the range, read as the window reads it")
      ->required()
      ->check(typed_number);
  average
      ->add_option("--last", last_text,
                   "Last frame of the range (capped at the frame before the last one read, as "
                   "after a read-back in the window)")
      ->required()
      ->check(typed_number);
  average->add_flag("--remove-bad", remove_bad,
                    "Leave out readings 20 % or more away from the plain average");
  AddSettingsOptions(*average, settings);

  std::string chart_output;
  ChartImage image;
  auto* chart_command = app.add_subcommand(
      "chart",
      "Read a raw data file and write the run chart of its frames: RPM against time (frame x 4 "
      "s) as a PNG or SVG picture, or the table frame,time_s,period_s,rpm as CSV");
  chart_command->add_option("RAW", raw, "Raw data file")->required();
  chart_command->add_option("-o,--output", chart_output, "FILE.png, FILE.svg or FILE.csv")
      ->required();
  chart_command
      ->add_option("--pulses-per-rev", image.pulses_per_rev,
                   "Pulses per revolution for the RPM (1..1000, default 1)")
      ->check(CLI::Range(kMinPulsesPerRev, kMaxPulsesPerRev));
  chart_command->add_option("--width", image.width, "Picture width in pixels (default 800)")
      ->check(CLI::Range(100, 10000));
  chart_command->add_option("--height", image.height, "Picture height in pixels (default 500)")
      ->check(CLI::Range(100, 10000));
  AddSettingsOptions(*chart_command, settings);

  auto* devices_command = app.add_subcommand(
      "devices",
      "List the sound inputs that can be recorded from: position, tab, name (the sound system "
      "used goes to standard error)");
  std::string audio;
  const auto add_audio_option = [&audio](CLI::App& command) {
    command
        .add_option("--audio", audio,
                    "Sound system: 'pulse' (a PulseAudio or PipeWire server) or 'alsa' (the sound "
                    "cards directly). Default: FREQUENCY_COUNTER_AUDIO when set, otherwise pulse "
                    "when a server answers and alsa when none does")
        ->check(CLI::IsMember({"alsa", "pulse"}));
  };
  add_audio_option(*devices_command);

  int device = 0;
  int frames = 0;
  std::string raw_out;
  auto* record = app.add_subcommand(
      "record",
      "Record from a sound input and print the line of every frame as it is analysed; the stop "
      "report goes to standard error");
  record->add_option("--device", device, "Position of the input in the 'devices' list (default 0)")
      ->check(CLI::Range(0, std::numeric_limits<int>::max()).description("NONNEGATIVE"));
  record
      ->add_option("--frames", frames,
                   "Stop after this many frames (default: run until frame 1000; Ctrl-C, SIGTERM "
                   "and SIGHUP stop after the frame being recorded)")
      ->check(CLI::Range(1, kFrameCount));
  record->add_option("--raw", raw_out,
                     "Write the raw data file here; checked before the run and brought up to date "
                     "after every frame, so that it always holds the frames recorded so far");
  bool restore_pulses = false;
  record->add_flag("--restore-pulses", restore_pulses,
                   "Restore the pulses of an AC-coupled input (a sound card or microphone "
                   "input that leaves only a spike at each edge) before the averaging; the "
                   "first channel then holds the restored pulses");
  std::string keep_audio;
  record->add_option("--keep-audio", keep_audio,
                     "Keep the run's samples as the input delivered them, at its own rate and "
                     "width, in this FLAC file (WAV when the name ends in .wav); analyze-audio "
                     "of it prints the run's frame lines again");
  add_audio_option(*record);
  PreciseOptions precise;
  AddPreciseOptions(*record, precise);
  AddSettingsOptions(*record, settings);

  std::string audio_file;
  AudioFileOptions file_options;
  auto* analyze_audio = app.add_subcommand(
      "analyze-audio",
      "Replay an audio file (WAV, RF64, W64, FLAC, Ogg, AIFF, CAF, ...) through the capture's own "
      "path and print the line of every frame as 'record' prints it; the stop report goes to "
      "standard error. Exit status 3 when the file ends before its header says (the complete "
      "frames are used)");
  analyze_audio->add_option("FILE", audio_file, "Audio file")->required();
  analyze_audio
      ->add_option("--channel", file_options.channel,
                   "The file's channel read as the first channel (from 1, default 1); the second "
                   "is the next one, or the same one when there is none")
      ->check(CLI::Range(1, 1024));
  analyze_audio
      ->add_option("--start", file_options.start_seconds,
                   "Begin the replay this many seconds into the file (default 0)")
      ->check(CLI::NonNegativeNumber);
  analyze_audio->add_option("--raw", raw_out,
                            "Write the raw data file (Raw.txt) of the first 1001 frames here");
  analyze_audio->add_flag("--restore-pulses", restore_pulses,
                          "Restore the pulses of an AC-coupled input, as 'record --restore-pulses'"
                          " does");
  analyze_audio->add_flag("--explain", explain,
                          "On standard error, tell why each frame without a reading has none, "
                          "and mark each frame whose reading disagrees with the edge timer's");
  AddPreciseOptions(*analyze_audio, precise);
  AddSettingsOptions(*analyze_audio, settings);

  app.footer(
      "Exit status: 0 success; 1 the raw file is missing or invalid, the configuration file "
      "cannot be read, a file could not be written, or the sound input failed; 2 usage error; "
      "3 the raw file ended before the frames it announces (the complete frames are used).");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? kExitOk : kExitUsage;
  }

  MeasurementState state;
  if (auto error = ApplySettings(settings, state)) {
    err << *error << "\n";
    return kExitBadInput;
  }

  // Standard output must have arrived in full, or the run failed.
  const auto delivered = [&](int status) {
    return OutputDelivered(out, err) ? status : kExitBadInput;
  };

  if (analyze->parsed()) return delivered(ReadRaw(raw, state, &out, err, explain));
  if (analyze_audio->parsed()) {
    return delivered(
        AnalyzeAudio(audio_file, file_options, restore_pulses, raw_out, sound, state, out, err,
                     explain, precise));
  }
  if (chart_command->parsed()) return WriteChart(raw, state, chart_output, image, chart, err);

  if (results->parsed()) {
    if (output != "-" && !output.empty() && SameFile(raw, output)) {
      err << "The results file \"" << output << "\" is the raw data file \"" << raw
          << "\"; it is not overwritten.\n";
      return kExitUsage;
    }
    const int status = ReadRaw(raw, state, nullptr, err);
    if (status == kExitBadInput) return status;
    if (output == "-") {
      out << ResultsText(state);
      return delivered(status);
    }
    const std::filesystem::path path =
        output.empty() ? ProgramDirectory(DefaultPerUserDirectory()) / kResultsFileName
                       : std::filesystem::path(output);
    const Message written = WriteResults(state, path);
    if (written != DoneMessage()) {
      err << written.text << "\n";
      return kExitBadInput;
    }
    return status;
  }

  if (average->parsed()) {
    const int status = ReadRaw(raw, state, nullptr, err);
    if (status == kExitBadInput) return status;
    AveragingPanel panel{first_text, last_text, remove_bad ? 1 : 0};
    const AverageOutcome outcome = DoAverage(state, panel);
    if (outcome.warning) {
      err << outcome.warning->text << "\n";
      return kExitUsage;
    }
    if (outcome.label) out << *outcome.label << "\n";
    return delivered(status);
  }

  // A raw file that cannot be written is found out before the run, not after it.
  if (!raw_out.empty()) {
    if (auto problem = CheckWritable(raw_out)) {
      err << *problem << "\n";
      return kExitBadInput;
    }
  }

  const AudioBackend backend = ChooseAudioBackend(
      audio.empty() ? AudioBackendFromEnvironment(err) : *ParseAudioBackend(audio),
      sound.server_reachable);
  const std::unique_ptr<WaveInput> input = sound.make_input(backend);
  if (devices_command->parsed()) {
    err << "Sound system: " << AudioBackendName(backend) << "\n";
    const DeviceList devices = CapableDevices(*input);
    if (!input->ServerReached()) {
      err << NoSoundServerMessage().text << "\n";
      return kExitBadInput;
    }
    // As `record` and the window say it: an empty list is no list of inputs.
    if (devices.empty()) {
      err << NoDevicesMessage().text << "\n";
      return kExitBadInput;
    }
    for (std::size_t p = 0; p < devices.names.size(); ++p) {
      out << p << "\t" << devices.names[p] << "\n";
    }
    return delivered(kExitOk);
  }

  // record
  std::shared_ptr<KeptRecording> kept;
  if (!keep_audio.empty()) {
    if (!sound.keep_recording) {
      err << "This program cannot keep recordings; run it as frequency-counter-cli.\n";
      return kExitBadInput;
    }
    auto made = sound.keep_recording(keep_audio);
    if (!made) {
      err << made.error() << "\n";
      return kExitBadInput;
    }
    kept = std::move(made.value());
    input->KeepRecording(kept);
  }
  StreamDisplay display(&out, true, nullptr, nullptr, &precise);
  BatchHost host(out, err, sound, state, frames, raw_out, kept.get());
  Capture capture(state, display, *input, host, *sound.clock);
  host.Attach(capture);
  const DeviceList& devices = capture.InitDevices();
  if (devices.empty()) return kExitBadInput;
  if (device >= static_cast<int>(devices.names.size())) {
    err << "There is no sound input at position " << device << "; 'devices' lists "
        << devices.names.size() << ".\n";
    return kExitUsage;
  }
  input->RestorePulses(restore_pulses);
  capture.Start(device);
  if (!state.RunStarted) return kExitBadInput;  // the device did not open; the message is out
  if (kept) {
    kept->Finish();
    host.TellKeepingFailure();
  }
  if (restore_pulses) err << "Pulse restorer: on (the first channel holds the restored pulses).\n";
  if (capture.samples_lost() > 0) {
    err << "Samples lost to input overruns: " << capture.samples_lost()
        << " (the frames went on after each gap).\n";
  }
  ReportCardClock(capture.card_rate(), precise, err);
  const bool unfinished = host.input_lost() || host.timed_out();
  if (unfinished && state.CurrentFrame <= kLastFrame) {
    // The row of the frame that never finished goes back to the zeros it held before the run
    // (the store starts zeroed): the file then ends, as after any stop, with a frame that holds
    // no samples of the run.
    std::fill_n(state.Row(state.CurrentFrame), kFrameRowBytes, uint8_t{0});
  }
  int status = unfinished ? kExitBadInput : kExitOk;
  if (!raw_out.empty() && state.CurrentFrame == 0) {
    std::error_code ignored;
    err << "No frame was recorded; \"" << raw_out << "\" "
        << (std::filesystem::exists(std::filesystem::symlink_status(raw_out, ignored))
                ? "was left as it was.\n"
                : "was not written.\n");
  } else if (!raw_out.empty()) {
    const Status written = host.WriteFinalRawData(state);
    if (!written) {
      err << written.error() << "\n";
      status = kExitBadInput;
    }
  }
  if (host.output_failed()) return kExitBadInput;  // already told
  return delivered(status);
}

}  // namespace fc
