#include "base/install.h"

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <vector>

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace fs = std::filesystem;

namespace {

std::wstring PathText(const fs::path& p) { return Utf8ToWide(p.string()); }

fs::path LogonTaskEntry() { return plat::AutostartDir() / (WideToUtf8(kLogonTaskName) + ".desktop"); }
fs::path RunValueEntry() { return plat::AutostartDir() / (WideToUtf8(kRunValueName) + ".desktop"); }

// The command that starts this install: the program, with the install root when it is not the
// default one (a session start has none of our environment).
std::vector<std::string> StartCommand(std::wstring_view exe, bool delayed) {
  std::vector<std::string> cmd;
  if (const char* root = std::getenv("TAVELO_ROOT"); root && *root) {
    cmd.push_back("env");
    cmd.push_back("TAVELO_ROOT=" + plat::RootDir().string());
  }
  cmd.push_back(WideToUtf8(exe));
  if (delayed) cmd.push_back("/delayedstart");
  return cmd;
}

fs::path FolderOf(std::wstring_view exe) {
  fs::path p(WideToUtf8(exe));
  return p.has_parent_path() ? p.parent_path() : plat::RootDir();
}

bool SameNoCase(std::wstring a, std::wstring b) {
  for (auto* s : {&a, &b})
    for (auto& c : *s) c = static_cast<wchar_t>(std::towlower(c));
  return a == b;
}

}  // namespace

void CreateInstallFolders() {
  for (const wchar_t* folder : {L"<root>", L"<root>/system", L"<root>/system/system-exclive",
                                L"<root>/system/wv2_login_cache", L"<root>/images",
                                L"<root>/images/random", L"<root>/video"}) {
    std::error_code ec;
    fs::create_directory(plat::RealPath(folder), ec);  // an existing folder or a failure is ignored
  }
}

bool IsInterruptedSaveFile(std::string_view name) {
  const size_t at = name.rfind(".tmp");
  if (at == std::string_view::npos || at == 0) return false;
  std::string_view rest = name.substr(at + 4);
  auto digits = [&rest] {
    size_t n = 0;
    while (n < rest.size() && rest[n] >= '0' && rest[n] <= '9') ++n;
    rest.remove_prefix(n);
    return n > 0;
  };
  if (!digits()) return false;
  if (rest.empty()) return true;
  return rest[0] == '_' && (rest.remove_prefix(1), digits()) && rest.empty();
}

int RemoveInterruptedSaveFiles() {
  int count = 0;
  auto sweep = [&count](const fs::path& folder, const std::vector<std::string>& onlyFor) {
    if (folder.empty()) return;
    // The system folder holds every song's files: only the names of temporary files are kept.
    for (const std::string& name : plat::ListFileNames(folder, IsInterruptedSaveFile)) {
      if (!onlyFor.empty()) {
        const std::string target = name.substr(0, name.rfind(".tmp"));
        if (std::find(onlyFor.begin(), onlyFor.end(), target) == onlyFor.end()) continue;
      }
      std::error_code ec;
      const fs::path path = folder / name;
      if (fs::remove(path, ec)) {
        DebugLog(L"[정리] 저장 중 끊긴 임시파일 삭제 - " + PathText(path));
        ++count;
      }
    }
  };
  for (const wchar_t* folder : {L"<root>", L"<root>/system", L"<root>/presets", L"<root>/system/ui",
                                L"<root>/pxr", L"<root>/pxr/_bak", L"<root>/medley", L"<root>/vocal"})
    sweep(plat::RealPath(folder), {});
  // Folders of the user's desktop: only the temporary files of our own entries.
  const std::string task = LogonTaskEntry().filename().string();
  const std::string run = RunValueEntry().filename().string();
  sweep(plat::AutostartDir(), {task, run});
  sweep(plat::DesktopDir(), {"Tavelo.desktop"});  // the launcher of InstallCopyAndShortcut
  return count;
}

void InstallCopyAndShortcut() {
  const fs::path running = plat::ExecutablePath();
  if (running.empty()) return;
  std::error_code ec;
  fs::create_directory(plat::RootDir(), ec);
  const fs::path installed = plat::RealPath(kInstalledExe);
  if (!installed.empty() && !SameNoCase(PathText(running), PathText(installed)) &&
      !fs::exists(installed, ec)) {
    bool ok = fs::copy_file(running, installed, fs::copy_options::skip_existing, ec) && !ec;
    DebugLog(L"설치본 최초 복사: " + PathText(installed) + L" " + (ok ? L"성공" : L"실패/이미있음"));
  }
  CreateDesktopShortcut(PathText(installed), L"Tavelo");
}

bool CreateDesktopShortcut(std::wstring_view targetPath, std::wstring_view name) {
  const fs::path desktop = plat::DesktopDir();
  std::error_code ec;
  if (desktop.empty() || !fs::is_directory(desktop, ec)) return false;
  const fs::path file = desktop / (WideToUtf8(name) + ".desktop");
  if (fs::exists(file, ec)) return true;  // an existing launcher stays as it is
  plat::DesktopEntry entry;
  entry.name = std::wstring(name);
  entry.comment = L"Tavelo 노래방";
  entry.exec = StartCommand(targetPath, false);
  entry.workingDir = FolderOf(targetPath);
  return plat::WriteDesktopEntry(file, entry);
}

void ConfigureAutostart() {
  std::error_code ec;
  if (fs::exists(plat::RealPath(kAutostartOffFlag), ec)) {
    fs::remove(LogonTaskEntry(), ec);
    fs::remove(RunValueEntry(), ec);
    DebugLog(L"부팅 자동실행: 등록 해제 완료");
    DebugLog(L"부팅 자동실행: autostart_off.flag 가 있어 등록하지 않음");
    return;
  }
  std::wstring exe;
  if (fs::path installed = plat::RealPath(kInstalledExe); !installed.empty() && fs::exists(installed, ec))
    exe = PathText(installed);
  else if (fs::path running = plat::ExecutablePath(); !running.empty())
    exe = PathText(running);
  if (exe.empty()) {
    DebugLog(L"부팅 자동실행: EXE 경로 확인 실패 - 등록 건너뜀");
    return;
  }
  fs::create_directory(plat::RealPath(L"<root>/system"), ec);
  bool ok = false;
  bool keepRunValue = false;
  if (plat::ProcessIsElevated()) ok = RegisterLogonTask(exe, L"HighestAvailable");
  if (!ok) ok = RegisterLogonTask(exe, L"LeastPrivilege");
  if (!ok) {
    if (fs::is_regular_file(LogonTaskEntry(), ec)) {
      ok = true;  // registered by an earlier start
    } else {
      ok = RegisterRunKey(exe);
      keepRunValue = true;
    }
  }
  if (!keepRunValue) fs::remove(RunValueEntry(), ec);  // the task takes its place
  DebugLog(L"부팅 자동실행 등록: " + std::wstring(ok ? L"성공 - " : L"실패 - ") + exe + L" (로그온 " +
           L"1" + L"분 뒤 실행)");
}

bool RegisterLogonTask(std::wstring_view exe, std::wstring_view runLevel) {
  plat::DesktopEntry entry;
  entry.name = std::wstring(kLogonTaskName);
  entry.comment = L"Tavelo 반주기 - 로그온 1분 뒤 자동 실행";
  entry.exec = StartCommand(exe, false);
  entry.workingDir = FolderOf(exe);
  entry.autostartDelaySeconds = 60;
  const fs::path file = LogonTaskEntry();
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  if (!fs::is_directory(file.parent_path(), ec)) {
    DebugLog(L"부팅 자동실행: XML 임시파일 쓰기 실패 " + PathText(file));
    return false;
  }
  // Writing the entry is the registration: it counts only when the entry reads back as written.
  const bool written = plat::WriteDesktopEntry(file, entry) &&
                       plat::ReadFileBytes(file) == std::optional<std::string>(plat::DesktopEntryText(entry));
  const int code = written ? 0 : 1;
  DebugLog(L"부팅 자동실행: schtasks 등록(" + std::wstring(runLevel) + L") 결과코드=" + std::to_wstring(code));
  return code == 0;
}

bool RegisterRunKey(std::wstring_view exe) {
  plat::DesktopEntry entry;
  entry.name = std::wstring(kRunValueName);
  entry.exec = StartCommand(exe, true);
  entry.workingDir = FolderOf(exe);
  const fs::path file = RunValueEntry();
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  if (ec && !fs::is_directory(file.parent_path())) return false;  // the "key" cannot be opened
  bool ok = plat::WriteDesktopEntry(file, entry);
  DebugLog(std::wstring(L"부팅 자동실행: Run키 대체등록 ") + (ok ? L"성공" : L"실패"));
  return ok;
}

int RunHiddenAndWait(std::wstring_view commandLine, unsigned timeoutMs) {
  return plat::RunHiddenAndWait(commandLine, timeoutMs);
}
