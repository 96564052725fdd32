#include "ui/online_commands.h"

#include <system_error>
#include <thread>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "online/services.h"
#include "online/song_commands.h"
#include "online/song_update.h"
#include "online/text_refresh.h"
#include "ui/services.h"

namespace {

constexpr std::wstring_view kRunPrefix = L"RUN_SONG_UPDATE:";

std::wstring HelpTextScript() {
  const auto& s = Settings;
  return PageCall(L"initHelpText", ScriptLiteral{BuildHelpPayload()}, s.helpFontPx, s.helpPageSec);
}

// The help refresh of the online services shows the new text through the page's help call.
const bool helpHookInstalled = [] {
  SetHelpTextScriptHook(HelpTextScript);
  return true;
}();

template <typename Fn>
bool StartDetached(Fn&& body) {
  try {
    std::thread(std::forward<Fn>(body)).detach();
    return true;
  } catch (const std::system_error&) {
    DebugLog(L"[모달] 작업 스레드를 시작하지 못함");
    return false;
  }
}

}  // namespace

void HandleRunSongUpdate(const std::wstring& m) {
  std::wstring mode = m.substr(std::min(m.size(), kRunPrefix.size()));
  DebugLog(L"[모달] RUN_SONG_UPDATE 수신: " + mode);
  if (mode == L"zip") {
    if (SongUpdateState.SongUpdateRunningFlag.load()) {
      DebugLog(L"[모달] 이미 업데이트가 진행 중이라 시작 요청을 거절하고 안내함");
      PostScriptToPage(PageCall(L"updateDone", L"시작할 때 자동 업데이트가 이미 진행 중입니다. 끝난 뒤 다시 눌러주세요.", -1, 1));
      return;
    }
    StartDetached(ForceReinstallBaseZip);
    return;
  }
  // The flag is taken here and handed to the run, so a full reinstall's clean-up never runs
  // beside another update.
  uint8_t expected = 0;
  if (!SongUpdateState.SongUpdateRunningFlag.compare_exchange_strong(expected, 1)) {
    DebugLog(L"[모달] 이미 업데이트가 진행 중이라 시작 요청을 거절하고 안내함");
    PostScriptToPage(PageCall(L"updateDone", L"시작할 때 자동 업데이트가 이미 진행 중입니다. 끝난 뒤 다시 눌러주세요.", -1, 1));
    return;
  }
  bool full = mode == L"full";
  if (!StartDetached([full] { RunSongUpdateFromModal(full); })) {
    SongUpdateState.SongUpdateRunningFlag.store(0);
    PostScriptToPage(PageCall(L"updateDone", L"업데이트 중 오류가 발생했습니다. 다시 시도해주세요.", -1, 1));
  }
}

void HandleCheckSongUpdate(const std::wstring&) { StartDetached(CheckSongUpdateThread); }

void HandleCheckSongDates(const std::wstring&) { StartDetached(CheckSongDatesThread); }
