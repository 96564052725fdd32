// Stand-ins for page-side pieces that are not built yet. Each logs once that it is missing.
#include <atomic>

#include "base/debug_log.h"
#include "ui/services.h"

namespace {
void LogOnce(std::atomic<bool>& done, const wchar_t* name) {
  if (!done.exchange(true)) DebugLog(std::wstring(name) + L": 아직 지원되지 않음");
}
}  // namespace

#define UI_PLACEHOLDER(name)            \
  static std::atomic<bool> logged{false}; \
  LogOnce(logged, name)


void ApplyCustomerBackground() { UI_PLACEHOLDER(L"ApplyCustomerBackground"); }
std::wstring BuildBgImagesScript() {
  UI_PLACEHOLDER(L"BuildBgImagesScript");
  return {};
}
std::wstring BuildCamListScript() {
  UI_PLACEHOLDER(L"BuildCamListScript");
  return {};
}
std::wstring BuildHelpPayload() {
  UI_PLACEHOLDER(L"BuildHelpPayload");
  return L"[]";
}
std::wstring BuildLiteModeScript() {
  UI_PLACEHOLDER(L"BuildLiteModeScript");
  return {};
}
std::wstring BuildMonitorListJson() {
  UI_PLACEHOLDER(L"BuildMonitorListJson");
  return L"[]";
}
std::wstring BuildPcVideoInfoScript() {
  UI_PLACEHOLDER(L"BuildPcVideoInfoScript");
  return {};
}
void EnumerateMonitors() { UI_PLACEHOLDER(L"EnumerateMonitors"); }
int FindMainMonitorIndex() {
  UI_PLACEHOLDER(L"FindMainMonitorIndex");
  return 0;
}
bool HasBattery() {
  UI_PLACEHOLDER(L"HasBattery");
  return false;
}
std::vector<std::wstring> ListPlayableVideos() {
  UI_PLACEHOLDER(L"ListPlayableVideos");
  return {};
}

void ApplyNumLockOff() {
  static std::atomic<bool> logged{false};
  if (!logged.exchange(true)) DebugLog(L"ApplyNumLockOff: 아직 지원되지 않음");
}

void OpenCustomerWindow(int) {
  static std::atomic<bool> logged{false};
  if (!logged.exchange(true)) DebugLog(L"OpenCustomerWindow: 아직 지원되지 않음");
}
