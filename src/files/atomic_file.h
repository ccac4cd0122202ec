#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace fc {

// Replaces the file at `path` with `bytes`: writes a temporary file beside it, flushes it to
// disk and renames it over the target, so the target is either the old file or the whole new
// one, never a partial or empty file. The temporary file is removed on failure. An existing
// target keeps its permission bits, and one the caller may not write to is not replaced; a
// symbolic link is followed to the file it names.
// Returns nullopt on success, otherwise a text for the user that names `path` and the reason.
std::optional<std::string> WriteFileAtomically(const std::filesystem::path& path,
                                               std::string_view bytes);

// The content of a file, read at once, up to `max_bytes` (the rest is left unread); nullopt
// with `error` set to a text that names the path and the reason when the file cannot be opened
// or read (a directory cannot be read).
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::string* error,
                                         std::size_t max_bytes = SIZE_MAX);

// For tests: while an instance lives, atomic writes on the calling thread fail after
// `fail_after_bytes` bytes of the temporary file were written, as if the disk had reported
// `error_number` (ENOSPC by default). Instances do not nest.
class ScopedWriteFailure {
 public:
  explicit ScopedWriteFailure(std::size_t fail_after_bytes, int error_number = 28 /* ENOSPC */);
  ~ScopedWriteFailure();
  ScopedWriteFailure(const ScopedWriteFailure&) = delete;
  ScopedWriteFailure& operator=(const ScopedWriteFailure&) = delete;
};

}  // namespace fc
