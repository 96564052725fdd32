#pragma once
// The main page: the main window's page view and the delivery of the embedded page (markup
// followed by script). Window thread only.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ui/page_view.h"

// The page host's state: the two windows' pages and what a newly opened customer page needs.
struct PageHostState {
  // The main window's page; null until the page server runs. The only way to run script on it.
  std::unique_ptr<PageView> MainPageView;  // window thread
  // The customer window's page; null while no customer window is open.
  std::unique_ptr<PageView> CustomerPageView;  // window thread
  // A copy of the page text as navigated (read by the customer window).
  std::wstring PageSource;  // window thread

  // The scripts a newly opened customer page replays; every read and write holds the mutex.
  std::mutex PageScriptCacheMutex;
  std::wstring BgImagesScript;
  std::wstring SongScreenScript;
  // UTF-8, shared with the frames that carry it: it holds a whole picture. Null when none.
  std::shared_ptr<const std::string> RandomBgScript;

  // The effective lite mode (weak PC or the operator's choice).
  std::atomic<uint8_t> LiteModeActive{0};
};
extern PageHostState PageHost;

// Media folders reached by the page at "/" + host name + "/" + file name (URI component).
inline constexpr wchar_t kImagesHostName[] = L"images.tavelo";
inline constexpr wchar_t kAudioHostName[] = L"audio.tavelo";
inline constexpr wchar_t kVideoHostName[] = L"video.tavelo";

// Starts the page server and shows the page in the main window (window thread, at start-up):
// what the page posts goes to `onMessage`, each completed load to `onLoaded`. Without a page
// server the program goes on without a page.
void OpenMainPage(PageMessageHandler onMessage, std::function<void()> onLoaded);

// The embedded page: markup, script, and the two joined (the document that is navigated).
const std::wstring& PageMarkup();
const std::wstring& PageScript();
std::wstring BuildPageText();
