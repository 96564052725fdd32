#include "ui/settings_commands.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/settings/old_imports.h"
#include "base/settings/song_settings.h"
#include "base/text.h"
#include "platform/open_file_dialog.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "platform/paths.h"
#include "ui/help_text.h"
#include "ui/old_config_import.h"
#include "ui/services.h"

namespace {

SettingsCommandHooks Hooks;

std::wstring ArgOf(const std::wstring& m) {
  const size_t colon = m.find(L':');
  return colon == std::wstring::npos ? std::wstring() : m.substr(colon + 1);
}

int IntArg(const std::wstring& m) { return LeadingInt(ArgOf(m)); }

void StoreAndSave(SettingInt AppSettings::*member, int value) {
  Settings.*member = value;
  SaveAppSettings();
}

void SetColour(const std::wstring& m, std::wstring AppSettings::*member) {
  const std::wstring c = ArgOf(m);
  if (c.size() != 7 || c[0] != L'#') return;
  SetSettingText(member, c);
  SaveAppSettings();
}

// A modal open-file dialog; an empty path when cancelled (no display: logged).
std::wstring PickFile(const plat::OpenFileDialog& dialog) {
  plat::FileDialogResult r = plat::ShowOpenFileDialog(dialog);
  if (r.outcome == plat::FileDialogOutcome::kNoDisplay)
    DebugLog(L"[파일 선택] 화면이 없어 취소됨 - " + dialog.title);
  return r.outcome == plat::FileDialogOutcome::kPicked ? r.path : std::wstring();
}

}  // namespace

void SetSettingsCommandHooks(SettingsCommandHooks hooks) { Hooks = hooks; }

void HandleQuitApp(const std::wstring&) { plat::PostWindowMessage(plat::kWmClose); }

void HandleToggleFullscreen(const std::wstring&) {
  if (Hooks.setFullscreen) Hooks.setFullscreen(!(Hooks.fullscreenOn && Hooks.fullscreenOn()));
}

void HandleSetStartFullscreen(const std::wstring& m) {
  const bool on = IntArg(m) != 0;
  StoreAndSave(&AppSettings::startFullscreen, on ? 1 : 0);
  if (Hooks.setFullscreen) Hooks.setFullscreen(on);
}

void HandleSetNumLockOff(const std::wstring& m) {
  StoreAndSave(&AppSettings::numLockOff, std::clamp(IntArg(m), 0, 2));
  ApplyNumLockOff();
}

void HandleSetLyricFont(const std::wstring& m) {
  SetSettingText(&AppSettings::lyricFont, ArgOf(m));
  SaveAppSettings();
}

void HandleSetLyricWaitColor(const std::wstring& m) { SetColour(m, &AppSettings::lyricWaitColor); }
void HandleSetLyricSungColor(const std::wstring& m) { SetColour(m, &AppSettings::lyricSungColor); }

void HandleSetLyricFontSize(const std::wstring& m) {
  const int v = IntArg(m);
  if (v >= 50 && v <= 200) StoreAndSave(&AppSettings::lyricFontScale, v);
}

void HandleSetAutoKey(const std::wstring& m) { StoreAndSave(&AppSettings::autoKeyMode, IntArg(m)); }

void HandleOpenHelp(const std::wstring&) {
  PostScriptToPage(PageCall(L"initHelpText", ScriptLiteral{BuildHelpPayload()}, Settings.helpFontPx.load(),
                            Settings.helpPageSec.load()));
}

// ---- The older program's singer keys ----

std::wstring PickOldUserKeyFile() {
  plat::OpenFileDialog d;
  d.title = L"옛 Quellor 남/여키 파일(USERKEY.CFG) 선택";
  d.filters = {{L"Quellor 키 파일 (USERKEY.CFG)", L"USERKEY.CFG;*.CFG"}, {L"모든 파일 (*.*)", L"*.*"}};
  d.fileName = L"USERKEY.CFG";
  d.startFolder = plat::RealPath(L"<root>/system").wstring();
  return PickFile(d);
}

int ImportOldUserKeyFile(const std::wstring& path, int& skipped) {
  skipped = 0;
  // The older program numbered songs below a million: a larger file is no key file.
  constexpr uintmax_t kMaxBytes = 8u << 20;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec) || std::filesystem::file_size(path, ec) > kMaxBytes || ec) return -1;
  std::optional<std::string> bytes = plat::ReadFileBytes(path);
  if (!bytes || bytes->size() > kMaxBytes) return -1;
  return MergeOldUserKeyRecords(*bytes, SongSettings.UserKeyMap, skipped);
}

void HandleImportQuellorKeys(const std::wstring&) {
  const std::wstring path = PickOldUserKeyFile();
  if (path.empty()) return;
  int skipped = 0;
  const int added = ImportOldUserKeyFile(path, skipped);
  if (added < 0) {
    PostScriptToPage(GuardedScript(L"alert('파일을 열지 못했습니다.\\n\\n" + EscapeForScript(path) + L"');", L"alert"));
    return;
  }
  if (added > 0) SaveUserKeys();
  DebugLog(L"[남여키] Quellor 불러오기 - " + path + L" : 새로 " + std::to_wstring(added) + L"곡, 이미 있어 건너뜀 " +
           std::to_wstring(skipped) + L"곡");
  PostScriptToPage(GuardedScript(PageCallText(L"initUserKeys", ScriptLiteral{BuildUserKeyIdList()}) +
                                 L"; if(typeof renderSearchResults==='function') renderSearchResults(); "
                                 L"if(typeof userKeyImportDone==='function') " +
                                 PageCallText(L"userKeyImportDone", added, skipped) + L";"));
}

// ---- The older program's settings ----

void HandleImportOldConfig(const std::wstring&) {
  plat::OpenFileDialog d;
  d.title = L"구프로그램 설정 파일 선택 (예: Quellor02.CFG)";
  d.filters = {{L"설정 파일 (*.cfg;*.ini;*.txt)", L"*.cfg;*.ini;*.txt"}, {L"모든 파일 (*.*)", L"*.*"}};
  const std::wstring path = PickFile(d);
  if (path.empty()) return;
  std::wstring report;
  if (ImportOldConfig(path, report)) {
    PostScriptToPage(PageCall(L"showImportReport", 1, report));
  } else {
    PostScriptToPage(PageCall(L"showImportReport", 0, std::wstring(report.empty()
        ? L"이 파일에서는 가져올 수 있는 항목을 찾지 못했습니다." : report)));
  }
}
