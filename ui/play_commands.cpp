#include "ui/play_commands.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <thread>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/settings/song_settings.h"
#include "base/text.h"
#include "playback/medley.h"
#include "platform/clock.h"
#include "playback/player.h"
#include "playback/rhythm_engine.h"
#include "playback/rhythm_style.h"
#include "playback/services.h"
#include "playback/song_position.h"
#include "playback/song_prep.h"
#include "playback/song_screen.h"
#include "playback/song_start.h"
#include "playback/tempo.h"
#include "songs/bars.h"
#include "songs/chords.h"
#include "songs/keysig.h"
#include "songs/midi_probes.h"
#include "songs/score_files.h"
#include "songs/song_file_cache.h"
#include "sound/services.h"
#include "ui/presets.h"

namespace {

std::wstring ArgOf(const std::wstring& m) {
  const size_t colon = m.find(L':');
  return colon == std::wstring::npos ? std::wstring() : m.substr(colon + 1);
}

bool Playing() { return PlaybackState.isPlaying.load() != 0; }
bool RhythmOrPending() { return CvtState.rhythm.load() || CvtState.RhythmStartPending.load(); }

void PostDisplayUnguarded() {
  PostScriptToPage(L"updateTempoPitchDisplay(" + std::to_wstring(PlaybackState.TempoOffsetBpm.load()) + L"," +
                   std::to_wstring(PlaybackState.CurrentKey.load()) + L");");
}

// Silences what sounds when the key really changed while a song plays: a held note would
// otherwise stay at the old key.
void AllNotesOffOnKeyChange(int previousKey) {
  if (previousKey == PlaybackState.CurrentKey.load() || !Playing()) return;
  for (MidiOutHandle h : {Sound.MidiOutPort1.load(), Sound.MidiOutPort2.load()}) {
    if (!h) continue;
    for (int c = 0; c < 16; ++c)
      if (c < 9 || c > 12) SendShortMidi(h, PackMidi(0xB0 | c, 123, 0));
  }
}

void StepKey(int delta) {
  const int previous = PlaybackState.CurrentKey.fetch_add(delta);
  AllNotesOffOnKeyChange(previous);
  PostDisplayUnguarded();
}

void SetKeyMode(int mode) {
  PlaybackState.ScoreKeyMode = mode;
  PostScriptToPage(PageCall(L"setScoreKeyMode", mode));
  const auto song = LoadedSong();
  const int key = mode == 1 ? song->SingerTransposition.male.load() : mode == 2 ? song->SingerTransposition.female.load() : 0;
  const int previous = PlaybackState.CurrentKey.exchange(key);
  AllNotesOffOnKeyChange(previous);
  PostDisplayUnguarded();
}

void JumpToMark(uint32_t markId, const wchar_t* missing) {
  const long long t = FindJumpMarkTick(*LoadedSong(), markId);
  if (t < 0) {
    PostAlertToPage(missing);
    return;
  }
  JumpToTick(static_cast<uint32_t>(t), false, false, true);
}

// A user mark of the current song within the song's tick range; -1 when unset.
long long CurrentUserMark(int64_t UserMarks::*which) {
  const auto it = ScoreFiles.UserMarkMap.find(PlaybackState.CurrentSongId.load());
  if (it == ScoreFiles.UserMarkMap.end()) return -1;
  const int64_t t = it->second.*which;
  return t >= 0 && t <= UINT32_MAX ? t : -1;
}

void JumpToBar(int bar) {
  PlaybackState.JumpTargetBar = bar;
  JumpToTick(BarToTick(bar), true, false, false);
}

// The song's files are read and analysed on a worker: the window thread stays free for the page
// while a large or slow file loads.
void LoadAndPlayOffWindowThread(std::wstring midi, std::wstring text) {
  try {
    std::thread([midi, text] { LoadAndPlay(midi, text); }).detach();
  } catch (const std::system_error&) {
    LoadAndPlay(midi, text);  // no thread to be had: here, as before
  }
}

}  // namespace

// ---- song start, transitions and rhythm -----------------------------------------------------

void HandleStartSongId(const std::wstring& m) {
  DebugLog(L"[MSG] " + m);
  const std::wstring arg = ArgOf(m);
  const int n = LeadingInt(arg);
  ParseNextSongArgs(arg);
  LoadAndPlayOffWindowThread(SongMidiPath(n), SongTextPath(n));
}

void HandlePrewarmSong(const std::wstring& m) {
  const int n = LeadingInt(ArgOf(m));
  if (n > 0) PrewarmSongFiles(SongMidiPath(n), SongTextPath(n));
}

void HandleNoReserved(const std::wstring&) { PostAlertToPage(L"예약된 곡이 없습니다. F1로 곡을 찾아 예약해주세요."); }

void HandleReplayLast(const std::wstring&) {
  DebugLog(L"[MSG] REPLAY_LAST");
  std::wstring midi, text;
  {
    std::lock_guard lock(PlaybackState.prepared.mu);
    midi = PlaybackState.prepared.currentMidi;
    text = PlaybackState.prepared.currentText;
  }
  if (midi.empty()) HandleNoReserved(L"");
  else LoadAndPlayOffWindowThread(midi, text);
}

void HandleNextSong(const std::wstring&) { StartNextSongThread(-1); }

void HandleNextSongId(const std::wstring& m) {
  const std::wstring arg = ArgOf(m);
  ParseNextSongArgs(arg);
  CheckMedleyNextSong(LeadingInt(arg));
  StartNextSongThread(LeadingInt(arg));
}

void HandleAutoNextSongId(const std::wstring& m) {
  const std::wstring arg = ArgOf(m);
  ParseNextSongArgs(arg);
  CheckMedleyNextSong(LeadingInt(arg));
  StartAutoNextSongThread(LeadingInt(arg));
}

void HandleResetHome(const std::wstring&) { PanicAndResetHome(); }

void HandleAltA(const std::wstring&) {
  if (CvtState.rhythm.load() && Playing()) EndOriginalKeepRhythm();
  else PanicAndResetHome();
}

void HandleAltX(const std::wstring&) {
  if (!Playing() && !CvtState.rhythm.load()) PostScriptToPage(PageCall(L"showQuitConfirm"));
  else PanicAndResetHome();
}

void HandleAltzEndNow(const std::wstring&) {
  if (!Playing()) return;
  const auto song = LoadedSong();
  long long t = FindJumpMarkTick(*song, 45);
  if (t < 0) t = FindJumpMarkTick(*song, 40);
  if (t >= 0) JumpToTick(static_cast<uint32_t>(t), false, false, true);
  else PostScriptToPage(PageCall(L"handleSongNaturalEnd"));
}

void HandleSongEndNoNext(const std::wstring&) {
  const int bpm = LoadedSong()->SongBaseBpm;
  if (RhythmOrPending()) {
    EndOriginalKeepRhythm();
    return;
  }
  PanicAndResetHome();
  if (bpm > 0) StartRhythmAfterSong(bpm);
}

void HandleSongEndNoNextStop(const std::wstring&) {
  if (!RhythmOrPending()) {
    PanicAndResetHome();
    DebugLog(L"곡 끝 + 다음곡 없음 - CVT 도 꺼져 있어 완전 정지");
    return;
  }
  RhythmEngine.HomeAtNextBarTime = plat::TimeGetTime();
  CvtState.HomeAtNextBar = 1;
  DebugLogAsync(L"곡 끝 + 다음곡 없음 - 다음 마디 경계에서 초기화면 전환 예약(CVT 는 계속 흐름)");
}

void HandleSetPlayMode(const std::wstring& m) {
  const std::wstring arg = ArgOf(m);
  PlaybackState.MedleyPlayMode = arg.size() >= 3 && arg[1] == L':' && arg[2] == L'1' ? 1 : 0;
  DebugLog(L"연주모드 변경(R:MD) = " + arg);
}

void HandleTogglePause(const std::wstring&) {
  if (!Playing()) {
    if (RhythmOrPending()) StopCvtRhythm();
    else StartCvtRhythm();
    return;
  }
  if (!PlaybackState.paused.load()) {
    PlaybackState.paused = 1;
    return;
  }
  const uint32_t tick = BarToTick(CurrentBarIndex());
  PlaybackState.ResumeAfterJump = 1;
  JumpToTick(tick, false, false, false);
}

void HandleEndingFlourish(const std::wstring&) { StartEndingFlourish(); }

// ---- position, tempo and key ----------------------------------------------------------------

// A style with a tempo of its own (SG1) plays at that tempo whatever the song's offset: the keys
// move it too, within 30..250 bpm.
void HandleTempoDown(const std::wstring&) {
  PlaybackState.TempoOffsetBpm.fetch_sub(1);
  int bpm = RhythmStyles.ActiveStyleBpm.load();
  while (bpm > 30 && !RhythmStyles.ActiveStyleBpm.compare_exchange_weak(bpm, bpm - 1)) {
  }
  PostDisplayUnguarded();
}
void HandleTempoUp(const std::wstring&) {
  PlaybackState.TempoOffsetBpm.fetch_add(1);
  int bpm = RhythmStyles.ActiveStyleBpm.load();
  while (bpm >= 1 && bpm <= 249 && !RhythmStyles.ActiveStyleBpm.compare_exchange_weak(bpm, bpm + 1)) {
  }
  PostDisplayUnguarded();
}
void HandlePitchDown(const std::wstring&) { StepKey(-1); }
void HandlePitchUp(const std::wstring&) { StepKey(1); }
void HandlePitchUpOct(const std::wstring&) { StepKey(12); }
void HandlePitchDownOct(const std::wstring&) { StepKey(-12); }
void HandlePitchOrig(const std::wstring&) { SetKeyMode(0); }
void HandlePitchMale(const std::wstring&) { SetKeyMode(1); }
void HandlePitchFemale(const std::wstring&) { SetKeyMode(2); }
void HandleTempoLockToggle(const std::wstring&) { ToggleTempoLock(); }

void HandleJumpVerse1(const std::wstring&) { JumpToMark(10, L"이 곡에는 '1절 시작' 표시가 없습니다."); }
void HandleJumpVerse2(const std::wstring&) { JumpToMark(30, L"이 곡에는 '2절 시작' 표시가 없습니다."); }
void HandleJumpIntro1(const std::wstring&) { JumpToMark(5, L"이 곡에는 '짧은 전주' 표시가 없습니다."); }
void HandleJumpIntro2(const std::wstring&) { JumpToMark(25, L"이 곡에는 '짧은 간주' 표시가 없습니다."); }
// The operator's own mark of the current song first, else the song's mark.
void HandleJumpUserMarkJ(const std::wstring&) {
  if (const long long t = CurrentUserMark(&UserMarks::j); t >= 0) {
    JumpToTick(static_cast<uint32_t>(t), false, false, true);
    return;
  }
  JumpToMark(5, L"'전주짧게' 지점이 없습니다.\n원하는 위치(마디)에서 K를 누르면 마크가 저장되고, 이후 ,(콤마)로 이동합니다.");
}
void HandleJumpUserMarkK(const std::wstring&) {
  if (const long long t = CurrentUserMark(&UserMarks::k); t >= 0) {
    JumpToTick(static_cast<uint32_t>(t), false, false, true);
    return;
  }
  JumpToMark(25, L"'간주짧게' 지점이 없습니다.\n원하는 위치(마디)에서 L을 누르면 마크가 저장되고, 이후 .(마침표)로 이동합니다.");
}

void HandleJumpPrevMeasure(const std::wstring&) { JumpToBar(std::max(0, CurrentBarIndex() - 1)); }

void HandleJumpNextMeasure(const std::wstring&) {
  int bar = CurrentBarIndex() + 1;
  const auto song = LoadedSong();
  if (!song->BarTicks.empty()) bar = std::min(bar, static_cast<int>(song->BarTicks.size()) - 1);
  JumpToBar(bar);
}

void HandleJumpCurMeasure(const std::wstring&) {
  const int bar = TickToBar(PlaybackState.SongTick.load());
  PlaybackState.JumpTargetBar = bar;
  PlaybackState.ResumeAfterJump = 1;
  JumpToTick(BarToTick(bar), true, false, false);
}

void HandleJumpCc(const std::wstring& m) {
  const int n = LeadingInt(ArgOf(m));
  const auto song = LoadedSong();
  if (n == 0) {
    uint32_t target = 0;
    for (const SongEvent& e : song->SongEventList)
      if (e.kind == kSongEventChannel && (e.status & 0xF0) == 0x90 && e.data2 > 0) {
        target = e.tick;
        break;
      }
    JumpToTick(target, false, true, true);
    return;
  }
  long long t = n == 33 ? CurrentUserMark(&UserMarks::v3) : -1;
  if (t < 0) t = n > 0 ? FindJumpMarkTick(*song, static_cast<uint32_t>(n)) : -1;
  if (t < 0) {
    PostAlertToPage(n == 33 ? L"이 곡에는 '3절' 표시가 없습니다.\n원하는 위치(마디)에서 i 를 누르면 3절 자리가 "
                              L"저장되고, 이후 F6 → 8 로 이동합니다."
                            : L"이 곡에는 해당 구간 표시가 없습니다.");
    return;
  }
  JumpToTick(static_cast<uint32_t>(t), false, false, true);
}

void HandleGetMelodyRange(const std::wstring& m) {
  const int n = LeadingInt(ArgOf(m));
  if (n <= 0) return;
  int low = -1, high = -1;
  if (!ReadMelodyNoteRange(n, low, high)) low = high = -1;
  PostScriptToPage(PageCall(L"setMelodyRange", n, low, high));
}

void HandleActiveChord(const std::wstring& m) { SetPageActiveChord(ArgOf(m)); }

void HandleSetUserKey(const std::wstring& m) {
  const std::wstring arg = ArgOf(m);
  const size_t c1 = arg.find(L','), c2 = c1 == std::wstring::npos ? c1 : arg.find(L',', c1 + 1);
  if (c2 != std::wstring::npos) {
    const int song = LeadingInt(std::wstring_view(arg).substr(0, c1));
    const int male = LeadingInt(std::wstring_view(arg).substr(c1 + 1, c2 - c1 - 1));
    const int female = LeadingInt(std::wstring_view(arg).substr(c2 + 1));
    if (song > 0) {
      SongSettings.UserKeyMap[song] = UserKey{male, female};
      SaveUserKeys();
      if (song == PlaybackState.CurrentSongId.load()) {
        const auto loaded = LoadedSong();
        ApplyStoredSingerKeys(*loaded, male, female);
        if (Settings.autoKeyMode == 1) PlaybackState.CurrentKey = loaded->SingerTransposition.male.load();
        else if (Settings.autoKeyMode == 2) PlaybackState.CurrentKey = loaded->SingerTransposition.female.load();
      }
    }
  }
  PostScriptToPage(PageCall(L"initUserKeys", ScriptLiteral{BuildUserKeyIdList()}) + PageCall(L"renderSearchResults"));
}

void HandleF10Req(const std::wstring&) { PushF10Panel(); }

void HandleF10Set(const std::wstring& m) {
  const std::wstring arg = ArgOf(m);
  const size_t colon = arg.find(L':');
  const int which = LeadingInt(arg);
  const int value = colon == std::wstring::npos ? 0 : LeadingInt(std::wstring_view(arg).substr(colon + 1));
  if (which == 0) {
    Settings.cvtFixedBpm = std::clamp(value, 30, 300);
    PushTempoPitchDisplay();
    if (!Settings.cvtFixedOn && CvtState.rhythm.load() && !Playing()) ApplyFixedBpmWhenStopped();
  } else if (which == 1) {
    Settings.boxSpeed = std::clamp(value, 25, 400);
  } else if (which == 2) {
    SetTempoPercent(value);
    PostTempoPitchDisplay();
  }
  PushF10Panel();
}

void HandleF10Fix(const std::wstring&) {
  Settings.cvtFixedOn = Settings.cvtFixedOn ? 0 : 1;
  PushTempoPitchDisplay();
  DebugLog(L"[F10] CVT 고정템포 " + std::wstring(Settings.cvtFixedOn ? L"켬 " : L"끔 ") +
           std::to_wstring(Settings.cvtFixedBpm) + L"bpm (CVT " + (CvtState.rhythm.load() ? L"가동" : L"정지") + L", 곡 " +
           std::to_wstring(LoadedSong()->SongBaseBpm) + L"bpm, 오프셋 " +
           std::to_wstring(PlaybackState.TempoOffsetBpm.load()) + L")");
  PushF10Panel();
}

void HandleF10SaveSong(const std::wstring&) {
  const int song = PlaybackState.CurrentSongId.load();
  if (song < 1) {
    PostAlertToPage(L"곡을 먼저 거신 뒤에 눌러 주세요.");
    return;
  }
  const bool fixedSaved = PlaybackState.FixedOffsetSaved.load() != 0;
  const int value = fixedSaved                                    ? PlaybackState.SavedUserOffset.load()
                    : PlaybackState.PendingTempoOffsetSet.load() ? PlaybackState.PendingTempoOffset.load()
                                                                  : PlaybackState.TempoOffsetBpm.load();
  if (value == 0) SongSettings.SongTempoMap.erase(song);
  else SongSettings.SongTempoMap[song] = value;
  SaveSongTempos();
  DebugLog(L"[F10] 곡 템포 저장 " + std::to_wstring(song) + L" = " + std::to_wstring(value) + L"bpm" +
           (fixedSaved ? L" (고정 제외한 값)" : L""));
  PushF10Panel();
  const int bpm = LoadedSong()->SongBaseBpm;
  const int percent = bpm < 1 ? 100 : static_cast<int>(std::lround((value + bpm) * 100.0 / bpm));
  ShowPageToast(value == 0 ? std::wstring(L"이 곡 템포 저장 해제 - 원곡 그대로")
                           : L"이 곡 템포 저장  " + std::to_wstring(song) + L"번  " + std::to_wstring(percent) + L"%");
}

void HandleF10SaveBox(const std::wstring&) {
  SaveAppSettings();
  SetPresetAppKey("cvtFixedBpm", std::to_string(Settings.cvtFixedBpm));
  SetPresetAppKey("boxSpeed", std::to_string(Settings.boxSpeed));
  SetPresetAppKey("cvtFixedOn", Settings.cvtFixedOn ? "1" : "0");
  const std::wstring on = Settings.cvtFixedOn ? L"ON" : L"OFF";
  DebugLog(L"[F10] 리듬박스 템포 저장 " + std::to_wstring(Settings.cvtFixedBpm) + L"bpm / 속도 " +
           std::to_wstring(Settings.boxSpeed) + L"% / 고정 " + on + L" (프리셋 1번에도 반영)");
  ShowPageToast(L"리듬박스 저장  " + std::to_wstring(Settings.cvtFixedBpm) + L"bpm  ·  속도 " +
                std::to_wstring(Settings.boxSpeed) + L"%  ·  고정 " + on);
}
