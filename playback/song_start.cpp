#include "playback/song_start.h"

#include "playback/rhythm_attach.h"

#include <mutex>
#include <thread>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "base/trace_log.h"
#include "platform/clock.h"
#include "playback/player.h"
#include "playback/services.h"
#include "playback/song_prep.h"
#include "songs/song_file_cache.h"
#include "songs/song_model.h"
#include "sound/send_trace.h"
#include "sound/services.h"

namespace {

constexpr uint32_t kStartGuardMs = 3000;

// Jumps and transitions: one at a time.
std::mutex g_moveMutex;

}  // namespace

std::unique_lock<std::mutex> TryBeginMove() { return std::unique_lock(g_moveMutex, std::try_to_lock); }

void LoadAndPlay(const std::wstring& midi, const std::wstring& text) {
  const uint32_t now = plat::TimeGetTime();
  uint32_t guard = PlaybackState.SongStartGuardTime.load();
  // Accept the start only by taking the guard: two starts at once cannot both pass.
  for (;;) {
    if (guard != 0 && now - guard < kStartGuardMs) {
      DebugLog(L"[SONG] 곡 시작 요청 무시 - 직전 곡이 아직 시작 중입니다(엔터 연타 보호)");
      return;
    }
    if (PlaybackState.SongStartGuardTime.compare_exchange_weak(guard, now == 0 ? 1 : now)) break;
  }
  DebugLog(L"[SONG] LoadAndPlay 진입: " + midi + L"  rhythm=" + (CvtState.rhythm.load() ? L"1" : L"0"));
  ClearPendingAttach();
  TraceStopwatchStart(L"ALT+Z/엔터");
  if (TryAttachToRunningRhythm(midi, text)) return;
  // The diagnostics of a song start: the module loading up to the first note, the send load.
  StartPerfMonitor();
  ArmLoadTrace();
  if (!PrepareSongForPlay(midi, text) || LoadedSong()->SongEventList.empty() || !StartPlayMidiThread())
    PlaybackState.SongStartGuardTime = 0;
}

bool JumpToTick(uint32_t t, bool preservePause, bool useLeadIn, bool cut) {
  std::unique_lock move = TryBeginMove();
  if (!move) {
    DebugLog(L"[JMP] 이전 이동이 아직 진행 중 - 이번 이동은 하지 않습니다");
    return false;
  }
  ClearCcCache();
  TraceStopwatchStart(preservePause && useLeadIn ? L"JUMP arrow+lead" : preservePause ? L"JUMP arrow" : L"JUMP F6");
  const bool paused = PlaybackState.paused.load() != 0;
  TraceLog(L"[JMP] target=%u preservePause=%d useLeadIn=%d playing=%d paused=%d\n", t, preservePause ? 1 : 0,
           useLeadIn ? 1 : 0, PlaybackState.isPlaying.load() ? 1 : 0, paused ? 1 : 0);
  if (PlaybackState.isPlaying.load() || PlaybackState.PlayerThreadAlive.load()) {
    if (!paused && !preservePause && !cut) FadeOutVolumes();
    TraceStopwatchLap(L"fade");
    const bool ended = StopPlayer(500);
    TraceStopwatchLap(L"thread stop");
    if (!ended) {
      DebugLog(L"[JMP] 재생이 0.5초 안에 끝나지 않아 이동하지 않습니다");
      return false;
    }
  }
  const bool rhythm = CvtState.rhythm.load() != 0;
  auto rhythmChannel = [](int c) { return c == 6 || (c >= 8 && c <= 12) || c == 14; };
  if (preservePause || cut || paused) {
    if (MidiOutHandle p1 = Sound.MidiOutPort1.load())
      for (int c = 0; c < 16; ++c)
        if (!rhythm || !rhythmChannel(c)) {
          SendShortMidi(p1, PackMidi(0xB0 | c, 120, 0));
          SendShortMidi(p1, PackMidi(0xB0 | c, 64, 0));
        }
    if (MidiOutHandle p2 = Sound.MidiOutPort2.load())
      for (int c = 0; c < 16; ++c) {
        SendShortMidi(p2, PackMidi(0xB0 | c, 120, 0));
        SendShortMidi(p2, PackMidi(0xB0 | c, 64, 0));
      }
    TraceStopwatchLap(L"allsoundoff");
  }
  if (OpenMidiPort1()) {
    for (MidiOutHandle h : {Sound.MidiOutPort1.load(), Sound.MidiOutPort2.load()}) {
      if (!h) continue;
      for (int c = 0; c < 16; ++c)
        if (!rhythm || c <= 5 || c == 7 || c == 13 || c == 15) SendShortMidi(h, PackMidi(0xB0 | c, 123, 0));
    }
    TraceStopwatchLap(L"panic");
  }
  std::vector<int> all(16);
  for (int c = 0; c < 16; ++c) all[c] = c;
  ResendChannelVolumes(all, false);
  TraceStopwatchLap(L"restore vol");
  const int ppq = LoadedSong()->SongPpq > 0 ? LoadedSong()->SongPpq : 120;
  const uint32_t lead = useLeadIn ? static_cast<uint32_t>(ppq * 0.5) : 0;
  const uint32_t start = t > lead ? t - lead : 0;
  PlaybackState.skipToTick = start;
  PlaybackState.skipToTickSet = 1;
  if (rhythm) PlaybackState.ResyncContinuous = 1;
  PlaybackState.SongTick = start;
  PlaybackState.ResyncRequested = 1;
  StampTickPosition(start);
  PlaybackState.SkipStartMuteOnce = (preservePause || cut) ? 1 : 0;
  PlaybackState.StartPaused = (!PlaybackState.ResumeAfterJump.load() && paused) ? 1 : 0;
  PlaybackState.ResumeAfterJump = 0;
  PlaybackState.SetupAlreadySent = 1;
  const bool started = StartPlayMidiThread();
  TraceStopwatchLap(L"thread start");
  return started;
}

void ParseNextSongArgs(std::wstring_view args) {
  PlaybackState.NextSongKeyMode = -1;
  PlaybackState.NextSongTempoOffset = 0;
  PlaybackState.NextSongKeyOffset = 0;
  size_t colons[3];
  size_t found = 0;
  for (size_t i = 0; i < args.size() && found < 3; ++i)
    if (args[i] == L':') colons[found++] = i;
  if (found < 3) return;
  const int tempo = LeadingInt(args.substr(colons[0] + 1, colons[1] - colons[0] - 1));
  const int key = LeadingInt(args.substr(colons[1] + 1, colons[2] - colons[1] - 1));
  int mode = LeadingInt(args.substr(colons[2] + 1));
  if (mode > 2) mode = 0;
  PlaybackState.NextSongTempoOffset = tempo;
  PlaybackState.NextSongKeyOffset = key;
  PlaybackState.NextSongKeyMode = mode;
}

void PanicAndResetHome() {
  StopPlayer(500);
  StopCvtRhythm();
  if (OpenMidiPort1()) {
    PlaybackState.LastPlayedValid = 0;
    PanicAllChannels();
  }
  PlaybackState.paused = 0;
  CvtState.FillStarted = 0;
  CvtState.CvtOwnsChannels = 0;
  PlaybackState.Solo1Mute = 0;
  PlaybackState.Solo2Mute = 0;
  PlaybackState.SongTick = 0;
  PlaybackState.MedleyItemIndex = -1;
  PlaybackState.MedleySegmentEndTick = 0;
  if (!Settings.keepAdjust) {
    PlaybackState.CurrentKey = 0;
    PlaybackState.SongBaseKey = 0;
  }
  PostScriptToPage(PageCall(L"resetToHomeScreen"));
}
