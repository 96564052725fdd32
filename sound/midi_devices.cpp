#include "sound/midi_devices.h"

#include "base/text.h"
#include "platform/midi_out.h"

std::wstring NormalizeDeviceName(std::wstring_view name) {
  std::wstring s = StripControlAndTrim(name);
  size_t digits = 0;
  while (digits < s.size() && s[digits] >= L'0' && s[digits] <= L'9') ++digits;
  if (digits > 0 && digits < s.size() && s[digits] == L'-') {
    size_t rest = digits + 1;
    while (rest < s.size() && s[rest] == L' ') ++rest;
    s.erase(0, rest);
  }
  return TrimBlanks(s);
}

bool FindMidiOutDevice(const std::vector<std::wstring>& wanted, unsigned* index) {
  if (index) *index = 0;
  unsigned count = plat::MidiOutDeviceCount();
  std::vector<std::wstring> names(count);
  std::vector<bool> readable(count, false);
  for (unsigned i = 0; i < count; ++i) {
    std::wstring raw;
    if (plat::MidiOutDeviceName(i, &raw)) {
      readable[i] = true;
      names[i] = NormalizeDeviceName(raw);
    }
  }
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& w : wanted) {
      std::wstring want = NormalizeDeviceName(w);
      if (want.empty()) continue;
      for (unsigned i = 0; i < count; ++i) {
        if (!readable[i]) continue;
        bool hit = pass == 0 ? names[i] == want : names[i].find(want) != std::wstring::npos;
        if (hit) {
          if (index) *index = i;
          return true;
        }
      }
    }
  }
  return false;
}

std::wstring MidiOutErrorText(int error) {
  switch (error) {
    case 0: return L"정상";
    case 2: return L"장치 번호가 잘못됨";
    case 4: return L"다른 프로그램이 이미 사용 중";
    case 5: return L"핸들이 잘못됨";
    case 6: return L"드라이버 없음";
    case 7: return L"메모리 부족";
    case 11: return L"인자가 잘못됨";
    default: return L"알 수 없는 오류";
  }
}
