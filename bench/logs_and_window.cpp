// Costs on the callers' side of the logs and of the window's program messages: what a timing
// thread pays for DebugLogAsync and TraceLog, a synchronous DebugLog line, and the window thread's
// handling of posted scripts (short, and over the long-script limit) and ticks.
#include <cstdio>
#include <filesystem>

#include "base/debug_log.h"
#include "base/trace_log.h"
#include "app/window.h"
#include "base/page_script.h"
#include "platform/clock.h"
#include "platform/message_loop.h"
#include "platform/paths.h"

namespace {

// Runs f(i) `count` times; each run stands for `per` calls of what is measured.
template <typename F>
void Time(const char* what, int count, F&& f, int per = 1) {
  double t0 = plat::NowMs();
  for (int i = 0; i < count; ++i) f(i);
  double ms = plat::NowMs() - t0;
  const double calls = static_cast<double>(count) * per;
  std::printf("%-44s %9.3f us/call  (%.0f calls)\n", what, ms * 1000.0 / calls, calls);
}

void Pump() {
  plat::PostWindowTask([] { plat::PostQuit(0); });
  plat::RunMessageLoop();
  plat::ResetMessageLoop();
}

}  // namespace

int main() {
  auto root = std::filesystem::temp_directory_path() / "tavelo_bench_logs";
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root / "system");
  plat::SetRootDir(root);

  HoldDebugLogWriter(true);
  Time("DebugLogAsync (queue only)", 20000, [](int i) { DebugLogAsync(L"[CVT] 마디 " + std::to_wstring(i)); });
  FlushDebugLogQueue();
  HoldDebugLogWriter(false);
  Time("DebugLog (open, append, close)", 2000, [](int i) { DebugLog(L"[SONG] 줄 " + std::to_wstring(i)); });
  HoldTraceWriter(true);
  Time("TraceLog (format and queue)", 20000, [](int i) {
    TraceLog(L"[VOL2] +%5ums  p0:ch%-2d CC%-3d = %d  (tid %u)\n", i, 9, 7, 100, 1u);
  });
  FlushTraceLog();
  HoldTraceWriter(false);

  PageTargets pages;
  pages.mainExists = [] { return true; };
  pages.runOnMain = [](std::wstring_view, std::function<void(bool)> done) {
    if (done) done(true);
  };
  pages.customerExists = [] { return true; };
  pages.runCustomerScript = [](std::wstring_view) {};
  pages.runOnCustomer = [](std::wstring_view, std::function<void(bool)> done) {
    if (done) done(true);
  };
  pages.moveFocusIntoPage = [] {};
  SetPageTargets(pages);
  plat::SetWindowProcedure(WndProc);
  MainWindow.MainWindowHandle = true;

  const std::wstring shortScript = PageCall(L"setPlayingState", 1);
  Time("WM_RUN_PAGE_SCRIPT short (post + handle)", 1, [&](int) {
    for (int i = 0; i < 20000; ++i)
      plat::PostWindowMessage(WM_RUN_PAGE_SCRIPT, 0, 0, std::make_unique<std::wstring>(shortScript));
    Pump();
  }, 20000);
  const std::wstring longScript(kLongScriptChars + 1, L'x');
  Time("WM_RUN_PAGE_SCRIPT 200,001 characters", 50, [&](int) {
    plat::PostWindowMessage(WM_RUN_PAGE_SCRIPT, 0, 0, std::make_unique<std::wstring>(longScript));
    Pump();
  });
  Time("WM_UPDATE_TICK (post + handle)", 1, [&](int) {
    for (uint32_t t = 0; t < 20000; ++t) plat::PostWindowMessage(WM_UPDATE_TICK, t);
    Pump();
  }, 20000);
  std::filesystem::remove_all(root);
  return 0;
}
