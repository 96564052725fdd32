#include "playback/tempo.h"

#include <algorithm>
#include <cmath>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/settings/song_settings.h"
#include "base/trace_log.h"
#include "platform/clock.h"
#include "playback/rhythm_style.h"
#include "playback/services.h"
#include "songs/song_model.h"

namespace {

int SongBpm() { return LoadedSong()->SongBaseBpm; }

bool TransitionCarriesTempo() { return CvtState.CvtCarryTempo.us() > 0; }

int EffectiveOffset() {
  return PlaybackState.PendingTempoOffsetSet.load() ? PlaybackState.PendingTempoOffset.load()
                                                    : PlaybackState.TempoOffsetBpm.load();
}

void WriteOffset(int offset) {
  if (TransitionCarriesTempo()) {
    PlaybackState.PendingTempoOffset = offset;
    PlaybackState.PendingTempoOffsetSet = 1;
  } else {
    PlaybackState.TempoOffsetBpm = offset;
    PlaybackState.PendingTempoOffsetSet = 0;
  }
}

}  // namespace

double MsPerTickWithOffset(int tempoUs, int ppq, int offsetBpm) {
  const double tempo = tempoUs > 0 ? tempoUs : 500000;
  const double q = ppq > 0 ? ppq : 120;
  const double bpm = std::max(20.0, 60000000.0 / tempo + offsetBpm);
  return 60000.0 / bpm / q;
}

double MsPerTick(int tempoUs, int ppq) {
  return MsPerTickWithOffset(tempoUs, ppq, PlaybackState.TempoOffsetBpm.load());
}

void SetTempoOffset(int bpm) { WriteOffset(bpm); }

void SetTempoPercent(int percent) {
  const int b = SongBpm();
  if (b <= 0) return;
  percent = std::clamp(percent, 50, 200);
  const int target = static_cast<int>(std::lround(b * percent / 100.0));
  WriteOffset(std::clamp(target - b, -200, 200));
}

double CvtTempoFactorForSong() {
  if (PlaybackState.HalftimeSongFlag.load()) return 0.5;
  const int b = SongBpm();
  return b >= 1 && b <= 85 ? 2.0 : 1.0;
}

int FixedBpmOffset() {
  const int b = SongBpm();
  if (b <= 0) return 0;
  const double k = CvtTempoFactorForSong();
  const double target = std::clamp(Settings.cvtFixedBpm / k, 0.5 * b, 2.0 * b);
  return static_cast<int>(std::lround(target)) - b;
}

bool ApplyFixedTempoForNewSong() {
  PlaybackState.FixedOffsetSaved = 0;
  if (!Settings.cvtFixedOn || !CvtState.rhythm.load() || SongBpm() <= 0) return false;
  PlaybackState.SavedUserOffset = EffectiveOffset();
  PlaybackState.FixedOffsetSaved = 1;
  WriteOffset(std::clamp(FixedBpmOffset(), -200, 200));
  return true;
}

void ApplyFixedBpmWhenStopped() {
  if (PlaybackState.isPlaying.load() || Settings.cvtFixedBpm < 30) return;
  const double bpm = Settings.cvtFixedBpm / CvtTempoFactorForSong() - PlaybackState.TempoOffsetBpm.load();
  if (bpm >= 20 && bpm <= 400) PlaybackState.CurrentTempoUs = static_cast<int>(std::lround(60000000.0 / bpm));
}

void PostTempoPitchDisplay() {
  PostScriptToPage(PageCall(L"updateTempoPitchDisplay", PlaybackState.TempoOffsetBpm.load(),
                            PlaybackState.CurrentKey.load()));
}

void PushTempoPitchDisplay() {
  if (Settings.cvtFixedOn && CvtState.rhythm.load()) {
    if (!PlaybackState.FixedOffsetSaved.load()) {
      PlaybackState.SavedUserOffset = EffectiveOffset();
      PlaybackState.FixedOffsetSaved = 1;
    }
    if (SongBpm() <= 0) ApplyFixedBpmWhenStopped();
    else WriteOffset(std::clamp(FixedBpmOffset(), -200, 200));
  } else if (PlaybackState.FixedOffsetSaved.load()) {
    WriteOffset(std::clamp(PlaybackState.SavedUserOffset.load(), -200, 200));
    PlaybackState.FixedOffsetSaved = 0;
  } else {
    return;
  }
  PostTempoPitchDisplay();
}

void PushF10Panel() {
  const int bpm = SongBpm();
  int percent = 100;
  if (bpm > 0) percent = std::clamp(static_cast<int>(std::lround((EffectiveOffset() + bpm) * 100.0 / bpm)), 25, 300);
  const int song = PlaybackState.CurrentSongId.load();
  const int saved = song > 0 && SongSettings.SongTempoMap.count(song) ? 1 : 0;
  PostScriptToPage(PageCall(L"updateF10", Settings.cvtFixedBpm, Settings.boxSpeed, percent,
                            Settings.cvtFixedOn ? 1 : 0, bpm, saved, CvtState.rhythm.load() ? 1 : 0));
}

void ToggleTempoLock() {
  const uint32_t now = plat::TimeGetTime();
  uint32_t last = PlaybackState.TempoLockToggleTime.load();
  if (last != 0 && now - last < 250) return;
  if (!PlaybackState.TempoLockToggleTime.compare_exchange_strong(last, now == 0 ? 1 : now)) return;
  const bool on = PlaybackState.TempoLockOn.load() == 0;
  PlaybackState.TempoLockOn = on ? 1 : 0;
  DebugLog(std::wstring(L"템포락 ") + (on ? L"켬" : L"끔") + L" (현재 조절값 " +
           std::to_wstring(PlaybackState.TempoOffsetBpm.load()) + L")");
  PostScriptToPage(PageCall(L"setTempoLockDisplay", on ? 1 : 0));
}

int TempoLockOffset(double audibleBpm, int songBpm, bool halftime) {
  const double k = halftime ? 0.5 : songBpm > 85 ? 1.0 : 2.0;
  const double f = std::clamp(audibleBpm / k, 0.5 * songBpm, 2.0 * songBpm);
  return static_cast<int>(std::lround(f - songBpm));
}

void ApplyTempoLock(int rhythmTempoUs, double rhythmFactor) {
  const int b = SongBpm();
  if (!PlaybackState.TempoLockOn.load() || !CvtState.rhythm.load() || RhythmStyles.ActiveStyleBpm.load() > 0 || b <= 0)
    return;
  int a = rhythmTempoUs;
  if (a <= 0) a = PlaybackState.CurrentTempoUs.load() > 0 ? PlaybackState.CurrentTempoUs.load() : 500000;
  const double x = rhythmFactor > 0 ? rhythmFactor : 1.0;
  const double h = (60000000.0 / a + PlaybackState.TempoOffsetBpm.load()) * x;
  const bool half = PlaybackState.HalftimeSongFlag.load() != 0;
  const double k = half ? 0.5 : b > 85 ? 1.0 : 2.0;
  const int offset = TempoLockOffset(h, b, half);
  PlaybackState.PendingTempoOffset = offset;
  PlaybackState.PendingTempoOffsetSet = 1;
  TraceLog(L"[LOCK] 템포락 - 들리는 박 %.1fbpm 유지 | 새 곡 %dbpm x배속%.2f -> %dbpm(offset %+d)\n", h, b, k, b + offset, offset);
}
