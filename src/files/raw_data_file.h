#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/display.h"
#include "analysis/measurement_state.h"
#include "analysis/message.h"
#include "analysis/result.h"
#include "files/atomic_file.h"

namespace fc {

inline constexpr std::string_view kRawDataFileName = "Raw.txt";

// The raw data file: line 1 the last frame index L, then every byte of frames 0..L in buffer
// order, one number per line in the print form (" 12 "), each line ending in CR LF.
// L is CurrentFrame, except that 1001 (a run that filled the store) is written as 1000.
// With BufferSize 0 the text is line 1 only; WriteRawData refuses that case.
std::string RawDataText(const MeasurementState& state);

// The same text for `count` frames of `frame_bytes` bytes each, stored one after another.
std::string RawDataText(const uint8_t* frames, int count, std::size_t frame_bytes);

// Write Raw Data. Returns "Done", or a warning (and leaves the file untouched) when nothing
// has been captured or read yet (BufferSize 0) or when the file cannot be written. Changes
// nothing in the state.
Message WriteRawData(const MeasurementState& state, const std::filesystem::path& path);

// Keeps the raw data file of a run current frame by frame at a cost per frame that does not
// grow with the run. The first write replaces the file atomically, as WriteRawData does, with
// the same refusals and texts; after that the frames written since are appended and flushed to
// disk, and only then is line 1 overwritten in place and flushed, so that a kill or a power
// cut at any point leaves a whole file of the frames before: the reader ignores what follows
// the frames line 1 announces. When line 1 would change its width (at 10, 100 and 1000), or the
// file is no longer the one written (replaced, removed, cut short), the file is replaced
// atomically again. The file is never held whole in memory.
class RawDataAppender {
 public:
  explicit RawDataAppender(std::filesystem::path path) : path_(std::move(path)) {}
  ~RawDataAppender();
  RawDataAppender(const RawDataAppender&) = delete;
  RawDataAppender& operator=(const RawDataAppender&) = delete;

  // Makes the file announce frame `last` and hold frames 0..last of `state`, the text
  // RawDataText would give for CurrentFrame `last`. Frames already written are taken as
  // unchanged. A failure leaves the file readable as it was, and the next call tries again.
  Status Write(const MeasurementState& state, int last);

 private:
  void Close();
  // Whether the path still names the file written, at least as long as written (`longer`
  // says whether longer: a failed append's lines).
  bool StillWritten(bool& longer) const;

  std::filesystem::path path_;
  int fd_ = -1;
  int last_ = -1;                // the last frame in the file
  std::size_t frame_bytes_ = 0;  // bytes per frame in the file
  std::size_t index_size_ = 0;   // bytes of line 1, with its CR LF
  long long size_ = 0;           // bytes of the file
  unsigned long long device_ = 0;
  unsigned long long inode_ = 0;
};

enum class RawReadStatus {
  Done,        // every announced frame was read and analysed (or line 1 was negative)
  Invalid,     // nothing was changed: missing/unreadable file, bad number, value out of range
  EndedEarly,  // the file ended before the frames line 1 announces; complete ones analysed
};

struct RawReadOutcome {
  RawReadStatus status = RawReadStatus::Done;
  Message message;      // "Done" or a warning naming the file, the line and the problem
  int frames_read = 0;  // complete frames read and analysed: frames 0 .. frames_read - 1
};

// Read Raw Data. Numbers are taken by skipping blanks (spaces, tabs) and reading up to the next
// blank, comma or line end, so a line may hold several ("128,200", "128 , 200", "128 200");
// one comma after a number ends it. The whole file is checked before anything changes: on a
// missing or unreadable file, a token that is not wholly a number ("12a"), an empty line, an
// empty field (a comma with no number before it on its line or since the last comma), a sample
// outside 0..255 or a line-1 value above 1000 the outcome is Invalid, the message names the
// line of the fault, and the state and display are untouched. Line ends may be CR LF, LF or
// CR; a fractional value is rounded ties to even before the range check; blank lines at the
// very end are ignored, and so is anything after the last announced frame.
// A line of more than 16 MiB is invalid too. The file is read in pieces, never whole.
// Otherwise: clears the log, the trace and the scope, sets CurrentFrame 0 and QuillRecordFreq
// 256, sets BufferSize to 1024 when it is 0 (nothing captured yet), then stores each frame and
// runs AnalyzeFrame on it with CurrentFrame set to its index. A frame cut short by the end of
// the file keeps the bytes read into it and is not analysed; the outcome is then EndedEarly,
// with a message that says which frames were read (a file of line 1 alone is such a file).
// `accept` says whether a pipe or a device may stand for the file (see ReadableFiles).
RawReadOutcome ReadRawData(MeasurementState& state, Display& display,
                           const std::filesystem::path& path,
                           ReadableFiles accept = ReadableFiles::RegularOnly);

// What Read Raw Data does once frames 0..count-1 are in the store: clears the log, the trace
// and the scope, begins a run timed by frame number and runs AnalyzeFrame on each frame with
// CurrentFrame set to its index (0 when there is none). Each frame's precise reading is taken
// from `precise` when given (a recovered run), and is none otherwise (256 Hz files have none).
void AnalyseStoredFrames(MeasurementState& state, Display& display, int count,
                         const std::vector<PreciseReading>* precise = nullptr);

// The same on file contents already in memory; `file_name` is used in the messages.
RawReadOutcome ReadRawDataText(MeasurementState& state, Display& display, std::string_view text,
                               const std::string& file_name);

// For tests and fuzzing: ReadRawDataText with the text handed to the reader `piece_size` bytes
// at a time, as a file is read, so that lines split between two reads are exercised.
RawReadOutcome ReadRawDataInPieces(MeasurementState& state, Display& display, std::string_view text,
                                   const std::string& file_name, std::size_t piece_size);

// For tests: the work of the last read on this thread, in bytes of text searched for a line
// end and bytes moved to join lines split between pieces. Both stay within a small multiple of
// the file's size, however its numbers are laid out on lines.
struct RawReadWork {
  std::size_t scanned = 0;
  std::size_t copied = 0;
};
RawReadWork LastRawReadWork();

}  // namespace fc
