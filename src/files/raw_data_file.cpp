#include "files/raw_data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

#include "analysis/frame_analysis.h"
#include "analysis/number_text.h"
#include "files/atomic_file.h"
#include "files/number_token.h"
#include "files/text_pieces.h"
#include "files/wide_writer_lines.h"

namespace fc {

namespace {

// Pairs per frame for reading and writing: the BufferSize in force, or the capture's 1024 when
// nothing has been captured yet.
int32_t EffectiveBufferSize(const MeasurementState& state) {
  if (state.BufferSize <= 0) return kCaptureBufferSize;
  return std::min(state.BufferSize, kMaxFramePoints);  // a frame's pairs must fit its row
}

// Reading a file: one piece for a file up to the first size, pieces of the second for larger
// ones, and room before each for the part line carried over from the piece before (the
// writer's lines have 7 bytes; longer ones take a slower path). A small file is still read
// in blocks of at least the third size until its end: its size may be wrong, and a /proc
// file's reads 0.
constexpr std::size_t kWholeFileAtOnce = 1 << 20;
constexpr std::size_t kReadAheadPiece = 256 << 10;
constexpr std::size_t kSmallestPiece = 64 << 10;
constexpr std::size_t kPieceRoom = 4096;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// Bit i set where byte i of the 64 at `p` is a line feed.
uint64_t LineFeeds64(const char* p) {
#if defined(__SSE2__)
  const __m128i feed = _mm_set1_epi8('\n');
  uint64_t bits = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    bits |=
        static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, feed))))
        << (16 * k);
  }
  return bits;
#else
  uint64_t bits = 0;
  for (int i = 0; i < 64; ++i) bits |= static_cast<uint64_t>(p[i] == '\n') << i;
  return bits;
#endif
}

// Where the first CR or LF stands among the 16 bytes at `p`: 16 if there is none.
unsigned FirstLineEnd16(const char* p) {
#if defined(__SSE2__)
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const unsigned ends = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')),
                                     _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')))));
  return ends == 0 ? 16 : static_cast<unsigned>(__builtin_ctz(ends));
#else
  unsigned i = 0;
  while (i < 16 && !IsLineEnd(p[i])) ++i;
  return i;
#endif
}

// Each sample's line as the writer prints it, " v \r\n", as the last bytes of eight: byte i in
// bits 8i to 8i + 7, the line feed in byte 7. Byte 0, never part of the line, holds its length,
// so that a line only matches at its own length (its bytes alone could match a longer line
// that starts with a 0 byte).
constexpr std::array<uint64_t, 256> MakeWriterLines() {
  std::array<uint64_t, 256> lines{};
  for (unsigned v = 0; v < 256; ++v) {
    const unsigned char text[] = {' ', static_cast<unsigned char>('0' + v / 100),
                                  static_cast<unsigned char>('0' + v / 10 % 10),
                                  static_cast<unsigned char>('0' + v % 10)};
    const unsigned skip = v >= 100 ? 0 : v >= 10 ? 1 : 2;  // no leading zeros
    uint64_t word = 0;
    unsigned at = 1 + skip;
    const auto put = [&](unsigned char c) {
      word |= static_cast<uint64_t>(c) << (8 * at);
      ++at;
    };
    put(text[0]);
    for (unsigned i = 1 + skip; i < 4; ++i) put(text[i]);
    put(' ');
    put('\r');
    put('\n');
    lines[v] = word | (8 - (1 + skip));
  }
  return lines;
}

constexpr std::array<uint64_t, 256> kWriterLines = MakeWriterLines();

// By line length (with its CR LF; 0 for lengths the form never has): the bytes of the line
// within the eight that end with it.
constexpr std::array<uint64_t, 8> MakeWriterLineTails() {
  std::array<uint64_t, 8> tails{};
  for (unsigned length = 5; length <= 7; ++length)
    tails[length] = ~uint64_t{0} << (64 - 8 * length);
  return tails;
}

constexpr std::array<uint64_t, 8> kWriterLineTails = MakeWriterLineTails();

// Takes lines of the writer's own form (" 7 \r\n" to " 255 \r\n") from `q` on, finding them by
// their line feeds 64 bytes at a time so that no line waits on the one before. A line is read
// as if it were of that form and then compared with the writer's line for the value read, so
// any other line fails the comparison. Each line is loaded as the eight bytes that end it, so
// up to 7 bytes before `q` are read: they must be part of the text. Stops before the first
// other line, where fewer than 72 bytes are left, or where `max` is less than a block's lines
// away. Returns the count stored into `out` and moves `q` past the lines taken.
std::size_t TakeWriterLines(const char*& q, const char* end, uint8_t* out, std::size_t max) {
  constexpr std::size_t kMostLinesPerBlock = 64;
  std::size_t taken = 0;
  while (end - q >= 72 && max - taken >= kMostLinesPerBlock) {
    uint64_t feeds = LineFeeds64(q);
    const char* line = q;
    while (feeds != 0) {
      const char* const next = q + __builtin_ctzll(feeds) + 1;
      feeds &= feeds - 1;
      const auto length = static_cast<std::size_t>(next - line);
      const std::size_t shape = length < 8 ? length : 0;
      uint64_t word;
      std::memcpy(&word, next - 8, sizeof word);  // byte i in bits 8i to 8i + 7, as in the table
      if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
      word &= kWriterLineTails[shape];
      // The low halves of bytes 2 to 4 as hundreds, tens and units (a blank's is 0); a value
      // above 255 wraps, and the comparison then fails.
      const auto value =
          static_cast<uint8_t>(((word & 0x0f0f0f0000) * ((100 << 16) + (10 << 8) + 1)) >> 32);
      if ((word | shape) != kWriterLines[value]) {
        q = line;
        return taken;
      }
      out[taken++] = value;
      line = next;
    }
    if (line == q) return taken;  // no line end in 64 bytes
    q = line;
  }
  return taken;
}

// Walks the file one number line at a time.
class NumberLines {
 public:
  explicit NumberLines(ChunkedText& source) : source_(source) {}

  enum class Result { Number, End, Bad };

  // Takes up to `max` lines of the writer's own form and its near relatives (up to two blanks,
  // one to three digits, up to two blanks, CR LF, LF or CR) holding 0..255, without the
  // general checks, and stops before the first other line: Next() then decides about it.
  // Returns the number of samples stored into `out`.
  std::size_t TakePlainSamples(uint8_t* out, std::size_t max) {
    std::size_t taken = 0;
    for (;;) {
      // Locals only in the loop: stores through `out` would otherwise force reloads.
      const char* const begin = Text().data();
      const std::size_t size = Text().size();
      const char* q = begin + pos_;
      const char* const limit = size >= 16 ? begin + size - 16 : begin;  // peeks stay inside
      bool other_line = false;
      const std::size_t taken_before = taken;
      std::size_t on_shared_lines = 0;  // samples taken from lines that hold several
      int shared_line_ends = 0;         // and the line ends taken with them
      std::size_t relatives = 0;  // lines since the writer's form was last tried
      while (taken < max && q < limit) {
        if (relatives == 0) {
          taken += TakeWriterLinesWide(q, begin + size, out + taken, max - taken);
          if (q - begin >= 8) taken += TakeWriterLines(q, begin + size, out + taken, max - taken);
          relatives = 16;
          if (taken == max || q >= limit) break;
        }
        --relatives;
        // Branches rather than arithmetic on purpose: they are well predicted, and they let the
        // processor run ahead into the next line instead of waiting on each byte.
        const char* r = q;
        if (r[0] == ' ') ++r;
        if (r[0] == ' ') ++r;
        unsigned value = static_cast<unsigned char>(r[0]) - '0';
        if (value > 9) {
          if (TakeShared(q, begin, begin + size, out, max, taken, on_shared_lines,
                         shared_line_ends)) {
            continue;
          }
          other_line = true;
          break;
        }
        const unsigned second = static_cast<unsigned char>(r[1]) - '0';
        if (second > 9) {
          r += 1;
        } else {
          value = value * 10 + second;
          const unsigned third = static_cast<unsigned char>(r[2]) - '0';
          if (third > 9) {
            r += 2;
          } else {
            value = value * 10 + third;
            r += 3;
          }
        }
        if (r[0] == ' ') ++r;
        if (r[0] == ' ') ++r;
        if (r[0] == '\r') {
          ++r;
          if (r[0] == '\n') ++r;
        } else if (r[0] == '\n') {
          ++r;
        } else {
          if (TakeShared(q, begin, begin + size, out, max, taken, on_shared_lines,
                         shared_line_ends)) {
            continue;
          }
          other_line = true;
          break;
        }
        if (value > 255) {
          other_line = true;
          break;
        }
        out[taken++] = static_cast<uint8_t>(value);
        q = r;
      }
      pos_ = static_cast<std::size_t>(q - begin);
      line_ += static_cast<int>(taken - taken_before - on_shared_lines) + shared_line_ends;
      if (other_line || taken == max || source_.at_end()) return taken;
      Refill();
      if (Text().size() - pos_ < 16) return taken;
    }
  }

  // The next number, wherever it stands: numbers end at a blank, a comma or the line end, so
  // one line may hold several ("128,200", "128 200"). On Bad, `problem` says what is wrong
  // with line `line()`.
  Result Next(double& value, std::string& problem) {
    if (!WholeLineAhead()) {
      problem = "is too long to hold a number";
      return Result::Bad;
    }
    std::string_view text = Text();
    std::size_t i = pos_;
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i < text.size() && text[i] == ',') {
      // A comma that ends a number is taken with the number, so this one ends nothing.
      problem = "holds an empty field: a comma with no number before it";
      return Result::Bad;
    }
    if (i == text.size() || IsLineEnd(text[i])) {
      // Blank lines after the last number are the end of the file, not an error.
      for (;;) {
        while (i < text.size() && (IsBlank(text[i]) || IsLineEnd(text[i]))) ++i;
        if (i < text.size()) {
          problem = "is empty where a number was expected";
          return Result::Bad;
        }
        pos_ = i;
        if (!Refill()) break;
        text = Text();
        i = pos_;
      }
      pos_ = text.size();
      return Result::End;
    }
    const std::size_t start = i;
    while (i < text.size() && !IsBlank(text[i]) && text[i] != ',' && !IsLineEnd(text[i])) ++i;
    token_ = text.substr(start, i - start);
    const auto parsed = ParseNumberToken(token_);
    if (!parsed) {
      problem = "holds " + QuoteFileText(token_) + ", which is not a number";
      return Result::Bad;
    }
    value = RoundHalfEven(*parsed);
    // The number's end goes with it: blanks, one comma with the blanks after it, and the line
    // end when one follows.
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i < text.size() && text[i] == ',') {
      ++i;
      while (i < text.size() && IsBlank(text[i])) ++i;
    }
    if (i < text.size() && text[i] == '\r') {
      ++i;
      if (i < text.size() && text[i] == '\n') ++i;
      ++line_;
    } else if (i < text.size() && text[i] == '\n') {
      ++i;
      ++line_;
    }
    pos_ = i;
    return Result::Number;
  }

  std::size_t scanned() const { return scanned_; }

  // 1-based number of the line the next call reads (or the line of the last Bad result).
  int line() const { return line_; }
  // The text of the last number read by Next(), as written in the file; valid until the next
  // read.
  std::string_view token() const { return token_; }

 private:
  std::string_view Text() const { return source_.view(); }

  bool Refill() {
    if (source_.at_end()) return false;
    start_ += pos_;
    const bool more = source_.Refill(pos_);
    pos_ = 0;
    return more;
  }

  // Whether the line at pos_ is known to end inside the text: the text keeps everything after
  // pos_, so a line end once found stays in it until it is passed. The numbers after the first
  // on a line then cost nothing more, however long the line.
  bool LineEndAhead() const {
    return source_.at_end() || (line_end_known_ && start_ + pos_ <= line_end_);
  }

  // The line end at or after `from` in the text, or nullptr. A CR counts only with the
  // character after it, to tell CR LF from CR, unless the file has ended.
  const char* FindLineEnd(std::size_t from) {
    const std::string_view text = Text();
    // Text searched before without a line end need not be searched again.
    if (start_ + from < searched_to_) from = searched_to_ - start_;
    std::size_t i = from;
    for (;;) {
      if (text.size() - i < 16) {
        while (i < text.size() && !IsLineEnd(text[i])) ++i;
        break;
      }
      const unsigned at = FirstLineEnd16(text.data() + i);
      i += at;
      if (at < 16) break;
    }
    scanned_ += i - from;
    if (i + 1 < text.size() || (i < text.size() && text[i] == '\n') ||
        (i < text.size() && source_.at_end())) {
      line_end_ = start_ + i;
      line_end_known_ = true;
      return text.data() + i;
    }
    searched_to_ = start_ + i;
    return nullptr;
  }

  // Reads on until the line at pos_ ends inside the text, or the file has ended.
  // False for a line too long to be anything but rubbish (or an endless device).
  bool WholeLineAhead() {
    constexpr std::size_t kLongestLine = 16 << 20;
    if (LineEndAhead()) return true;
    std::size_t from = pos_;
    for (;;) {
      if (FindLineEnd(from) != nullptr || source_.at_end()) return true;
      const std::size_t i = searched_to_ - start_;  // a CR there waits for the byte after it
      if (i - pos_ > kLongestLine) return false;
      from = i - pos_;
      if (!Refill() && source_.at_end()) return true;
    }
  }

  // Takes the numbers of a line that holds several ("128,200", "128 200"), from `q` to the
  // first that is not a plain sample (1 to 3 digits, 0..255) or to the line end, taken with the
  // last number as Next() takes it. Only on a line whose end lies in the text, so that its
  // length has been judged. Returns whether anything was taken.
  bool TakeShared(const char*& q, const char* begin, const char* end, uint8_t* out,
                  std::size_t max, std::size_t& taken, std::size_t& on_shared_lines,
                  int& line_ends) {
    const auto at = static_cast<std::size_t>(q - begin);
    const char* line_end = nullptr;
    if (line_end_known_ && start_ + at <= line_end_) {
      line_end = begin + (line_end_ - start_);
    } else {
      line_end = FindLineEnd(at);
      if (line_end == nullptr) {
        if (!source_.at_end()) return false;  // Next() reads on and judges the line
        line_end = end;
      }
    }
    // Locals only in the loop: stores through `out` would otherwise force reloads.
    const char* next = q;
    std::size_t count = taken;
    while (count < max) {
      const char* r = next;
      while (r < line_end && IsBlank(*r)) ++r;
      const char* t = r;
      unsigned value = 0;
      if (end - r >= 4) {
        // Without a branch on the count of digits, which changes from number to number. A line
        // end is no digit, so the digits stop at the line's end.
        const auto digit = [](char c) { return static_cast<unsigned>(c) - '0'; };
        const unsigned first = digit(r[0]), second = digit(r[1]), third = digit(r[2]);
        const bool two = second <= 9;
        const bool three = two & (third <= 9);
        value = two ? first * 10 + second : first;
        value = three ? value * 10 + third : value;
        if (first > 9 || (three && digit(r[3]) <= 9)) break;
        t = r + 1 + two + three;
      } else {
        while (t < line_end && t - r < 4 && static_cast<unsigned>(*t - '0') <= 9) {
          value = value * 10 + static_cast<unsigned>(*t - '0');
          ++t;
        }
        if (t == r || t - r > 3) break;
      }
      if (value > 255) break;
      if (t < line_end && !IsBlank(*t) && *t != ',') break;  // "12a", "1.5": Next() decides
      while (t < line_end && IsBlank(*t)) ++t;
      if (t < line_end && *t == ',') {
        ++t;
        while (t < line_end && IsBlank(*t)) ++t;
      }
      out[count++] = static_cast<uint8_t>(value);
      next = t;
      if (t == line_end) {
        if (t < end) {
          if (*t == '\r' && t + 1 < end && t[1] == '\n') ++t;
          next = t + 1;
          ++line_ends;
        }
        break;
      }
    }
    q = next;
    const std::size_t newly = count - taken;
    taken = count;
    on_shared_lines += newly;
    return newly > 0;
  }

  ChunkedText& source_;
  std::size_t pos_ = 0;
  std::size_t start_ = 0;  // where the text begins in the file
  bool line_end_known_ = false;
  std::size_t line_end_ = 0;  // where in the file the line end last found stands
  std::size_t searched_to_ = 0;  // where in the file the last search that failed stopped
  std::size_t scanned_ = 0;
  int line_ = 1;
  std::string_view token_;
};

std::string ReadProblem(const std::string& file_name, const std::string& problem) {
  return "Could not read \"" + file_name + "\": " + problem + ". Nothing was read.";
}

RawReadOutcome Invalid(std::string text) {
  return RawReadOutcome{RawReadStatus::Invalid, WarningMessage(std::move(text)), 0};
}

RawReadOutcome ReadFrom(ChunkedText& source, MeasurementState& state, Display& display,
                        const std::string& file_name);

}  // namespace

namespace {

// A sample's line in the file, " v " and CR LF, by value.
const std::array<std::string, 256>& SampleLines() {
  static const std::array<std::string, 256> lines = [] {
    std::array<std::string, 256> made;
    for (int v = 0; v < 256; ++v) made[static_cast<std::size_t>(v)] = FormatPrintNumber(v) + "\r\n";
    return made;
  }();
  return lines;
}

std::string IndexLine(int last) { return FormatPrintNumber(last) + "\r\n"; }

// Appends the lines of frames first..last, each `frame_bytes` long, row f at `rows` plus f
// times `stride`.
void AppendRowLines(const uint8_t* rows, std::size_t stride, std::size_t frame_bytes, int first,
                    int last, std::string& text) {
  const auto& lines = SampleLines();
  text.reserve(text.size() + static_cast<std::size_t>(last - first + 1) * frame_bytes * 7);
  for (int frame = first; frame <= last; ++frame) {
    const uint8_t* row = rows + static_cast<std::size_t>(frame) * stride;
    for (std::size_t b = 0; b < frame_bytes; ++b) text += lines[row[b]];
  }
}

// Appends the lines of the state's frames first..last.
void AppendFrameLines(const MeasurementState& state, int first, int last, std::string& text) {
  AppendRowLines(state.Row(0), kFrameRowBytes,
                 2 * static_cast<std::size_t>(EffectiveBufferSize(state)), first, last, text);
}

std::string NothingToWrite(const std::filesystem::path& path) {
  return "There is no raw data to write yet: nothing has been captured or read. \"" +
         path.string() + "\" was not changed.";
}

}  // namespace

std::string RawDataText(const MeasurementState& state) {
  const int last = std::min<int>(state.CurrentFrame, kLastFrame);
  std::string text = IndexLine(last);
  if (state.BufferSize <= 0 || last < 0) return text;
  AppendFrameLines(state, 0, last, text);
  return text;
}

std::string RawDataText(const uint8_t* frames, int count, std::size_t frame_bytes) {
  const int last = std::min(count, kFrameCount) - 1;
  std::string text = IndexLine(last);
  if (last >= 0) AppendRowLines(frames, frame_bytes, frame_bytes, 0, last, text);
  return text;
}

void AnalyseStoredFrames(MeasurementState& state, Display& display, int count,
                         const std::vector<PreciseReading>* precise) {
  BeginReplay(state, display);
  for (int frame = 0; frame < count; ++frame) {
    state.CurrentFrame = static_cast<int16_t>(frame);
    const auto at = static_cast<std::size_t>(frame);
    state.PreciseResults[at] =
        precise != nullptr && at < precise->size() ? (*precise)[at] : PreciseReading{};
    AnalyzeFrame(state, display);
  }
}

Message WriteRawData(const MeasurementState& state, const std::filesystem::path& path) {
  if (state.BufferSize <= 0) return WarningMessage(NothingToWrite(path));
  if (auto error = WriteFileAtomically(path, RawDataText(state))) {
    return WarningMessage(std::move(*error));
  }
  return DoneMessage();
}

RawDataAppender::~RawDataAppender() { Close(); }

void RawDataAppender::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool RawDataAppender::StillWritten(bool& longer) const {
  struct stat named {};
  if (::stat(path_.c_str(), &named) != 0 || named.st_dev != device_ || named.st_ino != inode_ ||
      named.st_size < size_) {
    return false;
  }
  longer = named.st_size > size_;
  return true;
}

Status RawDataAppender::Write(const MeasurementState& state, int last) {
  if (state.BufferSize <= 0) return Error{NothingToWrite(path_)};
  const std::size_t frame_bytes = 2 * static_cast<std::size_t>(EffectiveBufferSize(state));
  const std::string index = IndexLine(last);
  std::string text;
  bool longer = false;
  if (fd_ >= 0 && frame_bytes == frame_bytes_ && last >= last_ && index.size() == index_size_ &&
      StillWritten(longer)) {
    if (last == last_ && !longer) return Ok();
    AppendFrameLines(state, last_ + 1, last, text);
    // What a failed append left is cut off, so that a lasting failure (a full disk) costs a
    // frame's lines per frame, not the whole file. The frames reach the disk before line 1
    // announces them.
    int error_number = longer && ::ftruncate(fd_, size_) != 0 ? errno : 0;
    if (error_number == 0 && ::lseek(fd_, size_, SEEK_SET) < 0) error_number = errno;
    if (error_number == 0) error_number = WriteFileBytes(fd_, text);
    if (error_number == 0 && ::fdatasync(fd_) != 0) error_number = errno;
    if (error_number == 0 && ::lseek(fd_, 0, SEEK_SET) < 0) error_number = errno;
    if (error_number == 0) error_number = WriteFileBytes(fd_, index);
    if (error_number == 0 && ::fdatasync(fd_) != 0) error_number = errno;
    if (error_number != 0) return Error{WriteFailureText(path_, error_number)};
    size_ += static_cast<long long>(text.size());
    last_ = last;
    return Ok();
  }

  // The whole file, one frame's text at a time.
  Close();
  long long size = static_cast<long long>(index.size());
  int next_frame = -1;
  auto error = WriteFileAtomically(path_, [&]() -> std::string_view {
    if (next_frame < 0) {
      next_frame = 0;
      return index;
    }
    if (next_frame > last) return {};
    text.clear();
    AppendFrameLines(state, next_frame, next_frame, text);
    ++next_frame;
    size += static_cast<long long>(text.size());
    return text;
  });
  if (error) return Error{std::move(*error)};
  // The file is whole on disk; should it not open now, the next call replaces it again.
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
  struct stat opened {};
  if (fd_ >= 0 && ::fstat(fd_, &opened) != 0) Close();
  if (fd_ >= 0) {
    device_ = opened.st_dev;
    inode_ = opened.st_ino;
  }
  frame_bytes_ = frame_bytes;
  index_size_ = index.size();
  size_ = size;
  last_ = last;
  return Ok();
}

RawReadOutcome ReadRawData(MeasurementState& state, Display& display,
                           const std::filesystem::path& path, ReadableFiles accept) {
  std::string reason;
  const int fd = OpenForReading(path, accept, reason);
  if (fd < 0) return Invalid(ReadProblem(path.string(), reason));
  // Declared before the source, so that a thread reading ahead has ended before the close.
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } const closer{fd};
  struct stat info {};
  const bool sized = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0;
  const auto file_size = static_cast<std::size_t>(sized ? info.st_size : 0);
  // A large regular file is read ahead while the text before is taken apart, unless no thread
  // can be started; a small one needs no more room than itself (and one byte to see its end).
  std::unique_ptr<PieceSource> pieces;
  if (sized && file_size > kWholeFileAtOnce) {
    try {
      pieces = PiecesReadAhead(fd, kReadAheadPiece, kPieceRoom);
    } catch (const std::system_error&) {
    }
  }
  if (!pieces) {
    pieces = PiecesOnDemand(
        [fd](char* buffer, std::size_t size) { return ::read(fd, buffer, size); },
        sized && file_size <= kWholeFileAtOnce ? std::max(file_size + 1, kSmallestPiece)
                                               : kReadAheadPiece,
        kPieceRoom);
  }
  ChunkedText source(std::move(pieces));
  return ReadFrom(source, state, display, path.string());
}

RawReadOutcome ReadRawDataText(MeasurementState& state, Display& display, std::string_view text,
                               const std::string& file_name) {
  ChunkedText source(text);
  return ReadFrom(source, state, display, file_name);
}

RawReadOutcome ReadRawDataInPieces(MeasurementState& state, Display& display, std::string_view text,
                                   const std::string& file_name, std::size_t piece_size) {
  piece_size = std::max<std::size_t>(piece_size, 1);
  std::size_t offset = 0;
  // The room in front of each piece as small as the piece, so that lines longer than it take
  // the path of long lines.
  ChunkedText source(PiecesOnDemand(
      [&](char* buffer, std::size_t size) {
        const std::size_t n = std::min({size, piece_size, text.size() - offset});
        if (n > 0) std::memcpy(buffer, text.data() + offset, n);
        offset += n;
        return static_cast<ssize_t>(n);
      },
      piece_size, piece_size));
  return ReadFrom(source, state, display, file_name);
}

namespace {

thread_local RawReadWork last_work;

RawReadOutcome ReadFrom(ChunkedText& source, MeasurementState& state, Display& display,
                        const std::string& file_name) {
  const auto read_failed = [&] {
    return Invalid(ReadProblem(file_name, ErrorText(source.error())));
  };
  NumberLines lines(source);
  struct Tally {
    const NumberLines& lines;
    const ChunkedText& source;
    ~Tally() { last_work = {lines.scanned(), source.copied()}; }
  } const tally{lines, source};
  double value = 0;
  std::string problem;

  // Line 1: the last frame.
  switch (lines.Next(value, problem)) {
    case NumberLines::Result::End:
      if (source.error() != 0) return read_failed();
      return Invalid(
          ReadProblem(file_name, "the file is empty; line 1 should hold the last frame"));
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
  const ReadBuffer sample_store(wanted);  // at most 4 MB
  uint8_t* const samples = reinterpret_cast<uint8_t*>(sample_store.data());
  std::size_t count = 0;
  while (count < wanted) {
    count += lines.TakePlainSamples(samples + count, wanted - count);
    if (count == wanted) break;
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
    samples[count++] = static_cast<uint8_t>(value);
  }
  if (source.error() != 0) return read_failed();

  state.QuillRecordFreq = kCaptureRate;
  if (state.BufferSize <= 0) state.BufferSize = kCaptureBufferSize;

  const int complete = static_cast<int>(count / frame_bytes);
  for (int frame = 0; frame < complete; ++frame) {
    std::memcpy(state.Row(frame), samples + static_cast<std::size_t>(frame) * frame_bytes,
                frame_bytes);
  }
  AnalyseStoredFrames(state, display, complete);
  const std::size_t partial = count % frame_bytes;
  if (partial > 0) {
    // The frame that ran into the end of the file keeps what was read into it.
    std::memcpy(state.Row(complete), samples + count - partial, partial);
  }

  if (count == wanted) return RawReadOutcome{RawReadStatus::Done, DoneMessage(), complete};

  std::string message = "\"" + file_name + "\" ended early: line 1 announces frames 0 to " +
                        std::to_string(last) + ", but ";
  message += complete == 0 ? std::string("no complete frame was read.")
                           : "only frames 0 to " + std::to_string(complete - 1) +
                                 " were complete; they were read and analysed.";
  if (count % 2 != 0) message += " The file ends between the two bytes of a sample pair.";
  return RawReadOutcome{RawReadStatus::EndedEarly, WarningMessage(std::move(message)), complete};
}

}  // namespace

RawReadWork LastRawReadWork() { return last_work; }

}  // namespace fc
