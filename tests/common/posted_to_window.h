#pragma once
// The texts a handler posts to the window (page scripts, alerts), collected by running the window's
// message loop once after it.
#include <string>
#include <vector>

#include "platform/message_loop.h"

template <class F>
std::vector<std::wstring> PostedBy(F handler) {
  plat::ResetMessageLoop();
  std::vector<std::wstring> got;
  plat::SetWindowProcedure([&](plat::WindowMessage& m) { got.push_back(m.text ? *m.text : L""); });
  handler();
  plat::PostWindowTask([] { plat::PostQuit(0); });
  plat::RunMessageLoop();
  plat::SetWindowProcedure(nullptr);
  plat::ResetMessageLoop();
  return got;
}
