// Posting scripts, alerts and notices to the page from any thread.
#include "ui/script_channel.h"

#include <memory>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/program_messages.h"
#include "platform/clock.h"
#include "platform/message_loop.h"
#include "ui/page_host.h"


void RunCustomerScript(std::wstring_view script) {
  if (!PageHost.CustomerPageView) return;
  if (script.size() <= kLongScriptChars) {
    PageHost.CustomerPageView->RunScript(script);
    return;
  }
  uint32_t start = plat::TimeGetTime();
  PageHost.CustomerPageView->RunScript(script);
  uint32_t elapsed = plat::TimeGetTime() - start;
  DebugLog(L"[CW] 큰 스크립트 전달 " + std::to_wstring(script.size()) + L"자 - " +
           std::to_wstring(elapsed) + L"ms");
}
