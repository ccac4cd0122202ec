#include "files/run_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "analysis/number_text.h"
#include "files/atomic_file.h"
#include "files/raw_data_file.h"

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

// "<stem><extension>" in `directory`, or "<stem> (2)<extension>" and on when that is taken:
// a run put aside never replaces another.
std::filesystem::path FreeName(const std::filesystem::path& directory, const std::string& stem,
                               const std::string& extension) {
  std::filesystem::path name = directory / (stem + extension);
  for (int n = 2; std::filesystem::exists(name) && n < 1000; ++n) {
    name = directory / (stem + " (" + std::to_string(n) + ")" + extension);
  }
  return name;
}

}  // namespace

JournalSettings SettingsOf(const MeasurementState& state) {
  return JournalSettings{
      state.QuillRecordFreq,     state.ConsecutivePoints, state.SecondPointOffset,
      state.ThirdPointOffset,    state.MaxLimitCounts,    state.JumpCounts,
      state.LookForZeroCrossing, state.UseHiResTime,      state.AnticCounts};
}

std::string JournalHeaderBytes(std::time_t started, const JournalSettings& settings,
                               uint32_t frame_bytes) {
  std::string out(kMagic);
  PutLe(out, kRunJournalVersion, 4);
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
                               uint32_t frame_bytes) {
  std::string out;
  out.reserve(frame_bytes + kJournalRecordExtraBytes);
  PutLe(out, static_cast<uint32_t>(frame), 4);
  PutLe(out, std::bit_cast<uint32_t>(start_time), 4);
  out.append(reinterpret_cast<const char*>(bytes), frame_bytes);
  PutCrc(out);
  return out;
}

std::optional<JournalContents> ParseJournal(std::string_view bytes, std::string* problem) {
  const auto fail = [&](const char* why) -> std::optional<JournalContents> {
    if (problem != nullptr) *problem = why;
    return std::nullopt;
  };
  if (bytes.size() < kJournalHeaderBytes) return fail("it is shorter than its header");
  const std::string_view header = bytes.substr(0, kJournalHeaderBytes);
  if (header.substr(0, kMagic.size()) != kMagic) return fail("it is not a journal of runs");
  if (!CrcMatches(header)) return fail("its header is damaged");
  if (GetLe(header, 8, 4) != kRunJournalVersion) return fail("it is of an unknown version");
  JournalContents contents;
  contents.frame_bytes = static_cast<uint32_t>(GetLe(header, 12, 4));
  if (contents.frame_bytes == 0 || contents.frame_bytes % 2 != 0 ||
      contents.frame_bytes > kMaxFrameBytes) {
    return fail("its frame size is impossible");
  }
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

  const std::size_t record_size = contents.frame_bytes + kJournalRecordExtraBytes;
  std::size_t at = kJournalHeaderBytes;
  while (at + record_size <= bytes.size() && contents.frame_count() < kFrameCount) {
    const std::string_view record = bytes.substr(at, record_size);
    if (!CrcMatches(record) ||
        GetLe(record, 0, 4) != static_cast<uint64_t>(contents.frame_count())) {
      break;
    }
    contents.start_times.push_back(GetF32(record, 4));
    contents.frames.append(record.substr(8, contents.frame_bytes));
    at += record_size;
  }
  contents.damaged = at != bytes.size();
  return contents;
}

std::string JournalRawDataText(const JournalContents& contents) {
  MeasurementState run;
  run.BufferSize = static_cast<int32_t>(contents.frame_bytes / 2);
  run.CurrentFrame = static_cast<int16_t>(contents.frame_count() - 1);
  for (int frame = 0; frame < contents.frame_count(); ++frame) {
    std::memcpy(run.Row(frame),
                contents.frames.data() + static_cast<std::size_t>(frame) * contents.frame_bytes,
                contents.frame_bytes);
  }
  return RawDataText(run);
}

std::string LocalTimeText(std::time_t time, char time_separator) {
  std::tm local{};
  localtime_r(&time, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d%c%02d%c%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, time_separator, local.tm_min,
                time_separator, local.tm_sec);
  return text;
}

// --- RunJournal ---

RunJournal::~RunJournal() { Release(); }

std::string RunJournal::Problem(const char* what, int error_number) const {
  return std::string("Could not ") + what + " the journal \"" + path_.string() +
         "\": " + ErrorText(error_number) + ".";
}

RunJournal::Take RunJournal::TakeFile(bool create, std::string* error) {
  if (held()) return Take::Taken;
  const auto failed = [&](int error_number) {
    if (error != nullptr) *error = Problem("open", error_number);
    return Take::Failed;
  };
  // The holder may remove the file between our open and our lock: then the lock is on a file
  // nobody will see again, and the path is tried afresh.
  for (int attempt = 0; attempt < 20; ++attempt) {
    const int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
    if (fd < 0) return errno == ENOENT && !create ? Take::Missing : failed(errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error_number = errno;
      ::close(fd);
      if (error_number == EWOULDBLOCK) return Take::Busy;
      if (error_number == EINTR) continue;
      return failed(error_number);
    }
    struct stat held_file {};
    struct stat named_file {};
    if (::fstat(fd, &held_file) == 0 && ::stat(path_.c_str(), &named_file) == 0 &&
        held_file.st_dev == named_file.st_dev && held_file.st_ino == named_file.st_ino) {
      fd_ = fd;
      return Take::Taken;
    }
    ::close(fd);
  }
  return failed(EAGAIN);
}

std::optional<std::string> RunJournal::Begin(std::time_t started, const JournalSettings& settings,
                                             uint32_t frame_bytes) {
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
  return std::nullopt;
}

std::optional<std::string> RunJournal::Append(int frame, float start_time, const uint8_t* bytes) {
  const off_t offset =
      static_cast<off_t>(kJournalHeaderBytes) +
      static_cast<off_t>(frame) * static_cast<off_t>(frame_bytes_ + kJournalRecordExtraBytes);
  int error_number =
      WriteAllAt(fd_, JournalRecordBytes(frame, start_time, bytes, frame_bytes_), offset);
  if (error_number == 0 && ::fdatasync(fd_) != 0) error_number = errno;
  if (error_number != 0) return Problem("write", error_number);
  return std::nullopt;
}

std::optional<std::string> RunJournal::ReadAll(std::string* error) const {
  std::string bytes;
  char buffer[1 << 16];
  off_t offset = 0;
  for (;;) {
    const ssize_t n = ::pread(fd_, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error != nullptr) *error = Problem("read", errno);
      return std::nullopt;
    }
    if (n == 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
}

void RunJournal::Remove() {
  if (!held()) return;
  ::unlink(path_.c_str());  // still locked: no other window can have taken it meanwhile
  Release();
}

void RunJournal::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// --- JournalKeeper ---

Message RecoveryQuestion(int frames, std::time_t started) {
  return Message{"The last run (" + std::to_string(frames) + (frames == 1 ? " frame" : " frames") +
                     ", started " + LocalTimeText(started, ':') + ") was not saved. Recover it?",
                 MessageButtons::YesNo, MessageIcon::None, ""};
}

void JournalKeeper::OfferRecovery(MeasurementState& state, Display& display) {
  std::string error;
  if (journal_.TakeFile(false, &error) != RunJournal::Take::Taken) return;  // none, or in use
  const auto bytes = journal_.ReadAll(&error);
  if (!bytes) {
    journal_.Release();
    disabled_ = true;
    Tell(WarningMessage(error + " Runs are recorded without a journal until it is readable."));
    return;
  }
  std::string problem;
  const auto contents = ParseJournal(*bytes, &problem);
  if (!contents && !bytes->empty()) {
    // Not ours to judge: kept under another name for whoever wants to look at it.
    const std::filesystem::path aside =
        FreeName(directory_, std::string(kRunJournalFileName) + ".unreadable", "");
    std::error_code ec;
    std::filesystem::rename(journal_.path(), aside, ec);
    journal_.Release();
    std::string text = "The journal of the last run could not be read: " + problem + ". ";
    if (ec) {
      disabled_ = true;  // a new run would overwrite it
      text += "It could not be renamed (" + ec.message() +
              "); runs are recorded without a journal until it is moved.";
    } else {
      text += "It was kept as \"" + aside.string() + "\".";
    }
    Tell(WarningMessage(text));
    return;
  }
  if (!contents || contents->frame_count() == 0) {
    journal_.Remove();  // the run ended before its first frame: nothing to recover
    return;
  }
  const MessageAnswer answer =
      dialogs_.Show(RecoveryQuestion(contents->frame_count(), contents->started));
  if (answer == MessageAnswer::Yes) {
    Recover(*contents, state, display);
  } else {
    MoveAside(*contents);
  }
}

void JournalKeeper::Recover(const JournalContents& contents, MeasurementState& state,
                            Display& display) {
  const RawReadOutcome outcome =
      ReadRawDataText(state, display, JournalRawDataText(contents), journal_.path().string());
  for (int frame = 0; frame < outcome.frames_read; ++frame) {
    state.FrameStartTime[static_cast<std::size_t>(frame)] =
        contents.start_times[static_cast<std::size_t>(frame)];
  }
  // The journal stays: it backs the recovered run until the window closes or a new run
  // replaces it.
  if (contents.damaged && outcome.status == RawReadStatus::Done) {
    Tell(WarningMessage("The journal of the last run ends in a cut or damaged frame: its " +
                        std::to_string(outcome.frames_read) + " complete frames were recovered."));
  } else {
    Tell(outcome.message);
  }
}

void JournalKeeper::MoveAside(const JournalContents& contents) {
  const std::filesystem::path target =
      FreeName(directory_, "Recovered run " + LocalTimeText(contents.started, '-'), ".txt");
  if (auto error = WriteFileAtomically(target, JournalRawDataText(contents))) {
    journal_.Release();
    disabled_ = true;  // a new run would overwrite the journal that could not be moved
    Tell(WarningMessage(*error + " The last run stays in \"" + journal_.path().string() +
                        "\"; runs are recorded without a journal until it is moved."));
    return;
  }
  journal_.Remove();
  std::string text = "The last run was kept as \"" + target.string() + "\", in the format of " +
                     std::string(kRawDataFileName) + ".";
  if (contents.damaged) {
    text += " Its journal ended in a cut or damaged frame: its " +
            std::to_string(contents.frame_count()) + " complete frames were kept.";
  }
  Tell(Message{text, MessageButtons::Ok, MessageIcon::None, ""});
}

void JournalKeeper::RunStarted(const MeasurementState& state) {
  appending_ = false;
  std::string error;
  const RunJournal::Take take =
      disabled_ ? RunJournal::Take::Failed : journal_.TakeFile(true, &error);
  if (take == RunJournal::Take::Taken) {
    const auto failure = journal_.Begin(std::time(nullptr), SettingsOf(state),
                                        static_cast<uint32_t>(2 * state.BufferSize));
    if (!failure) {
      appending_ = true;
      return;
    }
    error = *failure;
  }
  if (told_no_journal_) return;
  told_no_journal_ = true;
  if (take == RunJournal::Take::Busy) {
    Tell(WarningMessage(
        "Another window of the program holds the run journal in this directory. This run is "
        "recorded without a journal: a crash would lose it."));
  } else if (!disabled_) {
    Tell(WarningMessage(error + " This run is recorded without a journal: a crash would lose it."));
  }
}

void JournalKeeper::FrameAnalysed(const MeasurementState& state, int frame) {
  if (!appending_) return;
  if (auto error = journal_.Append(frame, state.FrameStartTime[static_cast<std::size_t>(frame)],
                                   state.Row(frame))) {
    appending_ = false;
    Tell(WarningMessage(*error + " The rest of this run is recorded without a journal."));
  }
}

}  // namespace fc
