// The page boot sequence: the hand-over from the start-up load thread to the page.
#include "ui/page_boot.h"

#include <atomic>
#include <filesystem>
#include <system_error>
#include <thread>

#include "base/debug_log.h"
#include "base/settings/app_settings.h"
#include "base/settings/song_settings.h"
#include "base/text.h"
#include "base/program_messages.h"
#include "platform/clock.h"
#include "platform/message_loop.h"
#include "platform/paths.h"
#include "playback/services.h"
#include "songs/services.h"
#include "songs/song_list.h"
#include "sound/services.h"
#include "ui/page_assets.h"
#include "ui/page_host.h"
#include "ui/script_channel.h"
#include "ui/services.h"

namespace {

constexpr std::wstring_view kFirstInstallFlag = L"C:/tavelo/system/firstinstall.flag";

PageBootHooks BootHooks;  // set at start, before the page exists
std::atomic<bool> FullscreenDone{false};
std::atomic<bool> CustomerWindowDone{false};
std::atomic<bool> LateReportDone{false};

std::wstring N(int value) { return std::to_wstring(value); }

void RunOnMainPage(const std::wstring& script) {
  if (MainPageView && !script.empty()) MainPageView->RunScript(script);
}

void RunOnMainPage(std::string utf8Script) {
  if (MainPageView && !utf8Script.empty()) MainPageView->RunScriptUtf8(std::move(utf8Script));
}

// Removes the first-install flag; true when it was there.
bool TakeFirstInstallFlag() {
  std::filesystem::path path = plat::RealPath(kFirstInstallFlag);
  std::error_code ec;
  return !path.empty() && std::filesystem::remove(path, ec);
}

}  // namespace

void SetPageBootHooks(PageBootHooks hooks) { BootHooks = hooks; }

std::string BuildBootFirstScript() {
  const AppSettings& s = Settings;
  std::wstring port1Module, port2Module, extDevice, lyricFont, waitColor, sungColor;
  {
    std::lock_guard lock(AppSettingsMutex);
    port1Module = EscapeForScript(s.port1Module);
    port2Module = EscapeForScript(s.port2Module);
    extDevice = EscapeForScript(s.extDevice);
    lyricFont = EscapeForScript(s.lyricFont);
    waitColor = EscapeForScript(s.lyricWaitColor);
    sungColor = EscapeForScript(s.lyricSungColor);
  }
  std::wstring js = L"); renderReservedQueue(); renderSearchResults(); initSoundTable(" + BuildSoundTablePayload();
  js += L"); initPlayedHistory(" + BuildHistoryPayload() + L"); initFavorites(" + BuildFavoritesPayload() +
        L"); initUserKeys(" + BuildUserKeyIdList();
  js += L"); try{ initHelpText(" + BuildHelpPayload() + L"," + N(s.helpFontPx) + L"," + N(s.helpPageSec);
  js += L"); }catch(e){} initAppSettings(" + N(s.autoKeyMode) + L", '" + port1Module + L"', '" +
        port2Module + L"', " + N(s.outputMode) + L", " + N(s.chordYAdj) + L", " + N(s.jumpMarkYAdj) +
        L", " + N(s.reverbLevel) + L", " + N(s.startFullscreen) + L", " + N(s.moduleTonePreset) + L", " +
        N(s.use8850NativeMap) + L", 100" + L", {on:" + N(s.reverbShapeOn) + L", macro:" +
        N(s.reverbMacro) + L", time:" + N(s.reverbTime) + L", preLpf:" + N(s.reverbPreLpf) + L"}, " +
        N(s.fullScore) + L", {macro:" + N(s.chorusMacro) + L", level:" + N(s.chorusLevel) +
        L", depth:" + N(s.chorusDepth) + L"}";
  js += L"); try{ initScoreText(" + N(s.scLyrSize) + L"," + N(s.scLyrColor) + L"," + N(s.scLyrBold) +
        L"," + N(s.scLyrOutline) + L"," + N(s.scChdSize) + L"," + N(s.scChdColor) + L"," +
        N(s.scChdBold) + L"," + N(s.scChdOutline);
  js += L"); }catch(e){} try{ setNumLockOffDisplay(" + N(s.numLockOff);
  // The routing texts hold only digits, ">" and "," (no apostrophe, backslash or control).
  js += L"); }catch(e){} try{ initExtRouting(" + N(s.extOn) + L"," + N(s.extToCh) + L"," + N(s.extCc) +
        L"," + N(s.extPc) + L"," + N(s.extClock) + L",'" + EscapeForScript(FormatExtRouting()) + L"','" +
        EscapeForScript(FormatExtNoteMap()) + L"','" + extDevice;
  js += L"'); }catch(e){} try{ updateGlobalVolDisplay(" + N(s.volAllUser) + L"," + N(s.volOrchUser) +
        L"); }catch(e){} try{ setMixerMaxPct(" + N(s.mixerMaxPct) + L"); }catch(e){} try{ setCcDedupDisplay(" +
        N(s.ccDedupOn);
  js += L"); }catch(e){} try{ setRawSoundDisplay(" + N(s.rawSound) + L"); setSaxExprDisplay(" +
        N(s.saxExpr) + L"); setSaxLayerDisplay(" + N(s.saxLayer) + L"); setSaxBoostDisplay(" +
        N(s.saxBoost) + L"); setSaxInsFxDisplay(" + N(s.saxInsFx) + L"," + N(s.saxInsLv) +
        L"); setSaxPlayDisplay(" + N(s.saxBend) + L"," + N(s.saxBreath) + L"," + N(s.saxGate);
  js += L"); }catch(e){} try{ setBuiltinSynthDisplay(" + N(s.builtinSynth ? 1 : 0) +
        L"); }catch(e){} try{ setPcIsLaptop(" + N(HasBattery() ? 1 : 0) +
        L"); }catch(e){} try{ setBgRandomDisplay(" + N(s.bgRandom);
  js += L"); }catch(e){} try{ setLyricFontDisplay('" + lyricFont + L"'); }catch(e){} try{ setLyricWaitColorDisplay('" +
        waitColor + L"'); }catch(e){} try{ setLyricSungColorDisplay('" + sungColor +
        L"'); }catch(e){} try{ setLyricFontScaleDisplay(" + N(s.lyricFontScale) +
        L"); }catch(e){} try{ initCustomFonts(" + ListFontFiles() + L"); }catch(e){}";
  js += L" try{ initEqFromApp(" + N(EqSettings.lowFreq) + L"," + N(EqSettings.lowGain) + L"," +
        N(EqSettings.highFreq) + L"," + N(EqSettings.highGain) + L"); }catch(e){}";
  // The song array is already UTF-8; the rest joins it once converted.
  const std::string rest = WideToUtf8(js);
  std::string script = "initSongDb(";
  const std::string songs = BuildSongListPayload();
  script.reserve(script.size() + songs.size() + rest.size());
  script += songs;
  script += rest;
  return script;
}

std::wstring BuildBootEnvScript() {
  std::wstring env = EnvSettingsScriptArgument();
  if (env.empty()) return {};
  return L"try{ applyEnvSettings(" + env + L"); }catch(e){ console.log(e); }";
}

std::wstring BuildBootSecondScript() {
  const AppSettings& s = Settings;
  std::vector<std::wstring> videos = ListPlayableVideos();
  std::wstring js = L"try{ initMonitorList(" + BuildMonitorListJson() + L"," + N(s.customerMonitor) + L"," +
                    N(FindMainMonitorIndex()) + L"); initCustomerBright(" + N(s.customerBright) +
                    L"); initCwLyricsPct(" + N(s.cwLyricsPct) + L"); initCwScoreFill(" + N(s.cwScoreFill) +
                    L"); initCustomerVideo(" + N(s.customerVideo) + L", '" +
                    EscapeForScript(videos.empty() ? std::wstring() : videos.front()) + L"', " +
                    N(static_cast<int>(videos.size())) + L"); }catch(e){}";
  js += BuildPcVideoInfoScript();
  js += BuildCamListScript();
  js += BuildLiteModeScript();
  js += L"try{ initKeepAdjust(" + N(s.keepAdjust) + L"); }catch(e){}";
  js += BuildInitMedleyScript();
  return js;
}

void OnMainNavigationCompleted() {
  DebugLog(L"[BOOT] NavigationCompleted 진입 - 시작 로드 스레드 join 대기");
  if (BootHooks.waitForStartupLoad) BootHooks.waitForStartupLoad();
  DebugLog(L"[BOOT] join 완료 - 화면 초기 데이터 심기");

  RunOnMainPage(BuildBootFirstScript());
  RunOnMainPage(BuildBootEnvScript());
  RunOnMainPage(L"try{ " + BuildInitSoundStateScript() + L"; }catch(e){ console.log(e); }");
  RunOnMainPage(L"try{ " + BuildMixerInitScript() + L"; }catch(e){ console.log(e); }");

  if (TakeFirstInstallFlag()) RunOnMainPage(L"try{ startFullUpdateAuto(); }catch(e){ console.log(e); }");

  std::wstring bgImages = BuildBgImagesScript();
  {
    std::lock_guard lock(PageScriptCacheMutex);
    BgImagesScript = bgImages;
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
