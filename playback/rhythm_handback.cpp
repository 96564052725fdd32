// Ending a song while the rhythm plays on (back to the home screen), silencing the song's own
// channels without stalling the rhythm, and the ending flourish.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <utility>
#include <vector>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "platform/clock.h"
#include "playback/player.h"
#include "playback/rhythm_engine.h"
#include "playback/rhythm_fills.h"
#include "playback/services.h"
#include "playback/song_start.h"
#include "songs/chords.h"
#include "sound/midi_ports.h"
#include "sound/midi_send.h"

namespace {

std::atomic<uint8_t> g_endingFlourishBusy{0};

using MessageList = std::vector<uint32_t>;

void ForgetShownValues() {
  PlaybackState.LastPostedBpm = -1;
  RhythmEngine.ResetShownValues = 1;
}

void ResetHomeScreenThread() {
  plat::SleepMs(90);
  PostScriptToPage(PageCall(L"resetToHomeScreen"));
  plat::SleepMs(30);
  ForgetShownValues();
}

}  // namespace

void QuietOriginalSong(bool soft, bool spread) {
  const bool rhythm = CvtState.rhythm.load() != 0;
  auto held = [](int port, int c) {
    return Sound.ActiveNoteCounts[port][c].load() > 0 || Sound.SustainPedalOn[port][c].load() != 0;
  };
  auto add = [&](MessageList& list, int c) {
    list.push_back(PackMidi(0xB0 | c, soft ? 123 : 120, 0));
    list.push_back(PackMidi(0xB0 | c, 64, 0));
  };
  MessageList one, two;
  const MidiOutHandle p1 = Sound.MidiOutPort1.load(), p2 = Sound.MidiOutPort2.load();
  if (p1)
    for (int c : {0, 1, 2, 3, 4, 5, 7, 13, 15})
      if (!rhythm || (c != 13 && held(0, c))) add(one, c);
  if (p2)
    for (int c = 0; c < 16; ++c)
      if (!rhythm || held(1, c)) add(two, c);
  if (rhythm) ResetActiveNoteCounts();
  if (one.empty() && two.empty()) {
    DebugLogAsync(L"[CVT] 원곡 정리 - 울리고 있던 채널이 없어 아무것도 안 보냄");
    return;
  }
  if (spread && rhythm) {
    DebugLogAsync(L"[CVT] 원곡 정리 메시지 " + std::to_wstring(one.size()) + L"+" + std::to_wstring(two.size()) +
                  L"개를 2ms 간격으로 분산 전송(리듬 박 밀림 방지)");
    StartPacedTwoPortSend(p1, p2, std::move(one), std::move(two), 0);
    return;
  }
  for (uint32_t m : one) SendShortMidi(p1, m);
  for (uint32_t m : two) SendShortMidi(p2, m);
}

void EndOriginalKeepRhythm() {
  StopPlayer(500);
  QuietOriginalSong(false, true);
  PlaybackState.paused = 0;
  CvtState.FillStarted = 0;
  PlaybackState.MedleyItemIndex = -1;
  PlaybackState.MedleySegmentEndTick = 0;
  PlaybackState.JumpTargetBar = -1;
  if (!Settings.keepAdjust) {
    PlaybackState.CurrentKey = 0;
    PlaybackState.SongBaseKey = 0;
  }
  if (CvtState.rhythm.load()) {
    std::thread(ResetHomeScreenThread).detach();
  } else {
    ForgetShownValues();
    PostScriptToPage(PageCall(L"resetToHomeScreen"));
  }
  DebugLogAsync(L"원곡 종료+초기화면 복귀(CVT 리듬은 계속)");
}

namespace {

void PlayEndingFlourish() {
  std::vector<StyleEvent> events;
  uint32_t length = 0;
  LoadStylePattern(L"<root>/pxr/GG3-ED.MID", events, length);
  for (StyleEvent& e : events)
    if (e.channel == 13) e.followChord = 1;
  const auto song = LoadedSong();
  double mpt = PlaybackState.PlayerMsPerTick.load();
  if (!(mpt > 0)) {
    const int us = PlaybackState.CurrentTempoUs.load() > 0 ? PlaybackState.CurrentTempoUs.load() : 500000;
    mpt = 60000.0 / std::max(20.0, 60000000.0 / us + PlaybackState.TempoOffsetBpm.load()) /
          (song->SongPpq > 0 ? song->SongPpq : 120);
  }
  const int ppq = song->SongPpq > 0 ? song->SongPpq : 120;
  const int root = CurrentChord({PlaybackState.isPlaying.load() != 0, PlaybackState.SongTick.load(),
                                 PlaybackState.CurrentKey.load()}).root;
  PanicAndResetHome();
  SendRhythmPartMaps();
  plat::SleepMs(60);
  if (OpenMidiPort1()) {
    const MidiOutHandle p1 = Sound.MidiOutPort1.load();
    if (!events.empty()) {
      PlayFillEvents(p1, events, {false, false, false}, SystemRhythmClock());
      plat::SleepMs(1800);
      for (int c : {6, 8, 9, 10, 11, 12, 13, 14}) SendShortMidi(p1, PackMidi(0xB0 | c, 123, 0));
    } else {
      // The built-in flourish: a snare roll, then kick, snare, crash and a bass note on the root.
      const double quarter = mpt * ppq;
      const unsigned pause = static_cast<unsigned>(std::lround(std::min(1100.0, std::max(260.0, quarter)) / 8));
      for (int v : {68, 80, 92, 104, 116}) {
        SendShortMidi(p1, PackMidi(0x9A, 38, v));
        plat::SleepMs(pause);
      }
      const int bass = 36 + ((root % 12) + 12) % 12;
      SendShortMidi(p1, PackMidi(0x99, 36, 127));
      SendShortMidi(p1, PackMidi(0x99, 38, 127));
      SendShortMidi(p1, PackMidi(0x9B, 49, 127));
      SendShortMidi(p1, PackMidi(0x98, bass, 114));
      plat::SleepMs(150);
      SendShortMidi(p1, PackMidi(0x9B, 57, 112));
      plat::SleepMs(2000);
      SendShortMidi(p1, PackMidi(0x88, bass, 0));
    }
  }
  g_endingFlourishBusy = 0;
}

}  // namespace

void StartEndingFlourish() {
  if (g_endingFlourishBusy.load() || (!PlaybackState.isPlaying.load() && !CvtState.rhythm.load())) return;
  if (g_endingFlourishBusy.exchange(1)) return;
  std::thread(PlayEndingFlourish).detach();
}
