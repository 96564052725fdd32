#pragma once
// Page-side pieces other subsystems call.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/backgrounds.h"
#include "ui/customer_window.h"

// The help text as a page array literal.
std::wstring BuildHelpPayload();
// Switches NumLock off when the "numLockOff" setting asks for it.
void ApplyNumLockOff();
// Whether NumLock goes off for a "numLockOff" mode (0 never, 1 with a battery, else always).
bool NumLockOffWanted(int mode, bool hasBattery);
#include "ui/help_text.h"
