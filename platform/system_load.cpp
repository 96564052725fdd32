#include "platform/system_load.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
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

namespace {

// Counters the load process writes and the benchmark reads (a shared page).
struct LoadCounters {
  std::atomic<unsigned long long> written{0}, reclaimed{0};
};

std::string ScratchFile(const std::filesystem::path& dir, int n) { return (dir / ("load-" + std::to_string(n) + ".bin")).string(); }

void Lowest() { (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19); }

void DiskWriter(const SystemLoadOptions& options, LoadCounters* counters) {
  Lowest();
  std::vector<char> block(1u << 20);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131);
  for (int n = 0;; ++n) {
    const std::string path = ScratchFile(options.scratchDir, n % 2);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    for (size_t done = 0; done < options.diskFileBytes; done += block.size()) {
      block[0] = static_cast<char>(done >> 20);
      if (::write(fd, block.data(), block.size()) < 0) break;
      counters->written += block.size();
      if ((done >> 20) % 16 == 15) (void)::fsync(fd);
    }
    (void)::fsync(fd);
    ::close(fd);
    ::unlink(path.c_str());
  }
}

void MemoryHog(const SystemLoadOptions& options) {
  Lowest();
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  for (;;) {
    void* p = ::mmap(nullptr, options.hogBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return;
    auto* bytes = static_cast<volatile char*>(p);
    for (size_t i = 0; i < options.hogBytes; i += page) bytes[i] = 1;
    ::munmap(p, options.hogBytes);
  }
}

// Pushes out the pages of every file the benchmark's process maps (code, libraries, data files),
// as memory pressure from another program would.
void Reclaimer(pid_t target, LoadCounters* counters) {
  Lowest();
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, target, 0));
  if (pidfd < 0) return;
  const std::string mapsPath = "/proc/" + std::to_string(target) + "/maps";
  for (;;) {
    if (std::FILE* maps = std::fopen(mapsPath.c_str(), "re")) {
      char line[4096];
      while (std::fgets(line, sizeof line, maps)) {
        unsigned long lo = 0, hi = 0, offset = 0, inode = 0;
        char perms[8] = {}, dev[32] = {};
        if (std::sscanf(line, "%lx-%lx %7s %lx %31s %lu", &lo, &hi, perms, &offset, dev, &inode) < 6 || inode == 0) continue;
        iovec range{reinterpret_cast<void*>(lo), hi - lo};
        if (::syscall(SYS_process_madvise, pidfd, &range, 1, MADV_PAGEOUT, 0) >= 0) counters->reclaimed += (hi - lo) / 4096;
      }
      std::fclose(maps);
    }
    ::usleep(50000);
  }
}

void CpuLoop() {
  Lowest();
  volatile double x = 1;
  for (;;) x = x * 1.0000001 + 1e-9;
}

[[noreturn]] void RunLoadProcess(const SystemLoadOptions& options, pid_t parent, LoadCounters* counters) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(0);
  std::vector<std::thread> threads;
  if (!options.scratchDir.empty() && options.diskFileBytes > 0) threads.emplace_back([&] { DiskWriter(options, counters); });
  if (options.hogBytes > 0) threads.emplace_back([&] { MemoryHog(options); });
  if (options.reclaimOwnPages) threads.emplace_back([&] { Reclaimer(parent, counters); });
  for (int n = 0; n < options.cpuLoops; ++n) threads.emplace_back(CpuLoop);
  for (;;) ::pause();
}

}  // namespace

struct SystemLoad::Impl {
  SystemLoadOptions options;
  pid_t child = -1;
  LoadCounters* counters = nullptr;
};

SystemLoad::SystemLoad(const SystemLoadOptions& options) : impl_(std::make_unique<Impl>()) {
  impl_->options = options;
  void* shared = ::mmap(nullptr, sizeof(LoadCounters), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return;
  impl_->counters = new (shared) LoadCounters;
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) RunLoadProcess(options, parent, impl_->counters);
  impl_->child = pid;
}

SystemLoad::~SystemLoad() {
  if (impl_->child > 0) {
    ::kill(impl_->child, SIGKILL);
    ::waitpid(impl_->child, nullptr, 0);
  }
  if (!impl_->options.scratchDir.empty())
    for (int n = 0; n < 2; ++n) ::unlink(ScratchFile(impl_->options.scratchDir, n).c_str());
  if (impl_->counters) ::munmap(impl_->counters, sizeof(LoadCounters));
}

unsigned long long SystemLoad::BytesWritten() const { return impl_->counters ? impl_->counters->written.load() : 0; }
unsigned long long SystemLoad::PagesReclaimed() const { return impl_->counters ? impl_->counters->reclaimed.load() : 0; }

}  // namespace plat
