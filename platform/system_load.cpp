#include "platform/system_load.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifndef MADV_PAGEOUT
#define MADV_PAGEOUT 21
#endif

namespace plat {

struct SystemLoad::Impl {
  SystemLoadOptions options;
  std::atomic<bool> stop{false};
  std::atomic<unsigned long long> written{0}, reclaimed{0};
  std::vector<std::thread> threads;

  static void Lowest() { (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19); }

  void DiskWriter() {
    Lowest();
    std::vector<char> block(1u << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131);
    for (int n = 0; !stop; ++n) {
      const std::string path = (options.scratchDir / ("load-" + std::to_string(n % 2) + ".bin")).string();
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (fd < 0) return;
      for (size_t done = 0; done < options.diskFileBytes && !stop; done += block.size()) {
        block[0] = static_cast<char>(done >> 20);
        if (::write(fd, block.data(), block.size()) < 0) break;
        written += block.size();
        if ((done >> 20) % 16 == 15) (void)::fsync(fd);
      }
      (void)::fsync(fd);
      ::close(fd);
      ::unlink(path.c_str());
    }
  }

  void MemoryHog() {
    Lowest();
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    while (!stop) {
      void* p = ::mmap(nullptr, options.hogBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) return;
      auto* bytes = static_cast<volatile char*>(p);
      for (size_t i = 0; i < options.hogBytes && !stop; i += page) bytes[i] = 1;
      ::munmap(p, options.hogBytes);
    }
  }

  // Pushes out the pages of every file this process maps (code, libraries, data files).
  void Reclaimer() {
    Lowest();
    while (!stop) {
      if (std::FILE* maps = std::fopen("/proc/self/maps", "re")) {
        char line[4096];
        while (std::fgets(line, sizeof line, maps)) {
          unsigned long lo = 0, hi = 0, offset = 0, inode = 0;
          char perms[8] = {}, dev[32] = {};
          if (std::sscanf(line, "%lx-%lx %7s %lx %31s %lu", &lo, &hi, perms, &offset, dev, &inode) < 6) continue;
          if (inode == 0) continue;
          if (::madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_PAGEOUT) == 0) reclaimed += (hi - lo) / 4096;
        }
        std::fclose(maps);
      }
      for (int i = 0; i < 5 && !stop; ++i) ::usleep(10000);
    }
  }

  void CpuLoop() {
    Lowest();
    volatile double x = 1;
    while (!stop) x = x * 1.0000001 + 1e-9;
  }
};

SystemLoad::SystemLoad(const SystemLoadOptions& options) : impl_(std::make_unique<Impl>()) {
  impl_->options = options;
  Impl* i = impl_.get();
  if (!options.scratchDir.empty() && options.diskFileBytes > 0) i->threads.emplace_back([i] { i->DiskWriter(); });
  if (options.hogBytes > 0) i->threads.emplace_back([i] { i->MemoryHog(); });
  if (options.reclaimOwnPages) i->threads.emplace_back([i] { i->Reclaimer(); });
  for (int n = 0; n < options.cpuLoops; ++n) i->threads.emplace_back([i] { i->CpuLoop(); });
}

SystemLoad::~SystemLoad() {
  impl_->stop = true;
  for (auto& t : impl_->threads) t.join();
}

unsigned long long SystemLoad::BytesWritten() const { return impl_->written.load(); }
unsigned long long SystemLoad::PagesReclaimed() const { return impl_->reclaimed.load(); }

}  // namespace plat
