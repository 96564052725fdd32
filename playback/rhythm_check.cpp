#include "playback/rhythm_check.h"

#include <algorithm>
#include <cwctype>

#include "base/page_script.h"
#include "playback/rhythm_style.h"

namespace {

std::wstring FileNameOf(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"/\\");
  return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

bool HasSynthDrums(const std::wstring& path) {
  std::vector<StyleEvent> events;
  uint32_t length = 0;
  LoadStylePattern(path, events, length);
  for (uint8_t channel : {uint8_t(13), uint8_t(14)}) {
    bool program = false, note = false;
    for (const StyleEvent& e : events) {
      if (e.channel != channel) continue;
      program |= e.kind == kStyleProgram;
      note |= e.kind == kStyleNoteOn;
    }
    if (program && note) return true;
  }
  return false;
}

// The file a fill key plays: the style's own, else DS1's for a disco style, else the style's F1.
RhythmCheckFill FillSource(const std::wstring& style, int n) {
  const std::wstring part = L"F" + std::to_wstring(n);
  const bool disco = style.size() >= 2 && std::towupper(style[0]) == L'D' && std::towupper(style[1]) == L'S';
  const std::wstring base = disco ? L"DS1" : L"";
  RhythmCheckFill fill;
  std::wstring path = StylePartPath(style, part);
  fill.source = 1;
  if (!FileExists(path) && !base.empty() && base != style && FileExists(StylePartPath(base, part))) {
    path = StylePartPath(base, part);
    fill.source = 2;
  }
  if (!FileExists(path) && FileExists(StylePartPath(style, L"F1"))) {
    path = StylePartPath(style, L"F1");
    fill.source = 3;
  }
  if (!FileExists(path)) return RhythmCheckFill{};
  fill.file = FileNameOf(path);
  fill.synthDrums = HasSynthDrums(path);
  return fill;
}

std::wstring Upper(std::wstring_view s) {
  std::wstring out(s);
  for (wchar_t& c : out) c = wchar_t(std::towupper(c));
  return out;
}

}  // namespace

RhythmCheckScan ScanRhythmStyles() {
  RhythmCheckScan scan;
  std::vector<std::wstring> names;
  for (int k = 1; k <= 9; ++k) {
    RhythmCheckRow row;
    row.number = k;
    row.style = StyleNameFromNumber(k);
    names.push_back(row.style);
    row.p1 = FileExists(StylePartPath(row.style, L"P1"));
    row.p2 = FileExists(StylePartPath(row.style, L"P2"));
    row.ed = FileExists(StylePartPath(row.style, L"ED"));
    row.intro = FileExists(StylePartPath(row.style, L"IN"));
    for (int n = 1; n <= 4; ++n) row.fills[n - 1] = FillSource(row.style, n);
    scan.rows.push_back(std::move(row));
  }
  for (const std::wstring& code : ListStyleCodes()) {
    if (code.empty() || code[0] == L'-') continue;
    const std::wstring name = Upper(std::wstring_view(code).substr(0, code.find(L'-')));
    if (std::find(names.begin(), names.end(), name) != names.end()) continue;
    if (std::find(scan.orphans.begin(), scan.orphans.end(), name) != scan.orphans.end()) continue;
    scan.orphans.push_back(name);
  }
  return scan;
}

std::wstring BuildRhythmCheckScript(const RhythmCheckScan& scan, std::wstring_view activeStyle, int variation,
                                    bool running) {
  auto flag = [](bool b) { return b ? L"1" : L"0"; };
  std::wstring rows = L"[";
  for (const RhythmCheckRow& r : scan.rows) {
    if (rows.size() > 1) rows += L',';
    rows += L"{k:" + std::to_wstring(r.number) + L",st:" + ScriptString(r.style) + L",p1:" + flag(r.p1) +
            L",p2:" + flag(r.p2) + L",ed:" + flag(r.ed) + L",intro:" + flag(r.intro) + L",fs:[";
    for (size_t n = 0; n < r.fills.size(); ++n) {
      const RhythmCheckFill& f = r.fills[n];
      rows += (n ? L",{t:" : L"{t:") + std::to_wstring(f.source) + L",d:" + flag(f.synthDrums) + L",f:" +
              ScriptString(f.file) + L"}";
    }
    rows += L"]}";
  }
  rows += L"]";
  return PageCall(L"setRhythmCheck", ScriptLiteral{rows}, activeStyle, variation, running, scan.orphans);
}
