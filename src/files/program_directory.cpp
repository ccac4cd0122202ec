#include "files/program_directory.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace fc {

namespace fs = std::filesystem;

bool IsWritableDirectory(const fs::path& dir) {
  std::error_code error;
  if (dir.empty() || !fs::is_directory(dir, error)) return false;
  return ::access(dir.c_str(), W_OK | X_OK) == 0;
}

bool IsSystemDirectory(const fs::path& dir) {
  const fs::path normal = dir.lexically_normal();
  for (const char* root : {"/usr", "/bin", "/sbin", "/opt", "/app", "/snap"}) {
    const fs::path base(root);
    auto mismatch = std::mismatch(base.begin(), base.end(), normal.begin(), normal.end());
    if (mismatch.first == base.end()) return true;
  }
  return false;
}

fs::path ChooseProgramDirectory(std::string_view home_override, const fs::path& executable_dir,
                                const fs::path& per_user_dir) {
  fs::path chosen;
  if (!home_override.empty()) {
    chosen = fs::path(home_override);
  } else if (IsWritableDirectory(executable_dir) && !IsSystemDirectory(executable_dir)) {
    return executable_dir;
  } else {
    chosen = per_user_dir;
  }
  std::error_code error;
  fs::create_directories(chosen, error);
  return chosen;
}

fs::path ExecutableDirectory() {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return exe.parent_path();
}

fs::path DefaultPerUserDirectory() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  fs::path base;
  if (data_home != nullptr && *data_home == '/') {
    base = data_home;
  } else {
    const char* home = std::getenv("HOME");
    base = fs::path(home != nullptr ? home : "/tmp") / ".local" / "share";
  }
  return base / "frequency-counter";
}

fs::path ProgramDirectory(const fs::path& per_user_dir) {
  const char* home = std::getenv(kHomeVariable);
  return ChooseProgramDirectory(home != nullptr ? std::string_view(home) : std::string_view(),
                                ExecutableDirectory(), per_user_dir);
}

}  // namespace fc
