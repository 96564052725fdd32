#include "platform/memory.h"

#include <alloca.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

namespace plat {

namespace {

std::atomic<bool> g_memoryLocked{false};

}  // namespace

void AdviseLargePages(const void* data, size_t bytes) {
  constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
  const auto start = reinterpret_cast<uintptr_t>(data);
  const uintptr_t first = (start + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t end = (start + bytes) & ~(kLargePage - 1);
  if (bytes == 0 || end <= first) return;
  ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

bool LockProcessMemory(std::string* detail) {
  // On fault: the reserved but untouched parts (thread stacks, allocator arenas) cost nothing
  // until used.
  if (::mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) != 0) {
    if (detail) *detail = std::string("mlockall: ") + std::strerror(errno);
    return false;
  }
  g_memoryLocked = true;
  LockMappedFiles();
  return true;
}

void LockMappedFiles() {
  if (!g_memoryLocked.load()) return;
  static std::mutex mu;
  static std::set<uintptr_t>* done = new std::set<uintptr_t>;  // starts of mappings already read in
  std::lock_guard lock(mu);
  std::FILE* maps = std::fopen("/proc/self/maps", "re");
  if (!maps) return;
  char line[4096];
  while (std::fgets(line, sizeof line, maps)) {
    unsigned long lo = 0, hi = 0, offset = 0, inode = 0;
    char perms[8] = {}, dev[32] = {};
    if (std::sscanf(line, "%lx-%lx %7s %lx %31s %lu", &lo, &hi, perms, &offset, dev, &inode) < 6) continue;
    // Files only (code, read-only data of the libraries); a large data file mapped for reading
    // is left to the page cache.
    if (inode == 0 || perms[0] != 'r' || hi - lo > (256ul << 20) || !done->insert(lo).second) continue;
    (void)::mlock(reinterpret_cast<void*>(lo), hi - lo);
  }
  std::fclose(maps);
}

__attribute__((noinline)) void PrefaultStack(size_t bytes) {
  if (bytes == 0) return;
  auto* stack = static_cast<volatile unsigned char*>(alloca(bytes));
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  for (size_t i = 0; i < bytes; i += page) stack[i] = 0;
  stack[bytes - 1] = 0;
}

void PrefaultBuffer(void* data, size_t bytes) {
  if (!data || bytes == 0) return;
  auto* p = static_cast<volatile unsigned char*>(data);
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  for (size_t i = 0; i < bytes; i += page) p[i] = p[i];
  p[bytes - 1] = p[bytes - 1];
}

}  // namespace plat
