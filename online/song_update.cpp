#include "online/song_update.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/program_messages.h"
#include "base/text.h"
#include "online/account.h"
#include "online/package.h"
#include "online/text_refresh.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "platform/paths.h"
#include "songs/song_catalog.h"
#include "songs/song_list.h"

SongUpdateStateValues SongUpdateState;

namespace {

constexpr std::wstring_view kSystemDir = L"<root>/system/";
constexpr int kMaxBoardPages = 500;
constexpr size_t kPendingBatch = 200;

std::mutex textLock;
std::wstring resultText;
bool resultFailed = false;  // the run stopped before fetching: refused, not logged in, no board
std::wstring pendingScript;

void SetResult(std::wstring text, bool failed = false) {
  std::lock_guard g(textLock);
  resultText = std::move(text);
  resultFailed = failed;
}

void WriteDebugFile(std::wstring_view name, std::string_view bytes) {
  auto path = plat::RealPath(std::wstring(kSystemDir) + std::wstring(name));
  if (!path.empty()) plat::WriteFileAtomic(path, bytes);
}

std::wstring ToLowerAscii(std::wstring s) {
  for (wchar_t& c : s)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return s;
}

// First run of ASCII digits in the name, 0 when none or too large.
int FirstNumberInName(std::wstring_view name) {
  size_t b = name.find_first_of(L"0123456789");
  if (b == std::wstring_view::npos) return 0;
  size_t e = name.find_first_not_of(L"0123456789", b);
  return LeadingInt(name.substr(b, e == std::wstring_view::npos ? std::wstring_view::npos : e - b), true);
}

// What the entries of one package share: each folder is listed once, and each folder's real place
// is found once.
struct PackagePaths {
  plat::PathResolver names;
  std::unordered_map<std::string, bool> parentInside;  // folder -> it really lies inside the system folder
};

// The path below the system folder for an entry name, empty when it would lead elsewhere.
std::filesystem::path EntryPath(std::wstring_view name, PackagePaths& paths) {
  if (!IsSafeEntryName(name)) return {};
  auto system = paths.names.RealPath(L"<root>/system").lexically_normal();
  auto path = paths.names.RealPath(std::wstring(kSystemDir) + std::wstring(name)).lexically_normal();
  if (path.empty()) return {};
  auto rel = path.lexically_relative(system);
  if (rel.empty() || rel.native().starts_with("..") || rel.is_absolute()) return {};
  // A folder inside that is a link to elsewhere does not count as inside.
  auto [known, fresh] = paths.parentInside.try_emplace(path.parent_path().native(), false);
  if (fresh) {
    std::error_code ec;
    auto realSystem = std::filesystem::weakly_canonical(system, ec);
    auto realParent = std::filesystem::weakly_canonical(path.parent_path(), ec);
    auto realRel = realParent.lexically_relative(realSystem);
    known->second = !ec && !realRel.empty() && !realRel.native().starts_with("..");
  }
  return known->second ? path : std::filesystem::path();
}

void ReleaseRun() {
  SongUpdateState.SongUpdateRunningFlag.store(0);
  DebugLog(L"실행 플래그 해제됨(함수 종료)");
  plat::PostWindowMessage(WM_RESTORE_FOCUS);
}

std::wstring FirstLine(std::wstring_view text) { return std::wstring(text.substr(0, text.find(L'\n'))); }

void Run(bool automatic, bool& dialogOpen);

}  // namespace

bool SongUpdateFailed() {
  std::lock_guard g(textLock);
  return resultFailed;
}

std::wstring SongUpdateResultText() {
  std::lock_guard g(textLock);
  return resultText;
}

std::wstring TakePendingPageScript() {
  std::lock_guard g(textLock);
  return std::exchange(pendingScript, std::wstring());
}

void PostUpdateModalProgress(int percent, std::wstring_view status, int done, int total) {
  PostScriptToPage(PageCall(L"updateModalProgress", std::clamp(percent, 0, 100), status, done, total));
}

void ReportSongDownloadProgress(int id, int done, int total, uint64_t received, uint64_t announced) {
  std::wstring status = L"신곡 받는 중... (글 " + std::to_wstring(id) + L")\n";
  char buf[96];
  if (announced > 0) {
    uint64_t pct = std::min<uint64_t>(100, received * 100 / announced);
    std::snprintf(buf, sizeof buf, "%d%%  (%.1f MB / %.1f MB)", static_cast<int>(pct), received / 1048576.0,
                  announced / 1048576.0);
  } else {
    std::snprintf(buf, sizeof buf, "%.1f MB 받음...", received / 1048576.0);
  }
  status += Utf8ToWide(buf);
  int overall = 0;
  if (total > 0) {
    double fraction = announced > 0 ? static_cast<double>(received) / static_cast<double>(announced) : 0.0;
    overall = static_cast<int>((done + fraction) * 100.0 / total);
  }
  PostUpdateModalProgress(overall, status, done, total);
}

bool WritePackageEntries(std::string_view zip, int id, PackageApplyResult& out) {
  std::vector<ZipEntry> entries;
  if (!ExtractStoredZip(zip, entries)) return false;
  out.entryCount = entries.size();
  std::wstring idText = std::to_wstring(id);
  PackagePaths paths;
  for (const ZipEntry& e : entries) {
    if (e.name.empty()) continue;
    std::wstring lower = ToLowerAscii(e.name);
    if (lower == L"songs.csv") {
      ForEachTextLine(e.data, [&](std::string_view line) {
        if (!line.empty()) out.catalogueRows.emplace_back(line);
      });
      continue;
    }
    auto path = EntryPath(e.name, paths);
    if (path.empty()) {
      DebugLog(L"wr_id=" + idText + L" 위험한 파일 이름이라 쓰지 않음: " + e.name);
      continue;
    }
    std::error_code ec;
    bool ok = std::filesystem::is_directory(path.parent_path(), ec) && plat::WriteFileReplacing(path, e.data);
    if (!ok) {
      DebugLog(L"wr_id=" + idText + L" 파일 쓰기 실패: " + std::wstring(kSystemDir) + e.name);
      out.writeFailed = true;
      continue;
    }
    paths.names.Add(path);
    ++out.filesWritten;
    if (lower.ends_with(L".mid") || lower.ends_with(L".txt")) {
      int number = FirstNumberInName(e.name);
      if (number > 0) out.songNumbers.push_back(number);
    }
  }
  // The song files reach the disk before the post can be recorded as applied.
  if (out.filesWritten > 0 && !plat::FlushFileSystemOf(plat::RealPath(L"<root>/system"))) out.writeFailed = true;
  return true;
}

void WriteSongNewCsv(const std::vector<int>& songNumbers) {
  if (songNumbers.empty()) return;
  std::unordered_set<int> wanted(songNumbers.begin(), songNumbers.end());
  std::optional<std::string> bytes;
  {
    std::lock_guard lock(SongsCsvFileMutex());
    bytes = plat::ReadFileBytes(plat::RealPath(kSongsCsvPath));
  }
  if (!bytes) {
    DebugLog(L"song_new.csv: songs.csv를 못 열어 건너뜀");
    return;
  }
  std::string_view text(*bytes);
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::string header;
  bool first = true;
  std::vector<std::string> rows;
  ForEachTextLine(text, [&](std::string_view line) {
    if (line.empty()) return;
    if (first) {
      header = line;
      first = false;
      return;
    }
    std::vector<std::string> fields = SplitCsvLine(line);
    int key = fields.empty() ? 0 : LeadingInt(std::string_view(fields[0]), true);
    if (wanted.count(key)) rows.emplace_back(line);
  });
  if (rows.empty()) {
    DebugLog(L"song_new.csv: songs.csv에서 이번 신곡 id를 하나도 못 찾음(반영 순서 확인 필요)");
    return;
  }
  if (WriteSongNewCsvRows(header, rows))
    DebugLog(L"song_new.csv 생성(songs.csv에서 추출): 이번 업데이트 " + std::to_wstring(rows.size()) + L"곡 기록");
}

bool ReadSongBoard(std::wstring_view cookieHeader, std::vector<int>& posts, BoardDateMap& dates, HttpResult& firstPage,
                   int& pagesRead, bool logPages) {
  posts.clear();
  dates.clear();
  pagesRead = 0;
  std::set<int> all;
  for (int n = 1; n <= kMaxBoardPages; ++n) {
    HttpResult r = HttpsRequest(WebHost(), BoardListPath(kSongBoard, n), L"GET", cookieHeader, "", nullptr);
    if (!r.completed || r.body.empty()) {
      if (n == 1) return false;
      break;
    }
    ++pagesRead;
    std::vector<int> ids = ExtractWrIds(r.body, kSongBoard);
    BoardDateMap pageDates = ExtractWrIdDates(r.body, kSongBoard);
    size_t before = all.size();
    all.insert(ids.begin(), ids.end());
    for (auto& [id, date] : pageDates) dates.emplace(id, date);
    size_t added = all.size() - before;
    if (logPages)
      DebugLog(L"게시판 " + std::to_wstring(n) + L"페이지: 글 " + std::to_wstring(ids.size()) + L"개(새 " +
               std::to_wstring(added) + L"개), 누적 " + std::to_wstring(all.size()) + L"개");
    if (n == 1) firstPage = std::move(r);
    if (ids.empty() || added == 0) break;
  }
  posts.assign(all.rbegin(), all.rend());
  return true;
}

void CheckAndApplySongUpdate(bool automatic) {
  DebugLog(L"===== CheckAndApplySongUpdate 진입 =====");
  uint8_t expected = 0;
  if (!SongUpdateState.SongUpdateRunningFlag.compare_exchange_strong(expected, 1)) {
    SetResult(L"이미 신곡 업데이트를 확인하는 중입니다. 잠시 후 다시 시도해주세요.", true);
    DebugLog(L"이미 실행 중이라 즉시 리턴");
    return;
  }
  DebugLog(L"실행 플래그 획득 성공");
  RunSongUpdateWithFlag(automatic);
}

void RunSongUpdateWithFlag(bool automatic) {
  struct Release {
    ~Release() { ReleaseRun(); }
  } release;
  bool dialogOpen = false;
  try {
    Run(automatic, dialogOpen);
  } catch (...) {
    // The dialog this run opened must not stay busy.
    if (dialogOpen) PostScriptToPage(PageCall(L"updateDone", L"업데이트 중 오류가 발생했습니다. 다시 시도해주세요.", -1, 1));
    throw;
  }
}

namespace {

void Run(bool automatic, bool& dialogOpen) {
  if (!HasMemberAccount()) {
    SetResult(plat::ShownPath(L"<root>/license.cfg") + L"에 mb_id/mb_pw가 모두 설정되어 있어야 합니다.", true);
    DebugLog(L"license.cfg 비어있어 리턴");
    return;
  }
  DebugLog(L"GnuboardLoginViaWebView2 호출 직전");
  std::wstring diagnostics;
  std::wstring cookies = GnuboardLoginViaWebView2(diagnostics);
  DebugLog(L"GnuboardLoginViaWebView2 반환됨, cookie 비어있음=" + std::wstring(cookies.empty() ? L"1" : L"0"));
  if (cookies.empty()) {
    SetResult(WebHost() + L" 로그인에 실패했습니다.\n" + diagnostics, true);
    return;
  }
  std::wstring cookieHeader = L"Cookie: " + cookies + L"\r\n";
  RefreshHelpText(cookieHeader);

  DebugLog(L"게시판 목록 요청 직전(전체 페이지 순회)");
  std::vector<int> posts;
  BoardDateMap dates;
  HttpResult firstPage;
  int pagesRead = 0;
  if (!ReadSongBoard(cookieHeader, posts, dates, firstPage, pagesRead, true)) {
    SetResult(L"신곡 게시판(tavelo_download_6)을 불러오지 못했습니다.\n로그인 쿠키: " + cookies + L"\n[로그인 진단]\n" +
              diagnostics, true);
    return;
  }
  DebugLog(L"게시판 전체 " + std::to_wstring(pagesRead) + L"페이지 순회 완료: 총 글 " + std::to_wstring(posts.size()) +
           L"개, 작성일 " + std::to_wstring(dates.size()) + L"건");
  WriteDebugFile(L"debug_songlist.html", firstPage.body);
  DebugLog(L"진단: 신곡 게시판 목록 HTML(1페이지)을 debug_songlist.html 에 저장");
  DebugLog(L"목록에서 작성일 파싱: " + std::to_wstring(dates.size()) + L"건");
  std::wstring dateLine;
  for (auto& [id, date] : dates) dateLine += L"wr" + std::to_wstring(id) + L"=" + date + L" ";
  DebugLog(L"진단: 목록 작성일 = " + (dates.empty() ? std::wstring(L"(하나도 못 뽑음 - 목록 날짜 형식이 예상과 다름)") : dateLine));
  if (posts.empty()) {
    SetResult(L"신곡 게시판에서 게시글을 찾지 못했습니다.\n로그인 쿠키: " + cookies + L"\n게시판 페이지 제목: " +
              ExtractPostTitle(firstPage.body) + L"\n[로그인 진단]\n" + diagnostics, true);
    return;
  }
  bool full = SongUpdateState.SongUpdateFullFlag.load() != 0;
  std::wstring lastDate = full ? std::wstring() : LoadSongLastDate();
  DebugLog(L"신곡 기준: 마지막 받은 등록일 lastDate=[" + (lastDate.empty() ? std::wstring(L"(없음)") : lastDate) + L"]");
  AppliedPostSet applied = full ? AppliedPostSet() : LoadAppliedPostIds();
  DebugLog(L"신곡 기준(집합): 이미 받은 글 " + std::to_wstring(applied.size()) +
           L"개 - 집합에 없는 글은 전부 새 글(실패했던 글 포함)로 재시도");

  std::vector<int> fetch;
  for (int id : posts)
    if (!GetPostListDate(dates, id).empty() && !applied.count(id)) fetch.push_back(id);
  std::sort(fetch.begin(), fetch.end());
  const int total = static_cast<int>(fetch.size());

  std::wstringstream report;
  report << L"게시판 글 " << posts.size() << L"개, 마지막 받은 등록일 " << (lastDate.empty() ? L"(없음)" : lastDate)
         << L", 새로 받을 글 " << total << L"개\n";
  if (automatic && total > 0) {
    PostScriptToPage(GuardedScript(L"window.__autoCloseUpdate=true; openUpdateModal(); updateRunning=true; var "
                                   L"sb=document.getElementById('update-start-btn'); if(sb) sb.disabled=true; "
                                   L"if(typeof __updStartWatch==='function') __updStartWatch();"));
    dialogOpen = true;
  }
  if (total > 0)
    PostUpdateModalProgress(0, L"새 곡 " + std::to_wstring(total) + L"개 확인 - 다운로드 시작...", 0, total);
  else
    PostUpdateModalProgress(100, L"새로 받을 곡이 없습니다(이미 최신).", 0, 0);

  std::vector<int> newSongs, pendingSongs;
  int processed = 0, appliedCount = 0, filesWritten = 0, rowsMerged = 0;
  std::wstring newestDate = lastDate;
  for (int id : fetch) {
    const int done = processed++;
    std::wstring idText = std::to_wstring(id);
    PostUpdateModalProgress(done * 100 / total, L"곡 다운로드 중... (글 " + idText + L")", done, total);
    DebugLog(L"wr_id=" + idText + L" 글 페이지 요청 직전");
    HttpResult post = HttpsRequest(WebHost(), BoardPostPath(kSongBoard, id), L"GET", cookieHeader, "", nullptr);
    DebugLog(L"wr_id=" + idText + L" 글 페이지 요청 완료, ok=" + (post.completed ? L"1" : L"0"));
    if (!post.completed) {
      report << L"  wr_id=" << id << L": 글 페이지 요청 실패\n";
      continue;
    }
    WriteDebugFile(L"debug_post_" + idText + L".html", post.body);
    PostInfo info = ParsePostInfo(post.body, kSongBoard, id);
    DebugLog(L"wr_id=" + idText + L" ParsePostInfo 완료, found=1, downloadPath=" + info.downloadPath);
    std::wstring listDate = GetPostListDate(dates, id);
    std::wstring used = (listDate.size() == 10 ? listDate : info.date).substr(0, 10);
    DebugLog(L"wr_id=" + idText + L" 작성일 판정: 목록date=[" + (listDate.empty() ? std::wstring(L"(없음)") : listDate) +
             L"] 상세date=[" + info.date + L"] -> 사용=[" + used + L"]");
    DebugLog(L"wr_id=" + idText + L" 첨부파일 다운로드 요청 직전");
    // The package goes to disk as it arrives; only the finished file is read back.
    std::error_code dirError;
    std::filesystem::create_directories(plat::RealPath(L"<root>/_dl"), dirError);
    const std::filesystem::path part = plat::RealPath(L"<root>/_dl/song_package_" + idText + L".part");
    HttpResult file = HttpsDownload(WebHost(), info.downloadPath, cookieHeader, part.string(),
                                    [id, done, total](uint64_t received, uint64_t announced) {
                                      ReportSongDownloadProgress(id, done, total, received, announced);
                                    });
    std::optional<std::string> packageBytes;
    if (file.completed && file.bodySize > 0) packageBytes = plat::ReadFileBytes(part);
    std::filesystem::remove(part, dirError);
    DebugLog(L"wr_id=" + idText + L" 첨부파일 다운로드 요청 완료, ok=" + (file.completed ? L"1" : L"0") + L", 크기=" +
             std::to_wstring(file.bodySize));
    if (!packageBytes || packageBytes->empty()) {
      report << L"  wr_id=" << id << L": 첨부파일 다운로드 실패(경로=" << info.downloadPath << L")\n";
      continue;
    }
    file.body = std::move(*packageBytes);
    std::string head = PageHead(file.body, 20);
    if (head.starts_with("<!doctype") || head.starts_with("<html")) {
      std::wstring name = L"debug_download_" + idText + L".html";
      WriteDebugFile(name, file.body);
      report << L"  wr_id=" << id << L": download.php가 파일 대신 HTML 페이지를 반환함(첨부파일이 실제로 없거나 접근 불가) - "
             << plat::ShownPath(std::wstring(kSystemDir) + name) << L"에 저장함\n";
      continue;
    }
    std::string plain = AesDecryptCbc(file.body);
    DebugLog(L"wr_id=" + idText + L" AesDecryptCbc 완료, 입력=" + std::to_wstring(file.body.size()) + L"바이트, 출력=" +
             std::to_wstring(plain.size()) + L"바이트");
    if (plain.empty()) {
      report << L"  wr_id=" << id << L": AES 복호화 실패(파일 크기=" << file.body.size()
             << L"바이트) - 키/IV 불일치 또는 파일이 암호화된 게 아닐 수 있음\n";
      continue;
    }
    file.body.clear();
    file.body.shrink_to_fit();
    PackageApplyResult pkg;
    bool unpacked = WritePackageEntries(plain, id, pkg);
    DebugLog(L"wr_id=" + idText + L" ExtractStoredZip 완료, 성공=" + (unpacked ? L"1" : L"0") + L", 파일수=" +
             std::to_wstring(pkg.entryCount));
    if (!unpacked) {
      report << L"  wr_id=" << id << L": zip 해제 실패(압축 방식이 Store가 아니거나 zip이 아닐 수 있음)\n";
      continue;
    }
    newSongs.insert(newSongs.end(), pkg.songNumbers.begin(), pkg.songNumbers.end());
    int merged = 0;
    if (!pkg.catalogueRows.empty()) {
      // Rows that could not reach songs.csv would leave the songs unlisted for good.
      if (!MergeSongsCsvRows(pkg.catalogueRows, merged)) pkg.writeFailed = true;
    } else if (!pkg.songNumbers.empty()) {
      pendingSongs.insert(pendingSongs.end(), pkg.songNumbers.begin(), pkg.songNumbers.end());
      if (pendingSongs.size() >= kPendingBatch) {
        DebugLog(L"신곡 중간 반영: " + std::to_wstring(pendingSongs.size()) + L"곡 songs.csv에 즉시 반영(중간에 멈춰도 유실 방지)");
        RegenerateSongsCsv(pendingSongs, false);
        pendingSongs.clear();
      }
    }
    filesWritten += pkg.filesWritten;
    rowsMerged += merged;
    if (pkg.writeFailed) {
      // The files that were written stay; the post is fetched again by the next run.
      report << L"  wr_id=" << id << L": 일부 파일을 쓰지 못해 다음에 다시 받음(파일 " << pkg.filesWritten << L"개 씀)\n";
      DebugLog(L"wr_id=" + idText + L" 파일 쓰기 실패가 있어 받은 글로 기록하지 않음");
      continue;
    }
    report << L"  wr_id=" << id << L": 적용 성공(파일 " << pkg.entryCount << L"개)\n";
    DebugLog(L"wr_id=" + idText + L" 최종: updatedFilesCount=" + std::to_wstring(pkg.filesWritten) +
             L", mergedSongsCount=" + std::to_wstring(merged));
    ++appliedCount;
    if (listDate.size() == 10 && (newestDate.empty() || listDate > newestDate)) newestDate = listDate;
    report << L"  wr_id=" << id << L": 등록일(" << (listDate.empty() ? L"미확인" : listDate) << L") -> 받음\n";
    DebugLog(L"wr_id=" + idText + L" 받음 (등록일=[" + listDate + L"])");
    SaveLastAppliedSongPost(idText);
    applied.insert(id);
    SaveAppliedPostIds(applied);
  }

  if (newestDate.size() == 10 && newestDate != lastDate) {
    SaveSongLastDate(newestDate);
    DebugLog(L"마지막 받은 등록일 저장 = [" + newestDate + L"]");
  }
  if (!pendingSongs.empty()) {
    std::sort(pendingSongs.begin(), pendingSongs.end());
    pendingSongs.erase(std::unique(pendingSongs.begin(), pendingSongs.end()), pendingSongs.end());
    DebugLog(L"마무리: 자투리 " + std::to_wstring(pendingSongs.size()) + L"곡 songs.csv 반영");
    RegenerateSongsCsv(pendingSongs, false);
  } else if (appliedCount > 0) {
    DebugLog(L"마무리: 남은 자투리 없음(번들 songs.csv로 반영됐거나, 중간 반영에서 이미 다 처리됨)");
  }
  std::sort(newSongs.begin(), newSongs.end());
  newSongs.erase(std::unique(newSongs.begin(), newSongs.end()), newSongs.end());
  if (!newSongs.empty()) WriteSongNewCsv(newSongs);
  LoadSongDb();
  {
    std::lock_guard g(textLock);
    pendingScript.clear();
  }
  std::wstring listScript;
  if (appliedCount > 0) listScript = Utf8ToWide(PostSongListUpdate(newSongs));
  std::wstring result;
  if (appliedCount > 0) {
    result = L"[신곡 업데이트 완료] " + std::to_wstring(appliedCount) + L"건 받음(파일 " + std::to_wstring(filesWritten) +
             L"개, songs.csv " + std::to_wstring(rowsMerged) + L"곡). 마지막 받은 등록일: " +
             (newestDate.empty() ? std::wstring(L"-") : newestDate) + L"\n" + report.str();
  } else {
    result = report.str();
  }
  SetResult(result);
  if (!automatic) {
    std::lock_guard g(textLock);
    pendingScript = listScript;
  } else if (appliedCount > 0 || total > 0) {
    PostScriptToPage(PageCall(L"updateDone", FirstLine(result), GetSongCount()));
    dialogOpen = false;
    if (!listScript.empty()) PostScriptToPage(listScript);
  }
}

}  // namespace
