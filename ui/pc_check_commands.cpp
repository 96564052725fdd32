#include "ui/pc_check_commands.h"

#include "base/page_script.h"
#include "base/text.h"
#include "playback/services.h"
#include "ui/av_exclusion.h"
#include "ui/pc_check.h"

namespace {

std::wstring ArgOf(const std::wstring& m) {
  const size_t colon = m.find(L':');
  return colon == std::wstring::npos ? std::wstring() : m.substr(colon + 1);
}

}  // namespace

void HandleRunPcCheck(const std::wstring&) {
  if (PlaybackState.isPlaying.load() || CvtState.rhythm.load()) {
    PostScriptToPage(PageCall(L"pcCheckProgress", L"연주 중에는 재지 않습니다 - 멈춘 뒤에 ALT+F12"));
    return;
  }
  StartPcCheck();
}

void HandlePcCheckPong(const std::wstring&) { PcCheck.PcCheckPongFlag.store(1); }

void HandleSetAvExclude(const std::wstring& m) {
  const bool add = LeadingInt(ArgOf(m)) != 0;
  SetDefenderExclusion(add);
  ShowPageBadge(add ? L"이 PC에는 백신 서비스도 관리자 확인(UAC) 창도 없어 등록할 것이 없습니다 - 잠시 뒤 상태를 다시 읽습니다"
                    : L"이 PC에는 백신 서비스가 없어 해제할 것이 없습니다");
  StartAvExclusionCheck(true);
}

void HandleCheckAv(const std::wstring&) {
  ShowPageBadge(L"백신 설정을 확인하는 중입니다...");
  StartAvExclusionCheck(false);
}
