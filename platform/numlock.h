#pragma once
// NumLock of the X display: read through XKB, switched with one synthetic press and release of
// the NumLock key (XTest), as if the operator had pressed it.
namespace plat {

enum class NumLockResult {
  kNoDisplay,  // no X display, or XKB/XTest missing on it
  kAlreadyOff,
  kTurnedOff,
  kFailed,     // the key could not be sent
};

// Turns NumLock off when it is on; never turns it on.
NumLockResult TurnNumLockOff();
// True when NumLock is on (false also without a display).
bool NumLockOn();

}  // namespace plat
