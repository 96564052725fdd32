#pragma once
// Runs page commands on this thread as the window would and returns what they posted: each
// script's text, or "<message N>" for a message without text.
#include <string>
#include <vector>

#include "platform/message_loop.h"
#include "ui/page_commands.h"

inline std::vector<std::wstring> PostedBy(const std::vector<std::wstring>& messages) {
  plat::ResetMessageLoop();
  std::vector<std::wstring> got;
  plat::SetWindowProcedure([&](plat::WindowMessage& m) {
    got.push_back(m.text ? *m.text : L"<message " + std::to_wstring(m.id) + L">");
  });
  for (const std::wstring& m : messages) DispatchPageCommand(m, MainPageCommandStages());
  plat::PostWindowTask([] { plat::PostQuit(0); });
  plat::RunMessageLoop();
  plat::SetWindowProcedure(nullptr);
  plat::ResetMessageLoop();
  return got;
}
