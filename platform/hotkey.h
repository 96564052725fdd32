#pragma once
// The global PrintScreen hotkey, in place of RegisterHotKey: a key grab on the X display. Each
// press (not its auto-repeat) posts kWmHotkey with the id in wParam to the window loop.
namespace plat {

// False without a display or when another program holds the key.
bool RegisterPrintScreenHotkey(int id);
void UnregisterHotkey(int id);

}  // namespace plat
