#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/display.h"
#include "analysis/measurement_state.h"
#include "analysis/message.h"
#include "capture/capture.h"

namespace fc {

// A hidden file in the program directory that holds the run being recorded, frame by frame, so
// that a crash, a killed process or a power cut loses at most the frame being recorded.
//
// Layout, all numbers little-endian:
//   header, 64 bytes:
//     0  "FCRUNJNL"   8  version (u32, 1)   12  bytes per frame F (u32, even, 2..4096)
//     16 run start (i64, seconds since 1970 UTC)   24  QuillRecordFreq (f32)
//     28 ConsecutivePoints, SecondPointOffset, ThirdPointOffset, MaxLimitCounts, JumpCounts,
//        LookForZeroCrossing, UseHiResTime (i16 each)   42  zero (2)   44  AnticCounts (f32)
//     48 zero (12)   60  CRC-32 of bytes 0..59
//   then one record of F + 12 bytes per frame, frame 0 first:
//     0  frame index (u32)   4  FrameStartTime (f32)   8  the F frame bytes
//     8 + F  CRC-32 of the record's bytes before it
// A record is complete when it is whole, its CRC matches and its index is its position.
inline constexpr std::string_view kRunJournalFileName = ".run-journal";
inline constexpr uint32_t kRunJournalVersion = 1;
inline constexpr std::size_t kJournalHeaderBytes = 64;
inline constexpr std::size_t kJournalRecordExtraBytes = 12;

// The settings a run used, as kept in the journal's header.
struct JournalSettings {
  float QuillRecordFreq = 0.0f;
  int16_t ConsecutivePoints = 0;
  int16_t SecondPointOffset = 0;
  int16_t ThirdPointOffset = 0;
  int16_t MaxLimitCounts = 0;
  int16_t JumpCounts = 0;
  int16_t LookForZeroCrossing = 0;
  int16_t UseHiResTime = 0;
  float AnticCounts = 0.0f;
  friend bool operator==(const JournalSettings&, const JournalSettings&) = default;
};

JournalSettings SettingsOf(const MeasurementState& state);

// What a journal holds: its complete frames, and whether anything followed them.
struct JournalContents {
  std::time_t started = 0;
  JournalSettings settings;
  uint32_t frame_bytes = 0;
  std::vector<float> start_times;  // one per complete frame
  std::string frames;              // the complete frames' bytes, frame_bytes each
  bool damaged = false;            // a cut or damaged record follows the complete frames

  int frame_count() const { return static_cast<int>(start_times.size()); }
};

// The header and the records of one frame, as written.
std::string JournalHeaderBytes(std::time_t started, const JournalSettings& settings,
                               uint32_t frame_bytes);
std::string JournalRecordBytes(int frame, float start_time, const uint8_t* bytes,
                               uint32_t frame_bytes);

// Reads journal bytes. nullopt, with `problem` set, when the header is missing or not a
// journal's; otherwise every complete frame up to the first record that is not.
std::optional<JournalContents> ParseJournal(std::string_view bytes, std::string* problem);

// The complete frames in the raw data file format (as Write Raw Data writes them). Needs at
// least one frame.
std::string JournalRawDataText(const JournalContents& contents);

// "YYYY-MM-DD HH-MM-SS" (file names) or "YYYY-MM-DD HH:MM:SS" (texts) in local time.
std::string LocalTimeText(std::time_t time, char time_separator);

// The journal file of one window, held under an exclusive flock while this window owns it: a
// second window on the same directory cannot take it, and never reads nor writes it.
class RunJournal {
 public:
  explicit RunJournal(std::filesystem::path path) : path_(std::move(path)) {}
  ~RunJournal();  // lets go of the file and leaves it in place
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  enum class Take { Taken, Missing, Busy, Failed };
  // Locks the file at the path (creating it when `create`). Busy: another window holds it.
  // `error` says why on Failed.
  Take TakeFile(bool create, std::string* error);

  // Truncates the held file and writes the header of a new run, flushed to disk.
  std::optional<std::string> Begin(std::time_t started, const JournalSettings& settings,
                                   uint32_t frame_bytes);
  // Writes frame `frame` of the run in its place and flushes it to disk before returning.
  std::optional<std::string> Append(int frame, float start_time, const uint8_t* bytes);
  // The whole content of the held file.
  std::optional<std::string> ReadAll(std::string* error) const;
  // Removes the held file and lets go of it.
  void Remove();
  // Lets go of the file and leaves it in place.
  void Release();

  bool held() const { return fd_ >= 0; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::string Problem(const char* what, int error_number) const;

  std::filesystem::path path_;
  int fd_ = -1;
  uint32_t frame_bytes_ = 0;
};

// The window's side of the journal: a new one at every Start, a record for every analysed
// frame, removal at the endings the user chose, and the offer of a run left behind.
class JournalKeeper : public RunListener {
 public:
  JournalKeeper(const std::filesystem::path& program_directory, Dialogs& dialogs)
      : directory_(program_directory),
        journal_(program_directory / kRunJournalFileName),
        dialogs_(dialogs) {}

  // At start-up: asks about a run that did not end normally ("Recover it?"). Yes loads its
  // frames as Read Raw Data loads a file and keeps the journal for them; No writes them to
  // "Recovered run <start>.txt" and removes the journal. A journal another window holds is
  // left alone; one without a frame is removed; one without a readable header is renamed.
  void OfferRecovery(MeasurementState& state, Display& display);

  void RunStarted(const MeasurementState& state) override;
  void FrameAnalysed(const MeasurementState& state, int frame) override;

  // The run ended in a way the user chose (the window closed, Cancel at the time-out).
  void EndedNormally() { journal_.Remove(); }

  const RunJournal& journal() const { return journal_; }

 private:
  void Tell(Message message) { dialogs_.Show(message); }
  void Recover(const JournalContents& contents, MeasurementState& state, Display& display);
  void MoveAside(const JournalContents& contents);

  std::filesystem::path directory_;
  RunJournal journal_;
  Dialogs& dialogs_;
  bool appending_ = false;        // the run in progress has a journal
  bool told_no_journal_ = false;  // a Start without a journal was reported once
  bool disabled_ = false;         // a run left behind could not be moved aside: keep off it
};

// "The last run (N frames, started DATE TIME) was not saved. Recover it?" Yes/No.
Message RecoveryQuestion(int frames, std::time_t started);

}  // namespace fc
