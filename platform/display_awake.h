#pragma once
// Keeps the display on and the screen saver off while the program runs, in place of
// SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED): the X
// screen-saver extension suspends the saver (and its blanking and power-save timers) for as long
// as our connection stays open, and DPMS, when the server has it, is switched off and back on.
namespace plat {

enum class AwakeStatus {
  kHeld,         // the screen saver is suspended (and DPMS held off when the server has it)
  kNoDisplay,    // no X display: the desktop's own power settings apply
  kUnsupported,  // the server has neither the screen-saver extension nor DPMS
};

// Idempotent: a second call while held answers kHeld and does nothing more.
AwakeStatus KeepDisplayAwake();

// Lets the screen saver run again and gives DPMS back the state it had. Call at the end of the
// process: the saver's suspension ends with our connection anyway, but DPMS is the server's own
// setting and would stay off. Harmless when nothing is held or the X server has gone.
void ReleaseDisplayAwake();

}  // namespace plat
