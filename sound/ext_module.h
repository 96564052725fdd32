#pragma once
// The external module's output: opened on first use by the senders when a channel is routed to
// it, with a status text for the page.
#include <string>

bool OpenExternalModule();
// The module's status text (empty = fine), and setting it.
std::wstring GetExtModuleStatusText();
void SetExtModuleStatusText(std::wstring text);
