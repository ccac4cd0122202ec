#pragma once

#include <cstddef>
#include <cstdint>

namespace fc {

// Takes lines of the raw data writer's own form (" 7 \r\n" to " 255 \r\n", leading zeros
// allowed) from `q` on, 64 bytes at a time with the processor's 512-bit byte instructions: each
// block's line ends, blanks and digits are checked as bit masks, and the block's values are
// worked out side by side. Stops before the first block holding any other line, where fewer
// than 72 bytes are left, or where `max` is less than 64 away; the caller takes it from there.
// Reads nothing before `q`. Returns the count stored into `out` (up to 64 bytes past it may be
// written, within `max`) and moves `q` past the lines taken. Takes nothing where the processor
// lacks those instructions or where they are turned off.
std::size_t TakeWriterLinesWide(const char*& q, const char* end, uint8_t* out, std::size_t max);

// Whether TakeWriterLinesWide can take lines on this processor, and, for tests, turning it off
// and on again so that both paths are checked on the same machine.
bool WideWriterLinesAvailable();
void UseWideWriterLines(bool on);

}  // namespace fc
