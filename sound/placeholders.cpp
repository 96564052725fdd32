// Stand-ins for sound functions that are not built yet. Each logs once that it is not available.
#include "sound/services.h"

// A plain text rule, so it works already; the device layer keeps it once it lands.
std::wstring StripControlAndTrim(std::wstring_view text) {
  if (size_t nul = text.find(L'\0'); nul != std::wstring_view::npos) text = text.substr(0, nul);
  std::wstring out;
  for (wchar_t c : text)
    if (static_cast<unsigned long>(c) >= 0x20) out.push_back(c);
  size_t b = out.find_first_not_of(L" \t\r\n");
  if (b == std::wstring::npos) return {};
  size_t e = out.find_last_not_of(L" \t\r\n");
  return out.substr(b, e - b + 1);
}
