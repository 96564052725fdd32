#pragma once
// Page commands of the medley panel and the keep-adjust switch (window thread). Each takes the
// whole message and reads its argument after the command name.
#include <string>

void HandleMedleyList(const std::wstring& m);
void HandleMedleyMark(const std::wstring& m);
void HandleMedleyClear(const std::wstring& m);
void HandleMedleyDelItem(const std::wstring& m);
void HandleMedleyMove(const std::wstring& m);
void HandleMedleySet(const std::wstring& m);
void HandleMedleySave(const std::wstring& m);
void HandleMedleyLoad(const std::wstring& m);
void HandleMedleyDelFile(const std::wstring& m);
void HandleMedleyStart(const std::wstring& m);
void HandleMedleyStopMode(const std::wstring& m);
void HandleSetKeepAdjust(const std::wstring& m);
