// Posting scripts, alerts and notices to the page from any thread.
#include "ui/script_channel.h"

#include <memory>

#include "app/debug_log.h"
#include "app/settings/app_settings.h"
#include "app/window.h"
#include "platform/clock.h"
#include "platform/message_loop.h"
#include "ui/page_host.h"
#include "ui/services.h"

std::mutex PageScriptCacheMutex;
std::wstring BgImagesScript;
std::wstring SongScreenScript;
std::wstring RandomBgScript;

namespace {

constexpr uint32_t kRunPageScript = WM_RUN_PAGE_SCRIPT;
constexpr uint32_t kPageAlert = WM_PAGE_ALERT;
constexpr size_t kLargeScriptChars = kLongScriptChars;

void PostText(uint32_t id, std::wstring_view text) {
  plat::PostWindowMessage(id, 0, 0, std::make_unique<std::wstring>(text));
}

}  // namespace

void PostScriptToPage(std::wstring_view script) { PostText(kRunPageScript, script); }

void PostAlertToPage(std::wstring_view text) { PostText(kPageAlert, text); }

void PostPlayingState(bool playing) {
  const wchar_t* flag = playing ? L"1" : L"0";
  PostScriptToPage(std::wstring(L"try{ setPlayingState(") + flag + L"); }catch(e){}");
  if (Settings.customerVideo != 0) {
    PostScriptToPage(std::wstring(L"try{ cwVideoPlayState(") + flag + L"); }catch(e){}");
  }
}

void PostLiteModeScript() { PostScriptToPage(BuildLiteModeScript()); }

void ShowPageBadge(std::wstring_view text) {
  std::wstring script =
      L"try{ var b=document.getElementById('test-audio-badge'); if(b){ b.innerText='";
  script += text;
  script +=
      L"'; b.style.display='block'; setTimeout(function(){ b.style.display='none'; }, 4000); } "
      L"}catch(e){}";
  PostScriptToPage(script);
}

void ShowPageToast(std::wstring_view text) {
  std::wstring script =
      L"try{var d=document.getElementById('app-toast');if(!d){d=document.createElement('div');"
      L"d.id='app-toast';d.style.cssText='position:fixed;left:50%;top:12%;transform:translateX("
      L"-50%);background:rgba(0,0,0,.82);color:#fff;font-size:28px;padding:14px 28px;"
      L"border-radius:12px;z-index:99999;pointer-events:none';document.body.appendChild(d);}"
      L"d.textContent='";
  script += text;
  script +=
      L"';d.style.display='block';clearTimeout(window.__toastT);window.__toastT=setTimeout("
      L"function(){d.style.display='none';},1800);}catch(e){}";
  PostScriptToPage(script);
}

void RunCustomerScript(std::wstring_view script) {
  if (!CustomerWebView) return;
  if (script.size() <= kLargeScriptChars) {
    CustomerWebView->ExecuteScript(script);
    return;
  }
  uint32_t start = plat::TimeGetTime();
  CustomerWebView->ExecuteScript(script);
  uint32_t elapsed = plat::TimeGetTime() - start;
  DebugLog(L"[CW] 큰 스크립트 전달 " + std::to_wstring(script.size()) + L"자 - " +
           std::to_wstring(elapsed) + L"ms");
}
