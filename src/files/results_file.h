#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "analysis/measurement_state.h"
#include "analysis/message.h"

namespace fc {

inline constexpr std::string_view kResultsFileName = "RPM.txt";

// Scans frame `frame` for edges (a step of more than 220 counts to one of the next two
// first-channel points) and returns its results line without the line end:
// frame, three blanks, T in "####.0000", three blanks, R in "#####.0".
// Leaves FoundMax, FoundMin, FoundNextMax, Approach, Leave, ApproachNext and LeaveNext with the
// values of the scan. Needs BufferSize and QuillRecordFreq above 0 and `frame` in 0..1000.
std::string ResultsLine(MeasurementState& state, int frame);

// The results file: one line per frame, frames 0 .. CurrentFrame (1001 counts as 1000), each
// ending in CR LF. CurrentFrame is not changed, so writing twice gives the same text; the scan
// variables keep the last frame's values. Empty when BufferSize or QuillRecordFreq is 0.
std::string ResultsText(MeasurementState& state);

// Write File. Returns "Done"; or a warning, with the file and the state untouched, when nothing
// has been captured or read yet (BufferSize or QuillRecordFreq 0) or when the file cannot be
// written.
Message WriteResults(MeasurementState& state, const std::filesystem::path& path);

}  // namespace fc
