#include "online/program_update.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <chrono>
#include <thread>
#include <vector>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/text.h"
#include "online/account.h"
#include "online/base_package.h"
#include "online/board.h"
#include "online/https.h"
#include "online/release_signature.h"
#include "online/services.h"
#include "online/update_notice.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/program_file.h"

namespace fs = std::filesystem;

namespace {

constexpr const wchar_t* kProgramUpdateCfg = L"<root>/system/program_update.cfg";
constexpr std::wstring_view kBoard = L"tavelo_program";
constexpr const wchar_t* kUpToDate = L"현재 최신 버전입니다. (버전 12.9)";
constexpr int kDownloadAttempts = 3;

std::wstring Num(long long n) { return std::to_wstring(n); }

constexpr const wchar_t* kUnsignedRelease = L"업데이트 파일에 제작사 서명이 없거나 맞지 않아 설치하지 않았습니다.";

// An attachment of a post of the program board, and the header lines it is asked for with.
std::wstring AttachmentPath(int postNumber, int attachmentNo) {
  return L"/bbs/download.php?bo_table=tavelo_program&wr_id=" + Num(postNumber) + L"&no=" + Num(attachmentNo);
}
std::wstring AttachmentHeaders(std::wstring_view cookieHeader, int postNumber) {
  return std::wstring(cookieHeader) + L"Referer: https://" + WebHost() +
         L"/bbs/board.php?bo_table=tavelo_program&wr_id=" + Num(postNumber) + L"\r\n";
}

// A refused download goes: nothing of it may be started or installed later by mistake.
void DropRefusedFile(const fs::path& file) {
  std::error_code ec;
  fs::remove(file, ec);
}

// Clears the busy flag on every way out.
struct BusyRelease {
  ~BusyRelease() { Online.UpdateBusyFlag.store(0); }
};

// The check itself, with the busy flag held.
bool RunProgramUpdateCheck(bool manual) {
  bool bootstrapped = false;
  if (fs::path old = PreviousProgramPath(); !old.empty()) {
    std::error_code ec;
    fs::remove(old, ec);
  }
  if (!HasMemberAccount()) {
    if (manual) PostAlertToPage(L"먼저 회원 로그인 정보가 설정되어야 합니다.");
    return false;
  }
  std::wstring diagnostics;
  const std::wstring cookies = GnuboardLoginViaWebView2(diagnostics);
  if (cookies.empty()) {
    DebugLog(L"프로그램 업데이트: 로그인 실패");
    if (manual) PostAlertToPage(L"로그인에 실패했습니다(인터넷/계정 확인).");
    return false;
  }
  const std::wstring cookieHeader = L"Cookie: " + cookies + L"\r\n";
  const std::wstring host = WebHost();
  HttpResult list = HttpsRequest(host, L"/bbs/board.php?bo_table=tavelo_program", L"GET", cookieHeader, {}, {});
  std::vector<int> ids;
  if (list.completed) ids = ExtractWrIds(list.body, kBoard);
  if (ids.empty()) {
    DebugLog(L"프로그램 업데이트: 게시글을 못 찾음");
    if (manual) PostAlertToPage(L"업데이트 목록을 불러오지 못했습니다.");
    return false;
  }
  const int newest = ids.front();
  std::error_code ec;
  fs::create_directories(plat::RealPath(L"<root>/_dl"), ec);
  std::wstring joined;
  for (size_t i = 0; i < ids.size(); ++i) joined += (i ? L"," : L"") + Num(ids[i]);
  DebugLog(L"프로그램 업데이트: 글목록 wr_id=[" + joined + L"] 최신=" + Num(newest));

  HttpResult post = HttpsRequest(host, L"/bbs/board.php?bo_table=tavelo_program&wr_id=" + Num(newest), L"GET",
                                 cookieHeader, {}, {});
  int zipNo = -1, exeNo = -1, sigNo = -1;
  if (post.completed) ParseDownloadLinks(post.body, zipNo, exeNo, sigNo);
  if (exeNo < 0) exeNo = 1;
  DebugLog(L"프로그램 업데이트: 최신글(wr_id=" + Num(newest) + L") 해석 zip=" + Num(zipNo) + L" exe=" + Num(exeNo));

  if (!BaseMarkerPresent()) {
    DebugLog(L"프로그램 업데이트: 기초파일 없음 - 고정 URL에서 기초 zip 다운로드 시도");
    const fs::path zip = plat::RealPath(L"<root>/_dl/Tavelo.zip");
    if (!DownloadBaseZip(zip, cookieHeader, {})) {
      DebugLog(L"프로그램 업데이트: 고정 URL에서 기초 zip을 받지 못함 - URL/권한/파일 존재 확인 필요");
    } else if (CheckBaseZipSignature(zip, cookieHeader) != ReleaseSignature::kGood) {
      DebugLog(L"프로그램 업데이트: 기초 zip의 서명이 없거나 맞지 않아 설치하지 않음");
      PostAlertToPage(kUnsignedBasePackage);
      DropRefusedFile(zip);
    } else {
      InstallBaseZip(zip);
      if (!BaseMarkerPresent()) {
        DebugLog(L"프로그램 업데이트: zip은 받았으나 해제 후 DS1-P1.MID 없음(고정 URL) - zip 내용/구조 확인 필요");
      } else {
        DebugLog(L"프로그램 업데이트: 기초파일 부트스트랩 완료(고정 URL)");
        plat::WriteFileAtomic(plat::RealPath(L"<root>/system/firstinstall.flag"), "1");
        bootstrapped = true;
      }
    }
  }

  const int installed = ReadProgramUpdateCfg();
  if (installed < 0) {
    // A first installation records the newest release without offering it.
    SaveProgramUpdateCfg(newest);
    if (manual && !bootstrapped) PostAlertToPage(kUpToDate);
    return bootstrapped;
  }
  if (installed >= newest) {
    if (manual && !bootstrapped) PostAlertToPage(kUpToDate);
    return bootstrapped;
  }

  std::wstring title, content;
  ParsePostTitleAndContent(post.body, title, content);
  DebugLog(L"프로그램 업데이트: 안내창 준비 제목=[" + title + L"] 내용길이=" + Num(content.size()) + L" 내용앞=[" +
           content.substr(0, 60) + L"] postHTML길이=" + Num(post.body.size()));
  if (title.empty()) title = L"새 버전";
  if (!ShowUpdateNotice(title, content.empty() ? L"(내용 없음)" : content)) {
    DebugLog(L"프로그램 업데이트: 사용자가 '나중에' 선택 - 이번엔 건너뜀(다음 부팅 때 다시 물어봄)");
    return bootstrapped;
  }
  const fs::path fresh = plat::RealPath(L"<root>/_dl/Tavelo_new.exe");
  if (!DownloadProgramExe(cookieHeader, newest, exeNo, fresh)) {
    DebugLog(L"프로그램 업데이트: EXE 다운로드 실패");
    PostAlertToPage(L"업데이트 파일 다운로드에 실패했습니다.");
    return bootstrapped;
  }
  if (!plat::IsProgramFile(fresh)) {
    DebugLog(L"프로그램 업데이트: 받은 파일이 EXE가 아님");
    PostAlertToPage(L"업데이트 파일이 올바르지 않습니다.");
    return bootstrapped;
  }
  // Only the maker's signature lets a downloaded program run: its ".sig" beside it on the post.
  ReleaseSignature signature = ReleaseSignature::kMissing;
  if (sigNo >= 0)
    signature = FetchAndCheckReleaseSignature(fresh, AttachmentPath(newest, sigNo),
                                              AttachmentHeaders(cookieHeader, newest), L"프로그램 업데이트:");
  else
    DebugLog(L"프로그램 업데이트: 글에 서명 파일(.sig) 첨부가 없음");
  if (signature != ReleaseSignature::kGood) {
    DebugLog(L"프로그램 업데이트: 서명 " + std::wstring(ReleaseSignatureWord(signature)) + L" - 설치하지 않음");
    PostAlertToPage(kUnsignedRelease);
    DropRefusedFile(fresh);
    return bootstrapped;
  }
  // The release is recorded only once it is in place: a failed swap is offered again.
  if (!SwapProgramExe(fresh)) {
    DebugLog(L"프로그램 업데이트: EXE 교체 실패(권한/실행위치)");
    if (manual)
      PostAlertToPage(L"프로그램 교체에 실패했습니다. 프로그램 파일이 " + plat::ShownPath(L"<root>") +
                      L" 같은 쓰기 가능한 폴더에 있는지 확인해주세요.");
    return bootstrapped;
  }
  SaveProgramUpdateCfg(newest);
  plat::PostWindowMessage(plat::kWmClose);
  return bootstrapped;
}

}  // namespace

int ReadProgramUpdateCfg() {
  auto bytes = plat::ReadFileBytes(plat::RealPath(kProgramUpdateCfg));
  if (!bytes) return -1;
  std::string line = bytes->substr(0, bytes->find('\n'));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
  if (line.empty()) return -1;
  // Read as atoi reads: blanks, a sign, the leading digits; 0 when there are none. Clamped, so a
  // long run of digits cannot overflow.
  size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos) return 0;
  bool negative = false;
  if (line[i] == '+' || line[i] == '-') negative = line[i++] == '-';
  long long value = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
    value = std::min<long long>(value * 10 + (line[i] - '0'), 1LL << 31);
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

void SaveProgramUpdateCfg(int postNumber) {
  plat::WriteFileAtomic(plat::RealPath(kProgramUpdateCfg), std::to_string(postNumber));
}

fs::path PreviousProgramPath() {
  fs::path exe = plat::ExecutablePath();
  if (exe.empty()) return {};
  return plat::PreviousProgramFile(exe);
}

bool SwapProgramExe(const fs::path& newExePath) {
  fs::path exe = plat::ExecutablePath();
  if (exe.empty()) return false;
  if (!plat::SwapProgramFile(newExePath, exe, PreviousProgramPath())) return false;
  // The new instance waits for this one to close before it takes over.
  plat::StartProgram(exe, exe.parent_path(), true);
  return true;
}

bool DownloadProgramExe(std::wstring_view cookieHeader, int postNumber, int attachmentNo, const fs::path& destPath) {
  const std::wstring host = WebHost();
  const std::wstring headers = AttachmentHeaders(cookieHeader, postNumber);
  const std::wstring path = AttachmentPath(postNumber, attachmentNo);
  // The program goes to disk as it arrives, beside its place, and is renamed there once whole.
  const fs::path part = destPath.string() + ".part";
  HttpResult r;
  bool cut = false;
  for (int attempt = 1; attempt <= kDownloadAttempts; ++attempt) {
    if (attempt > 1) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    r = HttpsDownload(host, path, headers, part.string(), {});
    const bool page = IsWebPageAnswer(r.body);
    cut = IsCutShortDownload(r);
    DebugLog(L"프로그램 업데이트: download no=" + Num(attachmentNo) + L" 시도" + Num(attempt) + L"/" +
             Num(kDownloadAttempts) + L" ok=" + Num(r.completed) + L" status=" + Num(r.status) + L" 받음=" +
             Num(r.bodySize) + L" 기대=" + Num(static_cast<long long>(r.contentLength)) + L" html=" + Num(page) +
             L" 잘림=" + Num(cut));
    if (r.completed && !r.body.empty() && !page && !cut) {
      std::error_code ec;
      fs::rename(part, destPath, ec);
      if (ec) {
        fs::remove(part, ec);
        DebugLog(L"프로그램 업데이트: 저장 파일 열기 실패 " + Utf8ToWide(destPath.string()));
        return false;
      }
      return true;
    }
    if (r.completed && !cut) break;  // an empty answer or a page: asking again changes nothing
  }
  std::error_code ec;
  fs::remove(part, ec);
  if (cut) {
    DebugLog(L"프로그램 업데이트: 다운로드가 계속 잘립니다(받음=" + Num(r.bodySize) + L" / 기대=" +
             Num(static_cast<long long>(r.contentLength)) + L"). 서버(" + host +
             L")의 다운로드 용량/시간 제한일 수 있으니 서버 설정 확인이 필요합니다.");
  } else {
    const std::wstring copy = L"<root>/system/debug_prog_dl_no" + Num(attachmentNo) + L".html";
    plat::WriteFileAtomic(plat::RealPath(copy), r.body);
    DebugLog(L"프로그램 업데이트: 받은 게 파일이 아님 - 응답을 " + copy + L" 에 저장했으니 그 내용을 확인해주세요");
  }
  return false;
}

bool CheckAndApplyProgramUpdate(bool manual) {
  uint8_t idle = 0;
  if (!Online.UpdateBusyFlag.compare_exchange_strong(idle, 1)) return false;
  BusyRelease release;
  try {
    return RunProgramUpdateCheck(manual);
  } catch (const std::exception& e) {
    DebugLog(L"프로그램 업데이트: 예외 " + Utf8ToWide(e.what()));
    return false;
  }
}

void ProgramUpdateThread() { CheckAndApplyProgramUpdate(true); }

void RestartSelf() {
  fs::path exe = plat::ExecutablePath();
  if (!exe.empty()) plat::StartProgram(exe, {}, true);
  plat::PostWindowMessage(plat::kWmClose);
}
