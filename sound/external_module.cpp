#include "sound/external_module.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "base/page_script.h"
#include "base/player_signals.h"
#include "base/settings/app_settings.h"
#include "base/settings/ext_routing.h"
#include "base/text.h"
#include "platform/clock.h"
#include "platform/midi_out.h"
#include "sound/midi_ports.h"
#include "sound/midi_send.h"

namespace {

std::atomic<ExtClockTempoSource> tempoSource{nullptr};
std::atomic<bool> clockRunning{false};
std::mutex clockThreadLock;  // the thread object (window thread and shutdown)
std::thread clockThread;

void SendToModule(uint8_t status) {
  if (MidiOutHandle h = Sound.ExtModuleOut.load()) SendShortMidi(h, PackMidi(status));
}

void ClockThread() {
  double next = NowMs();
  bool lastPlaying = false;
  while (clockRunning.load()) {
    if (!Sound.ExtModuleOut.load()) {
      plat::SleepMs(50);
      next = NowMs();
      continue;
    }
    const bool playing = Player().songPlaying() || Player().rhythmRunning();
    if (playing != lastPlaying) {
      SendToModule(playing ? 0xFA : 0xFC);
      lastPlaying = playing;
      next = NowMs();
    }
    ExtClockTempoSource source = tempoSource.load();
    next += ExternalClockPeriodMs(ExternalClockBpm(source ? source() : ExtClockTempo{}));
    const double wait = next - NowMs();
    if (wait > 1) plat::SleepMs(static_cast<unsigned>(wait));
    else if (wait < -200) next = NowMs();  // fell behind: restart the schedule, no burst
    if (!clockRunning.load()) break;
    SendToModule(0xF8);
  }
  if (lastPlaying) SendToModule(0xFC);
}

std::wstring DecodeField(const std::vector<std::wstring>& f, size_t i) { return i < f.size() ? f[i] : std::wstring(); }

}  // namespace

void SetExternalClockTempoSource(ExtClockTempoSource source) { tempoSource = source; }

int ExternalClockBpm(const ExtClockTempo& t) {
  if (t.styleBpm > 0) return std::clamp(t.styleBpm, 30, 300);
  int bpm = t.songBaseBpm > 0 ? t.songBaseBpm + t.offsetBpm : 0;
  if (bpm <= 0) bpm = 120;
  return std::clamp(bpm, 30, 300);
}

double ExternalClockPeriodMs(int bpm) { return 60000.0 / (std::max(bpm, 1) * 24.0); }

void StartStopExternalClock() {
  std::lock_guard lock(clockThreadLock);
  if (Settings.extClock != 0 && Settings.extOn != 0) {
    if (clockRunning.exchange(true)) return;
    clockThread = std::thread(ClockThread);
  } else if (clockRunning.exchange(false)) {
    if (clockThread.joinable()) clockThread.join();
    clockThread = std::thread();
  }
}

bool ExternalClockRunning() { return clockRunning.load(); }

void AllSoundOffAllPorts() {
  for (unsigned c = 0; c < 16; ++c)
    for (MidiOutHandle h : {Sound.MidiOutPort1.load(), Sound.MidiOutPort2.load(), Sound.ExtModuleOut.load()}) {
      if (!h) continue;
      SendShortMidi(h, PackMidi(0xB0 | c, 120, 0));
      SendShortMidi(h, PackMidi(0xB0 | c, 123, 0));
    }
}

std::wstring BuildExtDeviceListScript() {
  std::wstring list = L"[";
  const unsigned count = plat::MidiOutDeviceCount();
  bool first = true;
  for (unsigned i = 0; i < count; ++i) {
    std::wstring name;
    if (!plat::MidiOutDeviceName(i, &name)) continue;
    if (!first) list += L',';
    first = false;
    list += L'\'';
    AppendEscapedForScript(list, TrimBlanks(name));
    list += L'\'';
  }
  list += L"]";
  return PageCall(L"setExtDevices", ScriptLiteral{list}, GetSettingText(&AppSettings::extDevice), GetExtModuleStatusText());
}

std::wstring ApplyExternalModuleSettings(std::wstring_view text) {
  const std::vector<std::wstring> f = SplitWide(text, L'\t');
  AllSoundOffAllPorts();
  Settings.extOn = LeadingInt(DecodeField(f, 0)) != 0 ? 1 : 0;
  const int toCh = LeadingInt(DecodeField(f, 1));
  Settings.extToCh = toCh >= -1 && toCh <= 15 ? toCh : -1;
  Settings.extCc = LeadingInt(DecodeField(f, 2)) != 0 ? 1 : 0;
  Settings.extPc = LeadingInt(DecodeField(f, 3)) != 0 ? 1 : 0;
  Settings.extClock = LeadingInt(DecodeField(f, 4)) != 0 ? 1 : 0;
  ParseExtRouting(DecodeField(f, 5));
  ParseExtNoteMap(DecodeField(f, 6));
  const std::wstring device = StripControlAndTrim(DecodeField(f, 7));
  if (device != GetSettingText(&AppSettings::extDevice)) {
    CloseExternalModule();
    SetSettingText(&AppSettings::extDevice, device);
  }
  if (Settings.extOn) OpenExternalModule();
  StartStopExternalClock();
  AllSoundOffAllPorts();
  SaveAppSettings();
  return PageCall(L"setExtStatus", GetExtModuleStatusText());
}
