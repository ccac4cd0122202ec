#include "files/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <system_error>

namespace fc {

namespace {

struct WriteFault {
  bool active = false;
  std::size_t fail_after = 0;
  int error_number = 0;
};
thread_local WriteFault g_fault;

std::string Reason(int error_number) { return std::system_category().message(error_number); }

std::string WriteError(const std::filesystem::path& path, int error_number) {
  return "Could not write \"" + path.string() + "\": " + Reason(error_number) +
         ". The file on disk was left as it was.";
}

// Writes all of `bytes`, retrying short writes; returns 0 or the errno of the failure.
int WriteAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    std::size_t chunk = bytes.size() - done;
    if (g_fault.active) {
      if (done >= g_fault.fail_after) return g_fault.error_number;
      chunk = std::min(chunk, g_fault.fail_after - done);
    }
    const ssize_t n = ::write(fd, bytes.data() + done, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// A name beside the target that no other writer (thread or process) is using right now.
std::filesystem::path TemporaryName(const std::filesystem::path& target) {
  static std::atomic<unsigned> counter{0};
  const std::string name = "." + target.filename().string() + "." + std::to_string(::getpid()) +
                           "." + std::to_string(counter++) + ".tmp";
  return target.parent_path() / name;
}

}  // namespace

ScopedWriteFailure::ScopedWriteFailure(std::size_t fail_after_bytes, int error_number) {
  g_fault = WriteFault{true, fail_after_bytes, error_number};
}

ScopedWriteFailure::~ScopedWriteFailure() { g_fault = WriteFault{}; }

std::optional<std::string> WriteFileAtomically(const std::filesystem::path& path,
                                               std::string_view bytes) {
  std::error_code ec;
  std::filesystem::path target = path;
  if (std::filesystem::is_symlink(path, ec)) {
    const auto resolved = std::filesystem::weakly_canonical(path, ec);
    if (!ec) target = resolved;
  }
  if (target.filename().empty()) return WriteError(path, EISDIR);

  const mode_t mode = 0666;  // narrowed by the umask for a new file
  struct stat old_stat {};
  const bool had_file = ::stat(target.c_str(), &old_stat) == 0;
  if (had_file && S_ISDIR(old_stat.st_mode)) return WriteError(path, EISDIR);
  // The rename could replace a file that we may not write to; a write-protected file stays.
  if (had_file && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    return WriteError(path, errno);
  }

  std::filesystem::path temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = TemporaryName(target);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno != EEXIST && errno != EINTR) break;
  }
  if (fd < 0) return WriteError(path, errno);

  if (had_file) {
    // Keeping the old permissions is a courtesy; a file we cannot chmod is still written.
    [[maybe_unused]] const int ignored = ::fchmod(fd, old_stat.st_mode & 07777);
  }
  int error_number = WriteAll(fd, bytes);
  if (error_number == 0 && ::fsync(fd) != 0) error_number = errno;
  if (::close(fd) != 0 && error_number == 0) error_number = errno;
  if (error_number == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error_number = errno;
  if (error_number != 0) {
    ::unlink(temporary.c_str());
    return WriteError(path, error_number);
  }

  // Make the rename itself durable; the new file is in place whatever this returns.
  const auto directory =
      target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
  const int dir_fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return std::nullopt;
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::string* error,
                                         std::size_t max_bytes) {
  const auto fail = [&](int error_number) -> std::optional<std::string> {
    if (error != nullptr) {
      *error = "Could not read \"" + path.string() + "\": " + Reason(error_number) + ".";
    }
    return std::nullopt;
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int error_number = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    return fail(error_number);
  }
  std::string contents;
  // st_size is a hint only: files under /proc report 0, and a file may grow while we read.
  std::size_t capacity = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 4096;
  contents.resize(std::min(capacity, max_bytes));
  std::size_t used = 0;
  while (used < max_bytes) {
    if (used == contents.size()) contents.resize(std::min(contents.size() * 2, max_bytes));
    const ssize_t n = ::read(fd, contents.data() + used, contents.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error_number = errno;
      ::close(fd);
      return fail(error_number);
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  ::close(fd);
  contents.resize(used);
  return contents;
}

}  // namespace fc
