#pragma once
// Page-side pieces other subsystems call that are not built yet. Each has a body in
// placeholders.cpp that logs once and returns the failure value.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// The customer page's background after a change of the PC score (window thread).
void ApplyCustomerBackground();
// "initBgImages(...)" for the main and header pictures, inside its try block.
std::wstring BuildBgImagesScript();
// The guarded page call of initCamList.
std::wstring BuildCamListScript();
// The help text as a page array literal.
std::wstring BuildHelpPayload();
// The lite-mode script of the page.
std::wstring BuildLiteModeScript();
// The monitor list as a JSON array.
std::wstring BuildMonitorListJson();
// The guarded page call of initPcVideoInfo.
std::wstring BuildPcVideoInfoScript();
// Refreshes the list of monitors.
void EnumerateMonitors();
// Index of the main window's monitor in the monitor list.
int FindMainMonitorIndex();
// True when the PC reports a system battery.
bool HasBattery();
// The playable videos of the video folder, sorted.
std::vector<std::wstring> ListPlayableVideos();
// Switches NumLock off when the "numLockOff" setting asks for it.
void ApplyNumLockOff();
// Opens the customer window on monitor n (0 or less closes it).
void OpenCustomerWindow(int monitor);
