#include "ui/av_exclusion.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/text.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace {

// The last query's result; code and text change together.
std::mutex avMutex;
AvStatus avLast;

wchar_t LowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c + 32) : c; }

std::wstring NormalizedPath(std::wstring_view p) {
  std::wstring out;
  for (wchar_t c : p) out += c == L'\\' ? L'/' : LowerAscii(c);
  while (out.size() > 1 && out.back() == L'/') out.pop_back();
  return out;
}

std::wstring TrimAll(std::wstring_view s) {
  const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; };
  size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return std::wstring(s.substr(b, e - b));
}

// The query of the antivirus service's state. There is no such service on this system: the
// process layer runs the command and reports that it is missing, which the parser reads as
// "could not be read".
constexpr std::wstring_view kQueryCommand =
    L"powershell.exe -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command \"$ErrorActionPreference="
    L"'SilentlyContinue';$s=Get-MpComputerStatus;$p=(Get-MpPreference).ExclusionPath -join '|';Write-Output "
    L"('MODE=' + $s.AMRunningMode + ';RT=' + $s.RealTimeProtectionEnabled + ';EX=' + $p)\"";

}  // namespace

std::wstring GetStatusField(std::wstring_view text, std::wstring_view key) {
  const size_t at = text.find(key);
  if (at == std::wstring_view::npos) return {};
  const size_t from = at + key.size();
  size_t end = text.find(L';', from);
  if (end == std::wstring_view::npos) end = text.find_first_of(L"\r\n", from);
  if (end == std::wstring_view::npos) end = text.size();
  return std::wstring(text.substr(from, end - from));
}

AvStatus ParseAvStatus(std::wstring_view output, std::wstring_view installRoot) {
  const std::wstring mode = GetStatusField(output, L"MODE="), rt = GetStatusField(output, L"RT="),
                     ex = GetStatusField(output, L"EX=");
  AvStatus s;
  if (mode.empty() && rt.empty()) return s;
  std::wstring lowerMode;
  for (wchar_t c : mode) lowerMode += LowerAscii(c);
  if (!mode.empty() && lowerMode.find(L"normal") == std::wstring::npos) {
    s.code = 4;
    s.text = L"다른 백신 사용 중(" + mode + L")";
    return s;
  }
  if (rt.find(L"True") == std::wstring::npos && rt.find(L"true") == std::wstring::npos) {
    s.code = 3;
    s.text = L"실시간 검사 꺼짐";
    return s;
  }
  const std::wstring root = NormalizedPath(installRoot);
  bool excluded = false;
  for (const std::wstring& path : SplitWide(ex, L'|'))
    if (!root.empty() && NormalizedPath(TrimAll(path)) == root) excluded = true;
  s.code = excluded ? 2 : 1;
  s.text = excluded ? L"tavelo 제외됨" : L"tavelo 제외 안 됨";
  return s;
}

int QueryDefenderStatus() {
  const std::wstring output = Utf8ToWide(plat::RunHiddenCommandCapture(kQueryCommand, 20000));
  const AvStatus s = ParseAvStatus(output, plat::RootDir().wstring());
  {
    std::lock_guard lock(avMutex);
    avLast = s;
  }
  DebugLog(L"[백신] " + s.text + L" (원문: " + TrimAll(output) + L")");
  return s.code;
}

AvStatus CurrentAvStatus() {
  std::lock_guard lock(avMutex);
  return avLast;
}

std::wstring PostAvExclusionState() {
  const AvStatus s = CurrentAvStatus();
  return PageCall(L"initAvExcl", s.code, s.text);
}

void SetDefenderExclusion(bool add) {
  // No antivirus service to ask on this system: nothing is started, and the log says so.
  DebugLog(std::wstring(L"[백신] 제외 ") + (add ? L"등록" : L"해제") +
           L" 실행 결과=0 (이 시스템에는 백신 서비스가 없어 실행하지 않음)");
}

void StartAvExclusionCheck(bool delayed) {
  try {
    std::thread([delayed] {
      if (delayed) std::this_thread::sleep_for(std::chrono::milliseconds(4000));
      QueryDefenderStatus();
      PostScriptToPage(PostAvExclusionState());
      ShowPageBadge(L"백신 검사 제외: " + CurrentAvStatus().text);
    }).detach();
  } catch (const std::system_error&) {
    DebugLog(L"[백신] 확인 스레드를 시작하지 못함");
  }
}
