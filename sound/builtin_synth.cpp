// FluidSynth bound at run time, standing in for the MIDI ports as a GS-like module.
#include "sound/builtin_synth.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/debug_log.h"
#include "base/realtime_thread.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "platform/clock.h"
#include "platform/handoff_queue.h"
#include "platform/memory.h"
#include "platform/paths.h"
#include "platform/realtime.h"
#include "platform/synth_library.h"
#include "sound/synth_clock.h"


namespace {

// The library's types stay opaque; only the calls we make are declared here.
struct FluidSettings;
struct FluidSynth;
struct FluidDriver;

struct FluidApi {
  // required
  FluidSettings* (*new_settings)() = nullptr;
  int (*settings_setstr)(FluidSettings*, const char*, const char*) = nullptr;
  int (*settings_setint)(FluidSettings*, const char*, int) = nullptr;
  FluidSynth* (*new_synth)(FluidSettings*) = nullptr;
  FluidDriver* (*new_audio_driver)(FluidSettings*, FluidSynth*) = nullptr;
  int (*sfload)(FluidSynth*, const char*, int) = nullptr;
  int (*noteon)(FluidSynth*, int, int, int) = nullptr;
  int (*noteoff)(FluidSynth*, int, int) = nullptr;
  int (*cc)(FluidSynth*, int, int, int) = nullptr;
  int (*program_change)(FluidSynth*, int, int) = nullptr;
  // optional
  int (*channel_pressure)(FluidSynth*, int, int) = nullptr;
  int (*key_pressure)(FluidSynth*, int, int, int) = nullptr;
  // the program's own rendering: into a file, or inside the audio driver's callback
  int (*write_s16)(FluidSynth*, int, void*, int, int, void*, int, int) = nullptr;
  int (*synth_process)(FluidSynth*, int, int, float**, int, float**) = nullptr;
  FluidDriver* (*new_audio_driver2)(FluidSettings*, int (*)(void*, int, int, float**, int, float**), void*) = nullptr;
  int (*settings_getint)(FluidSettings*, const char*, int*) = nullptr;
  int (*settings_getnum)(FluidSettings*, const char*, double*) = nullptr;
  int (*settings_setnum)(FluidSettings*, const char*, double) = nullptr;
  int (*pitch_bend)(FluidSynth*, int, int) = nullptr;
  int (*sysex)(FluidSynth*, const char*, int, char*, int*, int*, int) = nullptr;
  int (*system_reset)(FluidSynth*) = nullptr;
  int (*set_channel_type)(FluidSynth*, int, int) = nullptr;
  int (*reverb_on)(FluidSynth*, int, int) = nullptr;
  int (*chorus_on)(FluidSynth*, int, int) = nullptr;
  int (*reverb_roomsize)(FluidSynth*, int, double) = nullptr;
  int (*reverb_damp)(FluidSynth*, int, double) = nullptr;
  int (*reverb_width)(FluidSynth*, int, double) = nullptr;
  int (*reverb_level)(FluidSynth*, int, double) = nullptr;
  int (*chorus_nr)(FluidSynth*, int, int) = nullptr;
  int (*chorus_level)(FluidSynth*, int, double) = nullptr;
  int (*chorus_speed)(FluidSynth*, int, double) = nullptr;
  int (*chorus_depth)(FluidSynth*, int, double) = nullptr;
  int (*set_reverb)(FluidSynth*, double, double, double, double) = nullptr;
  int (*set_chorus)(FluidSynth*, int, double, double, double, int) = nullptr;
  int (*sfunload)(FluidSynth*, int, int) = nullptr;
  void* (*channel_preset)(FluidSynth*, int) = nullptr;
  int (*preset_banknum)(void*) = nullptr;
  // for freeing a failed start
  void (*delete_settings)(FluidSettings*) = nullptr;
  void (*delete_synth)(FluidSynth*) = nullptr;
  void (*delete_audio_driver)(FluidDriver*) = nullptr;
};

constexpr int kDrumChannelType = 1;
constexpr int kMelodicChannelType = 0;

std::mutex g_startMu;   // one start or swap at a time
void* g_library = nullptr;  // the synthesizer library, kept for the run once loaded
FluidApi g_api;         // bound once with the library; read-only afterwards
FluidSettings* g_settings = nullptr;
std::atomic<FluidSynth*> g_synth{nullptr};
FluidDriver* g_driver = nullptr;
std::wstring g_renderFile;  // tests: the "file" driver into this file

std::mutex g_textMu;
std::wstring g_status;       // SynthStatusText
std::wstring g_loadedName;   // LoadedSoundFont file name
int g_loadedId = -1;         // under g_startMu

std::mutex g_fxMu;
SynthGsEffects g_fx;         // SynthGsEffectState

// ---- Messages on the sample clock ----------------------------------------------------------
// Short messages wait here with their send time until the audio thread reaches their frame
// (SynthSampleClock); senders never wait on the audio thread. Used once the program renders the
// synthesizer itself (its file output, or an audio driver that calls back into the program).
struct TimedMessage {
  uint64_t sentUs = 0;
  uint8_t channel = 0, status = 0, data1 = 0, data2 = 0;
};
HandoffQueue<TimedMessage, 16384>& g_timed = *new HandoffQueue<TimedMessage, 16384>;  // never destroyed: the audio thread runs to the end
std::atomic<bool> g_onSampleClock{false};
SynthSampleClock* g_clock = nullptr;        // the audio thread's, made before it starts
std::atomic<double> g_stallMs{0};           // benchmarks: the next file block is rendered this late
constexpr int kFilePeriodFrames = 441;      // 10 ms at 44,100 Hz
// The file output has no listener waiting: its look-ahead also covers a sender held up by the
// system for up to 25 ms (the player moves its clock only past 30 ms).
constexpr double kFileLookAheadMs = kFilePeriodFrames / 44.1 + 25.0;

void ApplyShort(FluidSynth* s, int ch, uint8_t status, uint8_t d1, uint8_t d2) {
  switch (status & 0xF0) {
    case 0x90:
      if (d2 > 0)
        g_api.noteon(s, ch, d1, d2);
      else
        g_api.noteoff(s, ch, d1);
      break;
    case 0x80: g_api.noteoff(s, ch, d1); break;
    case 0xA0:
      if (g_api.key_pressure) g_api.key_pressure(s, ch, d1, d2);
      break;
    case 0xB0: g_api.cc(s, ch, d1, d2); break;
    case 0xC0: g_api.program_change(s, ch, d1); break;
    case 0xD0:
      if (g_api.channel_pressure) g_api.channel_pressure(s, ch, d1);
      break;
    case 0xE0:
      if (g_api.pitch_bend) g_api.pitch_bend(s, ch, d2 * 128 + d1);
      break;
    default: break;
  }
}

// Renders one block of `frames` frames in pieces, applying every waiting message at its frame
// between the pieces. `render(from, count)` renders frames [from, from + count) of the block.
template <class Render>
void RenderBlock(FluidSynth* s, int frames, Render&& render) {
  g_clock->BeginBlock(plat::NowUs());
  int done = 0;
  while (done < frames) {
    int until = frames;
    while (TimedMessage* m = g_timed.Front()) {
      const int64_t at = g_clock->OffsetInBlock(m->sentUs);
      if (at > done) {
        until = static_cast<int>(std::min<int64_t>(at, frames));
        break;
      }
      ApplyShort(s, m->channel, m->status, m->data1, m->data2);
      g_timed.PopFront();
    }
    render(done, until - done);
    done = until;
  }
  g_clock->EndBlock(frames);
}

int AudioCallback(void*, int len, int nfx, float** fx, int nout, float** out) {
  FluidSynth* s = g_synth.load(std::memory_order_acquire);
  if (!s || len <= 0) return 0;
  int result = 0;
  RenderBlock(s, len, [&](int from, int count) {
    float* fxAt[64];
    float* outAt[64];
    const int nf = std::min(nfx, 64), no = std::min(nout, 64);
    for (int i = 0; i < nf; ++i) fxAt[i] = fx[i] ? fx[i] + from : nullptr;
    for (int i = 0; i < no; ++i) outAt[i] = out[i] ? out[i] + from : nullptr;
    if (count > 0 && g_api.synth_process(s, count, nf, fxAt, no, outAt) != 0) result = -1;
  });
  return result;
}

// The file output: raw 16-bit stereo, one period every 10 ms of the wall clock. A period rendered
// late (the thread was held up) is followed by the missed ones at once, so the file keeps the
// wall clock's length and every message its place.
void FileRenderThread(FluidSynth* s, std::FILE* file) {
  std::string refused;
  EnterRealtimeThread(35, &refused);
  int16_t buffer[kFilePeriodFrames * 2];
  const double start = plat::NowMs();
  for (uint64_t period = 0;; ++period) {
    plat::SleepUntilMs(start + static_cast<double>(period) * 10.0);
    if (const double stall = g_stallMs.exchange(0); stall > 0) plat::SleepMs(static_cast<unsigned>(stall));
    RenderBlock(s, kFilePeriodFrames, [&](int from, int count) {
      if (count > 0) g_api.write_s16(s, count, buffer + 2 * from, 0, 2, buffer + 2 * from, 1, 2);
    });
    std::fwrite(buffer, sizeof buffer, 1, file);
    std::fflush(file);
  }
}

void SetStatus(const std::wstring& text) {
  std::lock_guard lock(g_textMu);
  g_status = text;
}

template <class F>
void Bind(F& fn, const char* name) {
  fn = reinterpret_cast<F>(plat::LibrarySymbol(g_library, name));
}

// Binds the functions of the loaded library; returns the first required one it lacks (empty when
// it has them all).
std::string BindApi() {
  FluidApi a;
  g_api = a;
  std::string missing;
  auto Need = [&missing](auto& fn, const char* name) {
    Bind(fn, name);
    if (!fn && missing.empty()) missing = name;
  };
  Need(g_api.new_settings, "new_fluid_settings");
  Need(g_api.settings_setstr, "fluid_settings_setstr");
  Need(g_api.settings_setint, "fluid_settings_setint");
  Need(g_api.new_synth, "new_fluid_synth");
  Need(g_api.new_audio_driver, "new_fluid_audio_driver");
  Need(g_api.sfload, "fluid_synth_sfload");
  Need(g_api.noteon, "fluid_synth_noteon");
  Need(g_api.noteoff, "fluid_synth_noteoff");
  Need(g_api.cc, "fluid_synth_cc");
  Need(g_api.program_change, "fluid_synth_program_change");
  Bind(g_api.settings_setnum, "fluid_settings_setnum");
  Bind(g_api.channel_pressure, "fluid_synth_channel_pressure");
  Bind(g_api.key_pressure, "fluid_synth_key_pressure");
  Bind(g_api.write_s16, "fluid_synth_write_s16");
  Bind(g_api.synth_process, "fluid_synth_process");
  Bind(g_api.new_audio_driver2, "new_fluid_audio_driver2");
  Bind(g_api.settings_getint, "fluid_settings_getint");
  Bind(g_api.settings_getnum, "fluid_settings_getnum");
  Bind(g_api.pitch_bend, "fluid_synth_pitch_bend");
  Bind(g_api.sysex, "fluid_synth_sysex");
  Bind(g_api.system_reset, "fluid_synth_system_reset");
  Bind(g_api.set_channel_type, "fluid_synth_set_channel_type");
  Bind(g_api.reverb_on, "fluid_synth_reverb_on");
  Bind(g_api.chorus_on, "fluid_synth_chorus_on");
  Bind(g_api.reverb_roomsize, "fluid_synth_set_reverb_group_roomsize");
  Bind(g_api.reverb_damp, "fluid_synth_set_reverb_group_damp");
  Bind(g_api.reverb_width, "fluid_synth_set_reverb_group_width");
  Bind(g_api.reverb_level, "fluid_synth_set_reverb_group_level");
  Bind(g_api.chorus_nr, "fluid_synth_set_chorus_group_nr");
  Bind(g_api.chorus_level, "fluid_synth_set_chorus_group_level");
  Bind(g_api.chorus_speed, "fluid_synth_set_chorus_group_speed");
  Bind(g_api.chorus_depth, "fluid_synth_set_chorus_group_depth");
  Bind(g_api.set_reverb, "fluid_synth_set_reverb");
  Bind(g_api.set_chorus, "fluid_synth_set_chorus");
  Bind(g_api.sfunload, "fluid_synth_sfunload");
  Bind(g_api.channel_preset, "fluid_synth_get_channel_preset");
  Bind(g_api.preset_banknum, "fluid_preset_get_banknum");
  Bind(g_api.delete_settings, "delete_fluid_settings");
  Bind(g_api.delete_synth, "delete_fluid_synth");
  Bind(g_api.delete_audio_driver, "delete_fluid_audio_driver");
  return missing;
}

std::filesystem::path SynthDir() { return plat::RealPath(L"<root>/synth"); }

// Loads the library once: the synth folder's candidates in order, then the system's. A failure
// is told in the loader's own words.
bool LoadLibraryOnce() {
  if (g_library) return true;
  std::vector<std::filesystem::path> files = plat::SynthLibraryFiles(SynthDir());
  plat::LibraryLoadError last;
  bool triedAny = false;
  for (const auto& file : files) {
    triedAny = true;
    plat::LibraryLoadError err;
    std::wstring name = Utf8ToWide(file.filename().string());
    if (void* lib = plat::LoadLibraryFile(file.string(), &err)) {
      g_library = lib;
      DebugLog(L"내장음원: 라이브러리 로드 성공 - " + name);
      return true;
    }
    DebugLog(L"내장음원: 라이브러리 로드 실패 - " + name + L": " + Utf8ToWide(err.message));
    last = err;
  }
  plat::LibraryLoadError sysErr;
  if (void* lib = plat::LoadLibraryFile(plat::kSystemSynthLibrary, &sysErr)) {
    g_library = lib;
    DebugLog(L"내장음원: 라이브러리 로드 성공 - " + Utf8ToWide(plat::kSystemSynthLibrary));
    return true;
  }
  const std::wstring system = Utf8ToWide(plat::kSystemSynthLibrary);
  if (!triedAny) {
    SetStatus(Utf8ToWide(SynthDir().string()) + L" 폴더에 fluidsynth 라이브러리가 없고 시스템의 " + system +
              L"도 열 수 없습니다 (libfluidsynth3 패키지 필요): " + Utf8ToWide(sysErr.message));
  } else if (last.code == 193) {
    SetStatus(L"fluidsynth 라이브러리의 아키텍처가 이 프로그램과 다릅니다 - 같은 아키텍처용 빌드가 필요합니다: " +
              Utf8ToWide(last.message));
  } else if (last.code == 126) {
    SetStatus(L"fluidsynth 라이브러리가 쓰는 다른 공유 라이브러리가 없습니다 - 함께 설치해야 합니다: " +
              Utf8ToWide(last.message));
  } else {
    SetStatus(L"fluidsynth 라이브러리 로드 실패: " + Utf8ToWide(last.message));
  }
  return false;
}

// A SoundFont setting must be a bare file name of the synth folder.
bool IsBareFileName(std::wstring_view name) {
  return !name.empty() && name.find_first_of(L"/\\:") == std::wstring_view::npos && name != L"." &&
         name != L"..";
}

// What the operator reads when no SoundFont is anywhere: where to put one, which package has one.
std::wstring NoSoundFontText() {
  return L"사운드폰트(.sf2)가 없습니다 - " + Utf8ToWide(SynthDir().string()) +
         L" 폴더에 넣거나 timgm6mb-soundfont 또는 fluid-soundfont-gm 패키지를 설치해주세요";
}

std::filesystem::path FirstSoundFont() {
  std::vector<std::filesystem::path> found = SoundFontFiles();
  return found.empty() ? std::filesystem::path() : found.front();
}

std::filesystem::path SoundFontPath(std::wstring_view name) {
  if (!IsBareFileName(name)) return {};
  std::filesystem::path p = plat::RealPath(L"<root>/synth/" + std::wstring(name));
  std::error_code ec;
  if (p.empty() || !std::filesystem::is_regular_file(p, ec)) return {};
  return p;
}

void FreeFailedStart(FluidSynth* synth) {
  if (g_driver && g_api.delete_audio_driver) g_api.delete_audio_driver(g_driver);
  g_driver = nullptr;
  if (synth && g_api.delete_synth) g_api.delete_synth(synth);
  if (g_settings && g_api.delete_settings) g_api.delete_settings(g_settings);
  g_settings = nullptr;
}

bool Fail(const std::wstring& text, FluidSynth* synth) {
  SetStatus(text);
  DebugLog(L"내장음원: " + text);
  FreeFailedStart(synth);
  return false;
}

void SetDrumChannelsOn(FluidSynth* s) {
  if (!s || !g_api.set_channel_type) return;
  for (int ch : {9, 10, 11, 12, 25, 26, 27, 28}) {
    g_api.set_channel_type(s, ch, kDrumChannelType);
    g_api.program_change(s, ch, 0);
  }
}

// A reset sent to port 2 resets port 2's module only: the synthesizer's channels 16 to 31 go back
// to their reset state (sounds off, controllers, bank, program, levels, drum parts), while port 1's
// channels and the shared effects stay as they are.
void ResetPortTwoChannels(FluidSynth* s) {
  for (int ch = 16; ch < 32; ++ch) {
    g_api.cc(s, ch, 120, 0);
    g_api.cc(s, ch, 121, 0);
    const bool drum = ch >= 25 && ch <= 28;
    if (g_api.set_channel_type) g_api.set_channel_type(s, ch, drum ? kDrumChannelType : kMelodicChannelType);
    g_api.cc(s, ch, 0, 0);
    g_api.cc(s, ch, 32, 0);
    g_api.program_change(s, ch, 0);
    g_api.cc(s, ch, 7, 100);
    g_api.cc(s, ch, 10, 64);
    g_api.cc(s, ch, 91, 40);
    g_api.cc(s, ch, 93, 0);
    if (g_api.pitch_bend) g_api.pitch_bend(s, ch, 8192);
  }
}

}  // namespace

std::vector<std::filesystem::path> SoundFontFiles() {
  std::vector<std::filesystem::path> found;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(SynthDir(), ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code fec;
    if (it->is_directory(fec)) continue;
    std::string ext = it->path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == ".sf2") found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::wstring GetSynthStatusText() {
  std::lock_guard lock(g_textMu);
  return g_status;
}

std::wstring LoadedSoundFontName() {
  std::lock_guard lock(g_textMu);
  return g_loadedName;
}

SynthGsEffects GetSynthGsEffects() {
  std::lock_guard lock(g_fxMu);
  return g_fx;
}

void SetSynthRenderFile(std::wstring_view path) {
  std::lock_guard lock(g_startMu);
  g_renderFile = path;
}

void ResetBuiltInSynthFailure() {
  int failed = -1;
  Sound.BuiltInSynthState.compare_exchange_strong(failed, 0);
}

bool StartBuiltInSynth() {
  int state = Sound.BuiltInSynthState.load();
  if (state == 1) return true;
  if (state == -1) return false;
  std::lock_guard lock(g_startMu);
  state = Sound.BuiltInSynthState.load();
  if (state != 0) return state == 1;
  Sound.BuiltInSynthState.store(-1);
  SetStatus(L"");

  if (!LoadLibraryOnce()) {
    DebugLog(L"내장음원: " + GetSynthStatusText());
    return false;
  }
  plat::LockMappedFiles();  // the library's code stays in memory like the program's
  if (const std::string missing = BindApi(); !missing.empty())
    return Fail(L"fluidsynth 함수 해석 실패 - 라이브러리가 fluidsynth 본체가 아니거나 버전이 너무 다릅니다 (없는 함수: " +
                    Utf8ToWide(missing) + L")",
                nullptr);

  g_settings = g_api.new_settings();
  if (!g_settings) return Fail(L"설정 객체 생성 실패", nullptr);
  g_api.settings_setint(g_settings, "synth.midi-channels", 32);
  g_api.settings_setstr(g_settings, "synth.midi-bank-select", "gs");
  g_api.settings_setint(g_settings, "synth.polyphony", 256);
  int gain = Settings.synthGain;
  if (g_api.settings_setnum) g_api.settings_setnum(g_settings, "synth.gain", gain / 100.0);
  if (Settings.synthPeriodSize > 0)
    g_api.settings_setint(g_settings, "audio.period-size", Settings.synthPeriodSize);
  if (Settings.synthPeriods > 0)
    g_api.settings_setint(g_settings, "audio.periods", Settings.synthPeriods);

  FluidSynth* synth = g_api.new_synth(g_settings);
  if (!synth) return Fail(L"신스 생성 실패", nullptr);

  std::wstring wanted = GetSettingText(&AppSettings::synthSf2);
  std::filesystem::path sf;
  if (!wanted.empty()) {
    sf = SoundFontPath(wanted);
    if (sf.empty()) DebugLog(L"내장음원: 지정한 사운드폰트가 없어 첫 파일로 대체 - " + wanted);
  }
  if (sf.empty()) sf = FirstSoundFont();
  if (sf.empty()) {
    // None of our own: the system's General MIDI SoundFont, from Debian's packages.
    const std::vector<std::filesystem::path> system = plat::SystemSoundFontFiles();
    if (!system.empty()) {
      sf = system.front();
      DebugLog(L"내장음원: synth 폴더에 사운드폰트가 없어 시스템의 것을 씀 - " + Utf8ToWide(sf.string()));
    }
  }
  if (sf.empty()) return Fail(NoSoundFontText(), synth);
  std::wstring sfText = Utf8ToWide(sf.string());
  int id = g_api.sfload(synth, sf.string().c_str(), 1);
  if (id < 0) return Fail(L"사운드폰트 로드 실패 - " + sfText, synth);

  std::vector<std::string> drivers = {"pipewire", "pulseaudio", "alsa"};
  if (g_renderFile.empty()) g_renderFile = Utf8ToWide(plat::SynthRenderFileSetting());
  std::FILE* ownFile = nullptr;
  if (!g_renderFile.empty() && g_api.write_s16) {
    drivers.clear();
    if (g_api.settings_setnum) g_api.settings_setnum(g_settings, "synth.sample-rate", 44100.0);
    ownFile = std::fopen(WideToUtf8(g_renderFile).c_str(), "wb");
    if (!ownFile) return Fail(L"출력 파일을 열 수 없습니다 - " + g_renderFile, synth);
  } else if (!g_renderFile.empty()) {
    drivers = {"file"};
    g_api.settings_setstr(g_settings, "audio.file.name", WideToUtf8(g_renderFile).c_str());
    g_api.settings_setstr(g_settings, "audio.file.type", "raw");
    // The file driver renders one period per whole millisecond tick of its timer: a period of
    // exactly 10 ms keeps the file on the wall clock, so a song's audio lasts as long as the song.
    g_api.settings_setint(g_settings, "audio.period-size", 441);
    if (g_api.settings_setnum) g_api.settings_setnum(g_settings, "synth.sample-rate", 44100.0);
  }
  // With a driver that calls back into the program, the program renders and every message plays
  // at its own frame; otherwise messages go in as they come.
  const bool callback = g_api.new_audio_driver2 && g_api.synth_process;
  if (callback && !ownFile) {
    int period = 64, periods = 16;
    if (g_api.settings_getint) {
      g_api.settings_getint(g_settings, "audio.period-size", &period);
      g_api.settings_getint(g_settings, "audio.periods", &periods);
    }
    double rate = 44100;
    if (g_api.settings_getnum) g_api.settings_getnum(g_settings, "synth.sample-rate", &rate);
    // The device's buffer, and 10 ms for a sender that woke late.
    const double lookAhead = std::clamp(1000.0 * period * periods / rate + 10.0, 15.0, 150.0);
    g_clock = new SynthSampleClock(rate, lookAhead);
  }
  for (const auto& d : drivers) {
    g_api.settings_setstr(g_settings, "audio.driver", d.c_str());
    g_driver = callback ? g_api.new_audio_driver2(g_settings, &AudioCallback, nullptr)
                        : g_api.new_audio_driver(g_settings, synth);
    if (g_driver) break;
  }
  if (!g_driver && !ownFile) return Fail(L"오디오 드라이버(pipewire/pulseaudio/alsa) 열기 실패", synth);

  g_loadedId = id;
  {
    std::lock_guard t(g_textMu);
    g_loadedName = Utf8ToWide(sf.filename().string());
  }
  SetDrumChannelsOn(synth);
  {
    std::lock_guard fx(g_fxMu);
    g_fx.reverbMacro = Settings.reverbMacro;
    g_fx.reverbTime = Settings.reverbTime;
    g_fx.reverbPreLpf = Settings.reverbPreLpf;
    if (Settings.reverbLevel >= 0) g_fx.reverbLevel = Settings.reverbLevel;
  }
  g_synth.store(synth);
  if (ownFile) {
    g_clock = new SynthSampleClock(44100, kFileLookAheadMs);
    std::thread(FileRenderThread, synth, ownFile).detach();
  }
  g_onSampleClock.store(ownFile != nullptr || (callback && g_driver));
  ApplySynthEffects();
  Sound.BuiltInSynthState.store(1);
  bool reverbControl = (g_api.reverb_roomsize && g_api.reverb_damp && g_api.reverb_width &&
                        g_api.reverb_level) ||
                       g_api.set_reverb;
  DebugLog(L"내장음원(FluidSynth) 가동 - 사운드폰트: " + sfText + L" | gain " + std::to_wstring(gain) +
           L"% | GS이펙트번역 " + (Settings.synthGsFx ? L"켬" : L"끔") + L" | 리버브 " +
           (reverbControl ? L"제어가능" : L"제어불가(라이브러리에 함수 없음)"));
  return true;
}

bool SwapSoundfont(std::wstring_view fileName) {
  std::lock_guard lock(g_startMu);
  FluidSynth* synth = g_synth.load();
  if (Sound.BuiltInSynthState.load() != 1 || !synth) return true;
  if (fileName == LoadedSoundFontName()) return true;
  if (!g_api.sfload) return false;
  std::filesystem::path path = SoundFontPath(fileName);
  if (path.empty()) return false;
  if (g_api.system_reset) g_api.system_reset(synth);
  int id = g_api.sfload(synth, path.string().c_str(), 1);
  if (id < 0) {
    DebugLog(L"내장음원: 사운드폰트 교체 실패 - " + std::wstring(fileName));
    return false;
  }
  if (g_api.sfunload && g_loadedId >= 0) g_api.sfunload(synth, g_loadedId, 1);
  g_loadedId = id;
  {
    std::lock_guard t(g_textMu);
    g_loadedName = std::wstring(fileName);
  }
  SetDrumChannelsOn(synth);
  ApplySynthEffects();
  DebugLog(L"내장음원: 사운드폰트 교체 완료 - " + std::wstring(fileName));
  return true;
}

void SetSynthDrumChannels() { SetDrumChannelsOn(g_synth.load()); }

void ApplySynthEffects() {
  FluidSynth* s = g_synth.load();
  if (!s || !Settings.synthGsFx) return;
  SynthGsEffects fx = GetSynthGsEffects();
  static const double kRoomFactor[8] = {0.62, 0.72, 0.82, 0.95, 1.0, 0.88, 0.7, 0.7};
  static const double kWidth[8] = {0.5, 0.5, 0.6, 1.0, 1.0, 0.8, 0.7, 1.0};
  int macro = fx.reverbMacro & 7;
  double room = std::clamp(((fx.reverbTime & 127) / 127.0 * 0.77 + 0.15) * kRoomFactor[macro], 0.05, 0.98);
  double width = kWidth[macro];
  double damp = (fx.reverbPreLpf & 7) / 7.0 * 0.8;
  double level = (fx.reverbLevel & 127) / 127.0 * 0.85;
  const FluidApi& f = g_api;
  if (f.reverb_roomsize && f.reverb_damp && f.reverb_width && f.reverb_level) {
    f.reverb_roomsize(s, -1, room);
    f.reverb_damp(s, -1, damp);
    f.reverb_width(s, -1, width);
    f.reverb_level(s, -1, level);
  } else if (f.set_reverb) {
    f.set_reverb(s, room, damp, width, level);
  }
  if (f.reverb_on) f.reverb_on(s, -1, (fx.reverbLevel & 127) > 0 ? 1 : 0);
  double cLevel = (fx.chorusLevel & 127) / 127.0 * 3.0;
  double speed = (fx.chorusRate & 127) / 127.0 * 4.7 + 0.29;
  double depth = std::max(0.3, (fx.chorusDepth & 127) / 127.0 * 20.0);
  if (f.chorus_nr && f.chorus_level && f.chorus_speed && f.chorus_depth) {
    f.chorus_nr(s, -1, 3);
    f.chorus_level(s, -1, cLevel);
    f.chorus_speed(s, -1, speed);
    f.chorus_depth(s, -1, depth);
  } else if (f.set_chorus) {
    f.set_chorus(s, 3, cLevel, speed, depth, 0);
  }
  if (f.chorus_on) f.chorus_on(s, -1, (fx.chorusLevel & 127) > 0 ? 1 : 0);
}

void SendSysExToSynth(int port, const uint8_t* bytes, size_t length) {
  FluidSynth* s = g_synth.load();
  if (!s || Sound.BuiltInSynthState.load() != 1 || !bytes || length < 2) return;
  bool gsDt1 = length > 9 && bytes[0] == 0xF0 && bytes[1] == 0x41 && bytes[3] == 0x42 &&
               bytes[4] == 0x12 && bytes[5] == 0x40;
  if (gsDt1) {
    uint8_t a2 = bytes[6], a3 = bytes[7];
    int value = bytes[8] & 0x7F;
    bool fxChange = true;
    bool handled = true;
    if (a2 == 0x01 && length > 10) {
      std::lock_guard lock(g_fxMu);
      switch (a3) {
        case 0x30: g_fx.reverbMacro = value & 7; break;
        case 0x32: g_fx.reverbPreLpf = value & 7; break;
        case 0x33: g_fx.reverbLevel = value; break;
        case 0x34: g_fx.reverbTime = value; break;
        case 0x38: g_fx.chorusDepth = 19; g_fx.chorusRate = 3; break;
        case 0x3A: g_fx.chorusLevel = value; break;
        case 0x3B: g_fx.chorusRate = value; break;
        case 0x3C: g_fx.chorusDepth = value; break;
        default: handled = false; break;
      }
    } else if ((a2 & 0xF0) == 0x10 && a3 == 0x15 && length > 10) {
      fxChange = false;
      if (g_api.set_channel_type) {
        int block = a2 & 0x0F;
        int part = block == 0 ? 9 : block <= 9 ? block - 1 : block;
        int channel = part + 16 * (port == 1 ? 1 : 0);
        if (channel <= 31) {
          g_api.set_channel_type(s, channel, value != 0 ? kDrumChannelType : kMelodicChannelType);
          g_api.program_change(s, channel, 0);
        }
      }
    } else if (a2 == 0x00 && a3 == 0x7F && port == 1) {
      fxChange = false;
      ResetPortTwoChannels(s);
    } else if (a2 == 0x00 && a3 == 0x7F) {
      if (g_api.system_reset) g_api.system_reset(s);
      SetDrumChannelsOn(s);
      std::lock_guard lock(g_fxMu);
      g_fx = SynthGsEffects{};
    } else {
      handled = false;
    }
    if (handled) {
      if (fxChange) ApplySynthEffects();
      return;
    }
  }
  if (port == 1 && length >= 5 && bytes[0] == 0xF0 && bytes[1] == 0x7E && bytes[3] == 0x09 && bytes[4] == 0x01) {
    ResetPortTwoChannels(s);  // GM System On for port 2
    return;
  }
  if (g_api.sysex && bytes[0] == 0xF0 && length > 2)
    g_api.sysex(s, reinterpret_cast<const char*>(bytes + 1), static_cast<int>(length - 2), nullptr,
                nullptr, nullptr, 0);
}

thread_local double t_sendTimeMs = 0;

void SetSynthSendTime(double atMs) { t_sendTimeMs = atMs; }

void SendShortToSynth(int ch, uint8_t status, uint8_t d1, uint8_t d2) {
  FluidSynth* s = g_synth.load(std::memory_order_acquire);
  if (!s || Sound.BuiltInSynthState.load(std::memory_order_acquire) != 1) return;
  if (g_onSampleClock.load(std::memory_order_acquire)) {
    // The event's own time when the sender gave one (a time still to come counts as now).
    const uint64_t now = plat::NowUs();
    const uint64_t at = t_sendTimeMs > 0 ? std::min<uint64_t>(now, static_cast<uint64_t>(t_sendTimeMs * 1000.0)) : now;
    TimedMessage m{at, static_cast<uint8_t>(ch), status, d1, d2};
    if (g_timed.TryPush(m)) return;
    // A full queue (the audio thread has stopped): the message goes in at once rather than never.
  }
  ApplyShort(s, ch, status, d1, d2);
}

void DelayNextSynthFileBlock(double ms) { g_stallMs.store(ms); }

double SynthLookAheadMs() { return g_onSampleClock.load() && g_clock ? g_clock->LookAheadMs() : 0; }

int SynthChannelBank(int channel) {
  FluidSynth* s = g_synth.load();
  if (!s || Sound.BuiltInSynthState.load() != 1 || !g_api.channel_preset || !g_api.preset_banknum ||
      channel < 0 || channel > 31)
    return -1;
  void* preset = g_api.channel_preset(s, channel);
  return preset ? g_api.preset_banknum(preset) : -1;
}
