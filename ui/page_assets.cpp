#include "ui/page_assets.h"

#include <filesystem>
#include <system_error>

#include "base/text.h"
#include "platform/paths.h"

std::wstring ListFontFiles() {
  std::filesystem::path folder = plat::RealPath(L"C:/tavelo/fonts");
  std::wstring out = L"[";
  if (folder.empty()) return out + L"]";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  bool first = true;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec)) continue;
    if (!first) out += L',';
    first = false;
    out += L"'" + EscapeForScript(Utf8ToWide(it->path().filename().string())) + L"'";
  }
  return out + L"]";
}
