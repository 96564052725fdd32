#include "base/page_script.h"

#include <atomic>
#include <cwchar>
#include <map>
#include <system_error>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "base/debug_log.h"
#include "base/program_messages.h"
#include "base/realtime_thread.h"
#include "base/settings/app_settings.h"
#include "platform/clock.h"
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

std::wstring GuardedScript(std::wstring_view code, std::wstring_view tag) {
  std::wstring out = L"try{ ";
  out += code;
  out += L" }catch(e){console.error(";
  if (!tag.empty()) {
    page_script_detail::AppendArg(out, tag);
    out += L',';
  }
  out += L"e)}";
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

namespace {

std::wstring BadgeScript(std::wstring_view text, int shownMs) {
  return GuardedScript(L"var b=document.getElementById('test-audio-badge'); if(b){ b.innerText=" + ScriptString(text) +
                       L"; b.style.display='block'; setTimeout(function(){ b.style.display='none'; }, " +
                       std::to_wstring(shownMs) + L"); }");
}

constexpr int kNoticeShownMs = 10000;
constexpr size_t kNoticesKept = 20;
std::mutex& noticeMutex = *new std::mutex;  // never destroyed: workers may report while the process ends
std::deque<std::wstring>& standingNotices = *new std::deque<std::wstring>;

}  // namespace

void ShowPageBadge(std::wstring_view text) { PostScriptToPage(BadgeScript(text, 4000)); }

void ShowPageNotice(std::wstring_view text) {
  DebugLog(std::wstring(text));
  {
    std::lock_guard lock(noticeMutex);
    standingNotices.emplace_back(text);
    if (standingNotices.size() > kNoticesKept) standingNotices.pop_front();
  }
  PostScriptToPage(BadgeScript(text, kNoticeShownMs));
}

namespace {

constexpr double kSaveNoticeEveryMs = 60000;
std::mutex& saveNoticeMutex = *new std::mutex;
auto& lastSaveNotice = *new std::map<std::string, double>;  // file -> when it was last said (ms)
std::atomic<bool> rootReadOnlySaid{false};

std::wstring ReasonText(int error) { return Utf8ToWide(std::generic_category().message(error)); }

}  // namespace

void ReportFailedSave(const std::filesystem::path& file, int error) {
  const std::wstring text = L"저장하지 못했습니다: " + Utf8ToWide(file.filename().string()) + L" (" + ReasonText(error) + L")";
  if (rootReadOnlySaid.load() && std::errc(error) == std::errc::read_only_file_system) {
    DebugLog(text);
    return;
  }
  {
    std::lock_guard lock(saveNoticeMutex);
    const double now = plat::NowMs();
    auto [it, first] = lastSaveNotice.try_emplace(file.string(), now);
    if (!first) {
      if (now - it->second < kSaveNoticeEveryMs) {
        DebugLog(text);
        return;
      }
      it->second = now;
    }
  }
  ShowPageNotice(text);
}

void SayInstallRootReadOnly(const std::filesystem::path& root, int error) {
  if (rootReadOnlySaid.exchange(true)) return;
  ShowPageNotice(L"설치 폴더에 쓸 수 없어 설정과 기록이 저장되지 않습니다: " + Utf8ToWide(root.string()) + L" (" +
                 ReasonText(error) + L")");
}

std::wstring StandingNoticesScript() {
  std::wstring all;
  {
    std::lock_guard lock(noticeMutex);
    for (const std::wstring& notice : standingNotices) {
      if (!all.empty()) all += L'\n';
      all += notice;
    }
  }
  return all.empty() ? std::wstring() : BadgeScript(all, kNoticeShownMs);
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
