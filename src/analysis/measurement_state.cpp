#include "analysis/measurement_state.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

#include "analysis/huge_pages.h"

namespace fc {

namespace {

constexpr std::size_t kStoreMapped =
    HugePageRounded(static_cast<std::size_t>(kFrameCount) * kFrameRowBytes);

// Its own mapping, so that a program that reads a few frames does not pay for writing zeros
// over all of the store, and a replay, which fills every row at once, gets it in two huge pages
// (where the system has them) instead of a thousand small ones.
uint8_t* MapStore() {
  void* const store = MapOnHugePages(kStoreMapped);
  if (store == nullptr) throw std::bad_alloc();
  return static_cast<uint8_t*>(store);
}

}  // namespace

void MeasurementState::FreeStore::operator()(uint8_t* store) const {
  ::munmap(store, kStoreMapped);
}

MeasurementState::MeasurementState() : RawData(MapStore()) {}

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
