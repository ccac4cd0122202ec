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
#include "cli/monitoring.h"
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
  err << "frame " << state.RunFrame(frame) << ": " << ReasonText(diagnosis) << "; input " << l.lowest << " to "
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
                RunSeries* series = nullptr, FrameMonitor* monitor = nullptr,
                const PreciseOptions* precise = nullptr)
      : out_(out),
        flush_(flush_each_line),
        explain_(explain),
        series_(series),
        monitor_(monitor),
        precise_(precise) {}
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
    if (monitor_ != nullptr) monitor_->RunBegun(timing);
  }
  // Published right after the frame's line. A frame with a period has a reading, so only the
  // others are diagnosed.
  void FramePublished(const MeasurementState& state, int frame, double period) override {
    if (series_ != nullptr) series_->Record(state, frame, period);
    if (monitor_ != nullptr) monitor_->Frame(state, frame, period);
    if (explain_ != nullptr && !(period > 0.0)) ExplainFrame(state, frame, *explain_);
    if (precise_ != nullptr) AfterFrameLine(state, frame, period, *precise_, out_, explain_);
  }

 private:
  std::ostream* out_;
  bool flush_;
  std::ostream* explain_;
  RunSeries* series_;
  FrameMonitor* monitor_;
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
// after every frame. A run kept in parts (past frame 1000) writes each store of 1001 frames as
// a numbered part of the raw file: the current part is brought up to date after every frame.
class BatchHost : public HeadlessHost, public Dialogs, public RunListener {
 public:
  BatchHost(std::ostream& out, std::ostream& err, const SoundEnvironment& sound,
            MeasurementState& state, int frames, std::filesystem::path raw_path,
            KeptRecording* kept = nullptr, bool in_parts = false)
      : HeadlessHost(state, frames),
        out_(out),
        err_(err),
        sound_(sound),
        raw_path_(std::move(raw_path)),
        in_parts_(in_parts),
        kept_(kept) {
    if (!raw_path_.empty()) raw_.emplace(RawPath());
  }

  // The file the current store is written to.
  std::filesystem::path RawPath() const {
    return in_parts_ ? NumberedPart(raw_path_, part_) : raw_path_;
  }

  // The keeping's failure, told once (it stops only the keeping).
  void TellKeepingFailure() {
    if (kept_ == nullptr) return;
    if (auto failure = kept_->TakeFailure()) err_ << *failure << "\n";
  }

  bool timed_out() const { return timed_out_; }
  bool input_lost() const { return input_lost_; }
  bool output_failed() const { return output_failed_; }

  // The run's whole raw file (its last part), as WriteRawData writes it, by appending to the
  // file kept during the run. A run that ended right after a store was full has no frame for a
  // further part.
  Status WriteFinalRawData(const MeasurementState& state) {
    if (!raw_ || (state.RunFramesBefore > 0 && state.CurrentFrame == 0)) return Ok();
    return raw_->Write(state, std::min<int>(state.CurrentFrame, kLastFrame));
  }

  void RunStarted(const MeasurementState&) override {}
  void FrameAnalysed(const MeasurementState&, int) override {}
  // The full store completes its part, and the next store goes to the next part, which must
  // not be a file someone made meanwhile.
  void StoreFilled(const MeasurementState& state) override {
    if (!raw_) return;
    TellRawFailure(raw_->Write(state, kLastFrame));
    ++part_;
    raw_.reset();
    std::error_code ignored;
    if (std::filesystem::exists(std::filesystem::symlink_status(RawPath(), ignored))) {
      err_ << "The raw data part \"" << RawPath().string()
           << "\" appeared during the run and was not overwritten; the frames from "
           << state.RunFrame(kFrameCount) << " on are not kept in a raw data file.\n";
      return;
    }
    raw_.emplace(RawPath());
  }

  Dialogs& dialogs() override { return *this; }
  MessageAnswer TimedOut() override {
    err_ << "Timed out: the input delivered no frame within 5 seconds; the run ends.\n";
    timed_out_ = true;
    // The unfinished frame is no measurement: the run ends before it.
    StopRun();
    return MessageAnswer::No;
  }
  void InputLost() override {
    input_lost_ = true;
    Host::InputLost();
  }
  MessageAnswer Show(const Message& message) override {
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
    if (!raw_ || state.CurrentFrame <= 0) return;
    TellRawFailure(raw_->Write(state, state.CurrentFrame - 1));
  }

 private:
  void TellRawFailure(const Status& written) {
    if (!written && !raw_failure_told_) {
      err_ << written.error() << "\n";
      raw_failure_told_ = true;
    }
  }

  std::ostream& out_;
  std::ostream& err_;
  const SoundEnvironment& sound_;
  std::filesystem::path raw_path_;
  bool in_parts_;
  int64_t part_ = 1;
  std::optional<RawDataAppender> raw_;  // none: no raw file is kept (any more)
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
                 std::ostream& out, std::ostream& err, FrameMonitor& monitor, bool jsonl,
                 bool explain, const PreciseOptions& precise) {
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
  StreamDisplay display(jsonl ? nullptr : &out, true, explain ? &err : nullptr, nullptr, &monitor,
                        &precise);
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


// What every command runs with: the two streams and the programs' environments.
struct CliContext {
  std::ostream& out;
  std::ostream& err;
  const SoundEnvironment& sound;
  const ChartEnvironment& chart;

  // Standard output must have arrived in full, or the run failed.
  int Delivered(int status) const { return OutputDelivered(out, err) ? status : kExitBadInput; }
};

// One subcommand: Define adds it with its options to the program, Run carries it out once the
// command line is parsed and the settings are applied. Run returns the exit status.
class Command {
 public:
  virtual ~Command() = default;
  virtual void Define(CLI::App& app) = 0;
  virtual int Run(MeasurementState& state, const CliContext& context) = 0;

  bool parsed() const { return command_ != nullptr && command_->parsed(); }
  const SettingsOptions& settings() const { return settings_; }

 protected:
  CLI::App* command_ = nullptr;
  SettingsOptions settings_;
};

// A raw file that cannot be written is found out before the run, not after it. No path: none
// is written.
Status CheckRawOut(const std::string& raw_out) {
  if (raw_out.empty()) return Ok();
  if (auto problem = CheckWritable(raw_out)) return Error{*problem};
  return Ok();
}

void AddAudioOption(CLI::App& command, std::string& audio) {
  command
      .add_option("--audio", audio,
                  "Sound system: 'pulse' (a PulseAudio or PipeWire server) or 'alsa' (the sound "
                  "cards directly). Default: FREQUENCY_COUNTER_AUDIO when set, otherwise pulse "
                  "when a server answers and alsa when none does")
      ->check(CLI::IsMember({"alsa", "pulse"}));
}

struct SoundInput {
  AudioBackend backend;
  std::unique_ptr<WaveInput> input;
};

// The input of the sound system that --audio names, or of the one chosen without it.
SoundInput ChosenSoundInput(const std::string& audio, const CliContext& context) {
  const AudioBackend backend = ChooseAudioBackend(
      audio.empty() ? AudioBackendFromEnvironment(context.err) : *ParseAudioBackend(audio),
      context.sound.server_reachable);
  return SoundInput{backend, context.sound.make_input(backend)};
}

class AnalyzeCommand : public Command {
 public:
  void Define(CLI::App& app) override {
    command_ = app.add_subcommand(
        "analyze",
        "Read a raw data file (Raw.txt) and print the line of every frame as the log shows it");
    command_->add_option("RAW", raw_, "Raw data file")->required();
    command_->add_flag("--explain", explain_,
                       "For each frame without a reading, print on standard error why: the "
                       "detector's reason and the input's lowest and highest sample against the "
                       "zones");
    AddSettingsOptions(*command_, settings_);
  }
  int Run(MeasurementState& state, const CliContext& context) override {
    return context.Delivered(ReadRaw(raw_, state, &context.out, context.err, explain_));
  }

 private:
  std::string raw_;
  bool explain_ = false;
};

class ResultsCommand : public Command {
 public:
  void Define(CLI::App& app) override {
    command_ = app.add_subcommand(
        "results", "Read a raw data file and write the results file (RPM.txt) of its frames");
    command_->add_option("RAW", raw_, "Raw data file")->required();
    command_->add_option("-o,--output", output_,
                         "Results file to write; '-' for standard output (default: RPM.txt in "
                         "the program directory, which FREQUENCY_COUNTER_HOME names when set)");
    AddSettingsOptions(*command_, settings_);
  }
  int Run(MeasurementState& state, const CliContext& context) override {
    std::ostream& err = context.err;
    if (output_ != "-" && !output_.empty() && SameFile(raw_, output_)) {
      err << "The results file \"" << output_ << "\" is the raw data file \"" << raw_
          << "\"; it is not overwritten.\n";
      return kExitUsage;
    }
    const int status = ReadRaw(raw_, state, nullptr, err);
    if (status == kExitBadInput) return status;
    if (output_ == "-") {
      context.out << ResultsText(state);
      return context.Delivered(status);
    }
    const std::filesystem::path path =
        output_.empty() ? ProgramDirectory(DefaultPerUserDirectory()) / kResultsFileName
                        : std::filesystem::path(output_);
    const Message written = WriteResults(state, path);
    if (written != DoneMessage()) {
      err << written.text << "\n";
      return kExitBadInput;
    }
    return status;
  }

 private:
  std::string raw_;
  std::string output_;
};

class AverageCommand : public Command {
 public:
  void Define(CLI::App& app) override {
    command_ = app.add_subcommand(
        "average", "Read a raw data file and print the average period over a range of frames");
    command_->add_option("RAW", raw_, "Raw data file")->required();
    // The window reads a box's leading number; a text with none would silently mean frame 0.
    const CLI::Validator typed_number(
        [](std::string& text) {
          return FindLeadingNumber(text) ? std::string() : "\"" + text + "\" is not a number";
        },
        "");
    command_
        ->add_option("--first", first_text_,
                     "First frame of the range, read as the window reads it")
        ->required()
        ->check(typed_number);
    command_
        ->add_option("--last", last_text_,
                     "Last frame of the range (capped at the frame before the last one read, as "
                     "after a read-back in the window)")
        ->required()
        ->check(typed_number);
    command_->add_flag("--remove-bad", remove_bad_,
                       "Leave out readings 20 % or more away from the plain average");
    AddSettingsOptions(*command_, settings_);
  }
  int Run(MeasurementState& state, const CliContext& context) override {
    const int status = ReadRaw(raw_, state, nullptr, context.err);
    if (status == kExitBadInput) return status;
    AveragingPanel panel{first_text_, last_text_, remove_bad_ ? 1 : 0};
    const AverageOutcome outcome = DoAverage(state, panel);
    if (outcome.warning) {
      context.err << outcome.warning->text << "\n";
      return kExitUsage;
    }
    if (outcome.label) context.out << *outcome.label << "\n";
    return context.Delivered(status);
  }

 private:
  std::string raw_;
  std::string first_text_;
  std::string last_text_;
  bool remove_bad_ = false;
};

class ChartCommand : public Command {
 public:
  void Define(CLI::App& app) override {
    command_ = app.add_subcommand(
        "chart",
        "Read a raw data file and write the run chart of its frames: RPM against time (frame x 4 "
        "s) as a PNG or SVG picture, or the table frame,time_s,period_s,rpm as CSV");
    command_->add_option("RAW", raw_, "Raw data file")->required();
    command_->add_option("-o,--output", output_, "FILE.png, FILE.svg or FILE.csv")->required();
    command_
        ->add_option("--pulses-per-rev", image_.pulses_per_rev,
                     "Pulses per revolution for the RPM (0.001..1000 with up to 3 decimals after "
                     "a point or a comma, default 1)")
        ->transform(PulsesPerRevOption());
    command_->add_option("--width", image_.width, "Picture width in pixels (default 800)")
        ->check(CLI::Range(100, 10000));
    command_->add_option("--height", image_.height, "Picture height in pixels (default 500)")
        ->check(CLI::Range(100, 10000));
    AddSettingsOptions(*command_, settings_);
  }
  int Run(MeasurementState& state, const CliContext& context) override {
    return WriteChart(raw_, state, output_, image_, context.chart, context.err);
  }

 private:
  std::string raw_;
  std::string output_;
  ChartImage image_;
};

class DevicesCommand : public Command {
 public:
  void Define(CLI::App& app) override {
    command_ = app.add_subcommand(
        "devices",
        "List the sound inputs that can be recorded from: position, tab, name (the sound system "
        "used goes to standard error)");
    AddAudioOption(*command_, audio_);
  }
  int Run(MeasurementState&, const CliContext& context) override {
    std::ostream& err = context.err;
    const SoundInput sound = ChosenSoundInput(audio_, context);
    err << "Sound system: " << AudioBackendName(sound.backend) << "\n";
    const DeviceList devices = CapableDevices(*sound.input);
    if (!sound.input->ServerReached()) {
      err << NoSoundServerMessage().text << "\n";
      return kExitBadInput;
    }
    // As `record` and the window say it: an empty list is no list of inputs.
    if (devices.empty()) {
      err << NoDevicesMessage().text << "\n";
      return kExitBadInput;
    }
    for (std::size_t p = 0; p < devices.names.size(); ++p) {
      context.out << p << "\t" << devices.names[p] << "\n";
    }
    return context.Delivered(kExitOk);
  }

 private:
  std::string audio_;
};

// The recording `record --keep-audio` keeps, when the program can keep one.
Result<std::shared_ptr<KeptRecording>> KeepAudio(const std::string& path,
                                                 const SoundEnvironment& sound) {
  if (!sound.keep_recording) {
    return Error{"This program cannot keep recordings; run it as frequency-counter-cli."};
  }
  return sound.keep_recording(path);
}

class RecordCommand : public Command {
 public:
  void Define(CLI::App& app) override {
    command_ = app.add_subcommand(
        "record",
        "Record from a sound input and print the line of every frame as it is analysed; the "
        "stop report goes to standard error");
    command_
        ->add_option("--device", device_,
                     "Position of the input in the 'devices' list (default 0)")
        ->check(CLI::Range(0, std::numeric_limits<int>::max()).description("NONNEGATIVE"));
    command_
        ->add_option("--frames", frames_,
                     "Stop after this many frames (default: run until frame 1000; Ctrl-C, "
                     "SIGTERM and SIGHUP stop after the frame being recorded); more than 1001 "
                     "with --until-stopped only")
        ->check(CLI::Range(1, std::numeric_limits<int>::max()));
    command_->add_flag("--until-stopped", until_stopped_,
                       "Go on past frame 1000 until Ctrl-C, SIGTERM or SIGHUP (or --frames); "
                       "--raw and --keep-audio then keep each 1001 frames as a numbered part of "
                       "the file: FILE-0001.txt, FILE-0002.txt, ...");
    command_->add_option("--raw", raw_out_,
                         "Write the raw data file here; checked before the run and brought up to "
                         "date after every frame, so that it always holds the frames recorded so "
                         "far");
    command_->add_flag("--restore-pulses", restore_pulses_,
                       "Restore the pulses of an AC-coupled input (a sound card or microphone "
                       "input that leaves only a spike at each edge) before the averaging; the "
                       "first channel then holds the restored pulses");
    command_->add_option("--keep-audio", keep_audio_,
                         "Keep the run's samples as the input delivered them, at its own rate and "
                         "width, in this FLAC file (WAV when the name ends in .wav); "
                         "analyze-audio of it prints the run's frame lines again");
    AddAudioOption(*command_, audio_);
    AddPreciseOptions(*command_, precise_);
    AddSettingsOptions(*command_, settings_);
    AddMonitoringOptions(*command_, monitoring_);
  }

  int Run(MeasurementState& state, const CliContext& context) override {
    std::ostream& err = context.err;
    precise_.pulses_per_rev = monitoring_.pulses_per_rev;
    if (const Status limits = CheckMonitoringOptions(monitoring_); !limits) {
      err << limits.error() << "\n";
      return kExitUsage;
    }
    if (frames_ > kFrameCount && !until_stopped_) {
      err << "--frames " << frames_ << " is more than the 1001 frames of a run; add "
          << "--until-stopped to record past frame 1000.\n";
      return kExitUsage;
    }
    if (until_stopped_) {
      for (const std::string& file : {raw_out_, keep_audio_}) {
        if (file.empty()) continue;
        if (const auto existing = ExistingNumberedPart(file)) {
          err << "\"" << existing->string() << "\" exists already and would be taken for a part "
              << "of this run; move it away or choose another name for the run.\n";
          return kExitBadInput;
        }
      }
    }
    const std::string first_raw =
        until_stopped_ && !raw_out_.empty() ? NumberedPart(raw_out_, 1).string() : raw_out_;
    if (const Status writable = CheckRawOut(first_raw); !writable) {
      err << writable.error() << "\n";
      return kExitBadInput;
    }
    const SoundInput sound = ChosenSoundInput(audio_, context);
    WaveInput& input = *sound.input;
    std::shared_ptr<KeptRecording> kept;
    if (!keep_audio_.empty()) {
      auto made = KeepAudio(keep_audio_, context.sound);
      if (!made) {
        err << made.error() << "\n";
        return kExitBadInput;
      }
      kept = std::move(made.value());
      if (until_stopped_) kept->KeepInParts();
      input.KeepRecording(kept);
    }
    FrameMonitor monitor(monitoring_, context.out, err);
    StreamDisplay display(monitoring_.jsonl ? nullptr : &context.out, true, nullptr, nullptr,
                          &monitor, &precise_);
    BatchHost host(context.out, err, context.sound, state, frames_, raw_out_, kept.get(),
                   until_stopped_);
    Capture capture(state, display, input, host, *context.sound.clock);
    host.Attach(capture);
    capture.SetContinuePastStore(until_stopped_);
    capture.SetRunListener(&host);
    const DeviceList& devices = capture.InitDevices();
    if (devices.empty()) return kExitBadInput;
    if (device_ >= static_cast<int>(devices.names.size())) {
      err << "There is no sound input at position " << device_ << "; 'devices' lists "
          << devices.names.size() << ".\n";
      return kExitUsage;
    }
    input.RestorePulses(restore_pulses_);
    capture.Start(device_);
    if (!state.RunStarted) return kExitBadInput;  // the device did not open; the message is out
    if (kept) {
      kept->Finish();
      host.TellKeepingFailure();
    }
    return Report(state, capture, host, monitor, context);
  }

 private:
  // After the run: the stop report's own lines, the raw file, the exit status.
  int Report(MeasurementState& state, const Capture& capture, BatchHost& host,
             FrameMonitor& monitor, const CliContext& context) const {
    std::ostream& err = context.err;
    if (restore_pulses_) {
      err << "Pulse restorer: on (the first channel holds the restored pulses).\n";
    }
    if (capture.samples_lost() > 0) {
      err << "Samples lost to input overruns: " << capture.samples_lost()
          << " (the frames went on after each gap).\n";
    }
    ReportCardClock(capture.card_rate(), precise_, err);
    const bool unfinished = host.input_lost() || host.timed_out();
    if (host.frame_dropped()) {
      err << "Stopped: the frame being recorded did not finish within a second of the stop and "
             "is not kept; the frames before it are.\n";
    }
    if ((unfinished || host.frame_dropped()) && state.CurrentFrame <= kLastFrame) {
      // The row of the frame that never finished goes back to the zeros it held before the run
      // (the store starts zeroed): the file then ends, as after any stop, with a frame that
      // holds no samples of the run.
      std::fill_n(state.Row(state.CurrentFrame), kFrameRowBytes, uint8_t{0});
    }
    int status = unfinished ? kExitBadInput : kExitOk;
    if (!raw_out_.empty() && state.RunFrame(state.CurrentFrame) == 0) {
      const std::string raw = host.RawPath().string();
      std::error_code ignored;
      err << "No frame was recorded; \"" << raw << "\" "
          << (std::filesystem::exists(std::filesystem::symlink_status(raw, ignored))
                  ? "was left as it was.\n"
                  : "was not written.\n");
    } else if (!raw_out_.empty()) {
      const Status written = host.WriteFinalRawData(state);
      if (!written) {
        err << written.error() << "\n";
        status = kExitBadInput;
      }
    }
    if (host.output_failed()) return kExitBadInput;  // already told
    return context.Delivered(monitor.Finish(status));
  }

  MonitoringOptions monitoring_;
  PreciseOptions precise_;
  int device_ = 0;
  int frames_ = 0;
  std::string raw_out_;
  bool restore_pulses_ = false;
  bool until_stopped_ = false;
  std::string keep_audio_;
  std::string audio_;
};

class AnalyzeAudioCommand : public Command {
 public:
  void Define(CLI::App& app) override {
    command_ = app.add_subcommand(
        "analyze-audio",
        "Replay an audio file (WAV, RF64, W64, FLAC, Ogg, AIFF, CAF, ...) through the capture's "
        "own path and print the line of every frame as 'record' prints it; the stop report goes "
        "to standard error. Exit status 3 when the file ends before its header says (the "
        "complete frames are used)");
    command_->add_option("FILE", audio_file_, "Audio file")->required();
    command_
        ->add_option("--channel", file_options_.channel,
                     "The file's channel read as the first channel (from 1, default 1); the "
                     "second is the next one, or the same one when there is none")
        ->check(CLI::Range(1, 1024));
    command_
        ->add_option("--start", file_options_.start_seconds,
                     "Begin the replay this many seconds into the file (default 0)")
        ->check(CLI::NonNegativeNumber);
    command_->add_option("--raw", raw_out_,
                         "Write the raw data file (Raw.txt) of the first 1001 frames here");
    command_->add_flag("--restore-pulses", restore_pulses_,
                       "Restore the pulses of an AC-coupled input, as 'record --restore-pulses'"
                       " does");
    command_->add_flag("--explain", explain_,
                       "On standard error, tell why each frame without a reading has none, and "
                       "mark each frame whose reading disagrees with the edge timer's");
    AddPreciseOptions(*command_, precise_);
    AddSettingsOptions(*command_, settings_);
    AddMonitoringOptions(*command_, monitoring_);
  }
  int Run(MeasurementState& state, const CliContext& context) override {
    precise_.pulses_per_rev = monitoring_.pulses_per_rev;
    if (const Status limits = CheckMonitoringOptions(monitoring_); !limits) {
      context.err << limits.error() << "\n";
      return kExitUsage;
    }
    // The edge timer runs only for what reads it: the precise lines, the disagreement, limits,
    // alarms and JSON Lines. The frame lines alone read several times faster without it.
    file_options_.time_edges = precise_.lines || explain_ || monitoring_.jsonl ||
                               monitoring_.band.Bounds();
    FrameMonitor monitor(monitoring_, context.out, context.err);
    return context.Delivered(monitor.Finish(
        AnalyzeAudio(audio_file_, file_options_, restore_pulses_, raw_out_, context.sound, state,
                     context.out, context.err, monitor, monitoring_.jsonl, explain_, precise_)));
  }

 private:
  MonitoringOptions monitoring_;
  PreciseOptions precise_;
  bool explain_ = false;
  std::string audio_file_;
  AudioFileOptions file_options_;
  std::string raw_out_;
  bool restore_pulses_ = false;
};

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

  // In the order that the help lists them.
  AnalyzeCommand analyze;
  ResultsCommand results;
  AverageCommand average;
  ChartCommand chart_command;
  DevicesCommand devices;
  RecordCommand record;
  AnalyzeAudioCommand analyze_audio;
  Command* const commands[] = {&analyze, &results, &average,      &chart_command,
                               &devices, &record,  &analyze_audio};
  for (Command* command : commands) command->Define(app);

  app.footer(
      "Exit status: 0 success; 1 the raw file is missing or invalid, the configuration file "
      "cannot be read, a file could not be written, or the sound input failed; 2 usage error; "
      "3 the raw file ended before the frames it announces (the complete frames are used); "
      "4 a frame of record or analyze-audio was outside the limits.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? kExitOk : kExitUsage;
  }
  const CliContext context{out, err, sound, chart};
  for (Command* command : commands) {
    if (!command->parsed()) continue;
    MeasurementState state;
    if (auto error = ApplySettings(command->settings(), state)) {
      err << *error << "\n";
      return kExitBadInput;
    }
    return command->Run(state, context);
  }
  return kExitUsage;  // not reached: the parse requires one subcommand
}

}  // namespace fc
