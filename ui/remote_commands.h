#pragma once
// Page commands of remote support (window thread): the button, the banner's stop and the pick.
#include <string>

void HandleRemoteSupport(const std::wstring& m);
void HandleRemoteSupportStop(const std::wstring& m);
void HandleRsPick(const std::wstring& m);
