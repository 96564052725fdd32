#include "ui/medley_commands.h"

#include <string_view>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "playback/medley.h"
#include "playback/services.h"

namespace {

std::wstring ArgOf(const std::wstring& m) {
  const size_t colon = m.find(L':');
  return colon == std::wstring::npos ? std::wstring() : m.substr(colon + 1);
}

std::wstring Count() { return std::to_wstring(Medley.MedleyList.size()); }

void PostMedley() { PostScriptToPage(BuildInitMedleyScript()); }

}  // namespace

void HandleMedleyList(const std::wstring&) { PostMedley(); }

void HandleMedleyMark(const std::wstring& m) { MarkMedleyBar(LeadingInt(ArgOf(m)) != 0); }

void HandleMedleyClear(const std::wstring&) {
  ClearMedley();
  PostMedley();
  ShowPageBadge(L"메들리 목록을 비웠습니다");
}

void HandleMedleyDelItem(const std::wstring& m) {
  DeleteMedleyItem(LeadingInt(ArgOf(m)));
  PostMedley();
}

void HandleMedleyMove(const std::wstring& m) {
  const std::wstring arg = ArgOf(m);
  const size_t colon = arg.find(L':');
  MoveMedleyItem(LeadingInt(arg), colon == std::wstring::npos ? 0 : LeadingInt(std::wstring_view(arg).substr(colon + 1)));
  PostMedley();
}

// "MEDLEY_SET:" + index + ":" + field letter + ":" + value; without both colons nothing changes.
void HandleMedleySet(const std::wstring& m) {
  const std::wstring arg = ArgOf(m);
  const size_t first = arg.find(L':');
  const size_t second = first == std::wstring::npos ? first : arg.find(L':', first + 1);
  if (second != std::wstring::npos) {
    const wchar_t field = first + 1 < second ? arg[first + 1] : L'\0';
    SetMedleyItemField(LeadingInt(arg), field, LeadingInt(std::wstring_view(arg).substr(second + 1)));
  }
  PostMedley();
}

void HandleMedleySave(const std::wstring& m) {
  if (Medley.MedleyList.empty()) {
    ShowPageBadge(L"담긴 곡이 없습니다 - 재생 중 ALT+[ / ALT+] 로 먼저 찍어주세요");
    return;
  }
  if (SaveMedleyFile(ArgOf(m)))
    ShowPageBadge(L"메들리 저장: " + Medley.MedleyName + L" (" + Count() + L"곡)");
  else
    ShowPageBadge(L"저장하지 못했습니다 - 이름을 확인해 주세요");
  PostMedley();
}

void HandleMedleyLoad(const std::wstring& m) {
  if (LoadMedleyFile(ArgOf(m))) ShowPageBadge(L"불러왔습니다: " + Medley.MedleyName);
  else ShowPageBadge(L"불러오지 못했습니다");
  PostMedley();
}

void HandleMedleyDelFile(const std::wstring& m) {
  ShowPageBadge(L"삭제했습니다: " + DeleteMedleyFile(ArgOf(m)));
  PostMedley();
}

void HandleMedleyStart(const std::wstring&) { StartMedley(); }

void HandleMedleyStopMode(const std::wstring&) { StopMedleyMode(); }

void HandleSetKeepAdjust(const std::wstring& m) {
  const bool keep = LeadingInt(ArgOf(m)) != 0;
  Settings.keepAdjust = keep ? 1 : 0;
  if (!keep) PlaybackState.SongBaseKey = 0;
  SaveAppSettings();
  ShowPageBadge(keep ? L"음정 조정값 유지 - 음정을 다음 곡에 이어 씁니다 (템포는 템포락일 때만 유지)"
                     : L"음정 조정값 초기화 - 곡마다 원래 음정으로 시작합니다");
  DebugLog(L"[조정] 조정값 유지 = " + std::to_wstring(keep ? 1 : 0));
}
