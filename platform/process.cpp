#include "platform/process.h"

#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/codepage.h"

extern char** environ;

namespace plat {
namespace {

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Waits for the child up to the deadline; true with its status when it ended.
bool WaitWithLimit(pid_t pid, unsigned timeoutMs, int& status) {
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  const double deadline = NowMs() + timeoutMs;
  for (;;) {
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) {
      if (pidfd >= 0) ::close(pidfd);
      return r == pid;
    }
    double left = deadline - NowMs();
    if (left <= 0) break;
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(left) + 1);
    } else {
      SleepMs(static_cast<unsigned>(left < 5 ? left + 1 : 5));
    }
  }
  if (pidfd >= 0) ::close(pidfd);
  return false;
}


// Starts argv without a window: standard streams on /dev/null, no blocked signals, default
// handlers, a session of its own (so it has no terminal and a Ctrl+C meant for us does not reach
// it, and its process group can be ended as one). `cwd` empty keeps ours; `extraEnv` entries
// ("NAME=value") are added to our environment; standard output and error go to `outFd` when it
// is not -1. The process id, or -1 when it cannot start.
pid_t SpawnHidden(const std::vector<std::string>& argv, const std::string& cwd,
                  const std::vector<std::string>& extraEnv, int outFd = -1) {
  if (argv.empty() || argv[0].empty()) return -1;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  for (char** e = environ; e && *e; ++e) env.push_back(*e);
  for (const auto& e : extraEnv) env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  for (int fd = 0; fd <= 2; ++fd) {
    if (fd > 0 && outFd >= 0) posix_spawn_file_actions_adddup2(&actions, outFd, fd);
    else posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGCHLD}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  int err = ::posix_spawnp(&pid, args[0], &actions, &attr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return err == 0 ? pid : -1;
}

// Reaps the child when it ends, so it never lingers as a zombie.
void ReapLater(pid_t pid) {
  try {
    std::thread([pid] {
      int st = 0;
      while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (...) {
  }
}

constexpr char kSuccessorVariable[] = "TAVELO_SUCCESSOR_OF";

}  // namespace

int RunHiddenAndWait(const std::vector<std::string>& argv, unsigned timeoutMs) {
  pid_t pid = SpawnHidden(argv, {}, {});
  if (pid < 0) return -1;
  int status = 0;
  if (WaitWithLimit(pid, timeoutMs, status)) return ExitCodeOf(status);
  ReapLater(pid);  // still running: leave it
  return kStillActive;
}

std::string RunHiddenCommandCapture(std::wstring_view commandLine, unsigned timeoutMs) {
  std::string dir = "/tmp";
  if (const char* t = std::getenv("TMPDIR"); t && *t) dir = t;
  std::string name = dir + "/tavXXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return {};
  std::string out;
  pid_t pid = SpawnHidden(SplitCommandLine(commandLine), {}, {}, fd);
  if (pid >= 0) {
    int status = 0;
    if (!WaitWithLimit(pid, timeoutMs, status)) ReapLater(pid);  // still running: left running
    // What the command wrote so far, also when it is still running.
    char buf[65536];
    ssize_t n = 0;
    off_t at = 0;
    while ((n = ::pread(fd, buf, sizeof buf, at)) > 0) {
      out.append(buf, size_t(n));
      at += n;
    }
  }
  ::close(fd);
  ::unlink(name.c_str());
  return out;
}

int RunHiddenAndWaitOrEnd(const std::vector<std::string>& argv, unsigned timeoutMs) {
  pid_t pid = SpawnHidden(argv, {}, {});
  if (pid < 0) return -1;
  int status = 0;
  if (WaitWithLimit(pid, timeoutMs, status)) return ExitCodeOf(status);
  ::kill(-pid, SIGKILL);  // the whole group: what it started goes too
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return kStillActive;
}

bool StartProgram(const std::filesystem::path& program, const std::filesystem::path& cwd,
                   bool asSuccessor) {
  std::vector<std::string> env;
  if (asSuccessor) env.push_back(std::string(kSuccessorVariable) + "=" + std::to_string(::getpid()));
  pid_t pid = SpawnHidden({program.string()}, cwd.string(), env);
  if (pid < 0) return false;
  ReapLater(pid);
  return true;
}

bool TakeSuccessorMark() {
  const char* v = std::getenv(kSuccessorVariable);
  bool marked = v && *v;
  ::unsetenv(kSuccessorVariable);
  return marked;
}

std::vector<std::string> SplitCommandLine(std::wstring_view line) {
  std::vector<std::string> out;
  std::wstring cur;
  bool inArg = false, quoted = false;
  for (size_t i = 0; i < line.size();) {
    wchar_t c = line[i];
    if (c == L'\\') {
      size_t n = 0;
      while (i < line.size() && line[i] == L'\\') ++n, ++i;
      if (i < line.size() && line[i] == L'"') {
        cur.append(n / 2, L'\\');
        if (n % 2) cur.push_back(L'"'), ++i;
      } else {
        cur.append(n, L'\\');
      }
      inArg = true;
      continue;
    }
    if (c == L'"') {
      quoted = !quoted;
      inArg = true;
      ++i;
      continue;
    }
    if ((c == L' ' || c == L'\t') && !quoted) {
      if (inArg) out.push_back(WideToUtf8Bytes(cur));
      cur.clear();
      inArg = false;
      ++i;
      continue;
    }
    cur.push_back(c);
    inArg = true;
    ++i;
  }
  if (inArg) out.push_back(WideToUtf8Bytes(cur));
  return out;
}

int RunHiddenAndWait(std::wstring_view commandLine, unsigned timeoutMs) {
  return RunHiddenAndWait(SplitCommandLine(commandLine), timeoutMs);
}

}  // namespace plat

namespace plat {
void SetEnvironmentVariable(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}
}  // namespace plat
