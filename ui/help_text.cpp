#include "ui/help_text.h"

#include <filesystem>

#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

// Key text padded to ten characters, then the description.
const wchar_t* const kDefaultLines[] = {
    L"[ Tavelo 도움말 ]",
    L"",
    L"F1        곡 검색",
    L"ALT+F1    제목 · 가수 · 가사 어디서나 찾기",
    L"F2        부른 곡 목록",
    L"F6        구간 이동 (전주 · 간주 · 후주)",
    L"F7        오디오 플레이어",
    L"Ins       부른 사람 이름 입력",
    L"F11       전체화면",
    L"F12       도움말 켜기/끄기",
    L"",
    L"ALT+0     옵션 (자동 키 · 모듈 · 음성 출력)",
    L"ALT+K     남/여 키 설정",
    L"ALT+J     원어 가사",
    L"ALT+R     랜덤 연주 켜기/끄기 (위쪽 R 표시)",
    L"Backspace 메들리 모드 켜기/끄기 (MD 표시 · 곡 사이를 이어 줌)",
    L"ALT+F4    음색 설정",
    L"ALT+S     원격지원 요청",
    L"ALT+N     신곡 업데이트 창",
    L"ALT+9     외부 모듈",
    L"ALT+8     리듬 점검 (스타일 1-9 · 0 패턴 바꾸기 · A/S/D/F 필인)",
    L"ALT+7     리듬 패턴 편집기",
    L"",
    L"[F7 오디오] Enter 처음부터 · Space 일시정지 · S 정지",
    L"[F9 악보]  B 기본악보 · F8 드럼악보",
    L"",
    L"[선곡창] 숫자 = 곡번호 찾기 · ` = 한/영 전환",
    L"",
    L"← →       이전/다음 마디",
    L"↑         지금 마디 처음으로",
    L"O / M / N 원키 · 남자키 · 여자키",
    L"[ ]       반음 내림/올림",
    L"E         엔딩 (SHIFT+1 도 같음)",
    L"C / V / B 멜로디 · 솔로1 · 솔로2 음소거",
    L"ALT+C     악보 2/3/4단 (세 번 누르면 기본으로)",
    L"Pause     템포 고정 켜기/끄기 (템포 앞 L 표시)",
    L"PrtScn    템포 고정 (Pause 키 없는 노트북)",
    L"Z / X     화면 마디 수 줄이기/늘리기",
    L"CTRL+Z/X  음표 작게/크게",
    L"",
};

}  // namespace

std::wstring DefaultHelpText() {
  std::wstring t;
  for (const wchar_t* line : kDefaultLines) t += std::wstring(line) + L"\r\n";
  return t + L"* 이 도움말은 " + plat::ShownPath(HelpTextFilePath) + L" 를 텍스트 편집기로 열어 수정할 수 있습니다.\r\n";
}

std::wstring LoadHelpText() {
  const std::filesystem::path path = plat::RealPath(HelpTextFilePath);
  if (path.empty()) return DefaultHelpText();
  if (std::optional<std::string> bytes = plat::ReadFileBytes(path)) {
    std::string_view body(*bytes);
    if (body.size() >= 3 && body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
    return Utf8ToWide(body);
  }
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) plat::WriteFileAtomic(path, "\xEF\xBB\xBF" + WideToUtf8(DefaultHelpText()));
  return DefaultHelpText();
}

std::wstring BuildHelpPayload(std::wstring_view text) {
  std::wstring out = L"[";
  size_t start = 0;
  while (true) {
    const size_t end = text.find(L'\n', start);
    if (start) out += L',';
    out += L"'" + EscapeForScript(text.substr(start, end == std::wstring_view::npos ? end : end - start)) + L"'";
    if (end == std::wstring_view::npos) break;
    start = end + 1;
  }
  return out + L"]";
}

std::wstring BuildHelpPayload() { return BuildHelpPayload(LoadHelpText()); }
