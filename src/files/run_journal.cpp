#include "files/run_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <cstring>
#include <utility>

#include "files/atomic_file.h"

namespace fc {

namespace {

constexpr std::string_view kMagic = "FCRUNJNL";
constexpr uint32_t kMaxFrameBytes = kFrameRowBytes - 1;

uint32_t Crc32(std::string_view bytes) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (char byte : bytes)
    crc = table[(crc ^ static_cast<unsigned char>(byte)) & 0xFFu] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void PutLe(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFFu);
}

uint64_t GetLe(std::string_view in, std::size_t at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) {
    value |= static_cast<uint64_t>(static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]))
             << (8 * i);
  }
  return value;
}

void PutCrc(std::string& out) { PutLe(out, Crc32(out), 4); }

bool CrcMatches(std::string_view block) {
  const std::size_t body = block.size() - 4;
  return Crc32(block.substr(0, body)) == GetLe(block, body, 4);
}

int16_t GetI16(std::string_view in, std::size_t at) {
  return static_cast<int16_t>(static_cast<uint16_t>(GetLe(in, at, 2)));
}
float GetF32(std::string_view in, std::size_t at) {
  return std::bit_cast<float>(static_cast<uint32_t>(GetLe(in, at, 4)));
}
double GetF64(std::string_view in, std::size_t at) {
  return std::bit_cast<double>(GetLe(in, at, 8));
}

// The edge timer's reading kept in a version 2 record at `at`.
PreciseReading GetPrecise(std::string_view in, std::size_t at) {
  PreciseReading reading;
  const auto flags = static_cast<uint32_t>(GetLe(in, at, 4));
  reading.has_reading = (flags & 1u) != 0;
  reading.no_signal = (flags & 2u) != 0;
  reading.edges = static_cast<int32_t>(static_cast<uint32_t>(GetLe(in, at + 4, 4)));
  reading.period_s = GetF64(in, at + 8);
  reading.uncertainty_s = GetF64(in, at + 16);
  reading.shortest_s = GetF64(in, at + 24);
  reading.longest_s = GetF64(in, at + 32);
  return reading;
}

// Writes all of `bytes` at `offset`; 0 or the errno of the failure.
int WriteAllAt(int fd, std::string_view bytes, off_t offset) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

JournalSettings SettingsOf(const MeasurementState& state) {
  return JournalSettings{
      state.QuillRecordFreq,     state.ConsecutivePoints, state.SecondPointOffset,
      state.ThirdPointOffset,    state.MaxLimitCounts,    state.JumpCounts,
      state.LookForZeroCrossing, state.UseHiResTime,      state.AnticCounts};
}

std::string JournalHeaderBytes(std::time_t started, const JournalSettings& settings,
                               uint32_t frame_bytes, uint32_t version) {
  std::string out(kMagic);
  PutLe(out, version, 4);
  PutLe(out, frame_bytes, 4);
  PutLe(out, static_cast<uint64_t>(static_cast<int64_t>(started)), 8);
  PutLe(out, std::bit_cast<uint32_t>(settings.QuillRecordFreq), 4);
  for (int16_t value : {settings.ConsecutivePoints, settings.SecondPointOffset,
                        settings.ThirdPointOffset, settings.MaxLimitCounts, settings.JumpCounts,
                        settings.LookForZeroCrossing, settings.UseHiResTime, int16_t{0}}) {
    PutLe(out, static_cast<uint16_t>(value), 2);
  }
  PutLe(out, std::bit_cast<uint32_t>(settings.AnticCounts), 4);
  out.append(12, '\0');
  PutCrc(out);
  return out;
}

std::string JournalRecordBytes(int frame, float start_time, const uint8_t* bytes,
                               uint32_t frame_bytes, const PreciseReading& precise,
                               uint32_t version) {
  std::string out;
  out.reserve(frame_bytes + kJournalRecordExtraBytes);
  PutLe(out, static_cast<uint32_t>(frame), 4);
  PutLe(out, std::bit_cast<uint32_t>(start_time), 4);
  out.append(reinterpret_cast<const char*>(bytes), frame_bytes);
  if (version == 1) {
    PutCrc(out);
    return out;
  }
  PutLe(out, (precise.has_reading ? 1u : 0u) | (precise.no_signal ? 2u : 0u), 4);
  PutLe(out, static_cast<uint32_t>(precise.edges), 4);
  for (double value :
       {precise.period_s, precise.uncertainty_s, precise.shortest_s, precise.longest_s}) {
    PutLe(out, std::bit_cast<uint64_t>(value), 8);
  }
  PutCrc(out);
  return out;
}


void ApplySettings(const JournalSettings& settings, MeasurementState& state) {
  state.QuillRecordFreq = settings.QuillRecordFreq;
  state.ConsecutivePoints = settings.ConsecutivePoints;
  state.SecondPointOffset = settings.SecondPointOffset;
  state.ThirdPointOffset = settings.ThirdPointOffset;
  state.MaxLimitCounts = settings.MaxLimitCounts;
  state.JumpCounts = settings.JumpCounts;
  state.LookForZeroCrossing = settings.LookForZeroCrossing;
  state.UseHiResTime = settings.UseHiResTime;
  state.AnticCounts = settings.AnticCounts;
}

namespace {

// Fills `buffer` from `offset` on as far as the file goes: the count read.
Result<std::size_t> ReadAt(const JournalReader& read, std::string& buffer, uint64_t offset) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    auto got = read(buffer.data() + done, buffer.size() - done, offset + done);
    if (!got) return got;
    if (got.value() == 0) break;
    done += got.value();
  }
  return done;
}

// The header fields after the version, as version 1 lays them out.
void ParseHeaderV1(std::string_view header, JournalContents& contents) {
  contents.frame_bytes = static_cast<uint32_t>(GetLe(header, 12, 4));
  contents.started = static_cast<std::time_t>(static_cast<int64_t>(GetLe(header, 16, 8)));
  JournalSettings& s = contents.settings;
  s.QuillRecordFreq = GetF32(header, 24);
  s.ConsecutivePoints = GetI16(header, 28);
  s.SecondPointOffset = GetI16(header, 30);
  s.ThirdPointOffset = GetI16(header, 32);
  s.MaxLimitCounts = GetI16(header, 34);
  s.JumpCounts = GetI16(header, 36);
  s.LookForZeroCrossing = GetI16(header, 38);
  s.UseHiResTime = GetI16(header, 40);
  s.AnticCounts = GetF32(header, 44);
}

}  // namespace

Result<JournalContents> ReadJournal(const JournalReader& read, uint64_t file_size,
                                    uint32_t frame_bytes) {
  JournalContents contents;
  const auto judged = [&](JournalCondition condition, std::string problem) {
    contents.condition = condition;
    contents.problem = std::move(problem);
    return Result<JournalContents>(std::move(contents));
  };
  std::string header(kJournalHeaderBytes, '\0');
  const auto got = ReadAt(read, header, 0);
  if (!got) return Error{got.error()};
  if (got.value() < kJournalHeaderBytes) {
    return judged(JournalCondition::Unreadable, "it is shorter than its header");
  }
  if (std::string_view(header).substr(0, kMagic.size()) != kMagic) {
    return judged(JournalCondition::Unreadable, "it is not a journal of runs");
  }
  if (!CrcMatches(header)) return judged(JournalCondition::Damaged, "its header is damaged");
  contents.version = static_cast<uint32_t>(GetLe(header, 8, 4));
  switch (contents.version) {
    case 1:
    case 2:  // the same header; its records also hold the precise reading
      ParseHeaderV1(header, contents);
      break;
    default:
      return judged(JournalCondition::Unreadable,
                    "it is of version " + std::to_string(contents.version) +
                        ", which this program cannot read");
  }
  if (contents.frame_bytes == 0 || contents.frame_bytes % 2 != 0 ||
      contents.frame_bytes > kMaxFrameBytes) {
    return judged(JournalCondition::Damaged, "its frame size is impossible");
  }
  if (contents.frame_bytes != frame_bytes) {
    return judged(JournalCondition::Damaged,
                  "its frames are of " + std::to_string(contents.frame_bytes) + " bytes, not the " +
                      std::to_string(frame_bytes) + " bytes this window records");
  }

  // Only what the header announces and the store holds is read, however large the file says
  // it is.
  const uint64_t record_size =
      contents.frame_bytes +
      (contents.version == 1 ? kJournalV1RecordExtraBytes : kJournalRecordExtraBytes);
  const uint64_t body = file_size > kJournalHeaderBytes ? file_size - kJournalHeaderBytes : 0;
  uint64_t records = body / record_size;
  bool cut = body % record_size != 0;
  const bool beyond_store = records > static_cast<uint64_t>(kFrameCount);
  if (beyond_store) {
    records = kFrameCount;
    cut = false;
  }
  std::string record(record_size, '\0');
  for (uint64_t position = 0; position < records; ++position) {
    const auto read_now = ReadAt(read, record, kJournalHeaderBytes + position * record_size);
    if (!read_now) return Error{read_now.error()};
    if (read_now.value() < record_size) {  // the file got shorter while it was read
      cut = true;
      break;
    }
    if (!CrcMatches(record) || GetLe(record, 0, 4) != position) {
      ++contents.skipped;  // those after it may still be intact
      continue;
    }
    contents.start_times.push_back(GetF32(record, 4));
    contents.frames.append(record, 8, contents.frame_bytes);
    contents.precise.push_back(
        contents.version == 1 ? PreciseReading{} : GetPrecise(record, 8 + contents.frame_bytes));
  }
  if (beyond_store) {
    return judged(JournalCondition::Damaged, "it holds more than the " +
                                                 std::to_string(kFrameCount) +
                                                 " frames of a run");
  }
  if (contents.skipped > 0) {
    return judged(JournalCondition::Damaged,
                  contents.skipped == 1
                      ? std::string("1 of its frames is damaged or out of place")
                      : std::to_string(contents.skipped) +
                            " of its frames are damaged or out of place");
  }
  return judged(cut ? JournalCondition::Cut : JournalCondition::Whole, "");
}

JournalContents ParseJournal(std::string_view bytes, uint32_t frame_bytes) {
  const JournalReader from_memory = [bytes](char* buffer, std::size_t size,
                                            uint64_t offset) -> Result<std::size_t> {
    if (offset >= bytes.size()) return std::size_t{0};
    const std::size_t n = std::min<std::size_t>(size, bytes.size() - offset);
    std::memcpy(buffer, bytes.data() + offset, n);
    return n;
  };
  return std::move(ReadJournal(from_memory, bytes.size(), frame_bytes)).value();
}

std::optional<std::string> LocalTimeText(std::time_t time, char time_separator) {
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr || local.tm_year + 1900 < 1970 ||
      local.tm_year + 1900 > 9999) {
    return std::nullopt;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d%c%02d%c%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, time_separator, local.tm_min,
                time_separator, local.tm_sec);
  return std::string(text);
}

// --- RunJournal ---

RunJournal::~RunJournal() { Release(); }

Error RunJournal::Problem(const char* what, int error_number) const {
  return Error{std::string("Could not ") + what + " the journal \"" + path_.string() +
               "\": " + ErrorText(error_number) + "."};
}

Result<RunJournal::Take> RunJournal::TakeFile(bool create) {
  if (held()) return Take::Taken;
  const auto is_regular = [](const struct stat& info) { return S_ISREG(info.st_mode); };
  // The holder may remove the file between our open and our lock: then the lock is on a file
  // nobody will see again, and the path is tried afresh.
  for (int attempt = 0; attempt < 20; ++attempt) {
    struct stat named_file {};
    if (::lstat(path_.c_str(), &named_file) == 0 && !is_regular(named_file)) {
      return Take::NotRegular;  // never opened: a link, a FIFO or a device is not ours to touch
    }
    // Non-blocking, so that something put in its place meanwhile cannot hang the open.
    constexpr int kNoFollow = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int write_error = 0;
    int fd = ::open(path_.c_str(), O_RDWR | kNoFollow | (create ? O_CREAT : 0), 0666);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
      // A journal that can be read but not written is still a run to offer back.
      write_error = errno;
      fd = ::open(path_.c_str(), O_RDONLY | kNoFollow);
      if (fd < 0 && errno == ENOENT) return Problem("create", write_error);
    }
    if (fd < 0) {
      const int error_number = errno;
      if (error_number == ENOENT && !create) return Take::Missing;
      if (error_number == ELOOP || error_number == EISDIR || error_number == ENXIO) {
        return Take::NotRegular;
      }
      return Problem("open", error_number);
    }
    struct stat held_file {};
    if (::fstat(fd, &held_file) != 0 || !is_regular(held_file)) {
      ::close(fd);
      return Take::NotRegular;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error_number = errno;
      ::close(fd);
      if (error_number == EWOULDBLOCK) return Take::Busy;
      if (error_number == EINTR) continue;
      return Problem("lock", error_number);
    }
    if (::lstat(path_.c_str(), &named_file) == 0 && held_file.st_dev == named_file.st_dev &&
        held_file.st_ino == named_file.st_ino) {
      fd_ = fd;
      write_error_ = write_error;
      return Take::Taken;
    }
    ::close(fd);
  }
  return Problem("open", EAGAIN);
}

Status RunJournal::Begin(std::time_t started, const JournalSettings& settings,
                         uint32_t frame_bytes) {
  if (write_error_ != 0) return Problem("write", write_error_);
  frame_bytes_ = frame_bytes;
  int error_number = ::ftruncate(fd_, 0) == 0 ? 0 : errno;
  if (error_number == 0) {
    error_number = WriteAllAt(fd_, JournalHeaderBytes(started, settings, frame_bytes), 0);
  }
  if (error_number == 0 && ::fdatasync(fd_) != 0) error_number = errno;
  if (error_number != 0) return Problem("write", error_number);
  // The new file's name must be on disk too, or a power cut could lose the whole file.
  const int dir_fd = ::open(path_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return Ok();
}

Status RunJournal::Append(int frame, float start_time, const uint8_t* bytes,
                          const PreciseReading& precise) {
  const off_t offset =
      static_cast<off_t>(kJournalHeaderBytes) +
      static_cast<off_t>(frame) * static_cast<off_t>(frame_bytes_ + kJournalRecordExtraBytes);
  int error_number =
      WriteAllAt(fd_, JournalRecordBytes(frame, start_time, bytes, frame_bytes_, precise), offset);
  if (error_number == 0 && ::fdatasync(fd_) != 0) error_number = errno;
  if (error_number != 0) return Problem("write", error_number);
  return Ok();
}

Result<uint64_t> RunJournal::Size() const {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) return Problem("read", errno);
  return static_cast<uint64_t>(info.st_size);
}

Result<JournalContents> RunJournal::Read(uint32_t frame_bytes) const {
  const auto size = Size();
  if (!size) return Error{size.error()};
  const JournalReader from_file = [this](char* buffer, std::size_t want,
                                         uint64_t offset) -> Result<std::size_t> {
    for (;;) {
      const ssize_t n = ::pread(fd_, buffer, want, static_cast<off_t>(offset));
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno != EINTR) return Problem("read", errno);
    }
  };
  return ReadJournal(from_file, size.value(), frame_bytes);
}

Result<std::filesystem::path> RunJournal::MoveAside(const std::string& name) {
  const std::filesystem::path directory = path_.parent_path();
  for (uint64_t n = 1;; ++n) {
    const std::filesystem::path target =
        directory / (n == 1 ? name : name + " (" + std::to_string(n) + ")");
    int error_number = 0;
    if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
      error_number = errno;
      if (error_number == EINVAL || error_number == ENOSYS) {
        // A file system without the no-replace rename: a link fails on a taken name too.
        error_number = ::link(path_.c_str(), target.c_str()) == 0 ? 0 : errno;
        if (error_number == 0) ::unlink(path_.c_str());
      }
    }
    if (error_number == 0) {
      Release();
      return target;
    }
    if (error_number != EEXIST) return Problem("rename", error_number);
  }
}

Status RunJournal::Remove() {
  if (!held()) return Ok();
  // Still locked while it goes: no other window can have taken it meanwhile.
  const int error_number = ::unlink(path_.c_str()) == 0 ? 0 : errno;
  Release();
  if (error_number != 0) return Problem("remove", error_number);
  return Ok();
}

void RunJournal::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  write_error_ = 0;
}

}  // namespace fc
