#include "playback/sax_melody.h"

#include <algorithm>
#include <cmath>

#include "base/debug_log.h"
#include "base/settings/app_settings.h"
#include "sound/services.h"

namespace {

bool Due(uint32_t now, uint32_t at) { return static_cast<int32_t>(now - at) >= 0; }
uint32_t Later(uint32_t at, double ms) { return at + static_cast<uint32_t>(ms); }

struct LayerVoice {
  int channel, volume, pan, fineTune;  // fineTune -1: none
};
constexpr LayerVoice kLayer[3] = {{4, 118, 44, 22}, {6, 100, 84, -1}, {15, 112, 64, 106}};

void BypassSaxInsertionEffect() {
  SendSysExBothPorts(BuildGsDt1(0x40, 0x41, 0x22, {0}));
  for (uint8_t part : {0x45, 0x47, 0x4F}) SendSysExBothPorts(BuildGsDt1(0x50, part, 0x22, {0}));
}

bool SongUsesInsertionEffect() {
  std::lock_guard lock(ModuleReplayList.mu);
  return ModuleReplayList.songEfxActive || Sound.SongEfxLevel.load() >= 0;
}

}  // namespace

int SaxBoostPercent() {
  const int boost = Settings.saxBoost;
  if (boost <= 100) return 100;
  const int d = (3500 - 35 * boost) / 100;
  return d < -50 ? 50 : 100 + d;
}

SaxExpression::SaxExpression(Sender send) : send_(std::move(send)) {
  if (!send_) send_ = [](MidiOutHandle h, uint32_t m) { SendShortMidi(h, m); };
}

void SaxExpression::Send(MidiOutHandle h, uint32_t message) {
  if (h) send_(h, message);
}

MidiOutHandle SaxExpression::LayerPort() const {
  const MidiOutHandle p2 = Sound.MidiOutPort2.load();
  return p2 ? p2 : Sound.MidiOutPort1.load();
}

void SaxExpression::MelodyCc(int controller, int value) {
  const uint32_t data = PackMidi(0, static_cast<unsigned>(controller), static_cast<unsigned>(std::clamp(value, 0, 127)));
  Send(Sound.MidiOutPort1.load(), data | 0xB0);
  if (Settings.saxLayer)
    for (const auto& v : kLayer) Send(LayerPort(), data | (0xB0u | static_cast<unsigned>(v.channel)));
}

void SaxExpression::MelodyBend(int value) {
  value = std::clamp(value, 0, 16383);
  const uint32_t data = PackMidi(0, static_cast<unsigned>(value & 127), static_cast<unsigned>(value >> 7));
  Send(Sound.MidiOutPort1.load(), data | 0xE0);
  if (Settings.saxLayer)
    for (const auto& v : kLayer) Send(LayerPort(), data | (0xE0u | static_cast<unsigned>(v.channel)));
  bend_ = value;
}

void SaxExpression::LayerSetup() {
  if (!Settings.saxLayer) return;
  const unsigned program = static_cast<unsigned>(IsUserSaxToneSet() ? UserSaxProgram() & 127 : 65);
  const MidiOutHandle h = LayerPort();
  for (const auto& v : kLayer) {
    const unsigned c = static_cast<unsigned>(v.channel);
    auto cc = [&](unsigned controller, int value) { Send(h, PackMidi(0xB0 | c, controller, static_cast<unsigned>(value))); };
    cc(0, 0);
    cc(32, 0);
    Send(h, PackMidi(0xC0 | c, program));
    cc(7, v.volume);
    cc(10, v.pan);
    cc(91, 95);
    cc(94, 45);
    cc(93, 20);
    if (v.fineTune >= 0) {
      cc(101, 0);
      cc(100, 1);
      cc(6, v.fineTune);
      cc(101, 127);
      cc(100, 127);
    }
  }
}

void SaxExpression::SoloEffect() {
  if (!Settings.saxInsFx) return;
  if (SongUsesInsertionEffect()) {
    DebugLogAsync(L"[색소폰] 솔로 이펙트 건너뜀 - 이번 곡이 인서션 이펙트를 이미 쓰고 있습니다(88Pro 는 EFX 가 하나뿐이라 "
                  L"뺏으면 그 파트가 죽습니다)");
    return;
  }
  for (const auto& message : GetSyxMessages(L"B-AcGt.syx")) SendSysExBothPorts(message);
  SendSysExBothPorts(BuildGsDt1(0x40, 0x41, 0x22, {1}));
  const bool layer = Settings.saxLayer != 0;
  if (layer)
    for (uint8_t part : {0x45, 0x47, 0x4F}) SendSysExBothPorts(BuildGsDt1(0x50, part, 0x22, {1}));
  const int level = Settings.saxInsLv;
  SendSysExBothPorts(BuildGsDt1(0x40, 0x03, 0x16, {static_cast<uint8_t>(level & 0x80 ? 127 : level)}));
  DebugLogAsync(std::wstring(L"[색소폰] 솔로 이펙트 적용 - 멜로디") + (layer ? L"+겹 3개" : L"") +
                L"를 EFX 로 태움, 출력레벨 " + std::to_wstring(level));
}

int SaxExpression::NoteOn(const MelodyArticulationEntry& a, int note, double msPerTick, uint32_t now) {
  const double L = a.length ? a.length * msPerTick : 0.0;
  gateDone_ = false;
  gateNote_ = note;
  noteOnAt_ = now;
  noteMs_ = L;

  vibAmount_ = a.amount1;
  vibStep_ = 0;
  if (vibAmount_) vibAt_ = Later(now, std::max(180.0, L * 0.35));

  scoopDepth_ = Settings.saxBend ? a.amount2 : 0;
  scoopStep_ = 0;
  if (scoopDepth_) {
    MelodyBend(8192 - static_cast<int>(std::lround(scoopDepth_ * 8192.0 / 200.0)));
    scoopAt_ = Later(now, 15);
  } else if (bend_ != 8192) {
    MelodyBend(8192);
  }

  breathBase_ = Settings.saxBreath ? a.level : 0;
  breathStep_ = 0;
  if (breathBase_) {
    if (breathBase_ != expression_) {
      MelodyCc(11, breathBase_);
      expression_ = breathBase_;
    }
    breathAt_ = Later(now, std::max(40.0, L * 0.2));
  }

  if (!setupSent_) {
    setupSent_ = true;
    const MidiOutHandle p1 = Sound.MidiOutPort1.load();
    Send(p1, PackMidi(0xB0, 91, 95));
    Send(p1, PackMidi(0xB0, 94, 45));
    Send(p1, PackMidi(0xB0, 93, 20));
    LayerSetup();
    SoloEffect();
  }
  return a.velocity;
}

void SaxExpression::LayerNoteOn(int note, int velocity) {
  if (!Settings.saxLayer) return;
  const MidiOutHandle h = LayerPort();
  for (const auto& v : kLayer) {
    const int n = v.channel == 6 ? note - 12 : note;
    if (n < 0) continue;
    const int vel = v.channel == 6 ? velocity * 88 / 100 : velocity;
    Send(h, PackMidi(0x90 | static_cast<unsigned>(v.channel), static_cast<unsigned>(n), static_cast<unsigned>(vel)));
  }
}

void SaxExpression::NoteOff(int note) {
  if (Settings.saxLayer) {
    const MidiOutHandle h = LayerPort();
    for (const auto& v : kLayer) {
      const int n = v.channel == 6 ? note - 12 : note;
      if (n >= 0) Send(h, PackMidi(0x80 | static_cast<unsigned>(v.channel), static_cast<unsigned>(n), 0));
    }
  }
  Reset();
}

int SaxExpression::MelodyControllerValue(int controller, int value) {
  if (controller == 91) return 95;
  if (controller == 94) return 45;
  if (controller == 93) return 20;
  return value;
}

void SaxExpression::Reset() {
  scoopDepth_ = scoopStep_ = 0;
  vibAmount_ = vibStep_ = 0;
  breathBase_ = breathStep_ = 0;
  gateDone_ = true;
  if (modulation_ != 0) {
    MelodyCc(1, 0);
    modulation_ = 0;
  }
  if (bend_ != 8192) MelodyBend(8192);
  if (expression_ != 0 && expression_ != 127) {
    MelodyCc(11, 127);
    expression_ = 127;
  }
}

void SaxExpression::Step(uint32_t now) {
  if (!Settings.saxExpr) return;
  if (scoopDepth_ && Due(now, scoopAt_)) {
    ++scoopStep_;
    const double c = std::pow(1.0 - scoopStep_ / 6.0, 2.2);
    const int b = 8192 - static_cast<int>(std::lround(std::lround(c * scoopDepth_) * 8192.0 / 200.0));
    if (b != bend_) MelodyBend(b);
    if (scoopStep_ < 6) {
      scoopAt_ = Later(scoopAt_, 15);
    } else {
      scoopDepth_ = 0;
      if (bend_ != 8192) MelodyBend(8192);
    }
  }
  if (vibAmount_ && vibStep_ < 6 && Due(now, vibAt_)) {
    ++vibStep_;
    const int value = std::min(vibAmount_, vibAmount_ * vibStep_ / 6);
    if (value != modulation_) {
      MelodyCc(1, value);
      modulation_ = value;
    }
    if (vibStep_ < 6) vibAt_ = Later(vibAt_, std::max(25.0, noteMs_ * 0.3 / 6));
  }
  if (Settings.saxBreath && breathBase_ && breathStep_ < 4 && Due(now, breathAt_)) {
    static constexpr int kSwell[4] = {-10, -4, 9, 2};
    ++breathStep_;
    const int value = std::clamp(breathBase_ + kSwell[std::min(breathStep_ - 1, 3)], 40, 127);
    if (value != expression_) {
      MelodyCc(11, value);
      expression_ = value;
    }
    if (breathStep_ < 4) breathAt_ = Later(breathAt_, std::max(40.0, noteMs_ * 0.55 * 0.25));
  }
  const int gate = Settings.saxGate;
  if (gate < 100 && !gateDone_ && noteMs_ > 0 && gateNote_ >= 0 &&
      static_cast<double>(now - noteOnAt_) >= gate * noteMs_ / 100.0) {
    gateDone_ = true;
    Send(Sound.MidiOutPort1.load(), PackMidi(0x80, static_cast<unsigned>(gateNote_), 0));
    if (Settings.saxLayer) {
      const MidiOutHandle h = LayerPort();
      for (const auto& v : kLayer) {
        const int n = v.channel == 6 ? gateNote_ - 12 : gateNote_;
        if (n >= 0) Send(h, PackMidi(0x80 | static_cast<unsigned>(v.channel), static_cast<unsigned>(n), 0));
      }
    }
  }
}

void SaxExpression::LayerAllNotesOff() {
  const MidiOutHandle h = LayerPort();
  for (const auto& v : kLayer) Send(h, PackMidi(0xB0 | static_cast<unsigned>(v.channel), 123, 0));
}

void SaxExpression::WatchSettings() {
  const int layer = Settings.saxLayer, insFx = Settings.saxInsFx, expr = Settings.saxExpr;
  if (lastLayer_ >= 0) {
    if (layer != lastLayer_) {
      if (layer) setupSent_ = false;
      else LayerAllNotesOff();
    }
    if (insFx != lastInsFx_) {
      if (insFx) setupSent_ = false;
      else BypassSaxInsertionEffect();
    }
    if (expr != lastExpr_) {
      if (expr) {
        setupSent_ = false;
      } else {
        LayerAllNotesOff();
        BypassSaxInsertionEffect();
        Reset();
        const MidiOutHandle p1 = Sound.MidiOutPort1.load();
        Send(p1, PackMidi(0xB0, 91, Mixer.SongReverbSend[0][0].load()));
        Send(p1, PackMidi(0xB0, 93, Mixer.SongChorusSend[0][0].load()));
        Send(p1, PackMidi(0xB0, 94, 0));
      }
    }
  }
  lastLayer_ = layer;
  lastInsFx_ = insFx;
  lastExpr_ = expr;
}
