#pragma once
// The main page: the main window's page view and the delivery of the embedded page (markup
// followed by script). Window thread only.
#include <memory>
#include <string>

#include "ui/page_view.h"

// The main window's page; null until the page server runs. The only way to run script on it.
extern std::unique_ptr<PageView> MainPageView;
// The customer window's page; null while no customer window is open.
extern std::unique_ptr<PageView> CustomerPageView;
// A copy of the page text as navigated (read by the customer window).
extern std::wstring PageSource;

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
