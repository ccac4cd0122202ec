#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/measurement_state.h"
#include "files/atomic_file.h"
#include "analysis/averaging_panel.h"

namespace fc {

inline constexpr std::string_view kConfigFileName = "Config.vmk";

// Loads the eight lines: ConsecutivePoints, MaxLimitCounts, JumpCounts, the first and last
// averaging boxes, Check1, LookForZeroCrossing, UseHiResTime. Never reports anything; a step
// that fails is skipped and the next one runs. Values are not range-checked (UpdateConsecutive
// does that later).
//
// Reading a number: skip blanks, take the text up to the next blank, comma or line end, then
// skip blanks and consume one comma or line end. The step fails, and the setting keeps its
// value, when that text is not wholly a number ("12abc", "abc", an empty line) or its value
// rounded ties to even does not fit a 16-bit integer; the text is consumed all the same, so the
// next step reads what follows it (the next line, when the line held one value). Blanks never
// reach across a line end.
// Reading a text line takes everything up to the line end (blanks kept) into one buffer that
// starts empty; both boxes are set from the buffer even when the file has already ended, so a
// file ending after line 4 gives both boxes line 4's text, and a missing file empties both.
// Check1 is set from the buffer (after line 6 was read into it, or whatever it last held) only
// when that text is wholly a number that rounds to 0, 1 or 2; otherwise it keeps its state.
// Line ends may be CR LF, LF or CR; a UTF-8 byte-order mark before line 1 is skipped. Only the
// first megabyte of the file is looked at.
// Returns the text that names the path and the reason when the file could not be read (every
// step failed then); the window ignores it, the batch program reports it.
std::optional<std::string> LoadConfiguration(const std::filesystem::path& path,
                                             MeasurementState& state, AveragingPanel& panel,
                                             ReadableFiles accept = ReadableFiles::RegularOnly);

// The same on file contents already in memory; nullopt stands for a file that cannot be
// opened (every step fails).
void LoadConfigurationText(std::optional<std::string_view> text, MeasurementState& state,
                           AveragingPanel& panel);

// The eight lines as saved: numbers in the print form (" 3 "), texts as they stand up to their
// first line break, each line ending in CR LF. Values are written unchecked.
std::string ConfigurationText(const MeasurementState& state, const AveragingPanel& panel);

// Replaces the file atomically. Returns nullopt, or the error text naming the path and the
// reason. Stopping a running capture first is the caller's business.
std::optional<std::string> SaveConfiguration(const std::filesystem::path& path,
                                             const MeasurementState& state,
                                             const AveragingPanel& panel);

}  // namespace fc
