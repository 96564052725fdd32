#pragma once
// Page-side pieces other subsystems call. Those not built yet have a body in placeholders.cpp
// that logs once and returns the failure value.
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
#include "ui/help_text.h"
