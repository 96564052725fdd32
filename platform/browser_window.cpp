#include "platform/browser_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/message_loop.h"
#include "platform/x_connection.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>

namespace fs = std::filesystem;

namespace plat {
namespace {

pid_t ParentOf(pid_t pid) {
  auto stat = ReadFileBytes("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return 0;
  size_t close = stat->rfind(')');  // the name may hold blanks and parentheses
  if (close == std::string::npos) return 0;
  char state = 0;
  int ppid = 0;
  if (std::sscanf(stat->c_str() + close + 1, " %c %d", &state, &ppid) != 2) return 0;
  return ppid;
}

bool IsOwnProcess(pid_t pid) {
  const pid_t self = ::getpid();
  for (int depth = 0; depth < 6 && pid > 1; ++depth) {
    if (pid == self) return true;
    pid = ParentOf(pid);
  }
  return false;
}

// Calls fn for every managed top-level window of our process family.
bool ForEachOwnWindow(const std::function<void(Display*, Window)>& fn) {
  if (!DisplayAvailable()) return false;
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return false;
  Window root = DefaultRootWindow(dpy);
  Atom clientList = XInternAtom(dpy, "_NET_CLIENT_LIST", False);
  Atom wmPid = XInternAtom(dpy, "_NET_WM_PID", False);
  Atom type;
  int format;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool any = false;
  if (XGetWindowProperty(dpy, root, clientList, 0, 4096, False, XA_WINDOW, &type, &format, &count,
                         &after, &data) == Success && data && format == 32) {
    std::vector<Window> windows(reinterpret_cast<Window*>(data), reinterpret_cast<Window*>(data) + count);
    XFree(data);
    for (Window w : windows) {
      unsigned char* pidData = nullptr;
      unsigned long n = 0;
      if (XGetWindowProperty(dpy, w, wmPid, 0, 1, False, XA_CARDINAL, &type, &format, &n, &after,
                             &pidData) != Success || !pidData) continue;
      long pid = n == 1 ? *reinterpret_cast<long*>(pidData) : 0;
      XFree(pidData);
      if (pid > 0 && IsOwnProcess(static_cast<pid_t>(pid))) {
        fn(dpy, w);
        any = true;
      }
    }
  } else if (data) {
    XFree(data);
  }
  XFlush(dpy);
  XCloseDisplay(dpy);
  return any;
}

void SendClientMessage(Display* dpy, Window w, const char* name, long a0, long a1, long a2) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = XInternAtom(dpy, name, False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = a0;
  ev.xclient.data.l[1] = a1;
  ev.xclient.data.l[2] = a2;
  XSendEvent(dpy, DefaultRootWindow(dpy), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
}

// The focus watcher: its thread follows the root window's active-window property on a connection
// of its own until woken through the pipe. Touched under `mutex` only.
struct FocusWatch {
  std::mutex mutex;
  std::thread thread;
  int wake[2] = {-1, -1};
  std::atomic<bool> lost{false};  // the server went away
};
FocusWatch focusWatch;

// Whether the active window (as the window manager publishes it) is one of ours.
bool ActiveWindowIsOwn(Display* dpy, Atom activeAtom, Atom pidAtom) {
  Atom type;
  int format;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(dpy, DefaultRootWindow(dpy), activeAtom, 0, 1, False, XA_WINDOW, &type,
                         &format, &n, &after, &data) != Success || !data) return false;
  const Window active = (n == 1 && format == 32) ? *reinterpret_cast<Window*>(data) : 0;
  XFree(data);
  if (!active) return false;
  data = nullptr;
  if (XGetWindowProperty(dpy, active, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &n, &after,
                         &data) != Success || !data) return false;
  const long pid = (n == 1 && format == 32) ? *reinterpret_cast<long*>(data) : 0;
  XFree(data);
  return pid > 0 && IsOwnProcess(static_cast<pid_t>(pid));
}

void FocusWatchThread(Display* dpy, int wake, uint32_t messageId) {
  const Atom activeAtom = XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False);
  const Atom pidAtom = XInternAtom(dpy, "_NET_WM_PID", False);
  bool own = false;
  {
    x11::ErrorTrap trap(dpy);  // the active window may vanish while we read it
    own = ActiveWindowIsOwn(dpy, activeAtom, pidAtom);
  }
  for (;;) {
    bool changed = false;
    while (!focusWatch.lost.load() && XPending(dpy)) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type == PropertyNotify && ev.xproperty.atom == activeAtom) changed = true;
    }
    if (changed && !focusWatch.lost.load()) {
      x11::ErrorTrap trap(dpy);
      const bool nowOwn = ActiveWindowIsOwn(dpy, activeAtom, pidAtom);
      if (nowOwn && !own) PostWindowMessage(messageId);
      own = nowOwn;
    }
    pollfd p[2] = {{wake, POLLIN, 0}, {ConnectionNumber(dpy), POLLIN, 0}};
    if (::poll(p, focusWatch.lost.load() ? 1 : 2, -1) < 0) continue;
    if (p[0].revents) break;
  }
  x11::CloseConnection(dpy);
}

}  // namespace

bool WatchOwnWindowFocus(uint32_t messageId) {
  if (!DisplayAvailable()) return false;
  std::lock_guard lock(focusWatch.mutex);
  if (focusWatch.thread.joinable()) return true;
  Display* dpy = x11::OpenConnection(&focusWatch.lost);
  if (!dpy) return false;
  // Selected before the thread starts, so no change after this call is missed.
  XSelectInput(dpy, DefaultRootWindow(dpy), PropertyChangeMask);
  XSync(dpy, False);
  if (::pipe2(focusWatch.wake, O_CLOEXEC) != 0) {
    x11::CloseConnection(dpy);
    return false;
  }
  try {
    focusWatch.thread = std::thread(FocusWatchThread, dpy, focusWatch.wake[0], messageId);
  } catch (...) {
    ::close(focusWatch.wake[0]);
    ::close(focusWatch.wake[1]);
    x11::CloseConnection(dpy);
    return false;
  }
  return true;
}

void StopWatchingOwnWindowFocus() {
  std::lock_guard lock(focusWatch.mutex);
  if (!focusWatch.thread.joinable()) return;
  char b = 1;
  (void)!::write(focusWatch.wake[1], &b, 1);
  focusWatch.thread.join();
  ::close(focusWatch.wake[0]);
  ::close(focusWatch.wake[1]);
}

bool BringOwnWindowsForward() {
  return ForEachOwnWindow([](Display* dpy, Window w) {
    XMapRaised(dpy, w);
    SendClientMessage(dpy, w, "_NET_ACTIVE_WINDOW", 2 /* from a pager: honoured */, CurrentTime, 0);
  });
}

bool MinimizeOwnWindows() {
  return ForEachOwnWindow([](Display* dpy, Window w) { XIconifyWindow(dpy, w, DefaultScreen(dpy)); });
}

bool SetOwnWindowsFullscreen(bool on) {
  return ForEachOwnWindow([on](Display* dpy, Window w) {
    Atom full = XInternAtom(dpy, "_NET_WM_STATE_FULLSCREEN", False);
    SendClientMessage(dpy, w, "_NET_WM_STATE", on ? 1 : 0, static_cast<long>(full), 0);
  });
}

namespace {

// Browser processes started by LaunchBrowser.
struct BrowserProcess {
  pid_t pid = 0;
  std::atomic<bool> endedByUs{false};
  // The end of what it writes on standard error, kept for the report of an early end.
  std::mutex errMu;
  std::condition_variable errDone;
  std::string errTail;  // under errMu
  bool errClosed = false;  // under errMu: every writer has closed the pipe
};

constexpr size_t kStderrTailBytes = 2000;

// Passes the browser's standard error on to ours and keeps its end.
void ReadBrowserStderr(std::shared_ptr<BrowserProcess> proc, int fd) {
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    (void)!::write(STDERR_FILENO, buf, static_cast<size_t>(n));
    std::lock_guard lock(proc->errMu);
    proc->errTail.append(buf, static_cast<size_t>(n));
    if (proc->errTail.size() > 2 * kStderrTailBytes)
      proc->errTail.erase(0, proc->errTail.size() - kStderrTailBytes);
  }
  ::close(fd);
  std::lock_guard lock(proc->errMu);
  proc->errClosed = true;
  proc->errDone.notify_all();
}
std::mutex browserMu;
std::vector<std::shared_ptr<BrowserProcess>> browsers;

std::vector<std::string> SplitArgs(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n') {
      if (!cur.empty()) out.push_back(std::move(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(std::move(cur));
  return out;
}

bool Executable(const fs::path& p) { return !p.empty() && ::access(p.c_str(), X_OK) == 0; }


}  // namespace

bool RunningAsRoot() { return ::geteuid() == 0; }



BrowserChoice FindBrowser() {
  BrowserChoice choice;
  const char* env = std::getenv("TAVELO_BROWSER");
  std::string want = env ? env : "";
  if (want == "none") {
    choice.none = true;
    return choice;
  }
  if (!want.empty() && want != "chromium") {
    if (Executable(want)) choice.program = want;
    return choice;
  }
  for (const char* p : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
    if (Executable(p)) {
      choice.program = p;
      return choice;
    }
  }
  if (const char* path = std::getenv("PATH")) {
    std::string dirs(path);
    size_t pos = 0;
    while (pos <= dirs.size()) {
      size_t next = dirs.find(':', pos);
      if (next == std::string::npos) next = dirs.size();
      fs::path candidate = fs::path(dirs.substr(pos, next - pos)) / "chromium";
      if (Executable(candidate)) {
        choice.program = candidate;
        break;
      }
      pos = next + 1;
    }
  }
  return choice;
}

namespace {

pid_t StartBrowser(std::vector<std::string> args, const fs::path& profileDir, const std::string& extraArgs,
                   BrowserExited exited) {
  std::error_code ec;
  fs::create_directories(profileDir, ec);
  for (auto& a : SplitArgs(extraArgs)) args.push_back(a);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int err[2] = {-1, -1};
  if (::pipe2(err, O_CLOEXEC) != 0) return 0;
  static const char kExecFailed[] = "the browser program cannot be executed\n";
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(err[0]);
    ::close(err[1]);
    return 0;
  }
  if (pid == 0) {
    // Only async-signal-safe calls here. The browser dies with us, in its own process group
    // so that EndBrowserProcesses reaches its helpers too.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(0);
    ::dup2(err[1], STDERR_FILENO);  // dup2 clears close-on-exec on the copy
    ::execv(argv[0], argv.data());
    (void)!::write(STDERR_FILENO, kExecFailed, sizeof kExecFailed - 1);
    ::_exit(127);
  }
  ::close(err[1]);
  ::setpgid(pid, pid);
  const auto started = std::chrono::steady_clock::now();
  auto proc = std::make_shared<BrowserProcess>();
  proc->pid = pid;
  std::thread(ReadBrowserStderr, proc, err[0]).detach();
  {
    std::lock_guard lock(browserMu);
    browsers.push_back(proc);
  }
  std::thread([proc, started, exited = std::move(exited)] {
    int status = 0;
    while (::waitpid(proc->pid, &status, 0) < 0 && errno == EINTR) {
    }
    BrowserExit how;
    how.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    how.signaled = WIFSIGNALED(status);
    how.code = how.signaled ? WTERMSIG(status) : WEXITSTATUS(status);
    {
      std::lock_guard lock(browserMu);
      browsers.erase(std::remove(browsers.begin(), browsers.end(), proc), browsers.end());
    }
    if (proc->endedByUs || !exited) return;
    {
      // Its helpers may hold the pipe a moment longer; the report does not wait long for them.
      std::unique_lock lock(proc->errMu);
      proc->errDone.wait_for(lock, std::chrono::seconds(1), [&] { return proc->errClosed; });
      how.stderrTail = proc->errTail.size() > kStderrTailBytes
                           ? proc->errTail.substr(proc->errTail.size() - kStderrTailBytes)
                           : proc->errTail;
    }
    PostWindowTask([exited, how] { exited(how); });
  }).detach();
  return pid;
}

std::vector<std::string> AppModeArgs(const fs::path& program, const std::string& address,
                                     const fs::path& profileDir) {
  std::vector<std::string> args = {program.string(),
                                   "--app=" + address,
                                   "--user-data-dir=" + profileDir.string(),
                                   "--no-first-run",
                                   "--no-default-browser-check",
                                   "--disable-features=Translate",
                                   "--autoplay-policy=no-user-gesture-required"};
  // Chromium refuses to start as root with its sandbox (containers, kiosks, CI run as root).
  if (RunningAsRoot()) args.push_back("--no-sandbox");
  return args;
}

}  // namespace

bool LaunchBrowser(const fs::path& program, const std::string& address,
                   const fs::path& profileDir, const std::string& extraArgs,
                   BrowserExited exited) {
  auto args = AppModeArgs(program, address, profileDir);
  args.insert(args.begin() + 2, "--start-maximized");
  return StartBrowser(std::move(args), profileDir, extraArgs, std::move(exited)) != 0;
}

int LaunchBrowserOnRect(const fs::path& program, const std::string& address, const fs::path& profileDir,
                        const std::string& extraArgs, const ScreenRect& rect, BrowserExited exited) {
  auto args = AppModeArgs(program, address, profileDir);
  // Placed on the rectangle, then full screen there: no frame, nothing else on that monitor.
  args.push_back("--window-position=" + std::to_string(rect.left) + "," + std::to_string(rect.top));
  args.push_back("--window-size=" + std::to_string(rect.right - rect.left) + "," +
                 std::to_string(rect.bottom - rect.top));
  args.push_back("--kiosk");
  return StartBrowser(std::move(args), profileDir, extraArgs, std::move(exited));
}

void EndBrowserProcess(int pid) {
  if (pid <= 0) return;
  std::lock_guard lock(browserMu);
  for (auto& proc : browsers) {
    if (proc->pid != pid) continue;
    proc->endedByUs = true;
    ::kill(-proc->pid, SIGTERM);
  }
}

bool OwnWindowCenter(int skipGroup, int& x, int& y) {
  bool found = false;
  ForEachOwnWindow([&](Display* dpy, Window w) {
    if (found) return;
    Atom type;
    int format;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    Atom wmPid = XInternAtom(dpy, "_NET_WM_PID", False);
    if (XGetWindowProperty(dpy, w, wmPid, 0, 1, False, XA_CARDINAL, &type, &format, &n, &after, &data) != Success ||
        !data)
      return;
    const long pid = n == 1 ? *reinterpret_cast<long*>(data) : 0;
    XFree(data);
    if (skipGroup > 0 && pid > 0 && ::getpgid(static_cast<pid_t>(pid)) == skipGroup) return;
    XWindowAttributes attr{};
    if (!XGetWindowAttributes(dpy, w, &attr)) return;
    Window child;
    int rx = 0, ry = 0;
    XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), 0, 0, &rx, &ry, &child);
    x = rx + attr.width / 2;
    y = ry + attr.height / 2;
    found = true;
  });
  return found;
}

void EndBrowserProcesses() {
  std::lock_guard lock(browserMu);
  for (auto& proc : browsers) {
    proc->endedByUs = true;
    ::kill(-proc->pid, SIGTERM);
  }
}


}  // namespace plat
