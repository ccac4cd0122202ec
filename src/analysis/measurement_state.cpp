#include "analysis/measurement_state.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace fc {

namespace {

constexpr std::size_t kHugePage = 2 << 20;
constexpr std::size_t kStoreBytes = static_cast<std::size_t>(kFrameCount) * kFrameRowBytes;
// The store's mapping, rounded up to whole huge pages.
constexpr std::size_t kStoreMapped = (kStoreBytes + kHugePage - 1) / kHugePage * kHugePage;

// A fresh anonymous mapping: its zeroed pages come from the system untouched, so a program that
// reads a few frames does not pay for writing zeros over all of it. It starts on a huge-page
// boundary so that a replay, which fills every row at once, gets the store in two huge pages
// (where the system has them) instead of a thousand small ones.
uint8_t* MapStore() {
  void* memory = ::mmap(nullptr, kStoreMapped + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw std::bad_alloc();
  auto* start = static_cast<uint8_t*>(memory);
  const auto address = reinterpret_cast<std::uintptr_t>(start);
  uint8_t* const aligned = start + (kHugePage - address % kHugePage) % kHugePage;
  if (aligned > start) ::munmap(start, static_cast<std::size_t>(aligned - start));
  const std::size_t after = static_cast<std::size_t>(start + kStoreMapped + kHugePage -
                                                     (aligned + kStoreMapped));
  if (after > 0) ::munmap(aligned + kStoreMapped, after);
  ::madvise(aligned, kStoreMapped, MADV_HUGEPAGE);
  return aligned;
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
