#include "ui/font_commands.h"

#include <cwctype>
#include <filesystem>

#include "base/page_script.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "ui/page_assets.h"

namespace {

std::wstring ArgOf(const std::wstring& m) {
  const size_t colon = m.find(L':');
  return colon == std::wstring::npos ? std::wstring() : m.substr(colon + 1);
}

}  // namespace

void HandleListFonts(const std::wstring&) {
  PostScriptToPage(GuardedScript(PageCallText(L"initCustomFonts", ScriptLiteral{ListFontFiles()}) +
                                 L"; if(settingsPanelOpen) renderSettingsPanel();"));
}

std::wstring FontMimeFromExt(std::wstring_view fileName) {
  const size_t dot = fileName.rfind(L'.');
  std::wstring ext = dot == std::wstring_view::npos ? std::wstring() : std::wstring(fileName.substr(dot + 1));
  for (wchar_t& c : ext) c = static_cast<wchar_t>(std::towlower(c));
  if (ext == L"otf") return L"font/otf";
  if (ext == L"woff") return L"font/woff";
  if (ext == L"woff2") return L"font/woff2";
  return L"font/ttf";
}

std::wstring Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::wstring out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  auto at = [&](size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[k])); };
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
    for (int s : {18, 12, 6, 0}) out += static_cast<wchar_t>(kAlphabet[(v >> s) & 63]);
  }
  if (const size_t rest = bytes.size() - i) {
    const unsigned v = at(i) << 16 | (rest == 2 ? at(i + 1) << 8 : 0);
    out += static_cast<wchar_t>(kAlphabet[(v >> 18) & 63]);
    out += static_cast<wchar_t>(kAlphabet[(v >> 12) & 63]);
    out += rest == 2 ? static_cast<wchar_t>(kAlphabet[(v >> 6) & 63]) : L'=';
    out += L'=';
  }
  return out;
}

void HandleLoadCustomFont(const std::wstring& m) {
  const std::wstring name = ArgOf(m);
  if (name.empty() || name.find_first_of(L"/\\") != std::wstring::npos || name.find(L"..") != std::wstring::npos)
    return;
  // The data address travels as one page script: a file far beyond any font is not sent.
  constexpr uintmax_t kMaxFontBytes = 64u << 20;
  const std::filesystem::path path = plat::RealPath(L"C:/tavelo/fonts/" + name);
  std::error_code ec;
  const bool fits = !path.empty() && std::filesystem::file_size(path, ec) <= kMaxFontBytes && !ec;
  std::string bytes = fits ? plat::ReadFileBytes(path).value_or(std::string()) : std::string();
  if (bytes.size() > kMaxFontBytes) bytes.clear();
  if (bytes.empty()) {
    PostScriptToPage(GuardedScript(L"alert(" + ScriptString(L"글꼴 파일을 읽지 못했습니다: " + name) + L");"));
    return;
  }
  // The data URL holds only the type and Base64 characters: nothing to escape.
  const std::wstring url = L"data:" + FontMimeFromExt(name) + L";base64," + Base64Encode(bytes);
  PostScriptToPage(L"try{ onCustomFontData(" + ScriptString(name) + L", '" + url + L"'); }catch(e){ console.log(e); }");
}

