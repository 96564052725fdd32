#include "playback/song_prep.h"

#include <algorithm>
#include <cwctype>
#include <mutex>
#include <shared_mutex>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/settings/song_settings.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "playback/player.h"
#include "playback/rhythm_style.h"
#include "playback/services.h"
#include "playback/song_position.h"
#include "playback/song_screen.h"
#include "playback/tempo.h"
#include "songs/bars.h"
#include "songs/chords.h"
#include "songs/keysig.h"
#include "songs/score_files.h"
#include "songs/song_file_cache.h"
#include "songs/song_list.h"
#include "songs/song_load.h"
#include "sound/rhythm_parts.h"
#include "sound/services.h"

namespace {

// One preparation at a time: a start command that arrives while a transition prepares its song
// waits for it.
std::mutex g_prepMutex;

std::wstring FileNameOf(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"/\\");
  return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

int CatalogueTempo(int number) {
  std::shared_lock lock(SongLibrary.SongListMutex);
  for (const SongRecord& r : SongLibrary.SongList)
    if (r.id == number) return r.tempo;
  return 0;
}

std::wstring LoudnessText(int tenths) {
  const int a = std::abs(tenths);
  return std::wstring(tenths < 0 ? L"-" : L"+") + std::to_wstring(a / 10) + L"." + std::to_wstring(a % 10);
}

// The bass notes of the song (port 1 channel 8) and of the active main pattern (its chord
// following notes of channel 8), for the bass register.
void SetBassRegister(const SongModel& song) {
  std::vector<int> songBass, styleBass;
  for (const SongEvent& e : song.SongEventList)
    if (e.kind == kSongEventChannel && e.port == 0 && e.status == 0x98 && e.data2 > 0) songBass.push_back(e.data1);
  {
    std::lock_guard set(RhythmStyles.SetMutex);  // the engine swaps the active set under it
    for (const StyleEvent& e : RhythmStyles.active.main.events)
      if (e.channel == 8 && e.kind == kStyleNoteOn && e.followChord) styleBass.push_back(e.data1);
  }
  RhythmParts.BassOctaveShift = BassOctaveShiftFor(std::move(songBass), std::move(styleBass));
}

}  // namespace

int BassOctaveShiftFor(std::vector<int> songBass, std::vector<int> styleBass) {
  if (songBass.empty() || styleBass.empty()) return 0;
  auto middle = [](std::vector<int>& v) {
    std::nth_element(v.begin(), v.begin() + static_cast<ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
  };
  const int d = middle(songBass) - middle(styleBass);
  const int octaves = d >= 0 ? (d + 6) / 12 : -((6 - d) / 12);
  return std::clamp(octaves, -2, 2) * 12;
}

std::wstring SongMidiPath(int number) {
  std::wstring n = std::to_wstring(number < 0 ? 0 : number);
  if (n.size() < 4) n.insert(0, 4 - n.size(), L'0');
  return L"<root>/system/P" + n + L".MID";
}

std::wstring SongTextPath(int number) {
  std::wstring n = std::to_wstring(number < 0 ? 0 : number);
  if (n.size() < 4) n.insert(0, 4 - n.size(), L'0');
  return L"<root>/system/P" + n + L".txt";
}

bool IsHalftimeSong(std::wstring_view midiPath) {
  const std::wstring name = Lower(FileNameOf(midiPath));
  auto bytes = plat::ReadFileBytes(plat::RealPath(L"<root>/system/halftime_songs.txt"));
  if (!bytes) return false;
  size_t pos = 0;
  while (pos < bytes->size()) {
    size_t end = bytes->find('\n', pos);
    if (end == std::string::npos) end = bytes->size();
    std::string_view line(bytes->data() + pos, end - pos);
    pos = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line.front() == '#') continue;
    if (Lower(Utf8ToWide(line)) == name) return true;
  }
  return false;
}

void PanicAllChannels() {
  for (MidiOutHandle h : {Sound.MidiOutPort1.load(), Sound.MidiOutPort2.load()}) {
    if (!h) continue;
    for (int c = 0; c < 16; ++c) {
      SendShortMidi(h, PackMidi(0xB0 | c, 123, 0));
      SendShortMidi(h, PackMidi(0xB0 | c, 121, 0));
      SendShortMidi(h, PackMidi(0xB0 | c, 64, 0));
    }
  }
}

namespace {

void RefuseSongFile(const std::wstring& midi, const std::wstring& why) {
  ShowPageNotice(L"곡 파일을 읽을 수 없습니다: " + plat::ShownPath(midi) + L" (" + why + L")");
}

}  // namespace

bool PrepareSongForPlay(const std::wstring& midi, const std::wstring& text) {
  std::lock_guard prep(g_prepMutex);
  CvtState.HomeAtNextBar = 0;
  DebugLog(L"[SONG] PrepareSongForPlay 진입: " + midi);
  PlaybackState.JumpTargetBar = -1;
  {
    std::lock_guard lock(PlaybackState.prepared.mu);
    PlaybackState.prepared.currentMidi = midi;
    PlaybackState.prepared.currentText = text;
  }
  PlaybackState.LastPostedBpm = -1;
  ClearPendingAttach();

  const bool wasPlaying = PlaybackState.isPlaying.load() != 0;
  if (wasPlaying || PlaybackState.PlayerThreadAlive.load()) {
    if (!StopPlayer(2000)) {
      // The song model must not change under a run that is still reading it.
      DebugLog(L"[SONG] 이전 재생이 2초 안에 끝나지 않아 곡 준비를 하지 않습니다");
      return false;
    }
  }
  if (wasPlaying && CvtState.CvtCarryTempo.us() == 0) {
    PanicAllChannels();
    PlaybackState.SongTick = 0;
  }
  CvtState.FillStarted = 0;
  PlaybackState.SkipStartMuteOnce = 1;
  PlaybackState.HalftimeSongFlag = IsHalftimeSong(midi) ? 1 : 0;
  if (!SongFileAvailable(midi)) {
    PostAlertToPage(L"MIDI 파일을 찾을 수 없습니다.");
    return false;
  }
  // An empty, huge or garbage file is refused aloud rather than played as a silent empty song.
  if (const std::wstring why = MidiFileRefusal(midi); !why.empty()) {
    RefuseSongFile(midi, why);
    return false;
  }

  bool reread = false;
  {
    std::lock_guard lock(PlaybackState.prepared.mu);
    reread = midi != PlaybackState.prepared.loadedMidi || text != PlaybackState.prepared.loadedText;
  }
  if (reread) {
    RebuildSongModel(midi, text, ApplyPatchTable);  // with the sound setup's tone substitutions
    // A new song: a fast jump must never reuse the previous song's controller state.
    PlaybackState.LastPlayedTick = 0;
    PlaybackState.LastPlayedValid = 0;
    ResetTrackingGlobals();  // tones held for the previous song are not this one's
    HeldSongTones.pending = 0;
    for (auto& row : Mixer.PatchVolumePercent)
      for (auto& v : row) v.store(100);
    const bool p1 = OpenMidiPort1(), p2 = OpenMidiPort2();
    DebugLog(L"[MIDI] 1포트 " + std::wstring(p1 ? L"열림" : L"*** 닫힘 ***") + L" [" +
             (Settings.port1Device.empty() ? DefaultPortName(0) : Settings.port1Device) + L"]  /  2포트 " +
             (p2 ? L"열림" : L"*** 닫힘 - 트랙17~32 무음 ***") + L" [" +
             (Settings.port2Device.empty() ? DefaultPortName(1) : Settings.port2Device) + L"]");
    std::lock_guard lock(PlaybackState.prepared.mu);
    PlaybackState.prepared.loadedMidi = midi;
    PlaybackState.prepared.loadedText = text;
  }
  const std::shared_ptr<const SongModel> song = LoadedSong();
  if (song->SongEventList.empty()) {
    RefuseSongFile(midi, L"재생할 내용이 없습니다");
    return false;
  }

  const int id = SongNumberFromMidiPath(midi);
  PlaybackState.CurrentSongId = id;
  if (auto it = SongSettings.UserKeyMap.find(id); id > 0 && it != SongSettings.UserKeyMap.end())
    ApplyStoredSingerKeys(*song, it->second.male, it->second.female);
  UpdateCurrentSongGain(id, song->SongLoudness);
  SetSongInitialTones(song->SongEventList);  // the "Default" tone choices fall back to these
  if (SongSettings.SongGainPercent != 100 || song->SongLoudness != kUnknownLoudness)
    DebugLog(L"[곡음량] " + std::to_wstring(id) + L" 실측 " + LoudnessText(song->SongLoudness) + L"dB -> 배율 " +
             std::to_wstring(SongSettings.SongGainPercent) + L"%" + (SongSettings.SongGainManual ? L" (사람이 정한 값)" : L" (자동)"));

  const int male = song->SingerTransposition.male.load(), female = song->SingerTransposition.female.load();
  const int mode = Settings.autoKeyMode;
  const int base = mode == 1 ? male : mode == 2 ? female : 0;
  int key = base;
  if (Settings.keepAdjust)
    key = std::clamp(base + std::clamp(PlaybackState.CurrentKey.load() - PlaybackState.SongBaseKey.load(), -12, 12), -24, 24);
  PlaybackState.CurrentKey = key;
  PlaybackState.ScoreKeyMode = mode;
  PlaybackState.SongBaseKey = base;
  const bool lock = PlaybackState.TempoLockOn.load() != 0;
  if (const int nextMode = PlaybackState.NextSongKeyMode.load(); nextMode >= 0) {
    const int v = (nextMode == 1 ? male : nextMode == 2 ? female : 0) + PlaybackState.NextSongKeyOffset.load();
    PlaybackState.CurrentKey = v;
    PlaybackState.ScoreKeyMode = nextMode;
    PlaybackState.SongBaseKey = v;
    if (!lock) SetTempoOffset(PlaybackState.NextSongTempoOffset.load());
    PlaybackState.NextSongKeyMode = -1;
    PlaybackState.NextSongKeyOffset = 0;
    PlaybackState.NextSongTempoOffset = 0;
  } else if (!lock) {
    auto it = SongSettings.SongTempoMap.find(id);
    SetTempoOffset(id >= 1 && it != SongSettings.SongTempoMap.end() ? it->second : 0);
  }
  const bool fixedApplied = ApplyFixedTempoForNewSong();
  DebugLog(L"[F10] 곡 시작 " + std::to_wstring(id) + L" - 고정 " + (Settings.cvtFixedOn ? L"ON" : L"OFF") + L" / CVT " +
           (CvtState.rhythm.load() ? L"가동" : L"정지") + L" / 예약대기 " +
           (CvtState.RhythmStartPending.load() ? L"예" : L"아니오") + L" / 템포락 " + (lock ? L"ON" : L"OFF") +
           L" -> 곡 " + std::to_wstring(song->SongBaseBpm) + L"bpm, 오프셋 " +
           std::to_wstring(PlaybackState.PendingTempoOffsetSet.load() ? PlaybackState.PendingTempoOffset.load()
                                                                      : PlaybackState.TempoOffsetBpm.load()) +
           (fixedApplied ? L" (고정 적용됨)" : L" (고정 미적용)"));

  uint32_t startTick = 0;
  if (const int bar = PlaybackState.NextSongStartBar.load(); bar > 0) {
    startTick = BarToTick(*song, bar);
    if (startTick != 0) {
      PlaybackState.skipToTick = startTick;
      PlaybackState.skipToTickSet = 1;
    }
  }
  PlaybackState.MedleySegmentEndTick = 0;
  if (const int endBar = PlaybackState.NextSongEndBar.load(); endBar >= 0) {
    const int e = endBar + 1;
    uint32_t tick = 0;
    if (static_cast<size_t>(e) < song->BarTicks.size()) tick = BarToTick(*song, e);
    if (tick == 0 && !song->SongEventList.empty()) tick = song->SongEventList.back().tick;
    if (tick == 0) DebugLog(L"[메들리] 끝 마디를 tick 으로 바꾸지 못했습니다(마디 " + std::to_wstring(e) + L")");
    PlaybackState.MedleySegmentEndTick = tick;
  }
  PlaybackState.NextSongStartBar = -1;
  PlaybackState.NextSongEndBar = -1;
  PlaybackState.MelodyMute = 0;
  PlaybackState.Solo1Mute = 0;
  PlaybackState.Solo2Mute = 0;

  BuildChordTimeline(*song);
  PrepareRhythmStyleForSong(*song);
  SetBassRegister(*song);
  SongScreenValues values;
  values.midiPath = midi;
  values.songNumber = id;
  values.catalogueTempo = CatalogueTempo(id);
  values.tempoOffset = PlaybackState.TempoOffsetBpm.load();
  values.currentKey = PlaybackState.CurrentKey.load();
  values.scoreKeyMode = PlaybackState.ScoreKeyMode.load();
  values.male = male;
  values.female = female;
  if (auto oct = ScoreFiles.ScoreOctMap.find(id); oct != ScoreFiles.ScoreOctMap.end())
    std::copy(oct->second.begin(), oct->second.end(), values.scoreOct);
  if (auto marks = ScoreFiles.UserMarkMap.find(id); marks != ScoreFiles.UserMarkMap.end()) {
    values.userMarkJ = marks->second.j;
    values.userMarkK = marks->second.k;
    values.userMarkV3 = marks->second.v3;
  }
  {
    std::lock_guard chords(Chords.ChordTimelineMutex);
    if (!Chords.ChordTimeline.empty()) values.lastChordTick = Chords.ChordTimeline.back().tick;
  }
  LoadKeySigTable();
  values.keySignatures = BuildPageKeySignatures(*song, midi);
  PlaybackState.LastPostedBpm = 0;
  PostSongScreenScript(*song, values);
  return true;
}
