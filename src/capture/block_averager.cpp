#include "capture/block_averager.h"

#include <cmath>

namespace fc {

namespace {
// First input frame of output frame k: ceil(k * in / out).
uint64_t BlockStart(uint64_t k, uint64_t in, uint64_t out) { return (k * in + out - 1) / out; }
}  // namespace

BlockAverager::BlockAverager(uint32_t input_rate, uint32_t output_rate, int channels)
    : input_rate_(input_rate),
      output_rate_(output_rate),
      channels_(channels),
      next_boundary_(BlockStart(1, input_rate, output_rate)),
      sums_(static_cast<size_t>(channels), 0.0),
      out_(static_cast<size_t>(channels), 128) {}

bool BlockAverager::AdvanceBy(uint64_t count) {
  input_index_ += count;
  in_block_ += count;
  if (input_index_ < next_boundary_) return false;
  for (int c = 0; c < channels_; ++c) {
    out_[c] = ToUnsigned8(sums_[c] / static_cast<double>(in_block_));
    sums_[c] = 0.0;
  }
  in_block_ = 0;
  ++output_index_;
  next_boundary_ = BlockStart(output_index_ + 1, input_rate_, output_rate_);
  return true;
}

uint8_t BlockAverager::ToUnsigned8(double mean) {
  if (std::isnan(mean)) return 128;
  const double scaled = std::round(mean * 128.0 + 128.0);
  if (scaled <= 0.0) return 0;
  if (scaled >= 255.0) return 255;
  return static_cast<uint8_t>(scaled);
}

}  // namespace fc
