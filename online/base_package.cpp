#include "online/base_package.h"

#include <algorithm>
#include <set>
#include <chrono>
#include <thread>
#include <cctype>
#include <cstdio>
#include <system_error>
#include <vector>

#include "base/debug_log.h"
#include "base/install.h"
#include "base/page_script.h"
#include "base/text.h"
#include "online/account.h"
#include "online/https.h"
#include "online/services.h"
#include "online/text_refresh.h"
#include "songs/song_list.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/program_file.h"
#include "platform/process.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned kRemoveWaitMs = 30000;
constexpr unsigned kExtractWaitMs = 180000;
constexpr unsigned kFallbackWaitMs = 300000;
constexpr unsigned kCopyWaitMs = 300000;

constexpr std::wstring_view kBaseZipPath = L"/dataroom/upload_file/pds_lirand/tavelo_program/Tavelo.zip";
constexpr int kDownloadAttempts = 3;
constexpr const wchar_t* kNotReceived =
    L"기초파일(zip)을 받지 못했습니다. 서버에 zip이 올라가 있는지/권한을 확인해주세요.";

std::wstring Num(long long n) { return std::to_wstring(n); }

fs::path ExtractDir() { return plat::RealPath(L"<root>/_dl/ext"); }

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

void RemoveExtractDir() {
  plat::RunHiddenAndWaitOrEnd({"rm", "-rf", "--", ExtractDir().string()}, kRemoveWaitMs);
}

// A link in the archive could lead the copy, or a later write into the install folder, outside
// it: links are dropped before the copy, so every copied path stays under the install root.
void DropLinks(const fs::path& dir) {
  std::error_code ec;
  std::vector<fs::path> links;
  for (fs::recursive_directory_iterator it(dir, fs::directory_options::none, ec), end; !ec && it != end;
       it.increment(ec)) {
    fs::file_status st = it->symlink_status(ec);
    if (!ec && !fs::is_directory(st) && !fs::is_regular_file(st)) links.push_back(it->path());
  }
  for (const fs::path& p : links) {
    fs::remove(p, ec);
    DebugLog(L"프로그램 업데이트: 압축 안의 링크/특수 파일 제외 " + Utf8ToWide(p.string()));
  }
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// A path below the install folder as the manifest and the checks compare it: forward slashes,
// lower case, no leading "./" or "/".
std::string ComparablePath(std::string p) {
  std::replace(p.begin(), p.end(), '\\', '/');
  while (p.rfind("./", 0) == 0) p.erase(0, 2);
  while (!p.empty() && p.front() == '/') p.erase(0, 1);
  return LowerAscii(p);
}

// The program files below the install folder: the installed copy the desktop entries start, the
// running program and its previous copy when they lie there.
std::set<std::string> ProgramFilesBelowRoot() {
  std::set<std::string> out;
  const fs::path root = plat::RootDir().lexically_normal();
  const fs::path running = plat::ExecutablePath();
  for (const fs::path& p : {plat::RealPath(kInstalledExe), running,
                            running.empty() ? fs::path() : plat::PreviousProgramFile(running)}) {
    if (p.empty()) continue;
    const fs::path rel = p.lexically_normal().lexically_relative(root);
    if (!rel.empty() && *rel.begin() != "..") out.insert(ComparablePath(rel.generic_string()));
  }
  return out;
}

// What the package's signed manifest allows it to replace; empty without a manifest.
std::set<std::string> ManifestReplaces(const fs::path& baseRoot) {
  constexpr size_t kManifestLimit = 1 << 20;
  std::set<std::string> out;
  std::error_code ec;
  const fs::path file = baseRoot / kBaseManifestName;
  if (!fs::is_regular_file(file, ec) || fs::file_size(file, ec) > kManifestLimit) return out;
  const std::string text = plat::ReadFileBytes(file).value_or("");
  ForEachTextLine(text, [&](std::string_view line) {
    constexpr std::string_view kKey = "replace=";
    if (line.substr(0, kKey.size()) == kKey && line.size() > kKey.size())
      out.insert(ComparablePath(std::string(line.substr(kKey.size()))));
  });
  return out;
}

// The program, the member account and the settings files.
bool IsGuardedInstallFile(const std::string& path, const std::set<std::string>& programs) {
  if (programs.count(path) || path == "license.cfg" || path == "system/license.cfg" || path == "system/userkey.txt")
    return true;
  constexpr std::string_view kSystem = "system/";
  return path.rfind(kSystem, 0) == 0 && path.find('/', kSystem.size()) == std::string::npos && path.size() > 4 &&
         path.compare(path.size() - 4, 4, ".cfg") == 0;
}

// Takes out of the unpacked base root every guarded file its manifest does not name, and the
// manifest itself: what is left is what the copy may write into the install folder.
void KeepGuardedFiles(const fs::path& baseRoot) {
  const std::set<std::string> replaces = ManifestReplaces(baseRoot);
  std::error_code ec;
  fs::remove(baseRoot / kBaseManifestName, ec);
  const std::set<std::string> programs = ProgramFilesBelowRoot();
  std::vector<fs::path> kept;
  for (fs::recursive_directory_iterator it(baseRoot, fs::directory_options::none, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const std::string rel = ComparablePath(it->path().lexically_relative(baseRoot).generic_string());
    if (!IsGuardedInstallFile(rel, programs)) continue;
    const bool allowed = replaces.count(rel) || (programs.count(rel) && replaces.count("program"));
    if (!allowed) kept.push_back(it->path());
  }
  for (const fs::path& p : kept) {
    fs::remove(p, ec);
    DebugLog(L"프로그램 업데이트: 서명된 목록에 없는 보호 파일은 바꾸지 않음 - " +
             Utf8ToWide(p.lexically_relative(baseRoot).generic_string()));
  }
}

}  // namespace

bool BaseMarkerPresent() {
  return Exists(plat::RealPath(L"<root>/pxr/DS1-P1.MID")) ||
         Exists(plat::RealPath(L"<root>/system/DS1-P1.MID"));
}

fs::path FindBaseRoot(const fs::path& dir, int depth) {
  if (Exists(dir / "pxr" / "DS1-P1.MID") || Exists(dir / "system" / "DS1-P1.MID")) return dir;
  if (depth <= 0) return {};
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_directory(ec) || it->is_symlink(ec)) continue;
    fs::path found = FindBaseRoot(it->path(), depth - 1);
    if (!found.empty()) return found;
  }
  return {};
}

std::wstring ListDirEntries(const fs::path& dir, bool& anyEntry) {
  anyEntry = false;
  std::wstring out;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    anyEntry = true;
    out += Utf8ToWide(it->path().filename().string());
    if (it->is_directory(ec)) out += L'\\';
    out += L' ';
  }
  return out;
}

void RunTarExtract(const fs::path& zipPath, const fs::path& destDir) {
  std::error_code ec;
  fs::create_directories(destDir, ec);
  // Without -P, bsdtar refuses entries with ".." and absolute names.
  plat::RunHiddenAndWaitOrEnd({"bsdtar", "-xf", zipPath.string(), "-C", destDir.string()}, kExtractWaitMs);
}

bool InstallBaseZip(const fs::path& zipPath) {
  const fs::path ext = ExtractDir();
  RemoveExtractDir();
  std::error_code ec;
  fs::create_directories(ext, ec);
  RunTarExtract(zipPath, ext);
  bool any = false;
  std::wstring listing = ListDirEntries(ext, any);
  if (!any) {
    DebugLog(L"프로그램 업데이트: tar 추출 결과가 비어있음 - unzip 으로 재시도");
    // unzip skips "../" and absolute entry names by itself.
    plat::RunHiddenAndWaitOrEnd({"unzip", "-q", "-o", zipPath.string(), "-d", ext.string()}, kFallbackWaitMs);
    listing = ListDirEntries(ext, any);
  }
  DebugLog(L"프로그램 업데이트: zip 최상위 항목 = [" + listing + L"] (있음=" + (any ? L"1" : L"0") + L")");
  const fs::path root = FindBaseRoot(ext, 4);
  if (root.empty()) {
    DebugLog(L"프로그램 업데이트: 푼 내용 안에서 pxr\\DS1-P1.MID(또는 system\\DS1-P1.MID)를 못 찾음 - "
             L"위 '최상위 항목'을 확인해주세요(zip에 그 파일이 그 경로로 들어있는지)");
    return false;
  }
  DropLinks(root);
  KeepGuardedFiles(root);
  plat::RunHiddenAndWaitOrEnd({"cp", "-a", "--", (root / ".").string(), plat::RootDir().string() + "/"},
                              kCopyWaitMs);
  RemoveExtractDir();
  return BaseMarkerPresent();
}

bool IsWebPageAnswer(std::string_view body) { return LooksLikeHtmlPage(body, true, 32, 4); }

bool IsCutShortAnswer(bool completed, std::string_view body, uint64_t contentLength) {
  return completed && !IsWebPageAnswer(body) && contentLength != 0 && body.size() < contentLength;
}

bool IsCutShortDownload(const HttpResult& r) {
  return r.completed && !IsWebPageAnswer(r.body) && r.contentLength != 0 && r.bodySize < r.contentLength;
}

void PostReinstallProgress(int percent, std::wstring_view text) {
  PostScriptToPage(PageCall(L"updateModalProgress", percent, text, 0, 0));
}

void PostUpdateDone(std::wstring_view text) { PostScriptToPage(PageCall(L"updateDone", text)); }

void ReportBaseZipDownloadProgress(uint64_t received, uint64_t total) {
  if (total == 0) return;
  int percent = std::min(80, static_cast<int>(static_cast<double>(received) * 35.0 / static_cast<double>(total) + 45.0));
  char mb[64];
  std::snprintf(mb, sizeof mb, "%.1f / %.1f MB", static_cast<double>(received) / 1048576.0,
                static_cast<double>(total) / 1048576.0);
  PostReinstallProgress(percent, L"기초파일(zip) 다운로드 중... " + Utf8ToWide(mb));
}

ReleaseSignature CheckBaseZipSignature(const fs::path& zipPath, std::wstring_view extraHeaders) {
  return FetchAndCheckReleaseSignature(zipPath, std::wstring(kBaseZipPath) + L".sig", extraHeaders,
                                       L"기초 zip(고정 URL):");
}

bool DownloadBaseZip(const fs::path& destPath, std::wstring_view extraHeaders,
                     std::function<void(uint64_t, uint64_t)> progress) {
  const std::wstring host = WebHost();
  // The zip goes to disk as it arrives, beside its place, and is renamed there once it is whole.
  const fs::path part = destPath.string() + ".part";
  HttpResult r;
  bool cut = false, page = false;
  for (int attempt = 1; attempt <= kDownloadAttempts; ++attempt) {
    if (attempt > 1) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    r = HttpsDownload(host, kBaseZipPath, extraHeaders, part.string(), progress);
    page = IsWebPageAnswer(r.body);
    cut = IsCutShortDownload(r);
    DebugLog(L"기초 zip(고정 URL) 다운로드 시도" + Num(attempt) + L"/" + Num(kDownloadAttempts) + L" ok=" +
             Num(r.completed) + L" status=" + Num(r.status) + L" 받음=" + Num(static_cast<long long>(r.bodySize)) +
             L" 기대=" + Num(static_cast<long long>(r.contentLength)) + L" html=" + Num(page) + L" 잘림=" + Num(cut));
    if (r.completed && !r.body.empty() && !page && !cut) break;
    if (r.completed && !cut) break;  // an empty answer or a page: asking again changes nothing
  }
  if (r.completed && !r.body.empty() && !page && !cut) {
    std::error_code ec;
    fs::rename(part, destPath, ec);
    if (ec) {
      fs::remove(part, ec);
      DebugLog(L"기초 zip(고정 URL): 저장 파일 열기 실패 " + Utf8ToWide(destPath.string()));
      return false;
    }
    if (r.body.size() >= 2 && r.body[0] == 'P' && r.body[1] == 'K') return true;
    DebugLog(L"기초 zip(고정 URL): 받은 파일이 zip(PK)이 아님 - URL/권한 확인 필요(저장은 해둠)");
    return false;
  }
  std::error_code ec;
  fs::remove(part, ec);
  const std::wstring copy = L"<root>/system/debug_basezip_dl.html";
  plat::WriteFileAtomic(plat::RealPath(copy), r.body);
  DebugLog(L"기초 zip(고정 URL) 다운로드 실패 - 응답을 " + copy + L" 에 저장(HTML/권한오류/잘림 등 확인). URL=" + host +
           std::wstring(kBaseZipPath));
  return false;
}

namespace {

// The reinstall with the busy flag held; ends with exactly one PostUpdateDone.
void RunReinstall() {
  if (!HasMemberAccount()) {
    PostUpdateDone(L"회원 로그인 정보가 필요합니다.");
    return;
  }
  PostReinstallProgress(10, L"서버 로그인 중...");
  std::wstring diagnostics;
  const std::wstring cookies = GnuboardLoginViaWebView2(diagnostics);
  if (cookies.empty()) {
    DebugLog(L"zip 재설치: 로그인 실패");
    PostUpdateDone(L"로그인에 실패했습니다(인터넷/계정 확인).");
    return;
  }
  const std::wstring cookieHeader = L"Cookie: " + cookies + L"\r\n";
  std::error_code ec;
  fs::create_directories(plat::RealPath(L"<root>/_dl"), ec);
  PostReinstallProgress(45, L"기초파일(zip) 다운로드 중... (파일이 크면 몇 분 걸립니다)");
  DebugLog(L"zip 재설치: 고정 URL에서 기초 zip 다운로드 시작");
  const fs::path zip = plat::RealPath(L"<root>/_dl/Tavelo.zip");
  if (!DownloadBaseZip(zip, cookieHeader, ReportBaseZipDownloadProgress)) {
    DebugLog(L"zip 재설치: 고정 URL 다운로드 실패 - URL/권한/파일 존재 확인 필요");
    PostUpdateDone(kNotReceived);
    return;
  }
  if (CheckBaseZipSignature(zip, cookieHeader) != ReleaseSignature::kGood) {
    DebugLog(L"zip 재설치: 서명이 없거나 맞지 않아 설치하지 않음");
    std::error_code removeError;
    fs::remove(zip, removeError);
    PostUpdateDone(kUnsignedBasePackage);
    return;
  }
  PostReinstallProgress(80, L"기초파일 설치(압축 해제) 중...");
  InstallBaseZip(zip);
  RefreshHelpText(cookieHeader);
  if (BaseMarkerPresent()) {
    DebugLog(L"zip 재설치: 완료(고정 URL)");
    LoadSongDb();
    PostScriptToPage(GuardedScript(L"initSongDb(" + Utf8ToWide(BuildSongListPayload()) +
                                       L"); if(typeof renderSearchResults==='function') renderSearchResults();",
                                   L"initSongDb"));
    PostUpdateDone(L"기초파일(zip) 설치가 완료되었습니다.");
  } else {
    DebugLog(L"zip 재설치: 해제 후 기초파일 확인 실패(고정 URL) - zip 내용/구조 확인 필요");
    PostUpdateDone(kNotReceived);
  }
}

}  // namespace

void ForceReinstallBaseZip() {
  uint8_t idle = 0;
  if (!Online.UpdateBusyFlag.compare_exchange_strong(idle, 1)) {
    PostUpdateDone(L"다른 업데이트가 진행 중입니다. 잠시 후 다시 시도해주세요.");
    return;
  }
  try {
    RunReinstall();
  } catch (const std::exception& e) {
    DebugLog(L"zip 재설치: 예외 " + Utf8ToWide(e.what()));
    PostUpdateDone(kNotReceived);
  }
  Online.UpdateBusyFlag.store(0);
}
