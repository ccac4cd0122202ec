#pragma once

#include <cstddef>

namespace fc {

inline constexpr std::size_t kHugePageBytes = 2 << 20;

// `size` rounded up to whole huge pages.
constexpr std::size_t HugePageRounded(std::size_t size) {
  return (size + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
}

// A fresh anonymous mapping of `size` bytes (a multiple of kHugePageBytes) that starts on a
// huge-page boundary and is offered huge pages, which the system then hands over in one piece
// each instead of page by page. Its pages come zeroed and untouched. nullptr when the system
// has no room; ::munmap(data, size) lets it go.
void* MapOnHugePages(std::size_t size);

}  // namespace fc
