#include "ui/score_commands.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "playback/services.h"
#include "songs/bars.h"
#include "songs/score_files.h"

namespace {

std::wstring_view ArgOf(const std::wstring& m) {
  const size_t colon = m.find(L':');
  return colon == std::wstring::npos ? std::wstring_view() : std::wstring_view(m).substr(colon + 1);
}

// The mark toast: an element of its own near the top centre (the lists' toast has another), shown
// for 1.8 seconds.
void ShowMarkToast(const std::wstring& text) {
  PostScriptToPage(GuardedScript(
      L"var d=document.getElementById('mark-toast');if(!d){d=document.createElement('div');d.id='mark-toast';"
      L"d.style.cssText='position:fixed;top:70px;left:50%;transform:translateX(-50%);background:rgba(0,0,0,0.82);"
      L"color:#ffd479;font-size:26px;font-weight:900;padding:12px 30px;border-radius:12px;z-index:400;"
      L"display:none;font-family:Malgun Gothic,sans-serif;';document.body.appendChild(d);}d.textContent=" +
      ScriptString(text) +
      L";d.style.display='block';clearTimeout(window.__umt);window.__umt=setTimeout(function(){d.style.display="
      L"'none';},1800);"));
}

}  // namespace

int ScanColonInts(std::wstring_view s, int* out, int n) {
  size_t i = 0;
  int count = 0;
  for (int k = 0; k < n; ++k) {
    while (i < s.size() && (s[i] == L' ' || s[i] == L'\t' || s[i] == L'\n' || s[i] == L'\r')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == L'-' || s[i] == L'+')) negative = s[i++] == L'-';
    if (i >= s.size() || s[i] < L'0' || s[i] > L'9') break;
    int64_t v = 0;
    while (i < s.size() && s[i] >= L'0' && s[i] <= L'9') {
      v = std::min<int64_t>(v * 10 + (s[i] - L'0'), int64_t{INT_MAX} + 1);
      ++i;
    }
    if (negative) v = -v;
    out[k] = static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
    ++count;
    if (k + 1 < n) {
      if (i >= s.size() || s[i] != L':') break;
      ++i;
    }
  }
  return count;
}

void HandleScoreOctSave(const std::wstring& m) {
  int v[5] = {0, 0, 0, 0, 0};
  if (ScanColonInts(ArgOf(m), v, 5) != 5 || v[0] <= 0) return;
  if (v[1] == 0 && v[2] == 0 && v[3] == 0 && v[4] == 0) ScoreFiles.ScoreOctMap.erase(v[0]);
  else ScoreFiles.ScoreOctMap[v[0]] = {v[1], v[2], v[3], v[4]};
  SaveScoreOctConfig();
}

void HandleSetUserMark(const std::wstring& m) {
  const wchar_t letter = m.size() > 13 ? m[13] : L'\0';
  if (letter != L'J' && letter != L'K' && letter != L'V') return;
  const int song = PlaybackState.CurrentSongId.load();
  if (song < 1 || !PlaybackState.isPlaying.load()) {
    PostAlertToPage(L"곡이 열려 있을 때(재생/일시정지 중) 마크를 저장할 수 있습니다.");
    return;
  }
  const int bar = TickToBar(PlaybackState.SongTick.load());
  const uint32_t tick = BarToTick(bar);
  UserMarks& marks = ScoreFiles.UserMarkMap[song];
  (letter == L'J' ? marks.j : letter == L'K' ? marks.k : marks.v3) = tick;
  SaveUserMarks();
  const wchar_t* what = letter == L'V' ? L" 3절" : letter == L'J' ? L" 전주짧게" : L" 간주짧게";
  DebugLogAsync(L"[마크저장] 곡 " + std::to_wstring(song) + what + L" = " + std::to_wstring(bar + 1) + L"마디(tick " +
                std::to_wstring(tick) + L")");
  const std::wstring n = std::to_wstring(bar + 1);
  ShowMarkToast(letter == L'V'   ? L"3절 마크 저장: " + n + L"마디 ( F6 -> 8 로 이동)"
                : letter == L'J' ? L"전주짧게 마크 저장: " + n + L"마디 ( , 키로 이동)"
                                 : L"간주짧게 마크 저장: " + n + L"마디 ( . 키로 이동)");
}

void HandleSetChordY(const std::wstring& m) {
  Settings.chordYAdj = std::clamp(LeadingInt(ArgOf(m)), -100, 100);
  SaveAppSettings();
}

void HandleSetJumpMarkY(const std::wstring& m) {
  Settings.jumpMarkYAdj = std::clamp(LeadingInt(ArgOf(m)), -100, 100);
  SaveAppSettings();
}

void HandleSetFullScore(const std::wstring& m) {
  Settings.fullScore = LeadingInt(ArgOf(m)) != 0 ? 1 : 0;
  SaveAppSettings();
}

void HandleSetScoreText(const std::wstring& m) {
  int v[8];
  if (ScanColonInts(ArgOf(m), v, 8) != 8) return;
  Settings.scLyrSize = std::clamp(v[0], 50, 250);
  Settings.scLyrColor = std::clamp(v[1], 0, 7);
  Settings.scLyrBold = std::clamp(v[2], 0, 2);
  Settings.scLyrOutline = std::clamp(v[3], 0, 2);
  Settings.scChdSize = std::clamp(v[4], 50, 250);
  Settings.scChdColor = std::clamp(v[5], 0, 7);
  Settings.scChdBold = std::clamp(v[6], 0, 2);
  Settings.scChdOutline = std::clamp(v[7], 0, 2);
  SaveAppSettings();
}
