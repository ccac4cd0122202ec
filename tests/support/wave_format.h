#pragma once

#include "capture/wave_input.h"

namespace fc::testing {

// The format the capture opens every device with: 8-bit stereo PCM at 256 Hz.
inline WaveFormat EightBitStereo() {
  WaveFormat format;
  format.format_tag = 1;
  format.channels = 2;
  format.samples_per_sec = 256;
  format.bits_per_sample = 8;
  format.block_align = 2;
  format.avg_bytes_per_sec = 512;
  return format;
}

}  // namespace fc::testing
