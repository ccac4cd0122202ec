#include "files/run_journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "files/raw_data_file.h"
#include "files/temp_dir.h"
#include "support/fakes.h"

namespace fc {
namespace {

using testing::FakeDisplay;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// A journal of `frames` records of `bytes` bytes each.
std::string JournalOf(int frames, uint32_t bytes) {
  const std::string frame(bytes, '\x7f');
  std::string out = JournalHeaderBytes(100, JournalSettings{}, bytes);
  for (int f = 0; f < frames; ++f) {
    out += JournalRecordBytes(f, 4.0f * f, reinterpret_cast<const uint8_t*>(frame.data()), bytes);
  }
  return out;
}

bool TakesAs(RunJournal& journal, bool create, RunJournal::Take expected) {
  const auto take = journal.TakeFile(create);
  return take && take.value() == expected;
}

// A pulse train whose spacing changes from frame to frame, so every frame has its own line.
void FillFrame(MeasurementState& state, int frame) {
  uint8_t* row = state.Row(frame);
  for (int j = 0; j < kCaptureBufferSize; ++j) {
    row[2 * j] = (j / (40 + 5 * frame)) % 2 == 0 ? 250 : 3;
    row[2 * j + 1] = static_cast<uint8_t>(128 + frame);
  }
}

TEST(RunJournalTest, RoundTripReadsBackAsReadRawDataWould) {
  TempDir dir;
  MeasurementState recorded;
  UpdateConsecutive(recorded);
  recorded.BufferSize = kCaptureBufferSize;
  recorded.QuillRecordFreq = kCaptureRate;
  recorded.AnticCounts = 50.0f;
  recorded.LookForZeroCrossing = 1;
  const std::time_t started = 1'765'000'000;

  RunJournal journal(dir / ".run-journal");
  const auto taken = journal.TakeFile(true);
  ASSERT_TRUE(taken && taken.value() == RunJournal::Take::Taken);
  ASSERT_TRUE(journal.Begin(started, SettingsOf(recorded), 2 * kCaptureBufferSize));
  for (int frame = 0; frame < 3; ++frame) {
    FillFrame(recorded, frame);
    recorded.FrameStartTime[frame] = 86398.5f + 4.0f * static_cast<float>(frame);
    ASSERT_TRUE(journal.Append(frame, recorded.FrameStartTime[frame], recorded.Row(frame)));
  }
  recorded.CurrentFrame = 2;

  const auto read = journal.Read(2 * kCaptureBufferSize);
  ASSERT_TRUE(read) << read.error();
  const JournalContents& contents = read.value();
  EXPECT_EQ(contents.condition, JournalCondition::Whole);
  EXPECT_EQ(contents.started, started);
  EXPECT_EQ(contents.settings, SettingsOf(recorded));
  EXPECT_EQ(contents.start_times, (std::vector<float>{86398.5f, 86402.5f, 86406.5f}));
  const std::string journal_text = RawDataText(contents.frame(0), 3, contents.frame_bytes);
  EXPECT_EQ(journal_text, RawDataText(recorded));

  // Recovery reads the frames exactly as Read Raw Data reads them from a file.
  const auto load = [](MeasurementState& state, FakeDisplay& display, const std::string& text) {
    UpdateConsecutive(state);
    return ReadRawDataText(state, display, text, "run");
  };
  MeasurementState from_journal, from_file;
  FakeDisplay journal_display, file_display;
  EXPECT_EQ(load(from_journal, journal_display, journal_text).frames_read, 3);
  EXPECT_EQ(load(from_file, file_display, RawDataText(recorded)).frames_read, 3);
  EXPECT_EQ(journal_display.log, file_display.log);
  EXPECT_EQ(std::count(journal_display.log.begin(), journal_display.log.end(), '\n'), 3);
  EXPECT_EQ(std::memcmp(from_journal.Row(0), recorded.Row(0), 3 * kFrameRowBytes), 0);
  EXPECT_EQ(from_journal.FrameResults, from_file.FrameResults);
}

// Version 2 keeps each frame's precise reading, and a recovery puts them back beside the frames;
// a version 1 journal still reads, its frames without readings.
TEST(RunJournalTest, PreciseReadingsAreKeptAndVersionOneStillReads) {
  constexpr uint32_t kBytes = 2 * kCaptureBufferSize;
  PreciseReading read_one;
  read_one.has_reading = true;
  read_one.period_s = 1.0 / 7.0;
  read_one.uncertainty_s = 3.25e-9;
  read_one.edges = 29;
  read_one.shortest_s = 0.142857;
  read_one.longest_s = 0.1428572;
  PreciseReading silent;
  silent.no_signal = true;
  const std::vector<PreciseReading> readings = {read_one, silent, PreciseReading{}};

  TempDir dir;
  MeasurementState recorded;
  RunJournal journal(dir / ".run-journal");
  ASSERT_TRUE(journal.TakeFile(true));
  ASSERT_TRUE(journal.Begin(100, JournalSettings{}, kBytes));
  for (int frame = 0; frame < 3; ++frame) {
    FillFrame(recorded, frame);
    ASSERT_TRUE(journal.Append(frame, 4.0f * static_cast<float>(frame), recorded.Row(frame),
                               readings[static_cast<std::size_t>(frame)]));
  }
  const auto read = journal.Read(kBytes);
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(read->condition, JournalCondition::Whole);
  EXPECT_EQ(read->version, 2u);
  EXPECT_EQ(read->precise, readings);
  for (int frame = 0; frame < 3; ++frame) {
    EXPECT_EQ(std::memcmp(read->frame(frame), recorded.Row(frame), kBytes), 0);
  }

  MeasurementState recovered;
  UpdateConsecutive(recovered);
  recovered.BufferSize = kCaptureBufferSize;
  recovered.QuillRecordFreq = kCaptureRate;
  FakeDisplay display;
  for (int frame = 0; frame < 3; ++frame) {
    std::memcpy(recovered.Row(frame), read->frame(frame), kBytes);
  }
  AnalyseStoredFrames(recovered, display, 3, &read->precise);
  EXPECT_TRUE(std::equal(readings.begin(), readings.end(), recovered.PreciseResults.begin()));
  AnalyseStoredFrames(recovered, display, 3);  // a raw file's frames have none
  EXPECT_EQ(recovered.PreciseResults[0], PreciseReading{});

  std::string old = JournalHeaderBytes(100, JournalSettings{}, kBytes, 1);
  for (int frame = 0; frame < 2; ++frame) {
    old += JournalRecordBytes(frame, 0.0f, recorded.Row(frame), kBytes, read_one, 1);
  }
  const JournalContents v1 = ParseJournal(old, kBytes);
  EXPECT_EQ(v1.condition, JournalCondition::Whole);
  EXPECT_EQ(v1.frame_count(), 2);
  EXPECT_EQ(v1.precise, (std::vector<PreciseReading>(2)));
  EXPECT_EQ(std::memcmp(v1.frame(1), recorded.Row(1), kBytes), 0);
}

TEST(RunJournalTest, CutOrDamagedJournalKeepsItsCompleteFrames) {
  constexpr uint32_t kBytes = 8;  // small frames: the boundaries are the same
  const uint8_t frame[kBytes] = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::size_t record = kBytes + kJournalRecordExtraBytes;
  std::string whole = JournalHeaderBytes(100, JournalSettings{}, kBytes);
  for (int f = 0; f < 3; ++f) whole += JournalRecordBytes(f, 1.5f * f, frame, kBytes);

  // Every cut: in the header, in each field of a record, and on each boundary.
  for (std::size_t size = 0; size <= whole.size(); ++size) {
    const auto contents = ParseJournal(std::string_view(whole).substr(0, size), kBytes);
    if (size < kJournalHeaderBytes) {
      EXPECT_EQ(contents.condition, JournalCondition::Unreadable) << size;
      EXPECT_EQ(contents.problem, "it is shorter than its header");
      continue;
    }
    const std::size_t after_header = size - kJournalHeaderBytes;
    EXPECT_EQ(contents.frame_count(), static_cast<int>(after_header / record)) << size;
    EXPECT_EQ(contents.frames.size(), after_header / record * kBytes) << size;
    EXPECT_EQ(contents.condition,
              after_header % record != 0 ? JournalCondition::Cut : JournalCondition::Whole)
        << size;
  }

  const auto frames_of = [&](const std::string& bytes) {
    const auto contents = ParseJournal(bytes, kBytes);
    return contents.condition == JournalCondition::Unreadable ? -1 : contents.frame_count();
  };
  // A damaged or misplaced record is passed over; the intact ones after it are kept.
  std::string flipped = whole;
  flipped[kJournalHeaderBytes + record + 10] ^= 0x40;  // a byte of frame 1
  const auto passed_over = ParseJournal(flipped, kBytes);
  EXPECT_EQ(passed_over.condition, JournalCondition::Damaged);
  EXPECT_EQ(passed_over.skipped, 1);
  EXPECT_EQ(passed_over.start_times, (std::vector<float>{0.0f, 3.0f}));
  std::string misplaced = whole.substr(0, kJournalHeaderBytes + record) +
                          JournalRecordBytes(2, 0.0f, frame, kBytes);  // frame 1 missing
  EXPECT_EQ(frames_of(misplaced), 1);
  std::string bad_header = whole;
  bad_header[20] ^= 1;
  EXPECT_EQ(ParseJournal(bad_header, kBytes).condition, JournalCondition::Damaged);
  EXPECT_EQ(ParseJournal(bad_header, kBytes).problem, "its header is damaged");
  EXPECT_EQ(frames_of(JournalHeaderBytes(100, JournalSettings{}, 4097)), 0);
  EXPECT_EQ(frames_of("Raw data, not a journal: " + whole), -1);
}

// Only a regular file at the path itself is ever opened: a link (to a file, or leading nowhere)
// and a FIFO are refused untouched, and a file that can be read but not written is still read.
TEST(RunJournalTest, TakesOnlyARegularFileAtItsOwnPath) {
  TempDir dir;
  const auto path = dir / ".run-journal";
  WriteBytes(dir / "precious", std::string(10000, 'p'));
  std::filesystem::create_symlink(dir / "precious", path);
  RunJournal linked(path);
  EXPECT_TRUE(TakesAs(linked, true, RunJournal::Take::NotRegular));
  EXPECT_EQ(ReadBytes(dir / "precious"), std::string(10000, 'p'));

  std::filesystem::remove(path);
  std::filesystem::create_symlink(dir / "elsewhere", path);
  RunJournal dangling(path);
  EXPECT_TRUE(TakesAs(dangling, true, RunJournal::Take::NotRegular));
  EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));

  std::filesystem::remove(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  RunJournal fifo(path);
  EXPECT_TRUE(TakesAs(fifo, false, RunJournal::Take::NotRegular));  // and it did not hang

  // Read-only: tried as an ordinary user, since root may write any file.
  std::filesystem::remove(path);
  WriteBytes(path, JournalOf(3, 2048));
  ::chmod(path.c_str(), 0444);
  ::chmod(dir.path().c_str(), 0755);
  const auto read_only = [&] {
    RunJournal journal(path);
    if (!TakesAs(journal, false, RunJournal::Take::Taken) || journal.writable()) return 1;
    const auto read = journal.Read(2048);
    if (!read || read.value().frame_count() != 3) return 2;
    const Status begun = journal.Begin(0, JournalSettings{}, 2048);
    return !begun && begun.error().find("Permission denied") != std::string::npos ? 0 : 3;
  };
  if (::geteuid() != 0) {
    EXPECT_EQ(read_only(), 0);
  } else {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
      ::_exit(!dropped ? 9 : read_only());
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  EXPECT_EQ(ReadBytes(path), JournalOf(3, 2048));
}

// However large the file says it is, no more than the header and the store's records are read,
// and a journal of frames of another size is damaged, with none of its frames taken.
TEST(RunJournalTest, ReadsWithinTheHeaderAndTheStore) {
  const std::string header = JournalHeaderBytes(100, JournalSettings{}, 2048);
  uint64_t furthest = 0;
  const JournalReader sparse = [&](char* buffer, std::size_t size,
                                   uint64_t offset) -> Result<std::size_t> {
    furthest = std::max<uint64_t>(furthest, offset + size);
    for (std::size_t i = 0; i < size; ++i) {
      buffer[i] = offset + i < header.size() ? header[offset + i] : '\0';
    }
    return size;
  };
  const auto read = ReadJournal(sparse, uint64_t{2} << 30, 2048);
  ASSERT_TRUE(read);
  EXPECT_LE(furthest, kJournalHeaderBytes + kFrameCount * (2048 + kJournalRecordExtraBytes));
  EXPECT_EQ(read.value().condition, JournalCondition::Damaged);
  EXPECT_EQ(read.value().frame_count(), 0);

  for (const uint32_t bytes : {1024u, 4094u}) {
    const auto other = ParseJournal(JournalOf(3, bytes), 2048);
    EXPECT_EQ(other.condition, JournalCondition::Damaged) << bytes;
    EXPECT_EQ(other.frame_count(), 0) << bytes;
  }
  EXPECT_EQ(ParseJournal(JournalOf(3, 2048), 2048).frame_count(), 3);
  // A reader's failure is the read's.
  const JournalReader failing = [](char*, std::size_t, uint64_t) -> Result<std::size_t> {
    return Error{"Could not read the journal: Input/output error."};
  };
  const auto failed = ReadJournal(failing, 5000, 2048);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), "Could not read the journal: Input/output error.");
}

}  // namespace
}  // namespace fc
