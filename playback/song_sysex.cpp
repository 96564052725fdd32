#include "playback/song_sysex.h"

#include <algorithm>
#include <vector>

#include "base/settings/app_settings.h"
#include "base/trace_log.h"
#include "platform/clock.h"
#include "playback/services.h"
#include "sound/rhythm_parts.h"
#include "sound/send_trace.h"
#include "sound/services.h"

namespace {

constexpr uint32_t kRestoreDelayMs = 80;
constexpr uint32_t kSettleMs = 50;

bool Due(uint32_t due, uint32_t now) { return static_cast<int32_t>(now - due) >= 0; }

bool IsGsDt1(std::span<const uint8_t> m, size_t minSize) {
  return m.size() >= minSize && m[0] == 0xF0 && m[1] == 0x41 && m[3] == 0x42 && m[4] == 0x12;
}

// GS part block nibble to MIDI channel: 0 -> 9, 1..9 -> 0..8, 10..15 stay.
int ChannelOfBlock(int x) { return x == 0 ? 9 : x <= 9 ? x - 1 : x; }

bool IsRhythmChannel(int c) { return c == 6 || (c >= 8 && c <= 14); }

uint8_t RolandChecksum(std::span<const uint8_t> body) {
  unsigned sum = 0;
  for (uint8_t b : body) sum += b;
  return static_cast<uint8_t>((128 - sum % 128) % 128);
}

}  // namespace

bool IsGsReset(std::span<const uint8_t> m) {
  return m.size() >= 8 && m[0] == 0xF0 && m[1] == 0x41 && m[3] == 0x42 && m[4] == 0x12 && m[5] == 0x40 &&
         m[6] == 0x00 && (m[7] == 0x7F || (m.size() >= 9 && m[7] == 0x00 && m[8] == 0x7F));
}

bool IsGmSystemOn(std::span<const uint8_t> m) {
  return m.size() >= 5 && m[0] == 0xF0 && m[1] == 0x7E && m[3] == 0x09 && m[4] == 0x01;
}

SongSysExPath::~SongSysExPath() {
  // The end of a run drains the records first; whatever a device still holds now is given back.
  for (int i = 0; i < 200 && Collect() > 0; ++i) plat::SleepMs(1);
}

void SongSysExPath::SendToOpenPorts(const std::vector<uint8_t>& message) {
  if (MidiOutHandle p1 = Sound.MidiOutPort1.load()) SendSysExNoWait(p1, message, pending_);
  if (MidiOutHandle p2 = Sound.MidiOutPort2.load()) SendSysExNoWait(p2, message, pending_);
}

void SongSysExPath::SendEfxLevelAsync(int level) {
  const uint8_t v = static_cast<uint8_t>(level & 0x80 ? 127 : level & 0x7F);
  std::vector<uint8_t> m = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x03, 0x16, v, 0, 0xF7};
  m[9] = RolandChecksum(std::span<const uint8_t>(m).subspan(5, 4));
  SendToOpenPorts(m);
}

void SongSysExPath::SleepUntilSettled() {
  if (settleDue_ == 0) return;
  const int32_t left = static_cast<int32_t>(settleDue_ - plat::TimeGetTime());
  if (left > 0) {
    const double t0 = plat::NowMs();
    plat::SleepMs(static_cast<unsigned>(std::min(left, 80)));
    settleWaitMs_ += plat::NowMs() - t0;
  }
  settleDue_ = 0;
}

double SongSysExPath::TakeSettleWaitMs() {
  const double waited = settleWaitMs_;
  settleWaitMs_ = 0;
  return waited;
}

void SongSysExPath::Filter(std::span<const uint8_t> message, int port, uint32_t now) {
  if (message.empty()) return;
  MidiOutHandle handle = 0;
  int portIndex = 0;
  const bool gsReset = IsGsReset(message), gmOn = IsGmSystemOn(message);
  const bool reset = gsReset || gmOn;
  if (port == 1 && OpenMidiPort2()) {
    handle = Sound.MidiOutPort2.load();
    portIndex = 1;
  } else if (port == 1 && reset) {
    // Port 2's messages fall back to port 1, but its reset would wipe port 1's set-up and cut
    // what already sounds there.
    TraceLog(L"[RSTBLK] 곡 내장 %ls 차단(2포트 장치 없음) - 1포트는 리셋하지 않음\n",
             gsReset ? L"GS Reset" : L"GM System On");
    return;
  } else {
    handle = Sound.MidiOutPort1.load();
  }
  if (handle == 0) return;
  TraceVolumeSysEx(message.data(), message.size(), L"곡 내장");

  const bool rhythm = CvtState.rhythm.load() != 0, fill = CvtState.FillPlaying.load() != 0;
  if (rhythm || fill) {
    if (reset) {
      TraceLog(L"[RSTBLK] 곡 내장 %ls 차단(%ls) - 복구 절차도 생략\n", gsReset ? L"GS Reset" : L"GM System On",
               rhythm ? L"CVT 가동 중" : L"필인 재생 중");
      return;
    }
    if (portIndex == 0 && IsGsDt1(message, 8) && message[5] == 0x40 && (message[6] & 0xF0) == 0x10 &&
        IsRhythmChannel(ChannelOfBlock(message[6] & 0x0F))) {
      TraceLog(L"[PARTBLK] 곡 내장 파트 SysEx 차단 - CVT 소유 ch%d (주소 40 %02X %02X)\n",
               ChannelOfBlock(message[6] & 0x0F), message[6], message[7]);
      return;
    }
  }
  SleepUntilSettled();
  SendSysExNoWait(handle, std::vector<uint8_t>(message.begin(), message.end()), pending_);

  if (reset) {
    restorePending_ = true;
    restoreDue_ = now + kRestoreDelayMs;
    // The module forgot every tone: the rhythm engine's record of what it sent is void.
    MarkCvtToneCachesEmpty();
    CvtState.CvtTonesLost = 1;
    for (auto& row : Mixer.SongReverbSend)
      for (auto& v : row) v.store(40);
  }
  if (IsGsDt1(message, 10) && (message[5] == 0x40 || message[5] == 0x50) && (message[6] & 0xF0) == 0x10 &&
      message[7] == 0x19) {
    const int p = message[5] == 0x50 ? 1 : 0, c = ChannelOfBlock(message[6] & 0x0F);
    const int value = message[8] & 0x7F;
    Mixer.SongChannelVolume[p][c].store(static_cast<uint8_t>(value));
    Mixer.ChannelVolumeOverride[p][c].store(
        static_cast<uint8_t>(std::min(127, value * Mixer.EffectiveChannelPercent[p][c].load() / 100)));
    volumeResendPending_ = true;
    volumeResendDue_ = now + kRestoreDelayMs;
  }
  if (IsGsDt1(message, 10)) {
    const uint8_t a1 = message[5], a2 = message[6], a3 = message[7];
    {
      std::lock_guard lock(ModuleReplayList.mu);
      if (a1 == 0x40 && a2 == 0x03 && a3 == 0x00 && !ModuleReplayList.songEfxActive) {
        ModuleReplayList.songEfxActive = true;
        if (ModuleReplayList.list.size() > ModuleReplayList.base) ModuleReplayList.list.resize(ModuleReplayList.base);
      }
      const bool efxMessage = (a1 == 0x40 && a2 == 0x03 && a3 != 0x16) ||
                              ((a1 == 0x40 || a1 == 0x50) && (a2 & 0xF0) == 0x40 && a3 == 0x22);
      if (ModuleReplayList.songEfxActive && efxMessage) {
        auto& list = ModuleReplayList.list;
        auto same = std::find_if(list.begin() + static_cast<std::ptrdiff_t>(std::min(ModuleReplayList.base, list.size())),
                                 list.end(), [&](const SysExMessage& m) {
                                   return m.size() >= 8 && m[5] == a1 && m[6] == a2 && m[7] == a3;
                                 });
        if (same != list.end()) *same = SysExMessage(message.begin(), message.end());
        else list.emplace_back(message.begin(), message.end());
      }
    }
    if (a1 == 0x40 && a2 == 0x03 && a3 == 0x16) {
      Sound.SongEfxLevel.store(message[8] & 0x7F);
      if (Mixer.EffectiveChannelPercent[0][15].load() != 100) {
        efxLevelPending_ = true;
        efxLevelDue_ = now + kRestoreDelayMs;
      }
    }
  }
  if (reset) settleDue_ = (now + kSettleMs) == 0 ? 1 : now + kSettleMs;
}

void SongSysExPath::RunDeferred(uint32_t now) {
  if (volumeResendPending_ && Due(volumeResendDue_, now)) {
    if (PlaybackState.waitingGo.load()) {
      volumeResendDue_ = now + kRestoreDelayMs;
    } else {
      volumeResendPending_ = false;
      std::vector<int> all(16);
      for (int c = 0; c < 16; ++c) all[c] = c;
      ResendChannelVolumes(all, false);
    }
  }
  if (efxLevelPending_ && Due(efxLevelDue_, now)) {
    efxLevelPending_ = false;
    if (Sound.SongEfxLevel.load() >= 0) SendEfxLevelAsync(ScaledEfxLevel());
  }
}

void SongSysExPath::RestoreAfterReset(uint32_t now, bool forced) {
  if (Settings.rawSound) {
    restorePending_ = false;
    return;
  }
  if (!restorePending_ || !Due(restoreDue_, now)) return;
  if (!forced && PlaybackState.waitingGo.load()) {
    restoreDue_ = now + kRestoreDelayMs;
    return;
  }
  restorePending_ = false;
  SendReverbSetup();
  if (AnySendOffsetSet())
    for (int p = 0; p < 2; ++p)
      for (int c = 0; c < 16; ++c)
        if (Mixer.ReverbSendOffset[p][c].load() != 0 || Mixer.ChorusSendOffset[p][c].load() != 0) SendChannelEffectSends(p, c);
  SendDryDrumBassSends();
  if (Settings.outputMode == 4) {
    SendGsParamToPort(0, 0x49, 0x21, {2});
    SendGsParamToPort(0, 0x40, 0x21, {3});
  }
  SendEqSetup(false);
  if (Settings.moduleTonePreset) {
    SendChorusSetup(0, Settings.port1Module);
    if (Sound.MidiOutPort2.load()) SendChorusSetup(1, Settings.port2Module);
  }
  SendNativeMapBank();
  ApplyCvtTones();
  const bool rhythm = CvtState.rhythm.load() != 0;
  const MidiOutHandle p1 = Sound.MidiOutPort1.load();
  if (p1 && !rhythm) SendShortMidi(p1, PackMidi(0xC8, static_cast<unsigned>(GetCvtBassProgram())));
  if (Sound.SnareSubKitOn.load() && p1 && (!rhythm || (!PlaybackState.waitingGo.load() && !PlaybackState.SetupUnderRhythm.load()))) {
    SendShortMidi(p1, PackMidi(0xBA, 0, 0));
    SendShortMidi(p1, PackMidi(0xBA, 32, 2));
    SendShortMidi(p1, PackMidi(0xCA, 24));
    SendShortMidi(p1, PackMidi(0xBA, 91, 95));
  }
  std::vector<int> all(16);
  for (int c = 0; c < 16; ++c) all[c] = c;
  ResendChannelVolumes(all, false);
  volumeResendPending_ = false;
  std::lock_guard lock(ModuleReplayList.mu);
  for (const SysExMessage& m : ModuleReplayList.list) SendToOpenPorts(m);
  const int level = ScaledEfxLevel();
  if (level >= 0) SendEfxLevelAsync(level);
}
