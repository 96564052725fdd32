// Page server: not serving yet.
#include "platform/page_server.h"

namespace plat {

bool StartPageServer() { return false; }
bool PageServerRunning() { return false; }
uint16_t PageServerPort() { return 0; }
std::string PageServerToken() { return {}; }
void StopPageServer() {}
void MapPageMediaFolder(std::string_view, const std::filesystem::path&) {}
PageViewId CreatePageView(std::string_view, PageViewHandlers) { return 0; }
void SetPageViewDocument(PageViewId, std::string) {}
void NavigatePageView(PageViewId, std::string_view) {}
void RunPageViewScript(PageViewId, std::string, std::function<void(bool)>) {}
bool PageViewConnected(PageViewId) { return false; }
std::string PageViewAddress(PageViewId) { return {}; }
BrowserChoice FindBrowser() { return {}; }
bool LaunchBrowser(const std::filesystem::path&, const std::string&, const std::filesystem::path&,
                   const std::string&, std::function<void()>) {
  return false;
}
void EndBrowserProcesses() {}
bool WriteOwnerOnlyFile(const std::filesystem::path&, std::string_view) { return false; }

}  // namespace plat
