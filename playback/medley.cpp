#include "playback/medley.h"

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <shared_mutex>
#include <system_error>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "playback/services.h"
#include "playback/song_prep.h"
#include "playback/song_start.h"
#include "songs/bars.h"
#include "songs/song_list.h"

MedleyState Medley;

namespace {

constexpr size_t kMaxNameChars = 60;
constexpr std::wstring_view kExtension = L".mdl";

std::wstring Num(int v) { return std::to_wstring(v); }

std::filesystem::path MedleyFilePath(const std::wstring& sanitized) {
  return plat::RealPath(GetMedleyFolder() + sanitized + std::wstring(kExtension));
}

void PostMedleyScript() { PostScriptToPage(BuildInitMedleyScript()); }

// The Korean title of the song's catalogue record, else its title, else "곡 " + id.
std::wstring SongDisplayName(int id) {
  {
    std::shared_lock lock(SongLibrary.SongListMutex);
    for (const SongRecord& r : SongLibrary.SongList) {
      if (r.id != id) continue;
      if (!r.koTitle.empty()) return r.koTitle;
      if (!r.title.empty()) return r.title;
      break;
    }
  }
  return L"곡 " + Num(id);
}

// The item's section, key and tempo for the next song start; `last` plays to the song's end.
void SetNextSongFrom(const MedleyItem& item, bool last) {
  PlaybackState.NextSongStartBar = item.start;
  PlaybackState.NextSongEndBar = last ? -1 : item.end;
  PlaybackState.NextSongKeyMode = item.keyMode;
  PlaybackState.NextSongKeyOffset = item.keyOffset;
  PlaybackState.NextSongTempoOffset = item.tempo;
}

std::wstring Section(const MedleyItem& item) { return Num(item.start + 1) + L"~" + Num(item.end + 1) + L"마디"; }

bool IsMedleyFileName(const std::string& name) {
  if (name.size() <= kExtension.size()) return false;
  for (size_t i = 0; i < kExtension.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(name[name.size() - kExtension.size() + i])) != kExtension[i]) return false;
  return true;
}

}  // namespace

std::wstring GetMedleyFolder() { return L"<root>/medley/"; }

std::vector<std::wstring> ListMedleyFiles() {
  const std::filesystem::path folder = plat::RealPath(L"<root>/medley");
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::vector<std::wstring> names;
  for (const std::string& file : plat::ListFileNames(folder)) {
    if (!IsMedleyFileName(file) || std::filesystem::is_directory(folder / file, ec)) continue;
    const std::wstring wide = Utf8ToWide(file);
    names.push_back(wide.substr(0, wide.size() - kExtension.size()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::wstring SanitizeMedleyName(std::wstring_view name) {
  std::wstring out;
  for (wchar_t c : name) {
    // The page shows and sends names without apostrophes, so a saved name never holds one.
    if (c < 0x20 || std::wstring_view(L"\"*/:<>?\\|'").find(c) != std::wstring_view::npos) continue;
    out += c;
  }
  while (!out.empty() && (out.back() == L' ' || out.back() == L'.')) out.pop_back();
  if (out.size() > kMaxNameChars) out.resize(kMaxNameChars);
  return out;
}

std::string FormatMedleyFile(const std::vector<MedleyItem>& items) {
  std::string out = "\xEF\xBB\xBF#MDL1\r\n";
  for (const MedleyItem& i : items) {
    out += "item=" + std::to_string(i.id) + "|" + std::to_string(i.start) + "|" + std::to_string(i.end) + "|" +
           std::to_string(i.keyMode) + "|" + std::to_string(i.keyOffset) + "|" + std::to_string(i.tempo) + "|" +
           std::to_string(i.fill) + "|" + WideToUtf8(i.name) + "\r\n";
  }
  return out;
}

std::vector<MedleyItem> ParseMedleyFile(std::string_view bytes) {
  std::vector<MedleyItem> items;
  ForEachTextLine(bytes, [&](std::string_view line) {
    if (line.substr(0, 5) != "item=") return;
    const std::wstring rest = Utf8ToWide(line.substr(5));
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (;;) {
      const size_t bar = rest.find(L'|', start);
      fields.push_back(rest.substr(start, bar == std::wstring::npos ? std::wstring::npos : bar - start));
      if (bar == std::wstring::npos) break;
      start = bar + 1;
    }
    if (fields.size() < 7) return;
    MedleyItem item{LeadingInt(fields[0]), LeadingInt(fields[1]), LeadingInt(fields[2]), LeadingInt(fields[3]),
                    LeadingInt(fields[4]),  LeadingInt(fields[5]), LeadingInt(fields[6]) != 0 ? 1 : 0,
                    fields.size() > 7 ? fields[7] : std::wstring()};
    if (item.id > 0 && item.end >= item.start) items.push_back(std::move(item));
  });
  return items;
}

bool SaveMedleyFile(std::wstring_view name) {
  const std::wstring clean = SanitizeMedleyName(name);
  if (clean.empty() || Medley.MedleyList.empty()) return false;
  if (!plat::WriteFileAtomic(MedleyFilePath(clean), FormatMedleyFile(Medley.MedleyList))) return false;
  Medley.MedleyName = clean;
  DebugLog(L"[메들리] 저장: " + std::wstring(name) + L" (" + Num(int(Medley.MedleyList.size())) + L"곡)");
  return true;
}

bool LoadMedleyFile(std::wstring_view name) {
  const std::wstring clean = SanitizeMedleyName(name);
  if (clean.empty()) return false;
  const auto bytes = plat::ReadFileBytes(MedleyFilePath(clean));
  if (!bytes) return false;
  std::vector<MedleyItem> items = ParseMedleyFile(*bytes);
  if (items.empty()) return false;
  Medley.MedleyList = std::move(items);
  Medley.MedleyName = clean;
  DebugLog(L"[메들리] 불러옴: " + std::wstring(name) + L" (" + Num(int(Medley.MedleyList.size())) + L"곡)");
  return true;
}

std::wstring DeleteMedleyFile(std::wstring_view name) {
  const std::wstring clean = SanitizeMedleyName(name);
  if (!clean.empty()) {
    std::error_code ec;
    std::filesystem::remove(MedleyFilePath(clean), ec);
  }
  return clean;
}

std::wstring BuildInitMedleyScript() {
  // The items as object literals; each name goes through the script builder's text escaping.
  std::wstring items = L"[";
  for (size_t i = 0; i < Medley.MedleyList.size(); ++i) {
    const MedleyItem& m = Medley.MedleyList[i];
    if (i) items += L',';
    items += L"{id:" + Num(m.id) + L",s:" + Num(m.start) + L",e:" + Num(m.end) + L",k:" + Num(m.keyMode) +
             L",p:" + Num(m.keyOffset) + L",t:" + Num(m.tempo) + L",f:" + Num(m.fill) + L",n:";
    page_script_detail::AppendArg(items, m.name);
    items += L'}';
  }
  items += L']';
  return PageCall(L"initMedley", ScriptLiteral{items}, ListMedleyFiles(), Medley.MedleyName, Medley.MedleyMarkBar);
}

void MarkMedleyBar(bool isEnd) {
  if (!PlaybackState.isPlaying.load()) {
    ShowPageBadge(L"곡을 재생하면서 찍어주세요");
    return;
  }
  const int bar = std::max(0, TickToBar(PlaybackState.SongTick.load()));
  if (!isEnd) {
    Medley.MedleyMarkBar = bar;
    ShowPageBadge(L"여기부터 - " + Num(bar + 1) + L"마디  (끝은 ALT+] 로 찍으세요)");
    DebugLog(L"[메들리] 시작 마디 찍음: " + Num(bar + 1));
    PostMedleyScript();
    return;
  }
  if (Medley.MedleyMarkBar < 0) {
    ShowPageBadge(L"먼저 ALT+[ 로 시작 지점을 찍어주세요");
    return;
  }
  if (bar < Medley.MedleyMarkBar) {
    ShowPageBadge(L"끝이 시작보다 앞입니다 - 다시 찍어주세요");
    return;
  }
  const int id = PlaybackState.CurrentSongId.load();
  if (id <= 0) {
    ShowPageBadge(L"지금 곡 번호를 알 수 없습니다");
    return;
  }
  MedleyItem item{id, Medley.MedleyMarkBar, bar, 0, PlaybackState.CurrentKey.load(),
                  PlaybackState.TempoOffsetBpm.load(), 1, SongDisplayName(id)};
  Medley.MedleyList.push_back(item);
  Medley.MedleyMarkBar = -1;
  ShowPageBadge(L"담았습니다 - " + item.name + L" " + Section(item) + L" (모두 " + Num(int(Medley.MedleyList.size())) +
                L"곡) · ALT+D 로 확인");
  DebugLog(L"[메들리] 담음: " + Num(id) + L" " + Section(item) + L" 키" + Num(item.keyOffset) + L" 템포" +
           Num(item.tempo));
  PostMedleyScript();
}

void DeleteMedleyItem(int index) {
  if (index >= 0 && index < int(Medley.MedleyList.size())) Medley.MedleyList.erase(Medley.MedleyList.begin() + index);
}

void MoveMedleyItem(int index, int step) {
  const int count = int(Medley.MedleyList.size());
  const long long to = static_cast<long long>(index) + step;
  if (index >= 0 && index < count && to >= 0 && to < count) std::swap(Medley.MedleyList[index], Medley.MedleyList[to]);
}

void SetMedleyItemField(int index, wchar_t field, int value) {
  if (index < 0 || index >= int(Medley.MedleyList.size())) return;
  MedleyItem& m = Medley.MedleyList[index];
  switch (field) {
    case L's':
      m.start = std::max(0, value);
      m.end = std::max(m.end, m.start);
      break;
    case L'e': m.end = std::max(value, m.start); break;
    case L'k': m.keyMode = value >= 0 && value <= 2 ? value : 0; break;
    case L'p': m.keyOffset = std::clamp(value, -12, 12); break;
    case L't': m.tempo = std::clamp(value, -60, 60); break;
    case L'f': m.fill = value != 0 ? 1 : 0; break;
    default: break;
  }
}

void ClearMedley() {
  Medley.MedleyList.clear();
  Medley.MedleyName.clear();
  Medley.MedleyMarkBar = -1;
}

bool StartMedley() {
  if (Medley.MedleyList.empty()) {
    ShowPageBadge(L"담긴 곡이 없습니다");
    return false;
  }
  Medley.RunningMedleyList = Medley.MedleyList;
  PlaybackState.MedleyItemIndex.exchange(0);
  const MedleyItem& first = Medley.RunningMedleyList.front();
  SetNextSongFrom(first, Medley.RunningMedleyList.size() < 2);
  DebugLog(L"[메들리] 재생 시작 - 모두 " + Num(int(Medley.RunningMedleyList.size())) + L"곡, 1번째 곡 " +
           Num(first.id) + L" " + Section(first));
  LoadAndPlay(SongMidiPath(first.id), SongTextPath(first.id));
  return true;
}

void CheckMedleyNextSong(int n) {
  const int i = PlaybackState.MedleyItemIndex.load();
  if (i < 0) return;
  const int count = int(Medley.RunningMedleyList.size());
  if (i + 1 >= count) {
    PlaybackState.MedleyItemIndex.exchange(-1);
    return;
  }
  const MedleyItem& next = Medley.RunningMedleyList[i + 1];
  if (n != next.id) {
    PlaybackState.MedleyItemIndex.exchange(-1);
    DebugLog(L"[메들리] 다음 곡이 목록과 달라 메들리를 끝냅니다");
    return;
  }
  PlaybackState.MedleyItemIndex.exchange(i + 1);
  SetNextSongFrom(next, i + 2 >= count);
  DebugLog(L"[메들리] " + Num(i + 2) + L"/" + Num(count) + L" 곡 " + Num(next.id) + L" " + Section(next));
}

void StopMedleyMode() {
  PlaybackState.MedleyItemIndex.exchange(-1);
  PlaybackState.MedleySegmentEndTick.exchange(0);
}
