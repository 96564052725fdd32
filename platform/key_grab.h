#pragma once
// While the page is fullscreen, the keys that would take the operator out of the program are
// held by us, in place of a low-level keyboard hook: Alt+Tab, Alt+Esc, Ctrl+Esc and the Windows
// (Super) keys, each with any other modifiers, are grabbed on the X display and swallowed;
// every other key, F11 included, reaches the page as before.
#include <string>
#include <vector>

namespace plat {

enum class KeyBlockStatus {
  kBlocked,    // every combination is ours
  kPartly,     // some are held by another program (a window manager's Alt+Tab, say): those pass
  kNoDisplay,  // no X display: nothing is blocked
};

struct KeyBlockResult {
  KeyBlockStatus status = KeyBlockStatus::kNoDisplay;
  std::vector<std::string> heldElsewhere;  // "Alt+Tab", "Alt+Esc", "Ctrl+Esc", "Windows"
};

// Takes the keys until UnblockSwitchKeys. While already blocked: kBlocked, nothing more is done.
KeyBlockResult BlockSwitchKeys();
// Gives the keys back; harmless when none are held or the X server has gone.
void UnblockSwitchKeys();
bool SwitchKeysBlocked();

}  // namespace plat
