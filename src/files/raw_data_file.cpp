#include "files/raw_data_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "analysis/frame_analysis.h"
#include "analysis/number_text.h"
#include "files/atomic_file.h"
#include "files/number_token.h"

namespace fc {

namespace {

constexpr int32_t kMaxBufferSize = 2048;  // a frame's pairs must fit its 4097-byte row

// Pairs per frame for reading and writing: the BufferSize in force, or the capture's 1024 when
// nothing has been captured yet.
int32_t EffectiveBufferSize(const MeasurementState& state) {
  if (state.BufferSize <= 0) return kCaptureBufferSize;
  return std::min(state.BufferSize, kMaxBufferSize);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// Walks the file one number line at a time. Fast on the common line (" 123 \r\n"): digits are
// summed in place; anything else goes through the full number check.
class NumberLines {
 public:
  explicit NumberLines(std::string_view text) : text_(text) {}

  enum class Result { Number, End, Bad };

  // On Bad, `problem` says what is wrong with line `line()`.
  Result Next(double& value, std::string& problem) {
    const std::size_t n = text_.size();
    std::size_t i = pos_;
    while (i < n && IsBlank(text_[i])) ++i;
    if (i == n || IsLineEnd(text_[i])) {
      // Blank lines after the last number are the end of the file, not an error.
      for (std::size_t j = i; j < n; ++j) {
        if (!IsBlank(text_[j]) && !IsLineEnd(text_[j])) {
          problem = "is empty where a number was expected";
          return Result::Bad;
        }
      }
      pos_ = n;
      return Result::End;
    }
    const std::size_t start = i;
    int32_t whole = 0;
    while (i < n && i - start < 9 && text_[i] >= '0' && text_[i] <= '9') {
      whole = whole * 10 + (text_[i] - '0');
      ++i;
    }
    if (i > start && (i == n || IsBlank(text_[i]) || IsLineEnd(text_[i]))) {
      value = whole;
    } else {
      while (i < n && !IsBlank(text_[i]) && !IsLineEnd(text_[i])) ++i;
      const auto parsed = ParseNumberToken(text_.substr(start, i - start));
      if (!parsed) {
        problem = "holds " + QuoteFileText(LineText(start)) + ", which is not a number";
        return Result::Bad;
      }
      value = RoundHalfEven(*parsed);
    }
    token_ = text_.substr(start, i - start);
    while (i < n && IsBlank(text_[i])) ++i;
    if (i < n && !IsLineEnd(text_[i])) {
      problem = "holds " + QuoteFileText(LineText(start)) + ", which is not a number";
      return Result::Bad;
    }
    if (i < n && text_[i] == '\r') {
      ++i;
      if (i < n && text_[i] == '\n') ++i;
    } else if (i < n && text_[i] == '\n') {
      ++i;
    }
    pos_ = i;
    ++line_;
    return Result::Number;
  }

  // 1-based number of the line the next call reads (or the line of the last Bad result).
  int line() const { return line_; }
  // The text of the last number read, as written in the file.
  std::string_view token() const { return token_; }

 private:
  std::string_view LineText(std::size_t start) const {
    std::size_t end = start;
    while (end < text_.size() && !IsLineEnd(text_[end])) ++end;
    while (end > start && IsBlank(text_[end - 1])) --end;
    return text_.substr(start, end - start);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
  std::string_view token_;
};

std::string ReadProblem(const std::string& file_name, const std::string& problem) {
  return "Could not read \"" + file_name + "\": " + problem + ". Nothing was read.";
}

RawReadOutcome Invalid(std::string text) {
  return RawReadOutcome{RawReadStatus::Invalid, WarningMessage(std::move(text)), 0};
}

}  // namespace

std::string RawDataText(const MeasurementState& state) {
  const int last = std::min<int>(state.CurrentFrame, kLastFrame);
  std::string text = FormatPrintNumber(last) + "\r\n";
  if (state.BufferSize <= 0 || last < 0) return text;

  std::array<std::string, 256> lines;
  for (int v = 0; v < 256; ++v) lines[static_cast<std::size_t>(v)] = FormatPrintNumber(v) + "\r\n";
  const std::size_t frame_bytes = 2 * static_cast<std::size_t>(EffectiveBufferSize(state));
  text.reserve(text.size() + (static_cast<std::size_t>(last) + 1) * frame_bytes * 7);
  for (int frame = 0; frame <= last; ++frame) {
    const uint8_t* row = state.Row(frame);
    for (std::size_t b = 0; b < frame_bytes; ++b) text += lines[row[b]];
  }
  return text;
}

Message WriteRawData(const MeasurementState& state, const std::filesystem::path& path) {
  if (state.BufferSize <= 0) {
    return WarningMessage("There is no raw data to write yet: nothing has been captured or read. \"" +
                          path.string() + "\" was not changed.");
  }
  if (auto error = WriteFileAtomically(path, RawDataText(state))) {
    return WarningMessage(std::move(*error));
  }
  return DoneMessage();
}

RawReadOutcome ReadRawData(MeasurementState& state, Display& display,
                           const std::filesystem::path& path) {
  std::string error;
  const auto contents = ReadWholeFile(path, &error);
  if (!contents) return Invalid(error + " Nothing was read.");
  return ReadRawDataText(state, display, *contents, path.string());
}

RawReadOutcome ReadRawDataText(MeasurementState& state, Display& display, std::string_view text,
                               const std::string& file_name) {
  NumberLines lines(text);
  double value = 0;
  std::string problem;

  // Line 1: the last frame.
  switch (lines.Next(value, problem)) {
    case NumberLines::Result::End:
      return Invalid(ReadProblem(file_name, "the file is empty; line 1 should hold the last frame"));
    case NumberLines::Result::Bad:
      return Invalid(ReadProblem(file_name, "line 1 " + problem));
    case NumberLines::Result::Number:
      break;
  }
  if (value > kLastFrame) {
    return Invalid(ReadProblem(file_name, "line 1 holds " + QuoteFileText(lines.token()) +
                                              ", but the last frame cannot be above 1000"));
  }
  const int last = value < 0 ? -1 : static_cast<int>(value);

  // Every sample the announced frames need, checked before anything is touched.
  const int32_t pairs = EffectiveBufferSize(state);
  const std::size_t frame_bytes = 2 * static_cast<std::size_t>(pairs);
  const std::size_t wanted = static_cast<std::size_t>(last + 1) * frame_bytes;
  std::vector<uint8_t> samples;
  samples.reserve(std::min(wanted, text.size() / 2 + 1));
  while (samples.size() < wanted) {
    const int line = lines.line();
    const auto result = lines.Next(value, problem);
    if (result == NumberLines::Result::End) break;
    if (result == NumberLines::Result::Bad) {
      return Invalid(ReadProblem(file_name, "line " + std::to_string(line) + " " + problem));
    }
    if (!(value >= 0 && value <= 255)) {
      return Invalid(ReadProblem(file_name, "line " + std::to_string(line) + " holds " +
                                                QuoteFileText(lines.token()) +
                                                ", but a sample lies in 0 to 255"));
    }
    samples.push_back(static_cast<uint8_t>(value));
  }

  display.ClearLog();
  display.Trace().Clear();
  display.Scope().Clear();
  state.CurrentFrame = 0;
  state.QuillRecordFreq = kCaptureRate;
  if (state.BufferSize <= 0) state.BufferSize = kCaptureBufferSize;

  const int complete = static_cast<int>(samples.size() / frame_bytes);
  for (int frame = 0; frame < complete; ++frame) {
    std::memcpy(state.Row(frame), samples.data() + static_cast<std::size_t>(frame) * frame_bytes,
                frame_bytes);
    state.CurrentFrame = static_cast<int16_t>(frame);
    AnalyzeFrame(state, display);
  }
  const std::size_t partial = samples.size() % frame_bytes;
  if (partial > 0) {
    // The frame that ran into the end of the file keeps what was read into it.
    std::memcpy(state.Row(complete), samples.data() + samples.size() - partial, partial);
  }

  if (samples.size() == wanted) return RawReadOutcome{RawReadStatus::Done, DoneMessage(), complete};

  std::string message = "\"" + file_name + "\" ended early: line 1 announces frames 0 to " +
                        std::to_string(last) + ", but ";
  message += complete == 0 ? std::string("no complete frame was read.")
                           : "only frames 0 to " + std::to_string(complete - 1) +
                                 " were complete; they were read and analysed.";
  if (samples.size() % 2 != 0) message += " The file ends between the two bytes of a sample pair.";
  return RawReadOutcome{RawReadStatus::EndedEarly, WarningMessage(std::move(message)), complete};
}

}  // namespace fc
