#pragma once
// The receive thread of a remote-support session: the agent's input, pings, settings, the end of
// the session, and files stored into "<root>/_recv/".
#include <functional>
#include <string>

#include "online/rs_wire.h"

inline constexpr std::wstring_view kRsReceiveFolder = L"<root>/_recv/";

// Runs until the connection breaks, the agent sends End or SessionStopFlag is set; on return no
// file is open and SessionStopFlag is set. notify shows a short notice to the customer.
void RsReceiveLoop(RsConnection& connection, const std::function<void(const std::wstring&)>& notify);

// The file name without folders and unsafe characters, or empty when refused.
std::wstring SanitizeReceivedFileName(std::wstring_view name);

// Replays the agent's input on the desktop.
void InjectRemoteMouse(const RemoteMouseEvent& event);
void InjectRemoteKey(const RemoteKeyEvent& event);
// Lets go of every key and button the agent still holds down.
void ReleaseRemoteInput();
