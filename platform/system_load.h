#pragma once
// Pressure on the machine for timing benchmarks: what a busy singing-room PC does beside the
// player (a build or a video: disk writes with fsync, memory reclaimed from under the program,
// CPU-bound loops), started and stopped by the benchmark. The load runs in a process of its own,
// as another program would.
#include <cstddef>
#include <filesystem>
#include <memory>

namespace plat {

struct SystemLoadOptions {
  std::filesystem::path scratchDir;  // the disk writer's files (removed at the stop)
  size_t diskFileBytes = 256u << 20; // each file written, fsync'ed every 16 MB, then removed
  size_t hogBytes = 1024u << 20;     // anonymous memory touched, freed and touched again
  int cpuLoops = 0;                  // busy threads at the lowest priority
  // Every 50 ms the benchmark's own file-backed pages (its code and libraries) are pushed out of
  // memory, as the kernel does under memory pressure: a page not locked in memory must then be
  // read back from the busy disk when it is next used.
  bool reclaimOwnPages = true;
};

class SystemLoad {
 public:
  explicit SystemLoad(const SystemLoadOptions& options);
  ~SystemLoad();  // stops every load thread and removes the scratch files
  SystemLoad(const SystemLoad&) = delete;
  SystemLoad& operator=(const SystemLoad&) = delete;
  // Bytes written and pages pushed out so far.
  unsigned long long BytesWritten() const;
  unsigned long long PagesReclaimed() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
