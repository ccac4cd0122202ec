#include "capture/native_samples.h"

#include <cstring>

namespace fc {

int BytesPerSample(NativeSampleFormat format) {
  return format == NativeSampleFormat::Signed16 ? 2 : 1;
}

void ToFloatFrames(const uint8_t* native, NativeSampleFormat format, int in_channels,
                   size_t frame_count, int out_channels, float* out) {
  const size_t bytes = static_cast<size_t>(BytesPerSample(format));
  const auto sample = [&](size_t frame, int channel) {
    const uint8_t* at =
        native + (frame * static_cast<size_t>(in_channels) + static_cast<size_t>(channel)) * bytes;
    if (format == NativeSampleFormat::Unsigned8) return (static_cast<float>(*at) - 128.0f) / 128.0f;
    int16_t value = 0;
    std::memcpy(&value, at, sizeof value);
    return static_cast<float>(value) / 32768.0f;
  };
  for (size_t f = 0; f < frame_count; ++f) {
    for (int c = 0; c < out_channels; ++c) {
      *out++ = sample(f, c < in_channels ? c : in_channels - 1);
    }
  }
}

}  // namespace fc
