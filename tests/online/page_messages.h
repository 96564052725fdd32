#pragma once
// Runs a worker body as the online threads run and returns the page scripts and alerts it posted.
#include <string>
#include <thread>
#include <vector>

#include "base/program_messages.h"
#include "platform/message_loop.h"

struct PagePosts {
  std::vector<std::wstring> scripts;
  std::vector<std::wstring> alerts;
  std::wstring AllScripts() const {
    std::wstring all;
    for (const auto& s : scripts) all += s + L"\n";
    return all;
  }
};

template <class F>
PagePosts PostsOf(F body) {
  plat::ResetMessageLoop();
  PagePosts got;
  plat::SetWindowProcedure([&](plat::WindowMessage& m) {
    if (m.id == WM_RUN_PAGE_SCRIPT && m.text) got.scripts.push_back(*m.text);
    if (m.id == WM_PAGE_ALERT && m.text) got.alerts.push_back(*m.text);
  });
  std::thread worker(body);
  worker.join();
  plat::PostWindowTask([] { plat::PostQuit(0); });
  plat::RunMessageLoop();
  plat::SetWindowProcedure(nullptr);
  plat::ResetMessageLoop();
  return got;
}
