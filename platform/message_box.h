#pragma once
// Modal message boxes, in place of MessageBoxW: an FLTK dialog when a display is there; without
// one nobody can answer, so the box is not shown and the caller's default answer is returned.
#include <mutex>
#include <string_view>

namespace plat {

enum class BoxButtons { kOk, kYesNo };
enum class BoxIcon { kNone, kInformation, kWarning, kQuestion, kError };
enum class BoxAnswer { kOk, kYes, kNo };

struct BoxResult {
  BoxAnswer answer;
  bool shown;  // false: no display, the default answer was taken
};

// FLTK is not thread-safe: whoever shows an FLTK window holds this for as long as it shows.
std::mutex& FltkMutex();

// FLTK's default face has no Hangul: its two Helvetica faces are mapped, once, to a Korean family
// (Nanum Gothic when installed, else Noto Sans CJK KR), whose name is returned. Hold FltkMutex.
const char* UseKoreanFltkFont();

// True when an X display can be opened (DISPLAY set and reachable).
bool DisplayAvailable();

// Shows the box on top of other windows and waits for the answer. Call from one thread at a time
// (the window thread, or the main thread before it).
BoxResult ShowMessageBox(std::wstring_view caption, std::wstring_view text, BoxButtons buttons,
                         BoxIcon icon, BoxAnswer defaultAnswer);
// The same on a thread that already holds FltkMutex because it runs an FLTK window of its own.
BoxResult ShowMessageBoxHoldingFltk(std::wstring_view caption, std::wstring_view text, BoxButtons buttons,
                                    BoxIcon icon, BoxAnswer defaultAnswer);

}  // namespace plat
