#include "online/text_refresh.h"

#include <atomic>
#include <filesystem>
#include <unordered_set>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/text.h"
#include "online/https.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

constexpr std::wstring_view kKeysigPath = L"/dataroom/upload_file/pds_lirand/tavelo_program/keysig.txt";
constexpr std::wstring_view kHelpPath = L"/dataroom/upload_file/pds_lirand/tavelo_program/help.txt";
constexpr std::wstring_view kKeysigFile = L"<root>/system/keysig.txt";
constexpr std::wstring_view kKeysigPrevFile = L"<root>/system/keysig_prev.txt";
constexpr std::wstring_view kHelpFile = L"<root>/system/help.txt";
constexpr std::wstring_view kHelpTmpFile = L"<root>/system/help.txt.tmp";
constexpr std::wstring_view kHelpBakFile = L"<root>/system/help.txt.bak";

std::atomic<HelpTextScriptHook> helpHook{nullptr};

}  // namespace

void SetHelpTextScriptHook(HelpTextScriptHook hook) { helpHook.store(hook); }

bool CountKeysigEntries(std::string_view text, int& count, std::vector<int>* songNumbers) {
  count = 0;
  if (songNumbers) songNumbers->clear();
  if (text.size() < 8) return false;
  if (LooksLikeHtmlPage(text, false)) return false;
  ForEachTextLine(text, [&](std::string_view line) {
    size_t b = line.find_first_not_of(" \t");
    if (b == std::string_view::npos) return;
    std::string_view rest = line.substr(b);
    if (rest.front() == ';' || rest.starts_with("//")) return;
    size_t eq = line.find('=');
    size_t colon = line.find(':');
    if (eq == std::string_view::npos || colon == std::string_view::npos || colon < eq) return;
    int number = LeadingInt(rest, true);
    if (number <= 0) return;
    ++count;
    if (songNumbers) songNumbers->push_back(number);
  });
  return count > 0;
}

void RefreshKeysigTable() {
  HttpResult r = HttpsRequest(WebHost(), kKeysigPath, L"GET", L"", "", nullptr);
  int newCount = 0;
  std::vector<int> newSongs;
  if (!r.completed || !CountKeysigEntries(r.body, newCount, &newSongs)) {
    DebugLog(L"[전조표] 서버에서 못 받았습니다 - 지금 파일을 그대로 씁니다 (status=" + std::to_wstring(r.status) +
             L", 받은크기=" + std::to_wstring(r.body.size()) + L")");
    return;
  }
  auto localPath = plat::RealPath(kKeysigFile);
  std::string local = plat::ReadFileBytes(localPath).value_or(std::string());
  if (local == r.body) {
    DebugLog(L"[전조표] 서버와 같음 - 그대로 둡니다 (" + std::to_wstring(newCount) + L"곡)");
    return;
  }
  int oldCount = 0;
  std::vector<int> oldSongs;
  CountKeysigEntries(local, oldCount, &oldSongs);
  std::unordered_set<int> present(newSongs.begin(), newSongs.end());
  std::vector<int> missing;
  for (int n : oldSongs)
    if (!present.count(n)) missing.push_back(n);
  if (!local.empty()) plat::WriteFileAtomic(plat::RealPath(kKeysigPrevFile), local);
  if (localPath.empty() || !plat::WriteFileAtomic(localPath, r.body)) {
    DebugLog(L"[전조표] 저장 실패 - 파일을 열지 못했습니다: " + std::wstring(kKeysigFile));
    return;
  }
  DebugLog(L"[전조표] 서버본으로 갱신 - " + std::to_wstring(newCount) + L"곡 (이전 " + std::to_wstring(oldCount) +
           L"곡, 지금 파일은 keysig_prev.txt 에 남김)");
  if (!missing.empty()) {
    std::wstring list;
    for (size_t i = 0; i < missing.size() && i < 20; ++i) list += (i ? L" " : L"") + std::to_wstring(missing[i]);
    if (missing.size() > 20) list += L" ...";
    DebugLog(L"[전조표] *** 서버본에 없어서 빠진 곡 " + std::to_wstring(missing.size()) + L"개: " + list +
             L" - 손으로 넣은 줄이면 서버 파일에도 넣어 주세요(keysig_prev.txt 에 남아 있습니다)");
  }
}

void RefreshKeysigTableThread() {
  try {
    RefreshKeysigTable();
  } catch (const std::exception& e) {
    DebugLog(L"[전조표] 오류: " + Utf8ToWide(e.what()));
  }
}

bool RefreshHelpText(std::wstring_view cookieHeader) {
  HttpResult r = HttpsRequest(WebHost(), kHelpPath, L"GET", cookieHeader, "", nullptr);
  if (!r.completed || r.body.size() < 30) {
    DebugLog(L"[도움말] 서버 help.txt 못 받음(ok=" + std::wstring(r.completed ? L"1" : L"0") + L" status=" +
             std::to_wstring(r.status) + L" 크기=" + std::to_wstring(r.body.size()) + L") - 기존 도움말 그대로 둡니다");
    return false;
  }
  if (LooksLikeHtmlPage(r.body, true)) {
    DebugLog(L"[도움말] 서버가 텍스트가 아니라 HTML 을 돌려줌 - URL/권한 확인 필요. 기존 도움말 그대로 둡니다");
    return false;
  }
  if (r.contentLength != 0 && r.body.size() < r.contentLength) {
    DebugLog(L"[도움말] 받다가 끊김(받음 " + std::to_wstring(r.body.size()) + L" / 기대 " +
             std::to_wstring(r.contentLength) + L") - 교체하지 않음");
    return false;
  }
  auto tmp = plat::RealPath(kHelpTmpFile);
  auto help = plat::RealPath(kHelpFile);
  if (tmp.empty() || !plat::WriteFileAtomic(tmp, r.body)) {
    DebugLog(L"[도움말] 임시파일 열기 실패 - 교체하지 않음");
    return false;
  }
  std::error_code ec;
  std::filesystem::copy_file(help, plat::RealPath(kHelpBakFile), std::filesystem::copy_options::overwrite_existing, ec);
  std::filesystem::rename(tmp, help, ec);
  if (ec) {
    DebugLog(L"[도움말] 파일 교체 실패(에러 " + std::to_wstring(ec.value()) + L")");
    return false;
  }
  DebugLog(L"[도움말] 서버 help.txt 로 교체 완료 - " + std::to_wstring(r.body.size()) + L"바이트");
  if (auto hook = helpHook.load()) PostScriptToPage(hook());
  return true;
}
