#include "platform/program_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace plat {

std::filesystem::path PreviousProgramFile(const std::filesystem::path& program) {
  return program.parent_path() / (program.filename().string() + "_old");
}
namespace {

std::mutex hookMutex;
std::function<bool(SwapStep)> stepHook;

bool StepAllowed(SwapStep step) {
  std::function<bool(SwapStep)> hook;
  {
    std::lock_guard lock(hookMutex);
    hook = stepHook;
  }
  return !hook || hook(step);
}

// Copies `from` to a new file `to` with mode 0755 and flushes it to disk.
bool CopyExecutable(const fs::path& from, const fs::path& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = true;
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buf + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  ok = ::fchmod(out, 0755) == 0 && ok;
  ok = ::fsync(out) == 0 && ok;
  ok = ::close(out) == 0 && ok;
  ::close(in);
  if (!ok) ::unlink(to.c_str());
  return ok;
}

void SyncFolder(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool IsProgramFile(const fs::path& file) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char head[4] = {};
  ssize_t n = ::read(fd, head, sizeof head);
  ::close(fd);
  return n == 4 && head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
}

bool SwapProgramFile(const fs::path& newFile, const fs::path& program, const fs::path& previous) {
  const fs::path staged = program.parent_path() / ("." + program.filename().string() + ".new");
  if (!StepAllowed(SwapStep::kStageNew) || !CopyExecutable(newFile, staged)) {
    ::unlink(staged.c_str());
    return false;
  }
  ::unlink(previous.c_str());
  if (!StepAllowed(SwapStep::kKeepPrevious) ||
      (::link(program.c_str(), previous.c_str()) != 0 && !CopyExecutable(program, previous))) {
    ::unlink(staged.c_str());
    return false;
  }
  if (!StepAllowed(SwapStep::kReplace) || ::rename(staged.c_str(), program.c_str()) != 0) {
    ::unlink(staged.c_str());
    return false;
  }
  SyncFolder(program.parent_path());
  return true;
}

void SetSwapStepHook(std::function<bool(SwapStep)> hook) {
  std::lock_guard lock(hookMutex);
  stepHook = std::move(hook);
}

}  // namespace plat
