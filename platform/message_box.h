#pragma once
// Modal message boxes, in place of MessageBoxW: an FLTK dialog when a display is there; without
// one nobody can answer, so the box is not shown and the caller's default answer is returned.
#include <functional>
#include <mutex>
#include <string_view>

namespace plat {

enum class BoxButtons { kOk, kYesNo };
enum class BoxIcon { kNone, kInformation, kWarning, kQuestion, kError };
enum class BoxAnswer { kOk, kYes, kNo };

struct BoxResult {
  BoxAnswer answer;
  bool shown;           // false: no display, the default answer was taken
  bool closed = false;  // closed by the program (CloseQuestionBoxes) with the default answer
};

// Closes every open question box (message boxes and the new-version notice) with its default
// answer; any thread. A signal or a page command must not wait until a person answers. With
// `alsoLaterOnes` (the program is ending) every later box takes its default answer unshown.
void CloseQuestionBoxes(bool alsoLaterOnes);

// Question boxes count the CloseQuestionBoxes calls: a box that opened in one round is closed by
// the next.
unsigned QuestionBoxRound();
bool QuestionBoxesClosedSince(unsigned round);

// Lets FLTK handle events until `finished` says so (true), or until the question boxes are closed
// after `round` (false). `lock` holds FltkMutex and is let go between rounds, so that a window of
// another thread keeps working meanwhile; null for a caller that keeps the lock for its whole
// window. `finished` is called holding FltkMutex.
bool RunFltkUntil(const std::function<bool()>& finished, unsigned round, std::unique_lock<std::mutex>* lock);

// FLTK is not thread-safe: every FLTK call is made holding this. A window's thread lets it go
// between rounds of events (RunFltkUntil), so windows of two threads can be open at once.
std::mutex& FltkMutex();

// FLTK's default face has no Hangul: its two Helvetica faces are mapped, once, to a Korean family
// (Nanum Gothic when installed, else Noto Sans CJK KR), whose name is returned. Hold FltkMutex.
const char* UseKoreanFltkFont();

// True when an X display can be opened (DISPLAY set and reachable).
bool DisplayAvailable();

// Shows the box on top of other windows and waits for the answer, or until CloseQuestionBoxes.
BoxResult ShowMessageBox(std::wstring_view caption, std::wstring_view text, BoxButtons buttons,
                         BoxIcon icon, BoxAnswer defaultAnswer);
// The same on a thread that already holds FltkMutex because it runs an FLTK window of its own.
BoxResult ShowMessageBoxHoldingFltk(std::wstring_view caption, std::wstring_view text, BoxButtons buttons,
                                    BoxIcon icon, BoxAnswer defaultAnswer);

}  // namespace plat
