#include "platform/memory.h"

#include <cstdint>
#include <sys/mman.h>

namespace plat {

void AdviseLargePages(const void* data, size_t bytes) {
  constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
  const auto start = reinterpret_cast<uintptr_t>(data);
  const uintptr_t first = (start + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t end = (start + bytes) & ~(kLargePage - 1);
  if (bytes == 0 || end <= first) return;
  ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

}  // namespace plat
