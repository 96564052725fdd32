#pragma once
// Threads that keep musical time (the player, the rhythm engine, its fills, the pattern preview,
// the synthesizer's file output): raised to real-time scheduling, their stack touched in advance,
// and marked, so that what they post to the page or the window goes through a queue that never
// blocks them (PostFromAnyThread) while an ordinary thread does the posting.
#include <cstdint>
#include <memory>
#include <string>

#include "base/thread_role.h"
#include "platform/realtime.h"

// Raises the calling thread (RaiseThreadRealtime), touches 256 KB of its stack and marks it.
plat::RealtimeLevel EnterRealtimeThread(int fifoPriority, std::string* refused);
// Back to ordinary scheduling and unmarked (a thread that is reused).
void LeaveRealtimeThread();

// Posts a window message: at once from an ordinary thread; from a real-time thread through a
// lock-free queue that a relay thread empties (a full queue drops the message and frees the text).
// False when the message was not posted or queued.
bool PostFromAnyThread(uint32_t id, int64_t wParam = 0, int64_t lParam = 0, std::unique_ptr<std::wstring> text = nullptr);

// Locks the process's memory (LockProcessMemory); a refusal is logged once. For the program's
// start and the timing benchmarks.
void LockMemoryForRealtime();
