#include "files/raw_data_file.h"

#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

#include "files/atomic_file.h"
#include "files/temp_dir.h"
#include "support/fakes.h"

namespace fc {
namespace {

using testing::FakeDisplay;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

std::string Row(const MeasurementState& state, int frame, int count) {
  return std::string(reinterpret_cast<const char*>(state.Row(frame)),
                     static_cast<std::size_t>(count));
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes += static_cast<char>(v);
  return bytes;
}

int Count(const std::string& text, const std::string& what) {
  int count = 0;
  for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
    ++count;
  return count;
}

// Two pairs per frame keep the files small enough to write by hand; the detector examines no
// points in such a short frame, but it still publishes one line per frame.
class RawDataFileTest : public ::testing::Test {
 protected:
  RawDataFileTest() {
    state.BufferSize = 2;
    for (int f = 0; f < 4; ++f) std::memset(state.Row(f), 99, 8);
  }

  RawReadOutcome Read(const std::string& contents) {
    WriteBytes(path, contents);
    return ReadRawData(state, display, path);
  }

  // Asserts that a read changed nothing at all.
  void ExpectUntouched(const RawReadOutcome& outcome, int16_t buffer_size = 2) {
    EXPECT_EQ(outcome.status, RawReadStatus::Invalid);
    EXPECT_EQ(outcome.message.icon, MessageIcon::Exclamation);
    EXPECT_EQ(outcome.message.buttons, MessageButtons::Ok);
    EXPECT_EQ(outcome.message.title, "");
    EXPECT_NE(outcome.message.text.find(path.string()), std::string::npos) << outcome.message.text;
    EXPECT_EQ(Row(state, 0, 8), std::string(8, 99));
    EXPECT_EQ(Row(state, 1, 8), std::string(8, 99));
    EXPECT_EQ(display.log, "Text1");
    EXPECT_EQ(display.trace.clears, 0);
    EXPECT_EQ(display.scope.clears, 0);
    EXPECT_EQ(state.CurrentFrame, 7);
    EXPECT_EQ(state.QuillRecordFreq, 0.0f);
    EXPECT_EQ(state.BufferSize, buffer_size);
  }

  TempDir dir;
  std::filesystem::path path = dir / "Raw.txt";
  MeasurementState state;
  FakeDisplay display;
};

TEST_F(RawDataFileTest, WritesPrintFormLines) {
  state.CurrentFrame = 1;
  std::memcpy(state.Row(0), Bytes({0, 255, 7, 12}).data(), 4);
  std::memcpy(state.Row(1), Bytes({1, 2, 3, 4}).data(), 4);
  const std::string expected = " 1 \r\n 0 \r\n 255 \r\n 7 \r\n 12 \r\n 1 \r\n 2 \r\n 3 \r\n 4 \r\n";
  EXPECT_EQ(RawDataText(state), expected);
  EXPECT_EQ(WriteRawData(state, path), DoneMessage());
  EXPECT_EQ(ReadBytes(path), expected);
  // Writing changes nothing, so a second write gives the same file.
  EXPECT_EQ(state.CurrentFrame, 1);
  EXPECT_EQ(WriteRawData(state, path), DoneMessage());
  EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(RawDataFileTest, WriteWithNothingCapturedLeavesFileAlone) {
  state.BufferSize = 0;
  WriteBytes(path, "precious");
  const Message message = WriteRawData(state, path);
  EXPECT_EQ(message.icon, MessageIcon::Exclamation);
  EXPECT_NE(message.text.find(path.string()), std::string::npos);
  EXPECT_EQ(ReadBytes(path), "precious");
}

TEST_F(RawDataFileTest, FullStoreIsWrittenAsFrames0To1000) {
  state.BufferSize = 1024;
  state.CurrentFrame = 1001;
  state.Row(1000)[2047] = 42;
  state.Row(1001 - 1)[2048] = 77;  // beyond the frame: never written
  const std::string text = RawDataText(state);
  EXPECT_EQ(text.substr(0, 8), " 1000 \r\n");
  EXPECT_EQ(Count(text, "\r\n"), 2'050'049);
  const std::string tail = "\r\n 0 \r\n 42 \r\n";
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(RawDataFileTest, WriteFailureHalfWayKeepsOldFile) {
  state.CurrentFrame = 0;
  WriteBytes(path, "old raw file");
  Message message;
  {
    ScopedWriteFailure fault(3);
    message = WriteRawData(state, path);
  }
  EXPECT_EQ(message.icon, MessageIcon::Exclamation);
  EXPECT_NE(message.text.find(path.string()), std::string::npos) << message.text;
  EXPECT_NE(message.text.find("No space left on device"), std::string::npos) << message.text;
  EXPECT_EQ(ReadBytes(path), "old raw file");
}

// The file a run keeps, frame by frame: at every step the text RawDataText gives for it, across
// the widths of line 1, a file replaced behind the writer's back and a stale longer file, with
// the texts and refusals of WriteRawData.
TEST_F(RawDataFileTest, AppenderKeepsTheTextRawDataTextGives) {
  state.BufferSize = 1024;
  for (int f = 0; f <= kLastFrame; ++f) {
    for (int b = 0; b < 2048; ++b) state.Row(f)[b] = static_cast<uint8_t>((f * 7 + b * 13) % 256);
  }
  const auto expected = [&](int last) {
    const int16_t current = std::exchange(state.CurrentFrame, static_cast<int16_t>(last));
    std::string text = RawDataText(state);
    state.CurrentFrame = current;
    return text;
  };
  WriteBytes(path, expected(20) + "a longer file of an earlier run");
  {
    RawDataAppender appender(path);
    for (int last : {0, 1, 8, 9, 10, 11, 60, 99, 100, 101, 102, 998, 999, 999, 1000}) {
      if (last == 60) WriteBytes(path, "replaced by someone else");
      ASSERT_TRUE(appender.Write(state, last)) << last;
      // Compared, not printed: a diff of two files this long takes gigabytes.
      ASSERT_TRUE(ReadBytes(path) == expected(last)) << "the file differs after frame " << last;
    }
  }
  // Refusals stay those of a whole write, also when the file turns into one mid-run.
  RawDataAppender appender(path);
  ASSERT_TRUE(appender.Write(state, 2));
  std::filesystem::remove(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  const Status refused = appender.Write(state, 3);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), WriteRawData(state, path).text);
  state.BufferSize = 0;
  EXPECT_EQ(RawDataAppender(path).Write(state, 0).error(), WriteRawData(state, path).text);
}

// What a kill or a power cut can leave while frame 3 is added to frames 0..2: the new lines cut
// at any byte under the old line 1, which is overwritten only once they are on disk. Each such
// file reads frames 0..2 in full.
TEST_F(RawDataFileTest, AppendCutAtAnyByteReadsItsCompleteFrames) {
  state.BufferSize = 8;
  for (int b = 0; b < 4 * 16; ++b) state.Row(b / 16)[b % 16] = static_cast<uint8_t>(b * 37 % 256);
  const std::filesystem::path kept = dir / "kept.txt";
  RawDataAppender appender(kept);
  ASSERT_TRUE(appender.Write(state, 2));
  const std::string before = ReadBytes(kept);
  ASSERT_TRUE(appender.Write(state, 3));
  const std::string after = ReadBytes(kept);
  ASSERT_EQ(after.substr(0, 5), " 3 \r\n");
  ASSERT_EQ(after.substr(5, before.size() - 5), before.substr(5));
  const std::string added = after.substr(before.size());
  for (std::size_t cut = 0; cut < added.size(); ++cut) {
    const RawReadOutcome outcome = Read(before + added.substr(0, cut));
    EXPECT_EQ(outcome.status, RawReadStatus::Done) << cut;
    EXPECT_EQ(outcome.frames_read, 3) << cut;
  }
  EXPECT_EQ(Read(after).frames_read, 4);
}

TEST_F(RawDataFileTest, ReadsFramesAndAnalysesEach) {
  state.CurrentFrame = 7;
  const auto outcome =
      Read(" 1 \r\n 10 \r\n 11 \r\n 12 \r\n 13 \r\n 20 \r\n 21 \r\n 22 \r\n 23 \r\n");
  EXPECT_EQ(outcome.status, RawReadStatus::Done);
  EXPECT_EQ(outcome.message, DoneMessage());
  EXPECT_EQ(outcome.frames_read, 2);
  EXPECT_EQ(Row(state, 0, 5), Bytes({10, 11, 12, 13, 99}));
  EXPECT_EQ(Row(state, 1, 5), Bytes({20, 21, 22, 23, 99}));
  EXPECT_EQ(state.CurrentFrame, 1);
  EXPECT_EQ(state.QuillRecordFreq, 256.0f);
  EXPECT_EQ(state.BufferSize, 2);
  EXPECT_EQ(display.log.substr(0, 3), " 0 ");  // the old log text is gone
  EXPECT_EQ(Count(display.log, "\r\n"), 2);
  EXPECT_EQ(display.trace.clears, 1);
  EXPECT_EQ(display.scope.clears, 1);
}

TEST_F(RawDataFileTest, AcceptsBlanksAndEveryLineEnd) {
  state.CurrentFrame = 7;
  // LF-only, CR-only, tabs, no blanks, no final line end, fractions rounded ties to even.
  auto outcome = Read("1\n\t10\t\n  11\r12   \r\n2.5\r3.5\n  254.5 \n1e2\n-0.4");
  EXPECT_EQ(outcome.status, RawReadStatus::Done) << outcome.message.text;
  EXPECT_EQ(Row(state, 0, 4), Bytes({10, 11, 12, 2}));
  EXPECT_EQ(Row(state, 1, 4), Bytes({4, 254, 100, 0}));
  EXPECT_EQ(state.CurrentFrame, 1);

  // Blank lines at the end and surplus lines (even unreadable ones) are ignored.
  outcome = Read(" 0 \r\n 1 \r\n 2 \r\n 3 \r\n 4 \r\n 5 \r\nrubbish\r\n");
  EXPECT_EQ(outcome.status, RawReadStatus::Done) << outcome.message.text;
  outcome = Read(" 0 \r\n 1 \r\n 2 \r\n 3 \r\n 4 \r\n  \r\n\r\n");
  EXPECT_EQ(outcome.status, RawReadStatus::Done) << outcome.message.text;
  EXPECT_EQ(Row(state, 0, 4), Bytes({1, 2, 3, 4}));
}

TEST_F(RawDataFileTest, LinesMayHoldSeveralNumbers) {
  // A blank, a comma, a comma with blanks around it; line 1 may share its line too, and a
  // comma may end a line or the file.
  for (const char* file : {" 1 \r\n 10,11 \r\n12 13\r\n 20 , 21\r\n 22\t,\t23,",
                           "1,10,\n11 12 13\r20 , 21,22,23,\r\n", " 1 10 11 12 13 20 21 22 23 "}) {
    SCOPED_TRACE(file);
    state.CurrentFrame = 7;
    const auto outcome = Read(file);
    EXPECT_EQ(outcome.status, RawReadStatus::Done) << outcome.message.text;
    EXPECT_EQ(outcome.frames_read, 2);
    EXPECT_EQ(Row(state, 0, 4) + Row(state, 1, 4), Bytes({10, 11, 12, 13, 20, 21, 22, 23}));
  }
  // The line named is the one the bad token stands on.
  const auto outcome = Read(" 1 \r\n 10,11 \r\n 12 300 \r\n");
  EXPECT_EQ(outcome.status, RawReadStatus::Invalid);
  EXPECT_NE(outcome.message.text.find("line 3 holds \"300\""), std::string::npos)
      << outcome.message.text;
}

TEST_F(RawDataFileTest, AnyLayoutReadsAsOneNumberALineWithWorkInProportion) {
  // The same samples one a line, two a line, a frame a line and all on one line, read from a
  // file, from memory and in small pieces: the same frames, and every byte looked at and moved
  // only a few times, however long its line (a line end searched anew for each number on the
  // line made the work grow with the square of the line).
  state.BufferSize = 1024;
  constexpr int kFrames = 3;
  std::vector<std::string> values;
  for (int i = 0; i < kFrames * 2048; ++i) values.push_back(std::to_string(i * 37 % 256));
  const auto layout = [&](std::size_t per_line, const std::string& between,
                          const std::string& end) {
    std::string file = " " + std::to_string(kFrames - 1) + " \r\n";
    for (std::size_t i = 0; i < values.size(); ++i) {
      file += values[i];
      file += (i + 1) % per_line == 0 || i + 1 == values.size() ? end : between;
    }
    return file;
  };
  const std::string one_a_line = layout(1, "", " \r\n");
  MeasurementState reference;
  reference.BufferSize = 1024;
  FakeDisplay reference_display;
  ASSERT_EQ(ReadRawDataText(reference, reference_display, one_a_line, "Raw.txt").status,
            RawReadStatus::Done);
  for (const std::string& file :
       {layout(2, " ", "\r\n"), layout(2048, ",", "\n"), layout(values.size(), " , ", ""),
        layout(values.size(), "\t", "\r")}) {
    for (std::size_t piece : {0, 64, 5000}) {
      SCOPED_TRACE(file.substr(0, 20) + " in pieces of " + std::to_string(piece));
      MeasurementState read;
      read.BufferSize = 1024;
      FakeDisplay read_display;
      RawReadOutcome outcome;
      if (piece == 0) {
        WriteBytes(path, file);
        outcome = ReadRawData(read, read_display, path);
      } else {
        outcome = ReadRawDataInPieces(read, read_display, file, "Raw.txt", piece);
      }
      EXPECT_EQ(outcome.status, RawReadStatus::Done) << outcome.message.text;
      EXPECT_EQ(Row(read, 0, 2048) + Row(read, 2, 2048), Row(reference, 0, 2048) +
                                                             Row(reference, 2, 2048));
      EXPECT_EQ(read_display.log, reference_display.log);
      EXPECT_LE(LastRawReadWork().scanned, 2 * file.size());
      EXPECT_LE(LastRawReadWork().copied, 3 * file.size());
    }
  }
}

TEST_F(RawDataFileTest, FilesWhoseSizeReadsZeroAreReadToTheEnd) {
  // A /proc file's size reads 0, and a number of the kernel's there reads as nothing more once
  // a part of it has been read: it must come in one block, as it does to a plain reader.
  int checked = 0;
  for (const char* proc : {"/proc/sys/kernel/pid_max", "/proc/sys/vm/max_map_count"}) {
    struct stat info {};
    std::ifstream in(proc);
    if (::stat(proc, &info) != 0 || info.st_size != 0 || !in) continue;
    const std::string contents{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GE(contents.size(), 3u) << proc;
    MeasurementState whole;
    FakeDisplay whole_display;
    const auto expected = ReadRawDataText(whole, whole_display, contents, proc);
    const auto outcome = ReadRawData(state, display, proc);
    EXPECT_EQ(outcome.status, expected.status) << proc;
    EXPECT_EQ(outcome.message.text, expected.message.text);
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "no /proc file whose size reads 0";
}

TEST_F(RawDataFileTest, FullStoreFileReadsEveryFrame) {
  // Line 1 at the highest frame the store holds: 1001 frames, the last one analysed too.
  state.BufferSize = 1024;
  state.CurrentFrame = 1001;
  for (int f = 0; f <= 1000; ++f) std::memset(state.Row(f), 200, 2048);
  state.Row(1000)[2047] = 42;
  const std::string file = RawDataText(state);
  std::memset(state.Row(1000), 0, 2048);
  display.log.clear();
  const auto outcome = Read(file);
  ASSERT_EQ(outcome.status, RawReadStatus::Done) << outcome.message.text;
  EXPECT_EQ(outcome.frames_read, 1001);
  EXPECT_EQ(state.CurrentFrame, 1000);
  EXPECT_EQ(state.Row(1000)[2046], 200);
  EXPECT_EQ(state.Row(1000)[2047], 42);
  EXPECT_EQ(Count(display.log, "\r\n"), 1001);

  // Lines deep inside that only look like the writer's are still checked and named.
  const std::size_t line_400001 = 8 + 399'999 * 7;  // lines 2 .. are " 200 \r\n"
  ASSERT_EQ(Count(file.substr(0, line_400001), "\r\n"), 400'000);
  // The last one would match " 79 \r\n" if only the bytes it shares with it were compared.
  for (const std::string& line : {std::string(" 256 \r\n"), std::string(" 25a \r\n"),
                                  std::string(" 2,,5\r\n"), std::string("\0 79 \r\n", 7)}) {
    SCOPED_TRACE(line);
    const auto outcome = Read(file.substr(0, line_400001) + line + file.substr(line_400001 + 7));
    EXPECT_EQ(outcome.status, RawReadStatus::Invalid);
    EXPECT_NE(outcome.message.text.find("line 400001"), std::string::npos) << outcome.message.text;
  }
}

// From now on this process can start no thread (nor process): both clone calls fail with EAGAIN,
// as they do when the system has no thread to spare. False where filters are not allowed.
bool RefuseNewThreads() {
  sock_filter program[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 2, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone3, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAGAIN),
  };
  sock_fprog filter{static_cast<unsigned short>(std::size(program)), program};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

TEST_F(RawDataFileTest, LargeFileReadsWithoutAThreadToSpare) {
  state.BufferSize = 1024;
  state.CurrentFrame = 1001;
  for (int f = 0; f <= 1000; ++f) std::memset(state.Row(f), f % 256, 2048);
  const std::string file = RawDataText(state);
  WriteBytes(path, file);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!RefuseNewThreads()) ::_exit(77);
    MeasurementState read;
    FakeDisplay read_display;
    const auto outcome = ReadRawData(read, read_display, path);
    ::_exit(outcome.status == RawReadStatus::Done && outcome.frames_read == 1001 &&
                    std::memcmp(read.Row(0), state.Row(0), 1001 * kFrameRowBytes) == 0
                ? 0
                : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no seccomp filters here";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
}

TEST_F(RawDataFileTest, RoundTripGivesTheSameBytes) {
  state.BufferSize = 1024;
  std::string file = " 2 \r\n";
  for (int i = 0; i < 3 * 2048; ++i) file += " " + std::to_string((i * 37 + i / 7) % 256) + " \r\n";
  WriteBytes(path, file);
  const auto outcome = ReadRawData(state, display, path);
  ASSERT_EQ(outcome.status, RawReadStatus::Done) << outcome.message.text;
  EXPECT_EQ(state.CurrentFrame, 2);
  const auto copy = dir / "copy.txt";
  EXPECT_EQ(WriteRawData(state, copy), DoneMessage());
  EXPECT_EQ(ReadBytes(copy), file);
}

TEST_F(RawDataFileTest, LineOneOnlyOrNegativeAnalysesNothing) {
  // Line 1 alone announces frame 0, which never comes: the file ended early.
  state.CurrentFrame = 7;
  auto outcome = Read(" 0 \r\n");
  EXPECT_EQ(outcome.status, RawReadStatus::EndedEarly);
  EXPECT_NE(outcome.message.text.find("no complete frame"), std::string::npos);
  EXPECT_EQ(outcome.frames_read, 0);
  EXPECT_EQ(state.CurrentFrame, 0);
  EXPECT_EQ(display.log, "");
  EXPECT_EQ(state.QuillRecordFreq, 256.0f);

  // A negative line 1 announces nothing; what follows is not read.
  state.CurrentFrame = 7;
  display.log = "Text1";
  outcome = Read("-3\r\n 1 \r\n 2 \r\n 3 \r\n 4 \r\n");
  EXPECT_EQ(outcome.status, RawReadStatus::Done);
  EXPECT_EQ(outcome.message, DoneMessage());
  EXPECT_EQ(outcome.frames_read, 0);
  EXPECT_EQ(state.CurrentFrame, 0);
  EXPECT_EQ(display.log, "");
  EXPECT_EQ(Row(state, 0, 4), std::string(4, 99));
}

TEST_F(RawDataFileTest, FileEndingEarlyAnalysesCompleteFrames) {
  // L = 2 but only one and a half frames: ends at a pair.
  state.CurrentFrame = 7;
  auto outcome = Read(" 2 \r\n 1 \r\n 2 \r\n 3 \r\n 4 \r\n 5 \r\n 6 \r\n");
  EXPECT_EQ(outcome.status, RawReadStatus::EndedEarly);
  EXPECT_EQ(outcome.frames_read, 1);
  EXPECT_EQ(outcome.message.icon, MessageIcon::Exclamation);
  EXPECT_NE(outcome.message.text.find(path.string()), std::string::npos);
  EXPECT_NE(outcome.message.text.find("ended early"), std::string::npos) << outcome.message.text;
  EXPECT_NE(outcome.message.text.find("frames 0 to 0 were complete"), std::string::npos)
      << outcome.message.text;
  EXPECT_EQ(outcome.message.text.find("between the two bytes"), std::string::npos);
  EXPECT_EQ(state.CurrentFrame, 0);
  EXPECT_EQ(Count(display.log, "\r\n"), 1);
  // The cut frame keeps what was read into it, then its old bytes.
  EXPECT_EQ(Row(state, 1, 4), Bytes({5, 6, 99, 99}));

  // Ends between the two bytes of a pair.
  outcome = Read(" 2 \r\n 1 \r\n 2 \r\n 3 \r\n 4 \r\n 5 \r\n 6 \r\n 7 \r\n 8 \r\n 9 \r\n");
  EXPECT_EQ(outcome.status, RawReadStatus::EndedEarly);
  EXPECT_EQ(outcome.frames_read, 2);
  EXPECT_EQ(state.CurrentFrame, 1);
  EXPECT_NE(outcome.message.text.find("frames 0 to 1 were complete"), std::string::npos)
      << outcome.message.text;
  EXPECT_NE(outcome.message.text.find("between the two bytes"), std::string::npos)
      << outcome.message.text;
  EXPECT_EQ(Row(state, 2, 4), Bytes({9, 99, 99, 99}));

  outcome = Read(" 1 \r\n 1 \r\n");
  EXPECT_EQ(outcome.status, RawReadStatus::EndedEarly);
  EXPECT_EQ(outcome.frames_read, 0);
  EXPECT_NE(outcome.message.text.find("no complete frame"), std::string::npos);
}

TEST_F(RawDataFileTest, InvalidFilesChangeNothing) {
  struct Case {
    std::string contents;
    std::string names;  // what the message must point at
  };
  const Case cases[] = {
      {" 1 \r\n 1 \r\n 2 \r\n 12a \r\n 4 \r\n", "line 4"},
      {" 1 \r\n 1 \r\n 2 \r\n 3 \r\n 4 \r\n 256 \r\n", "line 6"},
      {" 1 \r\n 1 \r\n-1\r\n", "line 3"},
      {" 1 \r\n 1 \r\n 255.5\r\n", "line 3"},
      {" 1001 \r\n 1 \r\n", "line 1"},
      {" 1e9 \r\n", "line 1"},
      {"abc\r\n 1 \r\n", "line 1"},
      {"", "empty"},
      {" 0 \r\n 1 \r\n\r\n 3 \r\n 4 \r\n", "line 3"},
      {" 0 \r\n 1 12a 3 \r\n 4 \r\n", "line 2 holds \"12a\""},
      {" 0 \n 1 \r ,2 \r\n", "line 3 holds an empty field"},
      {" 0 \r\n 1,,2 \r\n 3 \r\n", "line 2 holds an empty field"},
      {" 0 \r\n 1, ,2 \r\n 3 \r\n", "line 2 holds an empty field"},
      {" 0 \r\n 1 \r\n 2 , \r\n , 3 \r\n", "line 4 holds an empty field"},
      {" 0 \r\n 1 \r\n 0x10 \r\n", "line 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.contents);
    state.CurrentFrame = 7;
    const auto outcome = Read(c.contents);
    ExpectUntouched(outcome);
    EXPECT_NE(outcome.message.text.find(c.names), std::string::npos) << outcome.message.text;
  }
}

TEST_F(RawDataFileTest, MissingFileChangesNothing) {
  state.CurrentFrame = 7;
  const auto outcome = ReadRawData(state, display, path);
  ExpectUntouched(outcome);
  EXPECT_NE(outcome.message.text.find("No such file or directory"), std::string::npos);
}

TEST_F(RawDataFileTest, EndlessOrUnreadableSourcesChangeNothing) {
  state.CurrentFrame = 7;
  path = "/dev/zero";  // one endless line, for the batch program that reads devices
  auto outcome = ReadRawData(state, display, path, ReadableFiles::AlsoPipesAndDevices);
  ExpectUntouched(outcome);
  EXPECT_NE(outcome.message.text.find("line 1 is too long"), std::string::npos)
      << outcome.message.text;

  path = dir.path();
  outcome = ReadRawData(state, display, path);
  ExpectUntouched(outcome);
  EXPECT_NE(outcome.message.text.find("Is a directory"), std::string::npos);
}

// The window reads regular files only; the batch program reads pipes too, and a FIFO that has
// no writer reads at once as an empty file. (Opening one without a writer would wait forever.)
TEST_F(RawDataFileTest, PipesNeverHangAReader) {
  state.CurrentFrame = 7;
  path = dir / "Raw.txt";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  auto outcome = ReadRawData(state, display, path);
  ExpectUntouched(outcome);
  EXPECT_NE(outcome.message.text.find("Not a regular file"), std::string::npos);
  outcome = ReadRawData(state, display, path, ReadableFiles::AlsoPipesAndDevices);
  ExpectUntouched(outcome);
  EXPECT_NE(outcome.message.text.find("the file is empty"), std::string::npos);

  path = "/dev/null";
  outcome = ReadRawData(state, display, path);
  ExpectUntouched(outcome);
  EXPECT_NE(outcome.message.text.find("Not a regular file"), std::string::npos);

  // Process substitution: a pipe whose writer has written and gone.
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const std::string text = " 0 \r\n 1 \r\n 2 \r\n 3 \r\n 4 \r\n";
  ASSERT_EQ(::write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(ends[1]);
  path = "/dev/fd/" + std::to_string(ends[0]);
  outcome = ReadRawData(state, display, path, ReadableFiles::AlsoPipesAndDevices);
  ::close(ends[0]);
  EXPECT_EQ(outcome.status, RawReadStatus::Done) << outcome.message.text;
  EXPECT_EQ(Row(state, 0, 4), Bytes({1, 2, 3, 4}));
}

// Large files are read ahead in pieces; lines of every form must come out the same wherever a
// piece ends, CR LF pairs split between two pieces included.
TEST_F(RawDataFileTest, LargeFilesReadAsInMemory) {
  state.BufferSize = 1024;
  const int frames = 120;
  const int samples = frames * 2048;
  const auto value = [](int i) { return (i * 7 + i / 13) % 256; };
  const char* const forms[] = {" %d \r\n", "%d\n",       "  %d  \r", "\t%d\t\r\n",
                               "%d.0\n",   "   %d   \n", "%d\r",     "+%d\r\n",
                               "00%d \n",  " %d\r\n",    "%de0\r"};
  std::vector<std::string> lines;
  lines.push_back(" " + std::to_string(frames - 1) + " \r\n");
  char buffer[32];
  for (int i = 0; i < samples; ++i) {
    std::snprintf(buffer, sizeof buffer, forms[(i * 5 + i / 3) % 11], value(i));
    lines.emplace_back(buffer);
  }
  const auto join = [&] {
    std::string text;
    for (const auto& line : lines) text += line;
    return text;
  };
  const std::string file = join();
  ASSERT_GT(file.size(), 1u << 20);  // more than one piece

  const auto outcome = Read(file);
  ASSERT_EQ(outcome.status, RawReadStatus::Done) << outcome.message.text;
  EXPECT_EQ(outcome.frames_read, frames);
  int wrong = 0;
  for (int i = 0; i < samples; ++i) wrong += state.Row(i / 2048)[i % 2048] != value(i);
  EXPECT_EQ(wrong, 0);

  MeasurementState in_memory;
  in_memory.BufferSize = 1024;
  FakeDisplay other;
  const auto same = ReadRawDataText(in_memory, other, file, path.string());
  EXPECT_EQ(same.status, RawReadStatus::Done);
  EXPECT_EQ(std::memcmp(in_memory.Row(0), state.Row(0), frames * kFrameRowBytes), 0);

  // A bad line is found and counted right, the first one too while the rest is still being
  // read ahead.
  const std::string third = lines[2];
  lines[2] = "12a\r\n";
  auto bad = Read(join());
  EXPECT_EQ(bad.status, RawReadStatus::Invalid);
  EXPECT_NE(bad.message.text.find("line 3 holds \"12a\""), std::string::npos) << bad.message.text;
  lines[2] = third;
  lines.back() = "12a\r\n";
  bad = Read(join());
  EXPECT_EQ(bad.status, RawReadStatus::Invalid);
  EXPECT_NE(bad.message.text.find("line " + std::to_string(samples + 1) + " holds \"12a\""),
            std::string::npos)
      << bad.message.text;

  // Blank lines at the end, longer than a piece, are still the end of the file...
  lines.back() = "5\r\n";
  const std::string blank_tail((1 << 20) + 1000, ' ');
  EXPECT_EQ(Read(join() + blank_tail + "\r\n" + blank_tail).status, RawReadStatus::Done);
  // ... but not when a number follows them.
  bad = Read(join() + "\r\n" + blank_tail + "\r\n 1 \r\n");
  EXPECT_EQ(bad.status, RawReadStatus::Done);  // after the last frame: ignored
  lines.pop_back();
  bad = Read(join() + "\r\n" + blank_tail + "\r\n 1 \r\n");
  EXPECT_EQ(bad.status, RawReadStatus::Invalid);
  EXPECT_NE(bad.message.text.find("line " + std::to_string(samples + 1) + " is empty"),
            std::string::npos)
      << bad.message.text;

  // One line longer than a piece.
  lines.push_back(blank_tail + "5" + blank_tail + "\n");
  EXPECT_EQ(Read(join()).status, RawReadStatus::Done);
  EXPECT_EQ(state.Row(frames - 1)[2047], 5);
}

TEST_F(RawDataFileTest, LineEndSplitWhereTheFirstPieceEnds) {
  // The reader's pieces divide 1 MiB: put a CR at the byte before that boundary and its LF at
  // the first byte after it.
  state.BufferSize = 1024;
  constexpr std::size_t kPiece = 1 << 20;
  for (const char* last : {"\r\n", "\r 9 \r\n"}) {
    std::string file = " 120 \r\n";
    int count = 0;
    while (file.size() < kPiece - 40) {
      file += " 1 \r\n";
      ++count;
    }
    file += std::string(kPiece - 1 - file.size() - 2, ' ') + "2" + " " + "\r";
    ASSERT_EQ(file.size(), kPiece);
    file += std::string(last).substr(1);
    ++count;
    count += std::string(last).size() > 2;  // the CR-only variant holds one more sample
    while (count < 121 * 2048) {
      file += " 3 \r\n";
      ++count;
    }
    SCOPED_TRACE(count);
    const auto outcome = Read(file);
    EXPECT_EQ(outcome.status, RawReadStatus::Done) << outcome.message.text;
  }
}

TEST_F(RawDataFileTest, ReadingInSmallPiecesGivesTheSameOutcome) {
  const std::string files[] = {
      " 1 \r\n 10 \r\n 11 \r\n 12 \r\n 13 \r\n 20 \r\n 21 \r\n 22 \r\n 23 \r\n",
      "1\n\t10\t\n  11\r12   \r\n2.5\r3.5\n  254.5 \n1e2\n-0.4",
      " 2 \r 1 \r\n 2 \n 3 \r 4 \r\n 5 \r\n 6 \r\n 7 \r\n   \r\n\r\n",
      " 1 \r\n 1 \r\n 2 \r\n\r\n 3 \r\n",
      " 1 \r\n 1 \r\n 2 \r\n 300 \r\n",
      " 1 \r\n 1 \r\n 2 \r\n  12a\r\n",
      " 1 \r\n 10,11 \r\n12 13\r\n 20 , 21\r\n 22\t,\t23,",
      " 1 \r\n 10 11 12 , 13 20,21\r\n 22,, 23\r\n",
      " 1 \r\n 10 11 12 , 13 20,21\r\n 22,",
      " 1 \r\n 10 11 12 \r 13 \r20 21 22\t23\r",
  };
  for (const auto& file : files) {
    MeasurementState whole;
    whole.BufferSize = 2;
    FakeDisplay whole_display;
    const auto expected = ReadRawDataText(whole, whole_display, file, "Raw.txt");
    for (std::size_t piece : {1, 2, 3, 5, 7, 16, 17}) {
      SCOPED_TRACE(file + " in pieces of " + std::to_string(piece));
      MeasurementState pieces;
      pieces.BufferSize = 2;
      FakeDisplay pieces_display;
      const auto outcome = ReadRawDataInPieces(pieces, pieces_display, file, "Raw.txt", piece);
      EXPECT_EQ(outcome.status, expected.status);
      EXPECT_EQ(outcome.message, expected.message);
      EXPECT_EQ(outcome.frames_read, expected.frames_read);
      EXPECT_EQ(Row(pieces, 0, 4) + Row(pieces, 1, 4) + Row(pieces, 2, 4),
                Row(whole, 0, 4) + Row(whole, 1, 4) + Row(whole, 2, 4));
      EXPECT_EQ(pieces_display.log, whole_display.log);
    }
  }
}

TEST_F(RawDataFileTest, ReadBeforeAnyCaptureUses1024Pairs) {
  state.BufferSize = 0;
  state.CurrentFrame = 7;
  ExpectUntouched(Read("x"), 0);  // an invalid file leaves BufferSize at 0 too

  std::string file = " 0 \r\n";
  for (int i = 0; i < 2048; ++i) file += " " + std::to_string(i % 200) + " \r\n";
  const auto outcome = Read(file);
  EXPECT_EQ(outcome.status, RawReadStatus::Done) << outcome.message.text;
  EXPECT_EQ(state.BufferSize, 1024);
  EXPECT_EQ(state.Row(0)[2047], 2047 % 200);
  EXPECT_EQ(state.Row(0)[2048], 0);
}

}  // namespace
}  // namespace fc
