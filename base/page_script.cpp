#include "base/page_script.h"

#include <cwchar>
#include <memory>

#include "base/program_messages.h"
#include "base/realtime_thread.h"
#include "base/settings/app_settings.h"
#include "platform/message_loop.h"

namespace page_script_detail {

void AppendNumber(std::wstring& out, double value) {
  if (!std::isfinite(value)) {
    out += L'0';  // a script has no literal for NaN or infinity that every page function expects
    return;
  }
  wchar_t buf[40];
  std::swprintf(buf, 40, L"%.17g", value);
  out += buf;
}

void AppendArg(std::wstring& out, LinesText lines) {
  out += L'\'';
  std::wstring_view rest = lines.text;
  for (size_t br; (br = rest.find(L'\n')) != std::wstring_view::npos; rest.remove_prefix(br + 1)) {
    AppendEscapedForScript(out, rest.substr(0, br));  // a \r before the break is dropped here
    out += L"\\n";
  }
  AppendEscapedForScript(out, rest);
  out += L'\'';
}

}  // namespace page_script_detail

std::wstring ScriptString(std::wstring_view text) {
  std::wstring out;
  page_script_detail::AppendArg(out, text);
  return out;
}

std::wstring GuardedScript(std::wstring_view code) {
  std::wstring out = L"try{ ";
  out += code;
  out += L" }catch(e){}";
  return out;
}

namespace {

void PostText(uint32_t id, std::wstring_view text) {
  PostFromAnyThread(id, 0, 0, std::make_unique<std::wstring>(text));
}

}  // namespace

void PostScriptToPage(std::wstring_view script) { PostText(WM_RUN_PAGE_SCRIPT, script); }

void PostAlertToPage(std::wstring_view text) { PostText(WM_PAGE_ALERT, text); }

void PostPlayingState(bool playing) {
  const int flag = playing ? 1 : 0;
  PostScriptToPage(PageCall(L"setPlayingState", flag));
  if (Settings.customerVideo != 0) PostScriptToPage(PageCall(L"cwVideoPlayState", flag));
}

void ShowPageBadge(std::wstring_view text) {
  PostScriptToPage(GuardedScript(L"var b=document.getElementById('test-audio-badge'); if(b){ b.innerText=" +
                                 ScriptString(text) +
                                 L"; b.style.display='block'; setTimeout(function(){ b.style.display='none'; }, "
                                 L"4000); }"));
}

void ShowPageToast(std::wstring_view text) {
  PostScriptToPage(GuardedScript(
      L"var d=document.getElementById('app-toast');if(!d){d=document.createElement('div');"
      L"d.id='app-toast';d.style.cssText='position:fixed;left:50%;top:12%;transform:translateX("
      L"-50%);background:rgba(0,0,0,.82);color:#fff;font-size:28px;padding:14px 28px;"
      L"border-radius:12px;z-index:99999;pointer-events:none';document.body.appendChild(d);}"
      L"d.textContent=" +
      ScriptString(text) +
      L";d.style.display='block';clearTimeout(window.__toastT);window.__toastT=setTimeout("
      L"function(){d.style.display='none';},1800);"));
}
