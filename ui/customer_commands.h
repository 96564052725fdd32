#pragma once
// Page commands of the customer window, its background and lite mode (window thread). Each
// takes the whole message and reads its argument after the command name.
#include <string>

void HandleSetCustomerMonitor(const std::wstring& m);
void HandleRefreshMonitors(const std::wstring& m);
void HandleSetCustomerBright(const std::wstring& m);
void HandleSetCwScoreFill(const std::wstring& m);
void HandleSetCwLyricsPct(const std::wstring& m);
void HandleCwNext(const std::wstring& m);
void HandleRefreshCams(const std::wstring& m);
void HandleSetCustomerVideo(const std::wstring& m);
void HandleSetCustomerVideoSrc(const std::wstring& m);
void HandleSetCustomerCam(const std::wstring& m);
void HandleSetLiteMode(const std::wstring& m);
void HandleSetGpuForce(const std::wstring& m);
void HandleSetBgRandom(const std::wstring& m);
void HandleBgRandomNext(const std::wstring& m);

// Stage three: pictures, fonts and the audio list.
void HandlePickMainImage(const std::wstring& m);
void HandlePickHeaderImage(const std::wstring& m);
void HandleListFonts(const std::wstring& m);
void HandleLoadCustomFont(const std::wstring& m);
void HandleListAudio(const std::wstring& m);
