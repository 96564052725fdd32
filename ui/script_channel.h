#pragma once
// The one channel from the program to the page: script text run in the page. Any thread may post
// a script, an alert or a short notice; each call hands a heap text to the window thread and
// returns at once. The window thread runs posted scripts on the main page and then on the
// customer page.
#include <mutex>
#include <string>
#include <string_view>

// WM_USER+3: run on the main page, then on the customer page when one is open.
void PostScriptToPage(std::wstring_view script);
// WM_USER+5: the page's alert on the main page only (escaped by the window).
void PostAlertToPage(std::wstring_view text);
// "setPlayingState(1 or 0)", and with the customer video on also "cwVideoPlayState(1 or 0)",
// each as its own posted script (both reach both pages). Called when a song starts and ends.
void PostPlayingState(bool playing);
// Posts the page's lite-mode script.
void PostLiteModeScript();
// The text shows for 4 seconds in the badge at the top of the main stage. The text goes in
// unchanged: callers pass no apostrophe, backslash or line break, or escape it first.
void ShowPageBadge(std::wstring_view text);
// A large notice for 1.8 seconds; same rule for the text as ShowPageBadge.
void ShowPageToast(std::wstring_view text);

// Window thread only: runs the script on the customer page when one is open.
void RunCustomerScript(std::wstring_view script);

// The scripts a newly opened customer page replays; every read and write holds the mutex.
extern std::mutex PageScriptCacheMutex;
extern std::wstring BgImagesScript;
extern std::wstring SongScreenScript;
extern std::wstring RandomBgScript;
