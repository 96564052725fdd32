#include "online/song_commands.h"

#include <filesystem>
#include <set>
#include <sstream>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/text.h"
#include "online/account.h"
#include "online/board.h"
#include "online/song_update.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "songs/song_list.h"

namespace {

constexpr std::wstring_view kErrorText = L"업데이트 중 오류가 발생했습니다. 다시 시도해주세요.";

std::wstring ToLowerAscii(std::wstring_view s) {
  std::wstring out(s);
  for (wchar_t& c : out)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return out;
}

// Case-blind match of a name against a pattern with one "*".
bool MatchesPattern(std::wstring_view name, std::wstring_view pattern) {
  std::wstring n = ToLowerAscii(name), p = ToLowerAscii(pattern);
  size_t star = p.find(L'*');
  if (star == std::wstring::npos) return n == p;
  std::wstring_view head = std::wstring_view(p).substr(0, star), tail = std::wstring_view(p).substr(star + 1);
  return n.size() >= head.size() + tail.size() && std::wstring_view(n).starts_with(head) &&
         std::wstring_view(n).ends_with(tail);
}

void PostDone(std::wstring_view message) { PostScriptToPage(PageCall(L"updateDone", message)); }

void RunModal(bool full) {
  DebugLog(L"[모달] 시작 버튼 눌림 - RunSongUpdateFromModal 진입 (full=" + std::wstring(full ? L"1" : L"0") + L")");
  std::wstring message;
  bool failed = false;
  try {
    SongUpdateState.SongUpdateFullFlag.store(full ? 1 : 0);
    if (full) CleanSongData();
    RunSongUpdateWithFlag(false);
    SongUpdateState.SongUpdateFullFlag.store(0);
    std::wstring result = SongUpdateResultText();
    message = result.substr(0, result.find(L'\n'));
    failed = SongUpdateFailed();
  } catch (...) {
    SongUpdateState.SongUpdateFullFlag.store(0);
    message = kErrorText;
    failed = true;
    DebugLog(L"[모달] RunSongUpdateFromModal 예외 발생 - 완료 처리로 넘어감");
  }
  if (message.empty()) message = L"업데이트가 완료되었습니다.";
  std::wstring shown;
  for (wchar_t c : message)
    if (c >= 0x20) shown += c;
  int count = GetSongCount();
  PostScriptToPage(PageCall(L"updateDone", shown, count, failed ? 1 : 0));
  DebugLog(L"[모달] 완료 통보 보냄: " + message + L" (보유곡수 " + std::to_wstring(count) + L")");
  std::wstring pending = TakePendingPageScript();
  if (!pending.empty()) PostScriptToPage(pending);
}

void DateReport() {
  if (!HasMemberAccount()) {
    PostAlertToPage(L"회원 로그인 정보(license.cfg)가 없습니다.");
    PostDone(L"회원 정보 없음");
    return;
  }
  std::wstring diagnostics;
  std::wstring cookies = GnuboardLoginViaWebView2(diagnostics);
  if (cookies.empty()) {
    PostAlertToPage(WebHost() + L" 로그인에 실패했습니다.");
    PostDone(L"로그인 실패");
    return;
  }
  std::vector<int> posts;
  BoardDateMap dates;
  HttpResult first;
  int pages = 0;
  if (!ReadSongBoard(L"Cookie: " + cookies + L"\r\n", posts, dates, first, pages, false)) {
    PostAlertToPage(L"신곡 게시판을 불러오지 못했습니다.");
    PostDone(L"게시판 불러오기 실패");
    return;
  }
  std::wstring lastDate = LoadSongLastDate();
  AppliedPostSet applied = LoadAppliedPostIds();
  std::wstringstream report;
  report << L"[신곡 게시판 등록일 점검]\n"
         << L"이미 받은 글(집합) 개수 = " << applied.size() << L"\n"
         << L"마지막 받은 등록일(참고) = " << (lastDate.empty() ? L"(없음)" : lastDate) << L"\n";
  int toFetch = 0;
  for (int id : posts) {
    std::wstring date = GetPostListDate(dates, id);
    std::wstring state;
    if (applied.count(id)) {
      state = L"이미 받음";
    } else if (!date.empty()) {
      state = L"받을 예정";
      ++toFetch;
    }
    report << L"글 " << id << L"  |  등록일 " << (date.empty() ? L"(등록일 못읽음)" : date) << L"  |  " << state << L"\n";
  }
  report << L"\n=> 이번에 받을 글 " << toFetch << L"개";
  PostAlertToPage(report.str());
  PostDone(L"날짜 점검 완료 - 결과 창을 확인하세요.");
}

}  // namespace

void CheckSongUpdateThread() {
  try {
    CheckAndApplySongUpdate(true);
    PostAlertToPage(SongUpdateResultText());
  } catch (const std::exception& e) {
    DebugLog(L"CheckSongUpdateThread 예외: " + Utf8ToWide(e.what()));
    PostAlertToPage(kErrorText);
  } catch (...) {
    PostAlertToPage(kErrorText);
  }
}

void CheckSongDatesThread() {
  try {
    DateReport();
  } catch (...) {
    DebugLog(L"CheckSongDatesThread 예외");
    PostDone(kErrorText);
  }
}

void RunSongUpdateFromModal(bool full) {
  try {
    RunModal(full);
  } catch (...) {
    DebugLog(L"RunSongUpdateFromModal 예외");
  }
}

void DeleteNumberedSystemFiles(std::wstring_view pattern) {
  auto dir = plat::RealPath(L"<root>/system");
  if (dir.empty()) return;
  for (const std::string& raw : plat::ListFileNames(dir)) {
    std::wstring name = Utf8ToWide(raw);
    if (name.size() < 2 || name[1] < L'0' || name[1] > L'9' || !MatchesPattern(name, pattern)) continue;
    std::error_code ec;
    std::filesystem::remove(dir / raw, ec);
  }
}

void CleanSongData() {
  for (const wchar_t* p : {L"P*.MID", L"P*.txt", L"J*.txt", L"C*.txt", L"E*.txt"}) DeleteNumberedSystemFiles(p);
  for (const wchar_t* f : {L"songs.csv", L"song_update.cfg", L"applied_wrids.cfg", L"post_songs.cfg", L"song_last_date.cfg"}) {
    auto path = plat::RealPath(std::wstring(L"<root>/system/") + f);
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove(path, ec);
  }
  DebugLog(L"전체(클린) 재설치: 곡 데이터 + songs.csv + 각종 진행기록(cfg) 삭제 완료");
}
