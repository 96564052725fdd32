#pragma once
// The main window: the one place where worker threads meet the user interface. Worker threads of
// every subsystem post the program messages below to the window thread (plat::PostWindowMessage);
// a posted text is owned by the message and freed after handling on every path, also when no page
// exists. WndProc runs on the window thread and handles them one at a time.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/program_messages.h"
#include "platform/message_loop.h"

// The close message's first value when the program is asked to end (a signal): it closes without
// the question a running remote-support session asks.
inline constexpr int64_t kCloseWithoutQuestion = 1;

// The global hotkey (PrintScreen) that toggles the tempo lock.
inline constexpr int kTempoLockHotkeyId = 45313;  // 0xB101

// Window title and class, kept for the logs and for the browser window's title.
inline constexpr const wchar_t* kMainWindowClass = L"KaraokeAppClass";
inline constexpr const wchar_t* kMainWindowTitle = L"Karaoke Sheet Music System - V12.9 Ultimate Core";

// Borderless fullscreen of the main window (the flag is also read by the fullscreen command).
struct FullscreenStateData {
  std::atomic<uint8_t> on{0};
  int savedStyle = 0;                        // 0 when none was saved
  int savedX = 0, savedY = 0, savedW = 0, savedH = 0;
  bool hookInstalled = false;                // the switch keys are held exactly while fullscreen
};

// The main window's state.
struct MainWindowState {
  // Set once the main window exists (before any worker thread starts); worker threads post to it.
  std::atomic<bool> MainWindowHandle{false};

  // Tick pacing. The tick poster sets MainTickInFlight before posting WM_UPDATE_TICK and posts
  // no further tick while it is set (until 500 ms have passed); the window clears it when the
  // main page has run the tick script, or at once when there is no main page.
  std::atomic<uint8_t> MainTickInFlight{0};
  std::atomic<uint8_t> CustomerTickInFlight{0};   // window thread
  std::atomic<uint32_t> LastCustomerTickTime{0};  // window thread, TimeGetTime ms

  // Long scripts: every script over kLongScriptChars takes a new generation; a deferred
  // customer copy in flight records its generation in PendingCustomerInitGeneration (0 = none).
  std::atomic<int> CustomerInitGeneration{0};
  std::atomic<int> PendingCustomerInitGeneration{0};

  FullscreenStateData FullscreenState;  // window thread, but for the flag
};
extern MainWindowState MainWindow;

// The window procedure of the main window (window thread).
void WndProc(plat::WindowMessage& msg);


// Enters or leaves fullscreen; nothing when the window does not exist or the state is current.
void SetFullscreen(bool on);

// Completion handlers of the tick scripts: each clears its in-flight flag.
void OnMainTickScriptDone();
void OnCustomerTickScriptDone();

// Thread body of a deferred customer copy of a long script (owns its copy).
void DeferredCustomerInitThread(std::unique_ptr<std::wstring> script, int generation);

// How the window reaches the two pages: the main page's and the customer page's browser controls
// of the page host. Tests give their own targets; SetPageTargets({}) restores the real ones.
struct PageTargets {
  std::function<bool()> mainExists;
  std::function<void(std::wstring_view, std::function<void(bool)>)> runOnMain;
  std::function<void(std::string_view, std::string)> tableCallOnMain;  // PageView::CallWithTable
  std::function<bool()> customerExists;
  std::function<void(std::wstring_view)> runCustomerScript;  // the script channel's customer run
  std::function<void(std::wstring_view, std::function<void(bool)>)> runOnCustomer;
  std::function<void()> moveFocusIntoPage;
};
void SetPageTargets(PageTargets targets);
