#include "ui/audio_list.h"

#include <algorithm>
#include <cwctype>

#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

wchar_t Fold(wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))); }

bool LessNoCase(const std::wstring& a, const std::wstring& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const wchar_t x = Fold(a[i]), y = Fold(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

}  // namespace

bool IsPlayableAudioName(const std::wstring& name) {
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos) return false;
  std::wstring ext = name.substr(dot + 1);
  for (auto& c : ext) c = Fold(c);
  for (const wchar_t* e : {L"mp3", L"wav", L"m4a", L"ogg", L"flac", L"wma", L"aac", L"opus"})
    if (ext == e) return true;
  return false;
}

std::wstring BuildAudioFileListFrom(std::vector<std::wstring> names) {
  names.erase(std::remove_if(names.begin(), names.end(), [](const std::wstring& n) { return !IsPlayableAudioName(n); }),
              names.end());
  std::stable_sort(names.begin(), names.end(), LessNoCase);
  std::wstring out = L"[";
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) out += L",";
    const std::wstring& f = names[i];
    out += L"{f:'" + EscapeForScript(f) + L"',t:'" + EscapeForScript(f.substr(0, f.rfind(L'.'))) + L"'}";
  }
  return out + L"]";
}

std::wstring BuildAudioFileList() {
  const auto folder = plat::RealPath(L"<root>/audio");
  std::vector<std::wstring> names;
  if (!folder.empty())
    for (const auto& n : plat::ListFileNames(folder)) names.push_back(Utf8ToWide(n));
  return BuildAudioFileListFrom(std::move(names));
}
