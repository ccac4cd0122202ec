#include "files/atomic_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <variant>

namespace fc {

std::string ErrorText(int error_number) { return std::system_category().message(error_number); }

int WriteFully(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

namespace {

struct WriteFault {
  bool active = false;
  std::size_t fail_after = 0;
  int error_number = 0;
};
thread_local WriteFault g_fault;

// Whether a file stood at the target when the write gave up: only then is there one that was
// kept.
enum class OldFile { None, Kept };

std::string Refusal(const std::filesystem::path& path, const std::string& why, OldFile old) {
  return "Could not write \"" + path.string() + "\": " + why + "." +
         (old == OldFile::Kept ? " The file on disk was left as it was." : "");
}

std::string WriteError(const std::filesystem::path& path, int error_number, OldFile old) {
  return Refusal(path, ErrorText(error_number), old);
}

// A name beside the target that no other writer (thread or process) is using right now.
std::filesystem::path TemporaryName(const std::filesystem::path& target) {
  static std::atomic<unsigned> counter{0};
  const std::string name = "." + target.filename().string() + "." + std::to_string(::getpid()) +
                           "." + std::to_string(counter++) + ".tmp";
  return target.parent_path() / name;
}

std::filesystem::path DirectoryOf(const std::filesystem::path& file) {
  return file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
}

// Only a regular file is ever replaced: renaming over a device, a pipe or a socket would put a
// plain file in its place.
std::string KindOf(mode_t mode) {
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
  if (S_ISFIFO(mode)) return "it is a named pipe (FIFO), not a regular file";
  if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
  return "it is not a regular file";
}

// The links under /proc lead to whatever a process has open (pipes, terminals, deleted files);
// they are never written through.
bool OnProc(const std::filesystem::path& file) {
  struct statfs info {};
  return ::statfs(DirectoryOf(file).c_str(), &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
}

// The file a write to `path` replaces: `path` itself, or the end of its chain of symbolic links,
// which must lead to a regular file or to nothing at all. A dangling link is not written
// through, since the file it would create could be anywhere. Sets `existing` when the target
// exists; returns a refusal otherwise.
std::optional<std::string> ResolveTarget(const std::filesystem::path& path,
                                         std::filesystem::path& target,
                                         std::optional<struct stat>& existing) {
  constexpr int kMaxLinks = 40;  // as the kernel's own limit
  target = path;
  existing.reset();
  for (int links = 0;; ++links) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0) {
      if (errno != ENOENT) return WriteError(path, errno, OldFile::None);
      if (links == 0) return std::nullopt;  // a new file
      return Refusal(path,
                     "it is a symbolic link to \"" + target.string() + "\", which does not exist",
                     OldFile::None);
    }
    if (S_ISDIR(info.st_mode)) return WriteError(path, EISDIR, OldFile::None);
    if (!S_ISLNK(info.st_mode)) {
      if (!S_ISREG(info.st_mode)) return Refusal(path, KindOf(info.st_mode), OldFile::Kept);
      existing = info;
      return std::nullopt;
    }
    if (links == kMaxLinks) return WriteError(path, ELOOP, OldFile::None);
    std::string next(PATH_MAX, '\0');
    const ssize_t n = ::readlink(target.c_str(), next.data(), next.size());
    if (n < 0) return WriteError(path, errno, OldFile::None);
    if (static_cast<std::size_t>(n) == next.size()) {
      return WriteError(path, ENAMETOOLONG, OldFile::None);
    }
    next.resize(static_cast<std::size_t>(n));
    target = target.parent_path() / next;  // an absolute link replaces the whole path
    if (OnProc(target)) return Refusal(path, "it is a symbolic link into /proc", OldFile::None);
  }
}

struct OpenedTemporary {
  std::filesystem::path target;  // the file the rename replaces
  std::filesystem::path path;    // the temporary file beside it
  int fd = -1;
  OldFile existing = OldFile::None;  // whether it replaces a file
};

// Everything up to the writing: finds the target, checks that it may be replaced, creates the
// temporary file beside it and gives it the target's owner, group and permission bits.
std::variant<OpenedTemporary, std::string> OpenTemporary(const std::filesystem::path& path) {
  OpenedTemporary temp;
  std::optional<struct stat> existing;
  if (auto refusal = ResolveTarget(path, temp.target, existing)) return std::move(*refusal);
  if (temp.target.filename().empty()) return WriteError(path, EISDIR, OldFile::None);
  temp.existing = existing ? OldFile::Kept : OldFile::None;
  // The rename could replace a file that we may not write to; a write-protected file stays.
  if (existing && ::faccessat(AT_FDCWD, temp.target.c_str(), W_OK, AT_EACCESS) != 0) {
    return WriteError(path, errno, OldFile::Kept);
  }

  const mode_t mode = 0666;  // narrowed by the umask for a new file
  for (int attempt = 0; attempt < 100 && temp.fd < 0; ++attempt) {
    temp.path = TemporaryName(temp.target);
    temp.fd = ::open(temp.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (temp.fd < 0 && errno != EEXIST && errno != EINTR) break;
  }
  if (temp.fd < 0) return WriteError(path, errno, temp.existing);

  if (existing) {
    // Keeping the owner, group and permissions is a courtesy: an ordinary user may only pass
    // the file on to a group of its own, and a file we cannot chown or chmod is still written.
    // The mode comes last, as a change of owner clears the set-user-ID bit.
    if (::fchown(temp.fd, existing->st_uid, existing->st_gid) != 0) {
      [[maybe_unused]] const int group_only =
          ::fchown(temp.fd, static_cast<uid_t>(-1), existing->st_gid);
    }
    [[maybe_unused]] const int ignored = ::fchmod(temp.fd, existing->st_mode & 07777);
  }
  return temp;
}

}  // namespace

Result<std::filesystem::path> WriteNewFile(const std::filesystem::path& directory,
                                           const std::string& stem, const std::string& extension,
                                           std::string_view bytes) {
  for (uint64_t n = 1;; ++n) {
    const std::filesystem::path path =
        directory / (n == 1 ? stem + extension
                            : stem + " (" + std::to_string(n) + ")" + extension);
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;  // taken (a link counts): the next number
    if (fd < 0) {
      return Error{"Could not write \"" + path.string() + "\": " + ErrorText(errno) + "."};
    }
    int error_number = WriteFileBytes(fd, bytes);
    if (error_number == 0 && ::fsync(fd) != 0) error_number = errno;
    if (::close(fd) != 0 && error_number == 0) error_number = errno;
    if (error_number != 0) {
      ::unlink(path.c_str());  // ours alone: created above
      return Error{"Could not write \"" + path.string() + "\": " + ErrorText(error_number) +
                   ". Nothing was kept."};
    }
    return path;
  }
}

int WriteFileBytes(int fd, std::string_view bytes, std::size_t written) {
  if (!g_fault.active || written + bytes.size() <= g_fault.fail_after) {
    return WriteFully(fd, bytes);
  }
  const std::size_t room = g_fault.fail_after > written ? g_fault.fail_after - written : 0;
  if (const int error_number = WriteFully(fd, bytes.substr(0, room))) return error_number;
  return g_fault.error_number;
}

std::string WriteFailureText(const std::filesystem::path& path, int error_number) {
  return WriteError(path, error_number, OldFile::Kept);
}

ScopedWriteFailure::ScopedWriteFailure(std::size_t fail_after_bytes, int error_number) {
  g_fault = WriteFault{true, fail_after_bytes, error_number};
}

ScopedWriteFailure::~ScopedWriteFailure() { g_fault = WriteFault{}; }

std::optional<std::string> WriteFileAtomically(const std::filesystem::path& path,
                                               std::string_view bytes) {
  bool given = false;
  return WriteFileAtomically(path, [&]() -> std::string_view {
    if (given) return {};
    given = true;
    return bytes;
  });
}

std::optional<std::string> WriteFileAtomically(const std::filesystem::path& path,
                                               const std::function<std::string_view()>& next) {
  auto opened = OpenTemporary(path);
  if (auto* error = std::get_if<std::string>(&opened)) return std::move(*error);
  const OpenedTemporary& temp = std::get<OpenedTemporary>(opened);

  int error_number = 0;
  std::size_t written = 0;
  for (std::string_view piece = next(); error_number == 0 && !piece.empty(); piece = next()) {
    error_number = WriteFileBytes(temp.fd, piece, written);
    written += piece.size();
  }
  if (error_number == 0 && ::fsync(temp.fd) != 0) error_number = errno;
  if (::close(temp.fd) != 0 && error_number == 0) error_number = errno;
  if (error_number == 0 && ::rename(temp.path.c_str(), temp.target.c_str()) != 0) {
    error_number = errno;
  }
  if (error_number != 0) {
    ::unlink(temp.path.c_str());
    return WriteError(path, error_number, temp.existing);
  }

  // Make the rename itself durable; the new file is in place whatever this returns.
  const int dir_fd = ::open(DirectoryOf(temp.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return std::nullopt;
}

std::optional<std::string> CheckWritable(const std::filesystem::path& path) {
  auto opened = OpenTemporary(path);
  if (auto* error = std::get_if<std::string>(&opened)) return std::move(*error);
  const OpenedTemporary& temp = std::get<OpenedTemporary>(opened);
  ::close(temp.fd);
  ::unlink(temp.path.c_str());
  return std::nullopt;
}

int OpenForReading(const std::filesystem::path& path, ReadableFiles accept, std::string& reason) {
  const auto refuse = [&](std::string why) {
    reason = std::move(why);
    return -1;
  };
  const auto accepted = [&](const struct stat& info) -> std::optional<std::string> {
    if (S_ISDIR(info.st_mode)) return ErrorText(EISDIR);
    if (accept == ReadableFiles::RegularOnly && !S_ISREG(info.st_mode)) {
      return "Not a regular file";
    }
    return std::nullopt;
  };
  struct stat info {};
  // Looked at before opening too, so that a device the window refuses is never opened.
  if (accept == ReadableFiles::RegularOnly && ::stat(path.c_str(), &info) == 0) {
    if (auto why = accepted(info)) return refuse(std::move(*why));
  }
  // Non-blocking, so that opening a FIFO does not wait for a writer to turn up.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return refuse(ErrorText(errno));
  std::optional<std::string> why;
  if (::fstat(fd, &info) != 0) {
    why = ErrorText(errno);
  } else {
    why = accepted(info);
  }
  if (!why) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) why = ErrorText(errno);
  }
  if (why) {
    ::close(fd);
    return refuse(std::move(*why));
  }
  return fd;
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::string* error,
                                         std::size_t max_bytes, ReadableFiles accept) {
  const auto fail = [&](const std::string& reason) -> std::optional<std::string> {
    if (error != nullptr) *error = "Could not read \"" + path.string() + "\": " + reason + ".";
    return std::nullopt;
  };
  std::string reason;
  const int fd = OpenForReading(path, accept, reason);
  if (fd < 0) return fail(reason);
  struct stat info {};
  if (::fstat(fd, &info) != 0) info.st_size = 0;
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
      return fail(ErrorText(error_number));
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  ::close(fd);
  contents.resize(used);
  return contents;
}

std::filesystem::path NumberedPart(const std::filesystem::path& path, int64_t part) {
  char number[32];
  std::snprintf(number, sizeof number, "-%04lld", static_cast<long long>(part));
  std::filesystem::path named = path;
  named.replace_filename(path.stem().string() + number + path.extension().string());
  return named;
}

std::optional<std::filesystem::path> ExistingNumberedPart(const std::filesystem::path& path) {
  const std::string stem = path.stem().string() + "-";
  const std::string extension = path.extension().string();
  const std::filesystem::path directory =
      path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() < stem.size() + 4 + extension.size() || name.rfind(stem, 0) != 0 ||
        name.compare(name.size() - extension.size(), extension.size(), extension) != 0) {
      continue;
    }
    const std::string digits =
        name.substr(stem.size(), name.size() - stem.size() - extension.size());
    if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return it->path();
    }
  }
  return std::nullopt;
}

}  // namespace fc
