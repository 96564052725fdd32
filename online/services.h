#pragma once
// What other subsystems call of the online services. Functions that are not built yet have a
// body in placeholders.cpp that logs once and returns the failure value.
#include <atomic>
#include <cstdint>

// Set while a remote-support session runs (the window asks before closing while it is set).
extern std::atomic<uint8_t> RemoteSupportActive;

// Thread bodies started at start-up.
void NetStatusThread();
void RefreshKeysigTableThread();
void ResumeSupportThread();
