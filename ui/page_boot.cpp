// The page boot sequence: the hand-over from the start-up load thread to the page.
#include "ui/page_boot.h"

#include <atomic>
#include <filesystem>
#include <initializer_list>
#include <system_error>
#include <thread>
#include <utility>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/settings/song_settings.h"
#include "base/text.h"
#include "base/program_messages.h"
#include "platform/clock.h"
#include "platform/message_loop.h"
#include "platform/paths.h"
#include "playback/medley.h"
#include "playback/services.h"
#include "songs/services.h"
#include "songs/song_list.h"
#include "sound/services.h"
#include "ui/page_assets.h"
#include "ui/page_host.h"
#include "ui/presets.h"
#include "ui/script_channel.h"
#include "ui/services.h"

namespace {

constexpr std::wstring_view kFirstInstallFlag = L"<root>/system/firstinstall.flag";

PageBootHooks BootHooks;  // set at start, before the page exists
std::atomic<bool> FullscreenDone{false};
std::atomic<bool> CustomerWindowDone{false};
std::atomic<bool> LateReportDone{false};

void RunOnMainPage(const std::wstring& script) {
  if (PageHost.MainPageView && !script.empty()) PageHost.MainPageView->RunScript(script);
}

// A guard around call text that another subsystem's builder made (it escaped its own texts),
// tagged with the called function's name.
std::wstring GuardedCall(const std::wstring& callText) {
  if (callText.empty()) return {};
  return GuardedScript(callText + L";", std::wstring_view(callText).substr(0, callText.find(L'(')));
}

// Removes the first-install flag; true when it was there.
bool TakeFirstInstallFlag() {
  std::filesystem::path path = plat::RealPath(kFirstInstallFlag);
  std::error_code ec;
  return !path.empty() && std::filesystem::remove(path, ec);
}

}  // namespace

void SetPageBootHooks(PageBootHooks hooks) { BootHooks = hooks; }

std::wstring BuildBootFirstScript() {
  const AppSettings& s = Settings;
  std::wstring port1Module, port2Module, extDevice, lyricFont, waitColor, sungColor;
  {
    std::lock_guard lock(AppSettings::Mutex);
    port1Module = s.port1Module;
    port2Module = s.port2Module;
    extDevice = s.extDevice;
    lyricFont = s.lyricFont;
    waitColor = s.lyricWaitColor;
    sungColor = s.lyricSungColor;
  }
  // Every call has its own guard: a page that lacks one function, or one that throws, still gets
  // every value that follows.
  std::wstring js = PageCall(L"renderReservedQueue");
  js += PageCall(L"renderSearchResults");
  js += PageCall(L"initSoundTable", ScriptLiteral{BuildSoundTablePayload()});
  js += PageCall(L"initPlayedHistory", ScriptLiteral{BuildHistoryPayload()});
  js += PageCall(L"initFavorites", ScriptLiteral{BuildFavoritesPayload()});
  js += PageCall(L"initUserKeys", ScriptLiteral{BuildUserKeyIdList()});
  js += PageCall(L"initHelpText", ScriptLiteral{BuildHelpPayload()}, s.helpFontPx, s.helpPageSec);
  js += GuardedCall(InitAppSettingsCallText(port1Module, port2Module));
  js += PageCall(L"initScoreText", s.scLyrSize, s.scLyrColor, s.scLyrBold, s.scLyrOutline, s.scChdSize,
                 s.scChdColor, s.scChdBold, s.scChdOutline);
  js += PageCall(L"setNumLockOffDisplay", s.numLockOff);
  js += PageCall(L"initExtRouting", s.extOn, s.extToCh, s.extCc, s.extPc, s.extClock, FormatExtRouting(),
                 FormatExtNoteMap(), extDevice);
  js += PageCall(L"updateGlobalVolDisplay", s.volAllUser, s.volOrchUser);
  js += PageCall(L"setMixerMaxPct", s.mixerMaxPct);
  js += PageCall(L"setCcDedupDisplay", s.ccDedupOn);
  js += PageCall(L"setRawSoundDisplay", s.rawSound);
  js += PageCall(L"setSaxExprDisplay", s.saxExpr);
  js += PageCall(L"setSaxLayerDisplay", s.saxLayer);
  js += PageCall(L"setSaxBoostDisplay", s.saxBoost);
  js += PageCall(L"setSaxInsFxDisplay", s.saxInsFx, s.saxInsLv);
  js += PageCall(L"setSaxPlayDisplay", s.saxBend, s.saxBreath, s.saxGate);
  js += PageCall(L"setBuiltinSynthDisplay", s.builtinSynth ? 1 : 0);
  js += PageCall(L"setPcIsLaptop", HasBattery() ? 1 : 0);
  js += PageCall(L"setBgRandomDisplay", s.bgRandom);
  js += PageCall(L"setLyricFontDisplay", lyricFont);
  js += PageCall(L"setLyricWaitColorDisplay", waitColor);
  js += PageCall(L"setLyricSungColorDisplay", sungColor);
  js += PageCall(L"setLyricFontScaleDisplay", s.lyricFontScale);
  js += PageCall(L"initCustomFonts", ScriptLiteral{ListFontFiles()});
  js += PageCall(L"initLyricFonts", ScriptLiteral{ListInstalledFontFamilies()});
  js += PageCall(L"initEqFromApp", EqSettings.lowFreq, EqSettings.lowGain, EqSettings.highFreq,
                 EqSettings.highGain);
  return js;
}

void SendSongListToPage() {
  if (PageHost.MainPageView) PageHost.MainPageView->CallWithTable("initSongDb", BuildSongListTable());
}

std::wstring BuildBootEnvScript() {
  std::wstring env = EnvSettingsScriptArgument();
  if (env.empty()) return {};
  return PageCall(L"applyEnvSettings", JsonText{std::move(env)});
}

std::wstring BuildBootSecondScript() {
  const AppSettings& s = Settings;
  std::vector<std::wstring> videos = ListPlayableVideos();
  std::wstring js = PageCall(L"initMonitorList", ScriptLiteral{BuildMonitorListJson()}, s.customerMonitor,
                             FindMainMonitorIndex());
  js += PageCall(L"initCustomerBright", s.customerBright);
  js += PageCall(L"initCwLyricsPct", s.cwLyricsPct);
  js += PageCall(L"initCwScoreFill", s.cwScoreFill);
  js += PageCall(L"initCustomerVideo", s.customerVideo, videos.empty() ? std::wstring() : videos.front(),
                 static_cast<int>(videos.size()));
  js += BuildPcVideoInfoScript();
  js += BuildCamListScript();
  js += BuildLiteModeScript();
  js += PageCall(L"initKeepAdjust", s.keepAdjust);
  js += BuildInitMedleyScript();
  return js;
}

void OnMainNavigationCompleted() {
  // The song list goes first, as data the page parses, as soon as it is final; the rest of the
  // first script follows it on the same ordered channel once the whole load is done.
  if (BootHooks.waitForSongList) BootHooks.waitForSongList();
  SendSongListToPage();
  DebugLog(L"[BOOT] NavigationCompleted 진입 - 시작 로드 스레드 join 대기");
  if (BootHooks.waitForStartupLoad) BootHooks.waitForStartupLoad();
  DebugLog(L"[BOOT] join 완료 - 화면 초기 데이터 심기");

  RunOnMainPage(BuildBootFirstScript());
  RunOnMainPage(BuildBootEnvScript());
  RunOnMainPage(GuardedCall(BuildInitSoundStateScript()));
  RunOnMainPage(GuardedCall(BuildMixerInitScript()));

  if (TakeFirstInstallFlag()) RunOnMainPage(PageCall(L"startFullUpdateAuto"));

  std::wstring bgImages = BuildBgImagesScript();
  {
    std::lock_guard lock(PageHost.PageScriptCacheMutex);
    PageHost.BgImagesScript = bgImages;
  }
  RunOnMainPage(bgImages);
  if (!bgImages.empty()) RunCustomerScript(bgImages);

  if (Settings.startFullscreen && !FullscreenDone.exchange(true)) {
    if (BootHooks.enterFullscreen) BootHooks.enterFullscreen();
  }

  EnumerateMonitors();
  RunOnMainPage(BuildBootSecondScript());

  if (Settings.customerMonitor > 0 && !CustomerWindowDone.exchange(true))
    std::thread(ReopenCustomerAfterBoot, Settings.customerMonitor).detach();

  RunOnMainPage(StandingNoticesScript());  // refusals and failures said before the page was there

  DebugLog(L"[BOOT] *** NavigationCompleted 정상 종료 - 메인 화면 준비 끝 ***");
  if (!LateReportDone.exchange(true)) std::thread(ReportMissingSongsLater).detach();
}

void ReopenCustomerAfterBoot(int monitor) {
  plat::SleepMs(1500);
  plat::PostWindowMessage(WM_OPEN_CUSTOMER_WINDOW, monitor);
}

void ReportMissingSongsLater() {
  plat::LowerThreadPriority();
  plat::SleepMs(10000);
  std::vector<int> missing = FindUnlistedSongNumbers();
  std::wstring line = L"[BOOT] 목록에 없는 곡 자동 반영 꺼짐 - 대상 " + std::to_wstring(missing.size()) + L"곡";
  if (!missing.empty()) {
    line += L" (번호: ";
    for (size_t i = 0; i < missing.size() && i < 20; ++i) {
      if (i) line += L", ";
      line += std::to_wstring(missing[i]);
    }
    line += L")";
  }
  DebugLog(line);
}
