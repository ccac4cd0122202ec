#include "analysis/measurement_state.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace fc {

// calloc rather than new[]: the zeroed pages of the 4 MB store come from the system untouched,
// so a program that reads a few frames does not pay for writing zeros over all of it.
MeasurementState::MeasurementState()
    : RawData(static_cast<uint8_t*>(
          std::calloc(static_cast<std::size_t>(kFrameCount) * kFrameRowBytes, 1))) {
  if (!RawData) throw std::bad_alloc();
  // A replay fills every row at once: huge pages, where the system has them, come in one piece
  // each rather than a page at a time.
  constexpr std::uintptr_t kHuge = 2 << 20;
  const auto start = reinterpret_cast<std::uintptr_t>(RawData.get());
  const std::uintptr_t first = (start + kHuge - 1) / kHuge * kHuge;
  const std::uintptr_t last =
      (start + static_cast<std::uintptr_t>(kFrameCount) * kFrameRowBytes) / kHuge * kHuge;
  if (last > first) {
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
}

void UpdateConsecutive(MeasurementState& state) {
  if (state.ConsecutivePoints == 0) state.ConsecutivePoints = 3;
  switch (state.ConsecutivePoints) {
    case 3:
      state.SecondPointOffset = 2;
      state.ThirdPointOffset = 4;
      break;
    case 2:
      state.SecondPointOffset = 2;
      state.ThirdPointOffset = 0;
      break;
    case 1:
      state.SecondPointOffset = 0;
      state.ThirdPointOffset = 0;
      break;
    default:
      break;
  }
  if (state.MaxLimitCounts < kMaxLimitLowest || state.MaxLimitCounts > kMaxLimitHighest) {
    state.MaxLimitCounts = 5;
  }
  if (state.JumpCounts < kJumpLowest || state.JumpCounts > kJumpHighest) state.JumpCounts = 80;
}

}  // namespace fc
