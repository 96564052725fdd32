// Program side of the search, queue, history and favourites commands.
#include "ui/search_commands.h"

#include <filesystem>
#include <mutex>
#include <shared_mutex>
#include <string_view>

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "songs/play_history.h"
#include "songs/song_catalog.h"
#include "songs/song_indexes.h"
#include "songs/song_list.h"

namespace {

std::wstring ArgumentOf(const std::wstring& message) {
  size_t colon = message.find(L':');
  return colon == std::wstring::npos ? std::wstring() : message.substr(colon + 1);
}

std::wstring First16(const std::wstring& text) { return text.substr(0, 16); }

}  // namespace

void HandleHistorySave(const std::wstring& message) { SavePlayHistory(ArgumentOf(message)); }

void HandleFavSave(const std::wstring& message) { SaveFavorites(ArgumentOf(message)); }

void HandleSwitchToKoreanIme(const std::wstring&) {
  // The browser window's renderer does not follow a system input-method switch; the page composes
  // Hangul from key codes itself, so there is nothing to switch here.
  DebugLog(L"[IME] 한글 입력 전환 요청: 화면이 한글을 직접 조합하므로 전환하지 않음");
}

void HandleDumpSong(const std::wstring& message) {
  int n = LeadingInt(ArgumentOf(message));
  if (n <= 0) return;
  const std::wstring tag = L"[곡점검 " + std::to_wstring(n) + L"] ";

  std::wstring koTitle, koSinger, koLine1;
  bool found = ReadPopCompanionText(n, koTitle, koSinger, koLine1);
  DebugLog(tag + L"E파일 " + (found ? L"있음" : L"없음/못읽음") + L" 제목=[" + koTitle + L"] 가수=[" + koSinger +
           L"] 첫가사=[" + First16(koLine1) + L"] -> 제목초성=[" + ExtractChosung(koTitle) + L"]");

  bool hit = false;
  std::wstring idxTitle, idxSinger;
  std::filesystem::path index = plat::RealPath(L"<root>/system/popko.idx");
  if (!index.empty()) {
    plat::ReadFileLines(index, [&](std::string_view line) {
      if (hit) return;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.empty() || line.front() == '#') return;
      if (std::optional<PopKoLine> parsed = ParsePopKoLine(line); parsed && parsed->number == n) {
        hit = true;
        idxTitle = std::move(parsed->title);
        idxSinger = std::move(parsed->singer);
      }
    });
  }
  DebugLog(tag + L"색인 " + (hit ? L"있음" : L"없음") + L" 제목=[" + idxTitle + L"] 가수=[" + idxSinger + L"]");

  std::shared_lock lock(SongLibrary.SongListMutex);
  for (const SongRecord& s : SongLibrary.SongList) {
    if (s.id != n) continue;
    DebugLog(tag + L"목록 nat=[" + s.nat + L"] 제목=[" + s.title + L"] 가수=[" + s.singer + L"] 제목초성=[" +
             s.chosung + L"] 가수초성=[" + s.singerChosung + L"] 첫가사=[" + First16(s.line1) + L"]");
    return;
  }
  DebugLog(tag + L"목록에 없는 곡입니다");
}
