#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/measurement_state.h"
#include "analysis/precise_reading.h"
#include "analysis/result.h"

namespace fc {

// A hidden file in the program directory that holds the run being recorded, frame by frame, so
// that a crash, a killed process or a power cut loses at most the frame being recorded.
//
// Layout of version 1, all numbers little-endian:
//   header, 64 bytes:
//     0  "FCRUNJNL"   8  version (u32, 1)   12  bytes per frame F (u32, even, 2..4096)
//     16 run start (i64, seconds since 1970 UTC)   24  QuillRecordFreq (f32)
//     28 ConsecutivePoints, SecondPointOffset, ThirdPointOffset, MaxLimitCounts, JumpCounts,
//        LookForZeroCrossing, UseHiResTime (i16 each)   42  zero (2)   44  AnticCounts (f32)
//     48 zero (12)   60  CRC-32 of bytes 0..59
//   then one record of F + 12 bytes per frame, frame 0 first:
//     0  frame index (u32)   4  FrameStartTime (f32)   8  the F frame bytes
//     8 + F  CRC-32 of the record's bytes before it
// A record is intact when it is whole, its CRC matches and its index is its position.
//
// Version 2 has the same header (version 2) and records of F + 52 bytes: after the frame bytes
// the edge timer's reading of the frame, 40 bytes, then the CRC:
//     8 + F  flags (u32: 1 has a reading, 2 no signal)   12 + F  edges (i32)
//     16 + F period, 24 + F standard uncertainty, 32 + F shortest, 40 + F longest interval
//            (f64 each, seconds of the card's clock)   48 + F  CRC-32
// A version 1 journal still reads; its frames have no precise reading.
inline constexpr std::string_view kRunJournalFileName = ".run-journal";
inline constexpr uint32_t kRunJournalVersion = 2;  // the version written
inline constexpr std::size_t kJournalHeaderBytes = 64;
inline constexpr std::size_t kJournalV1RecordExtraBytes = 12;
inline constexpr std::size_t kJournalRecordExtraBytes = 52;  // of the version written

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
// Puts the settings back into the state, as they were when the run was recorded.
void ApplySettings(const JournalSettings& settings, MeasurementState& state);

// How much of a journal could be read.
enum class JournalCondition {
  Whole,       // the header and every record are intact
  Cut,         // intact, but the file ends inside its last record (a crash while writing it)
  Damaged,     // a journal, but not all of it can be read: a damaged header, a frame size other
               // than the reader's, damaged or misplaced records, or more than the store holds
  Unreadable,  // no journal header at all, or one of a version this program does not know
};

// What a journal holds: its intact frames, in order, and what stood in the way of the rest.
struct JournalContents {
  JournalCondition condition = JournalCondition::Whole;
  std::string problem;  // for Damaged and Unreadable: why, as a clause ("its header is damaged")
  uint32_t version = 0;
  std::time_t started = 0;
  JournalSettings settings;
  uint32_t frame_bytes = 0;
  std::vector<float> start_times;  // one per intact frame
  std::vector<PreciseReading> precise;  // one per intact frame; none read for version 1
  std::string frames;              // the intact frames' bytes, frame_bytes each
  int skipped = 0;                 // damaged or misplaced records passed over

  int frame_count() const { return static_cast<int>(start_times.size()); }
  const uint8_t* frame(int index) const {
    return reinterpret_cast<const uint8_t*>(frames.data()) +
           static_cast<std::size_t>(index) * frame_bytes;
  }
};

// The header and the records of one frame, as written (or as an older version wrote them).
std::string JournalHeaderBytes(std::time_t started, const JournalSettings& settings,
                               uint32_t frame_bytes, uint32_t version = kRunJournalVersion);
std::string JournalRecordBytes(int frame, float start_time, const uint8_t* bytes,
                               uint32_t frame_bytes, const PreciseReading& precise = {},
                               uint32_t version = kRunJournalVersion);

// Reads up to `size` bytes at `offset` into `buffer`: the count read (less only at the end of
// the file), or the sentence of a read error.
using JournalReader = std::function<Result<std::size_t>(char* buffer, std::size_t size,
                                                        uint64_t offset)>;

// Reads a journal of `file_size` bytes piece by piece: the header, then each record in its
// place, never more than the header and the frame store (kFrameCount records) allow. A journal
// whose frames are not `frame_bytes` long is Damaged. Fails only when the reader does.
Result<JournalContents> ReadJournal(const JournalReader& read, uint64_t file_size,
                                    uint32_t frame_bytes);
// The same on bytes in memory.
JournalContents ParseJournal(std::string_view bytes, uint32_t frame_bytes);

// "YYYY-MM-DD HH-MM-SS" (file names) or "YYYY-MM-DD HH:MM:SS" (texts) in local time; nullopt
// for a time that is no date a run could have started on (before 1970 or after 9999).
std::optional<std::string> LocalTimeText(std::time_t time, char time_separator);

// The journal file of one window, held under an exclusive flock while this window owns it: a
// second window on the same directory cannot take it, and never reads nor writes it. The path
// is never followed when it is a symbolic link, and only a regular file is taken.
class RunJournal {
 public:
  explicit RunJournal(std::filesystem::path path) : path_(std::move(path)) {}
  ~RunJournal();  // lets go of the file and leaves it in place
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  enum class Take {
    Taken,       // held now (read-only when the file or its directory cannot be written)
    Missing,     // there is no file (and `create` was false)
    Busy,        // another window holds it
    NotRegular,  // a symbolic link, a directory, a device or the like: left alone
  };
  // Locks the file at the path, creating it when `create`.
  Result<Take> TakeFile(bool create);

  // Truncates the held file and writes the header of a new run, flushed to disk.
  Status Begin(std::time_t started, const JournalSettings& settings, uint32_t frame_bytes);
  // Writes frame `frame` of the run in its place and flushes it to disk before returning.
  Status Append(int frame, float start_time, const uint8_t* bytes,
                const PreciseReading& precise = {});
  // The held file's size (0 for an empty one).
  Result<uint64_t> Size() const;
  // Reads the held file as ReadJournal does.
  Result<JournalContents> Read(uint32_t frame_bytes) const;
  // Renames the held file to "<name>" beside it, or "<name> (2)" and on, never replacing a
  // file, and lets go of it. The new path, or why not (the file then stays held).
  Result<std::filesystem::path> MoveAside(const std::string& name);
  // Removes the held file and lets go of it. Fails when the directory cannot be written; the
  // file is let go of either way.
  Status Remove();
  // Lets go of the file and leaves it in place.
  void Release();

  bool held() const { return fd_ >= 0; }
  bool writable() const { return held() && write_error_ == 0; }
  const std::filesystem::path& path() const { return path_; }

 private:
  Error Problem(const char* what, int error_number) const;

  std::filesystem::path path_;
  int fd_ = -1;
  int write_error_ = 0;  // why the held file was opened read-only
  uint32_t frame_bytes_ = 0;
};

}  // namespace fc
