#include "ui/customer_commands.h"

#include <filesystem>
#include <mutex>
#include <system_error>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/program_messages.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "platform/clock.h"
#include "platform/message_loop.h"
#include "platform/paths.h"
#include "ui/audio_list.h"
#include "ui/backgrounds.h"
#include "ui/customer_window.h"
#include "ui/data_urls.h"
#include "ui/page_assets.h"
#include "ui/page_commands.h"
#include "ui/page_host.h"
#include "ui/presets.h"
#include "ui/script_channel.h"

namespace {

std::wstring ArgOf(const std::wstring& m) {
  const size_t colon = m.find(L':');
  return colon == std::wstring::npos ? std::wstring() : m.substr(colon + 1);
}
int IntArg(const std::wstring& m) { return LeadingInt(ArgOf(m)); }
// 0 or 1 as given, anything else -1 (automatic).
int TriState(int v) { return v == 0 || v == 1 ? v : -1; }

void PostFirstVideo() {
  const auto videos = ListPlayableVideos();
  PostScriptToPage(PageCall(L"initCustomerVideo", Settings.customerVideo.load(),
                            videos.empty() ? std::wstring() : videos.front(), static_cast<int>(videos.size())));
}

void PostPickedPicture(const wchar_t* base, const wchar_t* function) {
  const std::wstring name = PickBackgroundImage(base);
  if (name.empty()) return;
  const std::wstring data = MakeDataUrl(L"<root>/images/" + name);
  PostScriptToPage(GuardedScript(std::wstring(function) + L"('" + EscapeForScript(name) + L"', '" + data + L"');", function));
}

}  // namespace

void HandleSetCustomerMonitor(const std::wstring& m) {
  const int n = IntArg(m);
  Settings.customerMonitor = n < 0 ? 0 : n;
  SaveAppSettings();
  plat::PostWindowMessage(WM_OPEN_CUSTOMER_WINDOW, Settings.customerMonitor);
  EnumerateMonitors();
  PostScriptToPage(BuildMonitorScript());
}

void HandleRefreshMonitors(const std::wstring&) {
  EnumerateMonitors();
  PostScriptToPage(BuildMonitorScript());
}

void HandleSetCustomerBright(const std::wstring& m) {
  Settings.customerBright = ClampInt(IntArg(m), 50, 200);
  SaveAppSettings();
  RunCustomerScript(PageCall(L"cwSetBright", Settings.customerBright.load()));
}

void HandleSetCwScoreFill(const std::wstring& m) {
  const int v = ClampInt(IntArg(m), 50, 150);
  Settings.cwScoreFill = v;
  SaveAppSettings();
  SetPresetAppKey("cwScoreFill", std::to_string(v));
  RunCustomerScript(GuardedScript(
      L"CW_SCORE_FILL = " + std::to_wstring(v) +
          L"/100; if (typeof drawPage === 'function' && typeof curMeasures !== 'undefined' && curMeasures) "
          L"drawPage(); if (typeof cwReportLayout === 'function') cwReportLayout('악보크기');",
      L"CW_SCORE_FILL"));
}

void HandleSetCwLyricsPct(const std::wstring& m) {
  const int v = ClampInt(IntArg(m), 35, 62);
  Settings.cwLyricsPct = v;
  SaveAppSettings();
  SetPresetAppKey("cwLyricsPct", std::to_string(v));
  RunCustomerScript(GuardedScript(
      L"CW_LYRICS_PCT = " + std::to_wstring(v) + L"; if (typeof cwApplyLayout === 'function') cwApplyLayout();",
      L"CW_LYRICS_PCT"));
}

void HandleCwNext(const std::wstring& m) {
  const std::wstring title = ScriptString(ArgOf(m));
  RunCustomerScript(GuardedScript(L"var _e = document.getElementById('next-song-title'); if (_e) { _e.__full = " + title +
                                      L"; _e.innerText = " + title + L"; }",
                                  L"next-song-title"));
}

void HandleRefreshCams(const std::wstring&) {
  if (PageHost.CustomerPageView) {
    RunCustomerScript(PageCall(L"cwListCams"));
    ShowPageBadge(L"캡처 장치를 찾는 중입니다...");
  } else {
    ShowPageBadge(L"손님 화면을 먼저 켜주세요 - 장치는 손님 창에서 엽니다");
  }
}

void HandleSetCustomerVideo(const std::wstring& m) {
  Settings.customerVideo = IntArg(m) != 0 ? 1 : 0;
  SaveAppSettings();
  const auto videos = ListPlayableVideos();
  ApplyCustomerBackground();
  if (Settings.customerVideo != 0) {
    const auto others = ListOtherVideos();
    if (videos.empty() && others.empty()) {
      ShowPageBadge(plat::ShownPath(L"<root>/video") + L" 폴더에 동영상(mp4)을 넣어주세요");
    } else if (videos.empty()) {
      ShowPageBadge(others.front() + L" - 이 형식(wmv/avi 등)은 재생할 수 없습니다. mp4 로 바꿔 넣어주세요");
      DebugLog(L"[CW] 배경 동영상: 재생 불가 형식만 " + std::to_wstring(others.size()) + L"개 (" + others.front() +
               L") - mp4 필요");
    } else {
      const long long size = GetVideoFileSizeMb(videos.front());
      if (size < 80) ShowPageBadge(L"손님 화면 배경 동영상: " + videos.front());
      else
        ShowPageBadge(videos.front() + L" (" + std::to_wstring(size) +
                      L"MB) - 파일이 큽니다. 연주 중 영상이 끊기면 더 작은 파일(20MB 이하)로 바꿔주세요");
      DebugLog(L"[CW] 배경 동영상 켬 - " + videos.front() + L" (" + std::to_wstring(size) + L"MB)");
    }
  } else {
    ShowPageBadge(L"손님 화면 배경 동영상 끔");
  }
  PostFirstVideo();
}

void HandleSetCustomerVideoSrc(const std::wstring& m) {
  const int src = IntArg(m) == 1 ? 1 : 0;
  Settings.customerVideoSrc = src;
  SaveAppSettings();
  ApplyCustomerBackground();
  if (src == 1 && Settings.customerVideo == 0) ShowPageBadge(L"배경 출처 = 외부 입력 - 위의 [배경 동영상 켬] 도 눌러주세요");
  else if (src == 1) ShowPageBadge(L"배경 = 외부 입력(캡처 장치)");
  else ShowPageBadge(L"배경 = 동영상 파일");
  DebugLog(std::wstring(L"[CW] 배경 출처 = ") + (src == 1 ? L"외부 입력" : L"동영상 파일"));
}

void HandleSetCustomerCam(const std::wstring& m) {
  const std::wstring label = ArgOf(m);
  {
    std::lock_guard lock(AppSettings::Mutex);
    Settings.customerCamLabel = label;
  }
  SaveAppSettings();
  ApplyCustomerBackground();
  ShowPageBadge(label.empty() ? std::wstring(L"캡처 장치: 자동(첫 번째)") : L"캡처 장치: " + label);
}

void HandleSetLiteMode(const std::wstring& m) {
  const int mode = TriState(IntArg(m));
  Settings.liteMode = mode;
  SaveAppSettings();
  PostLiteModeScript();
  ApplyCustomerBackground();
  PostScriptToPage(BuildPcVideoInfoScript());
  const bool lite = PageHost.LiteModeActive.load() != 0;
  ShowPageBadge(lite ? L"성능 모드: 저사양 - 장식을 끄고 반주와 가사에 힘을 몰아줍니다"
                     : L"성능 모드: 고사양 - 모든 화면 기능을 씁니다");
  DebugLog(std::wstring(L"[LITE] 성능 모드 설정 = ") + (mode == -1 ? L"자동" : mode == 1 ? L"저사양" : L"고사양") +
           L" -> 지금 " + (lite ? L"저사양" : L"고사양"));
}

void HandleSetGpuForce(const std::wstring& m) {
  const int v = TriState(IntArg(m));
  Settings.gpuForce = v;
  SaveAppSettings();
  PostScriptToPage(BuildPcVideoInfoScript());
  ShowPageBadge(v == 1   ? L"그래픽 가속 켬 - 프로그램을 다시 시작하면 적용됩니다"
                : v == 0 ? L"그래픽 가속 끔 - 프로그램을 다시 시작하면 적용됩니다"
                         : L"그래픽 가속 자동 - 약한 PC(70점 미만)에서만 켜집니다. 다시 시작하면 적용됩니다");
  DebugLog(L"[CW] 그래픽 가속 = " + std::to_wstring(v) + L" (-1=자동, 재시작 후 적용)");
}

void HandleSetBgRandom(const std::wstring& m) {
  const bool on = IntArg(m) != 0;
  Settings.bgRandom = on ? 1 : 0;
  SaveAppSettings();
  if (on) {
    RunCustomerScript(GuardedScript(L"bgRandomOn = 1; refreshBg();", L"refreshBg"));
  } else {
    {
      std::lock_guard lock(PageHost.PageScriptCacheMutex);
      PageHost.RandomBgScript.reset();
    }
    RunCustomerScript(GuardedScript(L"bgRandomOn = 0; randomBgData = null; refreshBg();", L"refreshBg"));
  }
  std::error_code ec;
  const auto random = plat::RealPath(L"<root>/images/random");
  if (!random.empty()) std::filesystem::create_directories(random, ec);
  if (on && !random.empty()) {
    bool any = false;
    for (std::filesystem::directory_iterator it(random, ec), end; !ec && it != end && !any; it.increment(ec))
      any = !it->is_directory(ec);
    if (!any)
      PostScriptToPage(GuardedScript(L"alert('랜덤 바탕 이미지 폴더가 비어 있습니다.\\n\\n" +
                                         EscapeForScript(plat::ShownPath(L"<root>/images/random")) +
                                         L" 폴더에 이미지 파일(jpg/png 등)을 넣어주세요.');",
                                     L"alert"));
  }
}

void HandleBgRandomNext(const std::wstring&) {
  const auto pictures = ListRandomPictures();
  if (pictures.empty()) return;
  const int count = static_cast<int>(pictures.size());
  int index = static_cast<int>(plat::TimeGetTime() % static_cast<uint32_t>(count));
  if (count >= 2 && index == Backgrounds.LastRandomIndex) index = (index + 1) % count;
  Backgrounds.LastRandomIndex = index;
  // Built as UTF-8 in one buffer on this (the window) thread and shared by the cache and both
  // pages: a 3 MB picture is a 4 MB script, and every copy of it delays the pages.
  static constexpr std::string_view kHead = "try{ bgRandomOn = 1; onRandomBgApplied('";
  // The guard's catch as GuardedScript writes it, in UTF-8.
  static constexpr std::string_view kTail = "'); }catch(e){console.error('onRandomBgApplied',e)}";
  std::string text(kHead);
  if (!AppendDataUrlUtf8(text, L"<root>/images/random/" + pictures[static_cast<size_t>(index)], kTail.size()))
    return;
  text += kTail;
  const auto script = std::make_shared<const std::string>(std::move(text));
  {
    std::lock_guard lock(PageHost.PageScriptCacheMutex);
    PageHost.RandomBgScript = script;
  }
  if (PageHost.MainPageView) PageHost.MainPageView->RunSharedScript(script);
  if (PageHost.CustomerPageView) PageHost.CustomerPageView->RunSharedScript(script);
}

void HandlePickMainImage(const std::wstring&) { PostPickedPicture(L"main_bg", L"onMainImagePicked"); }
void HandlePickHeaderImage(const std::wstring&) { PostPickedPicture(L"header_bg", L"onHeaderImagePicked"); }

void HandleListFonts(const std::wstring&) {
  PostScriptToPage(PageCall(L"initCustomFonts", ScriptLiteral{ListFontFiles()}) +
                   GuardedScript(L"if (typeof settingsPanelOpen !== 'undefined' && settingsPanelOpen && typeof "
                                 L"renderSettingsPanel === 'function') renderSettingsPanel();",
                                 L"renderSettingsPanel"));
}

void HandleLoadCustomFont(const std::wstring& m) {
  const std::wstring name = ArgOf(m);
  // A name that could leave the fonts folder gets no reply at all.
  if (name.empty() || name.find_first_of(L"/\\") != std::wstring::npos || name.find(L"..") != std::wstring::npos) return;
  const std::wstring url = MakeFontDataUrl(name);
  if (url.empty()) {
    PostScriptToPage(GuardedScript(L"alert('글꼴 파일을 읽지 못했습니다: " + EscapeForScript(name) + L"');", L"alert"));
    return;
  }
  PostScriptToPage(GuardedScript(L"onCustomFontData('" + EscapeForScript(name) + L"', '" + url + L"');", L"onCustomFontData"));
}

void HandleListAudio(const std::wstring&) {
  PostScriptToPage(GuardedScript(L"setAudioList(" + BuildAudioFileList() + L");", L"setAudioList"));
}
