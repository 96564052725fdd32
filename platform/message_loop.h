#pragma once
// The window thread's message loop, in place of the Win32 message queue of the main window.
// Any thread posts; the thread that runs RunMessageLoop handles every message in order. A posted
// text is owned by the message and freed with it on every path: handled, discarded at quit, or
// refused because the loop has ended.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace plat {

// Message ids keep their Windows values, so logs and handlers read the same as on Windows.
inline constexpr uint32_t kWmDestroy = 0x0002;
inline constexpr uint32_t kWmSetFocus = 0x0007;
inline constexpr uint32_t kWmClose = 0x0010;
inline constexpr uint32_t kWmHotkey = 0x0312;
inline constexpr uint32_t kWmUser = 0x0400;

struct WindowMessage {
  uint32_t id = 0;
  int64_t wParam = 0;
  int64_t lParam = 0;
  std::unique_ptr<std::wstring> text;  // owned payload, freed with the message
  std::function<void()> task;          // set for PostWindowTask: run instead of the procedure
};

using WindowProcedure = std::function<void(WindowMessage&)>;

// The procedure that receives every message that is not a task.
void SetWindowProcedure(WindowProcedure proc);

// Queues a message for the window thread. False when the loop has ended; the payload is freed.
bool PostWindowMessage(uint32_t id, int64_t wParam = 0, int64_t lParam = 0,
                       std::unique_ptr<std::wstring> text = nullptr);

// Queues a message ahead of every ordinary one (behind earlier urgent ones): a close request
// must not wait until a flood of page commands has been worked off. False when the loop has ended.
bool PostUrgentWindowMessage(uint32_t id, int64_t wParam = 0, int64_t lParam = 0);

// Queues a function to run on the window thread, in order with the messages.
bool PostWindowTask(std::function<void()> task);


// Runs the loop on the calling thread, which becomes the window thread, until PostQuit. Messages
// still queued then are freed unhandled. Returns the quit code.
int RunMessageLoop();
void PostQuit(int code);
bool OnWindowThread();
// The code the process ends with after the loop: 0 unless a failure set another.
void SetProcessExitCode(int code);
int ProcessExitCode();
bool MessageLoopRunning();


// Makes the loop usable again after it has ended (for tests that run several loops).
void ResetMessageLoop();

}  // namespace plat
