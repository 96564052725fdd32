#pragma once
// The two worker threads of a start: the start-up load thread reads every data and settings file
// the page and the player need (the page boot joins it before it sends the page its first data);
// the start-up update thread installs the program's copy and autostart entry and looks for updates.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <functional>
#include <string_view>
#include <thread>

// The start-up's state.
struct StartupState {
  // The load thread, started by the start-up and joined by the first page boot.
  std::thread StartupLoadThread;
  // Whether the browser was started with the graphics switches (0 or 1).
  std::atomic<int> GpuAccelerationOn{0};
  // Set by the load thread once the song list is final (before the slower settings reads), so
  // the page boot can send the list while the rest still loads.
  std::mutex SongListReadyMutex;
  std::condition_variable SongListReadyChanged;
  bool SongListReady = false;  // guarded by SongListReadyMutex
  // Set when the main page has loaded for the first time: the update thread installs nothing
  // (program copy, desktop and autostart entries) before the program has shown its page.
  std::mutex PageConnectedMutex;
  std::condition_variable PageConnectedChanged;
  bool PageConnected = false;  // guarded by PageConnectedMutex
};
extern StartupState Startup;

// Waits until the load thread has made the song list final (at once when it already has).
void WaitForStartupSongList();

// Body of the start-up load thread. Always reaches its end, whatever the files hold.
void RunStartupLoad();

// Runs `load`, and runs it again while `empty` says nothing came of it and the file at
// `installPath` changed meanwhile (a writer was replacing it), at most 25 more times, 200 ms
// apart. A file that stays as it was is read once, and a start never waits for it. Returns the
// number of loads.
int LoadUntilFileSettles(std::wstring_view installPath, const std::function<void()>& load,
                         const std::function<bool()>& empty);

// The main page has loaded: lets the update thread go on (window thread; more calls do nothing).
void MarkPageConnected();

// Body of the start-up update thread (detached). Waits for the main page's first load.
void RunStartupUpdates();
