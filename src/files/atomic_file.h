#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/result.h"

namespace fc {

// The system's text for an errno value ("No space left on device").
std::string ErrorText(int error_number);

// Writes all of `bytes` to `fd`, retrying interrupted and short writes. Returns 0, or the errno
// of the failure (EIO when the descriptor takes nothing).
int WriteFully(int fd, std::string_view bytes);

// WriteFully for the file writers, which a ScopedWriteFailure in force on the calling thread
// makes fail as it asks; `written` counts the bytes of the file written before these.
int WriteFileBytes(int fd, std::string_view bytes, std::size_t written = 0);

// The text of a failed write: it names `path` and the reason, and says the file was left as
// it was.
std::string WriteFailureText(const std::filesystem::path& path, int error_number);

// Replaces the file at `path` with `bytes`: writes a temporary file beside it, flushes it to
// disk and renames it over the target, so the target is either the old file or the whole new
// one, never a partial or empty file. The temporary file is removed on failure. Only a regular
// file is replaced: a directory, device, FIFO or socket is refused, and so is one the caller
// may not write to. A replaced file keeps its permission bits and, where the caller may set
// them, its owner and group. A symbolic link is followed to the file it names, which must be a
// regular file; a link that leads nowhere or into /proc is refused.
// Returns nullopt on success, otherwise a text for the user that names `path` and the reason,
// and says that the file on disk was left as it was when there was one.
std::optional<std::string> WriteFileAtomically(const std::filesystem::path& path,
                                               std::string_view bytes);

// Writes `bytes` to a new file "<stem><extension>" in `directory`, or "<stem> (2)<extension>"
// and on while a name is taken: each is created exclusively, so no file is ever replaced, and
// the numbers have no end. Flushed to disk. The path written, or a sentence that names the
// path and the reason; a file cut short by a write error is removed.
Result<std::filesystem::path> WriteNewFile(const std::filesystem::path& directory,
                                           const std::string& stem, const std::string& extension,
                                           std::string_view bytes);

// The same with the bytes handed over in pieces, so that a large file is never held whole:
// `next` returns each piece in turn and an empty one after the last.
std::optional<std::string> WriteFileAtomically(const std::filesystem::path& path,
                                               const std::function<std::string_view()>& next);

// Whether WriteFileAtomically could write `path` now: the same checks and a temporary file
// created and removed again; the target is not touched. Same result texts.
std::optional<std::string> CheckWritable(const std::filesystem::path& path);

// The name of part `part` (from 1) of a run kept in pieces under `path`: "-0001", "-0002", ...
// before the extension (run.txt gives run-0001.txt); past 9999 the number takes more digits.
std::filesystem::path NumberedPart(const std::filesystem::path& path, int64_t part);

// A file already named as a part of `path` (any number of four or more digits), if there is one.
std::optional<std::filesystem::path> ExistingNumberedPart(const std::filesystem::path& path);

// What a read accepts besides a regular file. The window reads regular files only, so that a
// FIFO or a device in the program directory can never hang it; the batch program also reads
// pipes and devices (process substitution). A directory is never read.
enum class ReadableFiles { RegularOnly, AlsoPipesAndDevices };

// Opens `path` for reading under that rule, without ever waiting for a FIFO's writer: a FIFO
// that has none reads as an empty file. Returns a descriptor with blocking reads, or -1 with
// `reason` set to why not ("No such file or directory", "Not a regular file").
int OpenForReading(const std::filesystem::path& path, ReadableFiles accept, std::string& reason);

// The content of a file, read at once, up to `max_bytes` (the rest is left unread); nullopt
// with `error` set to a text that names the path and the reason when the file cannot be opened
// or read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::string* error,
                                         std::size_t max_bytes = SIZE_MAX,
                                         ReadableFiles accept = ReadableFiles::RegularOnly);

// For tests: while an instance lives, writes through WriteFileBytes on the calling thread (the
// atomic writes, the raw file's appends) fail after `fail_after_bytes` bytes of the file (the
// temporary file, the appended lines) were written, as if the disk had reported `error_number`
// (ENOSPC by default). Instances do not nest.
class ScopedWriteFailure {
 public:
  explicit ScopedWriteFailure(std::size_t fail_after_bytes, int error_number = 28 /* ENOSPC */);
  ~ScopedWriteFailure();
  ScopedWriteFailure(const ScopedWriteFailure&) = delete;
  ScopedWriteFailure& operator=(const ScopedWriteFailure&) = delete;
};

}  // namespace fc
