#include "playback/song_screen.h"

#include <algorithm>
#include <atomic>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/text.h"
#include "base/trace_log.h"
#include "songs/bars.h"

namespace {

struct NamedMark {
  uint32_t id;
  const wchar_t* name;
};
constexpr NamedMark kNamedMarks[] = {{0, L"전주"},  {5, L"전주·짧"}, {10, L"1절"},  {20, L"간주"},   {25, L"간주·짧"},
                                     {30, L"2절"}, {33, L"3절"},     {40, L"엔딩"}, {45, L"엔딩·짧"}};

std::wstring W(long long v) { return std::to_wstring(v); }

}  // namespace

int DrumNoteLane(int channel, int note) {
  switch (note) {
    case 35: case 36: return 0;
    case 38: case 40: return 1;
    case 42: return 2;
    case 48: case 50: return 3;
    case 49: case 52: case 55: case 57: return 4;
    case 46: return 5;
    case 51: case 59: return 6;
    case 53: return 7;
    case 44: return 8;
    case 37: case 39: return 9;
    case 45: case 47: return 10;
    case 41: case 43: return 11;
    default: break;
  }
  if (note >= 27 && note <= 81) return 12;
  return channel == 9 ? 0 : channel == 10 ? 1 : channel == 11 ? 2 : 10;
}

std::wstring FormatIntTriples(const std::vector<NoteSpan>& list) {
  std::wstring out = L"[";
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) out += L',';
    out += L'[' + W(list[i].note) + L',' + W(static_cast<uint32_t>(list[i].start)) + L',' +
           W(static_cast<uint32_t>(list[i].length)) + L']';
  }
  return out + L']';
}

uint32_t SnapMarkToFirstNote(const SongModel& song, uint32_t markTick, double beats) {
  const int ppq = song.SongPpq > 0 ? song.SongPpq : 120;
  const uint64_t limit = markTick + static_cast<uint64_t>(ppq * beats);
  for (const SongEvent& e : song.SongEventList) {
    if (e.tick > limit) break;
    if (e.tick >= markTick && e.kind == kSongEventChannel && (e.status & 0xF0) == 0x90 && e.data2 > 0) {
      TraceLog(L"[SNAP] mark=%u -> firstNote=%u (+%u ticks)\n", markTick, e.tick, e.tick - markTick);
      return e.tick;
    }
  }
  TraceLog(L"[SNAP] mark=%u -> 그대로(%.1f박 안에 음 없음)\n", markTick, beats);
  return markTick;
}

std::wstring BuildSongScreenScript(const SongModel& song, const SongScreenValues& v) {
  const int ppq = song.SongPpq > 0 ? song.SongPpq : 120;
  // Bass notes of port 1 channel 9 (0-based 8) and drum hits of channels 10 to 13.
  std::vector<NoteSpan> bass;
  int open[128];
  std::fill(std::begin(open), std::end(open), -1);
  std::wstring drums = L"[";
  bool firstDrum = true;
  for (const SongEvent& e : song.SongEventList) {
    if (e.kind != kSongEventChannel || e.port != 0 || e.data1 > 127) continue;
    const int ch = e.status & 0x0F, kind = e.status & 0xF0;
    if (ch == 8) {
      if (kind == 0x90 && e.data2 > 0) {
        open[e.data1] = static_cast<int>(bass.size());
        bass.push_back({e.data1, static_cast<int>(e.tick), 0});
      } else if ((kind == 0x80 || kind == 0x90) && open[e.data1] >= 0) {
        NoteSpan& n = bass[static_cast<size_t>(open[e.data1])];
        n.length = static_cast<int>(e.tick - static_cast<uint32_t>(n.start));
        open[e.data1] = -1;
      }
    } else if (ch >= 9 && ch <= 12 && kind == 0x90 && e.data2 > 0) {
      if (!firstDrum) drums += L',';
      firstDrum = false;
      drums += L'[' + W(DrumNoteLane(ch, e.data1)) + L',' + W(e.tick) + L',' + W(e.data2) + L']';
    }
  }
  drums += L']';

  uint64_t last = v.lastChordTick;
  for (const auto& n : song.MelodyNotes) last = std::max<uint64_t>(last, static_cast<uint64_t>(n.start) + static_cast<uint32_t>(n.length));
  for (const auto& n : song.SecondStaffNotes)
    last = std::max<uint64_t>(last, static_cast<uint64_t>(n.start) + static_cast<uint32_t>(n.length));
  for (uint32_t t : song.LyricSyncTicks) last = std::max<uint64_t>(last, t);
  std::vector<uint32_t> measures;
  for (uint32_t b : song.BarTicks) {
    if (b > last + 16ull * static_cast<uint64_t>(ppq)) break;
    measures.push_back(b);
  }
  std::wstring keysigs = L"[";
  for (size_t i = 0; i < v.keySignatures.size(); ++i) {
    if (i) keysigs += L',';
    keysigs += L'[' + W(v.keySignatures[i].first) + L',' + W(v.keySignatures[i].second) + L']';
  }
  keysigs += L']';

  const std::wstring title = song.SongTitle.empty() ? L"제목 없음" : song.SongTitle + L" - " + song.SongSinger;
  const std::wstring history = song.SongTitle.empty() ? std::wstring(L"제목 없음") : song.SongTitle;
  const int baseTempo = song.SongBaseBpm >= 1 ? song.SongBaseBpm : v.catalogueTempo;
  const long long v1 = FindJumpMarkTick(song, 10), v2 = FindJumpMarkTick(song, 30);

  const SongLength length = ComputeSongLength(song);
  DebugLog(L"[SONG] 곡 길이: " + W(length.lastTick) + L"틱 / " + W(length.ms / 1000) + L"초(원래 템포 기준)");

  std::wstring marks = L"[", present, absent;
  auto addMark = [&](long long t, const std::wstring& name, long long f) {
    if (marks.size() > 1) marks += L',';
    marks += L"{t:" + W(t) + L",n:" + ScriptString(name) + L",f:" + W(f) + L'}';
  };
  for (const NamedMark& m : kNamedMarks) {
    const long long t = FindJumpMarkTick(song, m.id);
    if (t < 0) {
      if (!absent.empty()) absent += L' ';
      absent += m.name;
      continue;
    }
    if (!present.empty()) present += L' ';
    present += std::wstring(m.name) + L"(" + W(t) + L")";
    addMark(t, m.name, SnapMarkToFirstNote(song, static_cast<uint32_t>(t), 2.0));
  }
  DebugLog(L"[구간표시] 있음: " + (present.empty() ? std::wstring(L"(없음)") : present) + L"  /  없음: " +
           (absent.empty() ? std::wstring(L"(없음)") : absent));
  if (v.userMarkJ >= 0) addMark(v.userMarkJ, L"J", v.userMarkJ);
  if (v.userMarkK >= 0) addMark(v.userMarkK, L"K", v.userMarkK);
  if (v.userMarkV3 >= 0) addMark(v.userMarkV3, L"3절", v.userMarkV3);
  marks += L']';

  // A song text without a key line is drawn in C.
  const int keyRoot = std::max(0, static_cast<int>(song.SongKeyRoots.originalRoot));
  // Each call has its own guard: a page without one of them still takes the others.
  std::wstring s;
  s.reserve(30000);
  s += PageCall(L"initSong", title, ppq, ScriptLiteral{FormatIntTriples(song.MelodyNotes)},
                ScriptLiteral{FormatIntTriples(bass)}, ScriptLiteral{FormatIntTriples(song.SecondStaffNotes)},
                song.LyricSyncTicks, keyRoot, song.SongKeyRoots.originalMinor ? 1 : 0,
                song.ChordLines, song.LyricLines, measures, baseTempo, history, v.songNumber, v1, v2,
                song.ExtraTextLines);
  s += PageCall(L"initDrumNotes", ScriptLiteral{drums});
  s += PageCall(L"initKeySigs", ScriptLiteral{keysigs});
  s += PageCall(L"setCurSongKeys", v.songNumber, v.male, v.female);
  s += PageCall(L"updateTempoPitchDisplay", v.tempoOffset, v.currentKey);
  s += PageCall(L"updateMelodyMuteDisplay", false);
  s += PageCall(L"updateSoloMuteDisplay", 1, false);
  s += PageCall(L"updateSoloMuteDisplay", 2, false);
  s += PageCall(L"setScoreKeyMode", v.scoreKeyMode);
  s += PageCall(L"initScoreOct", v.scoreOct[0], v.scoreOct[1], v.scoreOct[2], v.scoreOct[3]);
  s += PageCall(L"setSongLength", length.lastTick, length.ms, length.msAtFirstTempo);
  s += PageCall(L"setJumpMarks", ScriptLiteral{marks});
  return s;
}

namespace {
std::atomic<void (*)(const std::wstring&)> g_storeScreenScript{nullptr};
}  // namespace

void SetSongScreenCache(void (*store)(const std::wstring& script)) { g_storeScreenScript = store; }

void PostSongScreenScript(const SongModel& song, const SongScreenValues& values) {
  const std::wstring script = BuildSongScreenScript(song, values);
  DebugLog(L"[SONG] 화면 스크립트 생성 완료 " + std::to_wstring(script.size()) + L"자 - 게시");
  if (auto store = g_storeScreenScript.load()) store(script);
  PostScriptToPage(script);
}
