#pragma once
// The program's own window messages: worker threads of every layer post them to the window
// thread (plat::PostWindowMessage), whose window procedure (app/window.cpp) handles them one at a
// time. The text column says what the message carries in its owned payload.
#include <cstddef>
#include <cstdint>

#include "platform/message_loop.h"

inline constexpr uint32_t WM_RUN_PAGE_SCRIPT = plat::kWmUser + 3;         // text: a script
inline constexpr uint32_t WM_UPDATE_TICK = plat::kWmUser + 4;             // wParam: song tick (u32)
inline constexpr uint32_t WM_PAGE_ALERT = plat::kWmUser + 5;              // text: plain text
inline constexpr uint32_t WM_DEBUG_CHORD_INFO = plat::kWmUser + 6;        // text: may be empty
inline constexpr uint32_t WM_OPEN_CUSTOMER_WINDOW = plat::kWmUser + 7;    // wParam: monitor (<=0 close)
inline constexpr uint32_t WM_REFRESH_SONG_LIST = plat::kWmUser + 8;
inline constexpr uint32_t WM_DEFERRED_CUSTOMER_INIT = plat::kWmUser + 9;  // text: script; lParam: generation
inline constexpr uint32_t WM_CVT_BAR_HOME = plat::kWmUser + 10;           // wParam: 0 bar reached, 1 timed out
inline constexpr uint32_t WM_RESTORE_FOCUS = plat::kWmUser + 11;

// Scripts longer than this are timed, logged, and their customer copy may be deferred.
inline constexpr size_t kLongScriptChars = 200000;
