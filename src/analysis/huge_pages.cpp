#include "analysis/huge_pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace fc {

void* MapOnHugePages(std::size_t size) {
  // Mapped one huge page larger, then trimmed at both ends to the boundary.
  void* memory = ::mmap(nullptr, size + kHugePageBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  auto* const start = static_cast<char*>(memory);
  const auto address = reinterpret_cast<std::uintptr_t>(start);
  char* const aligned = start + (kHugePageBytes - address % kHugePageBytes) % kHugePageBytes;
  if (aligned > start) ::munmap(start, static_cast<std::size_t>(aligned - start));
  char* const tail = aligned + size;
  if (start + size + kHugePageBytes > tail) {
    ::munmap(tail, static_cast<std::size_t>(start + size + kHugePageBytes - tail));
  }
  ::madvise(aligned, size, MADV_HUGEPAGE);
  return aligned;
}

}  // namespace fc
