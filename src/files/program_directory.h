#pragma once

#include <filesystem>
#include <string_view>

namespace fc {

// Names the directory that holds "Config.vmk", "Raw.txt" and "RPM.txt", in every case.
inline constexpr const char* kHomeVariable = "FREQUENCY_COUNTER_HOME";

// The program directory rule, without looking at the environment:
// - a non-empty `home_override` (the FREQUENCY_COUNTER_HOME variable) wins;
// - otherwise the executable's directory when the user can write there (a build tree, a copy
//   in a home folder) and it is not a system directory;
// - otherwise `per_user_dir` (an installed copy; also when root runs it from /usr/bin).
// The chosen directory is created when it does not exist yet; a failure to create it is left
// to the file operations, which report it when they use the path.
std::filesystem::path ChooseProgramDirectory(std::string_view home_override,
                                             const std::filesystem::path& executable_dir,
                                             const std::filesystem::path& per_user_dir);

// True when `dir` is an existing directory in which the calling user may create files.
bool IsWritableDirectory(const std::filesystem::path& dir);

// True for the directories packages install programs into (/usr/..., /bin, /sbin, /opt/...,
// /app/..., /snap/...): the program never keeps its files there.
bool IsSystemDirectory(const std::filesystem::path& dir);

// The directory of the running executable (from /proc/self/exe); empty when unknown.
std::filesystem::path ExecutableDirectory();

// $XDG_DATA_HOME/frequency-counter, or ~/.local/share/frequency-counter: the same directory
// as Qt's AppDataLocation for an application named "frequency-counter" without organisation.
std::filesystem::path DefaultPerUserDirectory();

// The rule applied to this process: FREQUENCY_COUNTER_HOME, the executable's directory, or
// `per_user_dir`.
std::filesystem::path ProgramDirectory(const std::filesystem::path& per_user_dir);

}  // namespace fc
