#pragma once
// The customer support program's session thread: one connection to the first waiting agent, from
// the candidates through the challenge, the hello and the wait for the agent to the end of the
// session, every step shown in the window's status line and the program log.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "online/rs_state.h"
#include "online/rs_wire.h"
#include "platform/browser_window.h"
#include "platform/monitors.h"

// State of the customer support program's session.
struct HelperSessionState {
  // A session thread runs: set by the window thread before it starts, cleared by that thread
  // when it ends. While set the number cannot be edited and Allow does nothing.
  std::atomic<uint8_t> SessionActiveFlag{0};

  // What the window installs (tests install their own); each may be called from any thread.
  // Sets the status line's text.
  void (*status)(const std::wstring& text) = nullptr;
  // Shows a warning box over the window (does not wait for it).
  void (*warning)(const std::wstring& title, const std::wstring& text) = nullptr;
  // The session thread has ended: the window refreshes its Allow button.
  void (*ended)() = nullptr;
};
extern HelperSessionState Helper;

// "show": the status line and the program log.
void ShowHelperStatus(const std::wstring& text);

// The thread body: one session with the agent, the hello naming the customer. Clears
// SessionActiveFlag when it ends, on every path.
void RunHelperSession(SupportAgent agent, std::wstring customerName);

// The monitor showing most of the window (the primary one when the window is on none, `fallback`
// when no monitor is known).
RsRect PickKeypadMonitor(const std::vector<plat::MonitorInfo>& monitors, const std::optional<plat::ScreenRect>& window,
                         const RsRect& fallback);

// The hello this program sends: the customer's number (or "(설치 전)") and fixed values.
SupportHelloValues HelperHelloValues(const std::wstring& auth, const std::wstring& customerName, int32_t width,
                                     int32_t height, const std::wstring& pc);
