#pragma once
// Page commands of the rhythm-pattern editor (window thread). Each takes the whole message and
// reads its argument after the command name.
#include <string>

void HandleRedOpen(const std::wstring& m);
void HandleRedSave(const std::wstring& m);
void HandleRedRestore(const std::wstring& m);
void HandleRedPreview(const std::wstring& m);
void HandleRedStop(const std::wstring& m);
void HandleRedMute(const std::wstring& m);
void HandleRedBpm(const std::wstring& m);
void HandleRedHit(const std::wstring& m);
