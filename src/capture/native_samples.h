#pragma once

#include <cstddef>
#include <cstdint>

namespace fc {

// The sample formats a sound card is recorded in when it is read directly.
enum class NativeSampleFormat { Signed16, Unsigned8 };

int BytesPerSample(NativeSampleFormat format);

// Converts `frame_count` interleaved frames of `in_channels` native samples (16-bit in the
// machine's byte order) into `out_channels` float samples per frame (-1..1). A mono input
// gives every output channel the same sample; a wider input gives its first channels.
void ToFloatFrames(const uint8_t* native, NativeSampleFormat format, int in_channels,
                   size_t frame_count, int out_channels, float* out);

}  // namespace fc
