#include "ui/maintenance_commands.h"

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/text.h"
#include "songs/maintenance_jobs.h"
#include "songs/vocal_export.h"

namespace {

std::wstring ArgOf(const std::wstring& m) {
  const size_t colon = m.find(L':');
  return colon == std::wstring::npos ? std::wstring() : m.substr(colon + 1);
}

}  // namespace

void HandleVocalExport(const std::wstring& m) {
  DebugLogAsync(L"[노래내보내기] ALT+F9 키가 화면에서 도착했다");
  ExportVocalData(ArgOf(m));
}

// One job of each kind at a time: a second press while one runs starts nothing and says so.
void HandleSyncMissingSongs(const std::wstring&) {
  if (!StartManualSongSync(L"목록에 없는 곡을 반영하는 중..."))
    ShowPageBadge(L"목록에 없는 곡 반영이 이미 진행 중입니다 - 끝난 뒤에 다시 눌러 주세요");
}

void HandleRebuildPopKo(const std::wstring&) {
  if (!StartPopKoIndexRebuild(L"팝송 한글검색 색인을 다시 만드는 중..."))
    ShowPageBadge(L"팝송 한글검색 색인 작업이 이미 진행 중입니다 - 끝난 뒤에 다시 눌러 주세요");
}

void HandleSetOrigLang(const std::wstring& m) {
  PostScriptToPage(PageCall(L"applyOrigLangFlag", LeadingInt(ArgOf(m)) != 0 ? 1 : 0));
}
