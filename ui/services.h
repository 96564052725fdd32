#pragma once
// Page-side pieces other subsystems call that are not built yet. Each has a body in
// placeholders.cpp that logs once and returns the failure value.
#include <atomic>
#include <cstdint>

// The effective lite mode (weak PC or the operator's choice).
extern std::atomic<uint8_t> LiteModeActive;

// Switches NumLock off when the "numLockOff" setting asks for it.
void ApplyNumLockOff();
// Opens the customer window on monitor n (0 or less closes it).
void OpenCustomerWindow(int monitor);
