#include "ui/page_assets.h"

#include <filesystem>
#include <system_error>

#include "base/text.h"
#include "platform/fonts.h"
#include "platform/paths.h"

namespace {

// The extension from the last "." (dot included) of the lower-cased name, empty without one.
std::wstring LowerDotExt(const std::wstring& name) {
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos) return {};
  std::wstring ext = name.substr(dot);
  for (auto& c : ext)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return ext;
}

bool IsFontExt(const std::wstring& ext) {
  return ext == L".ttf" || ext == L".otf" || ext == L".ttc" || ext == L".woff" || ext == L".woff2";
}

}  // namespace

std::wstring ListFontFiles() {
  std::filesystem::path folder = plat::RealPath(L"<root>/fonts");
  std::wstring out = L"[";
  if (folder.empty()) return out + L"]";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  bool first = true;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec)) continue;
    const std::wstring name = Utf8ToWide(it->path().filename().string());
    if (!IsFontExt(LowerDotExt(name))) continue;
    if (!first) out += L',';
    first = false;
    out += L"'" + EscapeForScript(name) + L"'";
  }
  return out + L"]";
}

std::wstring ListInstalledFontFamilies() {
  std::wstring out = L"[";
  for (const std::string& family : plat::InstalledFontFamilies()) {
    if (out.size() > 1) out += L',';
    out += L"'" + EscapeForScript(Utf8ToWide(family)) + L"'";
  }
  return out + L"]";
}
