#include "files/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "files/temp_dir.h"

namespace fc {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

TEST(AtomicFileTest, CreatesAndReplacesWithExactBytes) {
  TempDir dir;
  const auto path = dir / "RPM.txt";
  EXPECT_EQ(WriteFileAtomically(path, std::string("a\r\nb\0c", 6)), std::nullopt);
  EXPECT_EQ(ReadBytes(path), std::string("a\r\nb\0c", 6));
  EXPECT_EQ(WriteFileAtomically(path, "x"), std::nullopt);
  EXPECT_EQ(ReadBytes(path), "x");
  EXPECT_EQ(WriteFileAtomically(path, ""), std::nullopt);
  EXPECT_EQ(ReadBytes(path), "");
  EXPECT_EQ(dir.EntryCount(), 1);
}

TEST(AtomicFileTest, FailureHalfWayLeavesOldFileAndNoTemporary) {
  TempDir dir;
  const auto path = dir / "Raw.txt";
  WriteBytes(path, "old contents\r\n");
  std::optional<std::string> error;
  {
    ScopedWriteFailure fault(5);
    error = WriteFileAtomically(path, "new contents that never arrive\r\n");
  }
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find(path.string()), std::string::npos) << *error;
  EXPECT_NE(error->find("No space left on device. The file on disk was left as it was."),
            std::string::npos)
      << *error;
  EXPECT_EQ(ReadBytes(path), "old contents\r\n");
  EXPECT_EQ(dir.EntryCount(), 1);

  // The fault is gone with its scope.
  EXPECT_EQ(WriteFileAtomically(path, "new"), std::nullopt);
  EXPECT_EQ(ReadBytes(path), "new");
}

TEST(AtomicFileTest, FailureBeforeAnyByteKeepsMissingFileMissing) {
  TempDir dir;
  const auto path = dir / "Config.vmk";
  ScopedWriteFailure fault(0, EIO);
  const auto error = WriteFileAtomically(path, "data");
  ASSERT_TRUE(error.has_value());
  // There was no file to keep, so none is said to be kept.
  EXPECT_EQ(*error, "Could not write \"" + path.string() + "\": Input/output error.");
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(dir.EntryCount(), 0);
}

TEST(AtomicFileTest, UnwritablePlacesReportPathAndReason) {
  TempDir dir;
  const auto missing_dir = dir / "no-such-dir" / "RPM.txt";
  auto error = WriteFileAtomically(missing_dir, "x");
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find(missing_dir.string()), std::string::npos) << *error;
  EXPECT_NE(error->find("No such file or directory"), std::string::npos) << *error;

  // Not even root may create files here.
  error = WriteFileAtomically("/proc/self/fc-test-file", "x");
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("/proc/self/fc-test-file"), std::string::npos) << *error;

  // A directory in the way is left alone.
  const auto blocked = dir / "Raw.txt";
  std::filesystem::create_directory(blocked);
  WriteBytes(blocked / "inside", "kept");
  error = WriteFileAtomically(blocked, "x");
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("Is a directory"), std::string::npos) << *error;
  EXPECT_EQ(ReadBytes(blocked / "inside"), "kept");
  EXPECT_EQ(dir.EntryCount(), 1);
}

TEST(AtomicFileTest, KeepsPermissionsAndFollowsLinks) {
  TempDir dir;
  const auto path = dir / "Config.vmk";
  WriteBytes(path, "old");
  ::chmod(path.c_str(), 0640);
  ASSERT_EQ(WriteFileAtomically(path, "new"), std::nullopt);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);

  // Root may hand the file to anyone; the replacement goes to the same owner and group.
  if (::geteuid() == 0 && ::chown(path.c_str(), 65534, 65534) == 0) {
    ASSERT_EQ(WriteFileAtomically(path, "owned"), std::nullopt);
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
  }

  const auto link = dir / "link.vmk";
  std::filesystem::create_symlink("Config.vmk", link);
  ASSERT_EQ(WriteFileAtomically(link, "through the link"), std::nullopt);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadBytes(path), "through the link");
}

TEST(AtomicFileTest, ReplacesOnlyRegularFiles) {
  TempDir dir;
  const auto refused = [](const std::filesystem::path& path, const std::string& why) {
    const auto error = WriteFileAtomically(path, "x");
    EXPECT_TRUE(error.has_value()) << path;
    if (!error) return;
    EXPECT_NE(error->find(path.string()), std::string::npos) << *error;
    EXPECT_NE(error->find(why), std::string::npos) << *error;
  };

  const auto fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  refused(fifo, "FIFO");
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));

  const auto socket_path = dir / "socket";
  const int socket_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socket_path.string().copy(address.sun_path, sizeof(address.sun_path) - 1);
  ASSERT_EQ(::bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  refused(socket_path, "socket");
  EXPECT_TRUE(std::filesystem::is_socket(socket_path));
  ::close(socket_fd);

  // A device node of our own (the null device's numbers), never a real one under /dev.
  const auto device = dir / "null";
  if (::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) {
    refused(device, "device");
    EXPECT_TRUE(std::filesystem::is_character_file(device));
  }

  // Links: to a FIFO, to nothing, and through /proc to an open file.
  const auto to_fifo = dir / "to-fifo";
  std::filesystem::create_symlink("fifo", to_fifo);
  refused(to_fifo, "FIFO");
  const auto dangling = dir / "dangling";
  std::filesystem::create_symlink("missing", dangling);
  refused(dangling, "does not exist");
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
  const auto kept = dir / "kept.txt";
  WriteBytes(kept, "kept");
  const int open_fd = ::open(kept.c_str(), O_RDONLY);
  const auto through_proc = dir / "through-proc";
  std::filesystem::create_symlink("/proc/self/fd/" + std::to_string(open_fd), through_proc);
  refused(through_proc, "/proc");
  ::close(open_fd);
  EXPECT_EQ(ReadBytes(kept), "kept");
  EXPECT_TRUE(std::filesystem::is_symlink(dangling));
  EXPECT_TRUE(std::filesystem::is_symlink(through_proc));
  EXPECT_EQ(dir.EntryCount(), std::filesystem::exists(device) ? 7 : 6);
}

TEST(AtomicFileTest, ReadOnlyFileIsNotReplaced) {
  TempDir dir;
  const auto path = dir / "Raw.txt";
  WriteBytes(path, "protected");
  ::chmod(path.c_str(), 0444);
  ::chmod(dir.path().c_str(), 0777);  // creating a file beside it is allowed
  const auto attempt = [&] {
    const auto error = WriteFileAtomically(path, "new");
    return error.has_value() && error->find(path.string()) != std::string::npos &&
           error->find("Permission denied") != std::string::npos;
  };
  if (::geteuid() != 0) {
    EXPECT_TRUE(attempt());
  } else {
    // Root may write any file: try it as an ordinary user.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
      ::_exit(!dropped ? 2 : attempt() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot switch to an ordinary user here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  EXPECT_EQ(ReadBytes(path), "protected");
  EXPECT_EQ(dir.EntryCount(), 1);
}

TEST(AtomicFileTest, ReadWholeFile) {
  TempDir dir;
  std::string error;
  WriteBytes(dir / "a", "one\r\ntwo");
  EXPECT_EQ(ReadWholeFile(dir / "a", &error), "one\r\ntwo");

  EXPECT_EQ(ReadWholeFile(dir / "missing", &error), std::nullopt);
  EXPECT_NE(error.find((dir / "missing").string()), std::string::npos) << error;
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;

  EXPECT_EQ(ReadWholeFile(dir.path(), &error), std::nullopt);
  EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;

  // Files that report size 0 still read whole.
  const auto proc = ReadWholeFile("/proc/self/status", &error);
  ASSERT_TRUE(proc.has_value());
  EXPECT_NE(proc->find("Name:"), std::string::npos);
}

// A new file takes the first free number, however many are taken, and never replaces one: not
// a file, not what a link names; a failed write leaves nothing.
TEST(AtomicFileTest, WriteNewFileNeverReplaces) {
  TempDir dir;
  WriteBytes(dir / "Run.txt", "first");
  for (int n = 2; n <= 1000; ++n) WriteBytes(dir / ("Run (" + std::to_string(n) + ").txt"), "old");
  std::filesystem::create_symlink(dir / "target", dir / "Run (1001).txt");
  const auto written = WriteNewFile(dir.path(), "Run", ".txt", "new");
  ASSERT_TRUE(written) << written.error();
  EXPECT_EQ(written.value(), dir / "Run (1002).txt");
  EXPECT_EQ(ReadBytes(dir / "Run (1002).txt"), "new");
  EXPECT_EQ(ReadBytes(dir / "Run.txt"), "first");
  EXPECT_EQ(ReadBytes(dir / "Run (1000).txt"), "old");
  EXPECT_FALSE(std::filesystem::exists(dir / "target"));

  {
    const ScopedWriteFailure full_disk(1);
    const auto failed = WriteNewFile(dir.path(), "Run", ".txt", "newer");
    ASSERT_FALSE(failed);
    EXPECT_NE(failed.error().find("Run (1003).txt"), std::string::npos) << failed.error();
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "Run (1003).txt"));
}

}  // namespace
}  // namespace fc
