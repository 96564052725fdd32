#pragma once
// The main page: the browser control of the main window and the delivery of the embedded page
// (markup followed by script). Window thread only.
#include <memory>
#include <string>

#include "ui/browser_control.h"

// The browser environment of the process; the customer window makes its controller from it.
extern std::shared_ptr<CoreWebView2Environment> MainWebViewEnvironment;
extern std::shared_ptr<CoreWebView2Controller> MainWebViewController;
// The main page; null until its controller exists. The only way to run script on it.
extern std::shared_ptr<CoreWebView2> MainWebView;
// The customer window's page; null while no customer window is open.
extern std::shared_ptr<CoreWebView2> CustomerWebView;
// A copy of the page text as navigated (read by the customer window).
extern std::wstring PageSource;

// Media folders reached by the page at "/" + host name + "/" + file name (URI component).
inline constexpr wchar_t kImagesHostName[] = L"images.tavelo";
inline constexpr wchar_t kAudioHostName[] = L"audio.tavelo";
inline constexpr wchar_t kVideoHostName[] = L"video.tavelo";

// The completion handler passed to CreateCoreWebView2EnvironmentWithOptions at start-up.
void OnMainEnvironmentCreated(bool ok, std::shared_ptr<CoreWebView2Environment> environment);
void OnMainControllerCreated(bool ok, std::shared_ptr<CoreWebView2Controller> controller);

// The embedded page: markup, script, and the two joined (the document that is navigated).
const std::wstring& PageMarkup();
const std::wstring& PageScript();
std::wstring BuildPageText();
