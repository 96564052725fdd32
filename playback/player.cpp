// The song player thread.
//
// [SECTION] Run control: start, stop, the gate before isPlaying; tick reports; the held song tones and
//           the paced silencing that hand over to and from the rhythm
// [SECTION] Chase planning and pacing
// [SECTION] One run: start-up, start sequence, event loop, end
#include "playback/player.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/realtime_thread.h"
#include "base/program_messages.h"
#include "base/settings/app_settings.h"
#include "base/settings/song_settings.h"
#include "base/text.h"
#include "base/trace_log.h"
#include "platform/clock.h"
#include "platform/message_loop.h"
#include "platform/realtime.h"
#include "playback/sax_melody.h"
#include "playback/services.h"
#include "playback/song_position.h"
#include "playback/song_sysex.h"
#include "playback/tempo.h"
#include "songs/bars.h"
#include "sound/send_trace.h"
#include "sound/services.h"

// ---- [SECTION] Run control -------------------------------------------------------------------

namespace {

// Taken by a stopper to bump the stop generation and clear isPlaying, and by a run to check the
// generation and set isPlaying: one of the two always comes second and sees the other.
std::mutex g_playGate;
std::atomic<std::atomic<uint8_t>*> g_tickInFlight{nullptr};
std::atomic<std::atomic<uint8_t>*> g_liteMode{nullptr};
std::atomic<uint32_t> g_lastTickPostTime{0};

std::atomic<bool> g_noPort1Logged{false};
std::atomic<bool> g_noPort2Logged{false};
std::atomic<bool> g_priorityLogged{false};

void PlayMidiThreadRun(uint32_t generation);

// A song that joined the running rhythm: when its set-up left the rhythm less than 250 ms alone
// before the downbeat, the downbeat moves on by a bar.
void CheckAttachLead() {
  constexpr int kAloneMs = 250;
  const int us = AttachState.AttachTempoUs.load() > 0 ? AttachState.AttachTempoUs.load() : 500000;
  const double attachFactor = AttachState.AttachFactor.load();
  const double factor = attachFactor > 0 ? attachFactor : 1.0;
  const double bpm = std::max(20.0, 60000000.0 / us + PlaybackState.TempoOffsetBpm.load());
  const int bar = static_cast<int>(std::clamp(240000.0 / bpm / factor, 400.0, 6000.0));
  const int left = static_cast<int>(PlaybackState.startAt.load() - plat::TimeGetTime());
  if (CvtState.rhythm.load() && left < kAloneMs &&
      ComputeCvtGoTime(us, AttachState.AttachPpq.load(), factor, 0, kAloneMs, false, 0, 0, false)) {
    const int now = static_cast<int>(PlaybackState.startAt.load() - plat::TimeGetTime());
    TraceLog(L"[RDY] 로드 완료 - CVT 단독 %dms 필요한데 %dms 뿐 -> 한 마디 더 돌리고 다음 다운비트(이제 %dms, 마디 %dms)\n",
             kAloneMs, left, now, bar);
  } else {
    TraceLog(L"[RDY] 로드 완료 - CVT 단독 %dms 확보(필요 %dms, 마디 %dms) - 예정 다운비트 그대로\n", left, kAloneMs, bar);
  }
}

}  // namespace

bool StartPlayMidiThread() {
  uint8_t idle = 0;
  if (!PlaybackState.PlayerThreadAlive.compare_exchange_strong(idle, 1)) {
    DebugLog(L"[SONG] 이전 재생이 아직 끝나지 않아 새 재생을 시작하지 않습니다");
    PlaybackState.SongStartGuardTime = 0;
    return false;
  }
  const uint32_t generation = PlaybackState.StopGeneration.load();
  try {
    std::thread(PlayMidiThreadRun, generation).detach();
  } catch (...) {
    PlaybackState.PlayerThreadAlive = 0;
    PlaybackState.SongStartGuardTime = 0;
    throw;
  }
  return true;
}

bool RunPlayMidiThreadHere(uint32_t generation) {
  uint8_t idle = 0;
  if (!PlaybackState.PlayerThreadAlive.compare_exchange_strong(idle, 1)) {
    DebugLog(L"[SONG] 이전 재생이 아직 끝나지 않아 새 재생을 시작하지 않습니다");
    return false;
  }
  PlayMidiThreadRun(generation);
  return true;
}

bool StopPlayer(unsigned waitMs) {
  {
    std::lock_guard lock(g_playGate);
    PlaybackState.StopGeneration.fetch_add(1);
    PlaybackState.isPlaying = 0;
  }
  for (unsigned i = 0; i < waitMs && PlaybackState.PlayerThreadAlive.load(); ++i) plat::SleepMs(1);
  return PlaybackState.PlayerThreadAlive.load() == 0;
}

void SetTickInFlightFlag(std::atomic<uint8_t>* flag) { g_tickInFlight = flag; }
void SetLiteModeFlag(std::atomic<uint8_t>* flag) { g_liteMode = flag; }

bool TickReportDue(uint32_t now, uint32_t lastPost, bool inFlight, bool lite) {
  const uint32_t since = now - lastPost;
  if (lite && since < 50) return false;
  return !inFlight || since >= 500;
}

void PostTickUpdate(uint32_t tick) {
  const uint32_t now = plat::TimeGetTime();
  std::atomic<uint8_t>* inFlight = g_tickInFlight.load();
  std::atomic<uint8_t>* lite = g_liteMode.load();
  if (!TickReportDue(now, g_lastTickPostTime.load(), inFlight && inFlight->load(), lite && lite->load())) return;
  if (inFlight) inFlight->store(1);
  g_lastTickPostTime = now;
  PostFromAnyThread(WM_UPDATE_TICK, static_cast<int64_t>(tick));
}

int TransposeNote(int note, int channel, int key) {
  if (key == 0 || (channel >= 9 && channel <= 12)) return note;
  const int n = note + key;
  return n < 0 || n > 127 ? -1 : n;
}

uint32_t ComputeSetupSignature() {
  uint32_t bits = 0;
  if (CvtState.rhythm.load()) bits |= 1;
  if (CvtState.CvtOwnsChannels.load()) bits |= 2;
  if (CvtState.FillPlaying.load()) bits |= 4;
  if (PlaybackState.waitingGo.load()) bits |= 8;
  if (IsUserSaxToneSet()) bits |= 16;
  if (IsUserBassToneSet()) bits |= 32;
  if (IsUserDrumKitSet(9)) bits |= 64;
  if (IsUserDrumKitSet(10)) bits |= 128;
  return bits ^ (HashSendTables() << 9);
}

int CountInClicks(uint32_t secondBarTick, int ppq) {
  return static_cast<int>(std::clamp<uint32_t>(secondBarTick / static_cast<uint32_t>(ppq > 0 ? ppq : 120), 1, 8));
}

void ResetTrackingGlobals() {
  for (int c = 0; c < 16; ++c)
    for (auto* table : {HeldSongTones.bankMsb, HeldSongTones.bankLsb, HeldSongTones.program, HeldSongTones.reverb,
                        HeldSongTones.chorus})
      table[c].store(0xFF);
  HeldSongTones.valid = 1;
}

void SendHeldSongTones(MidiOutHandle port1) {
  HeldSongTones.pending = 0;
  if (!HeldSongTones.valid.load()) return;
  const bool dry = Settings.dryDrumBass && !Settings.rawSound;
  for (int c = 0; c < 16; ++c) {
    const uint8_t msb = HeldSongTones.bankMsb[c].exchange(0xFF), lsb = HeldSongTones.bankLsb[c].exchange(0xFF);
    const uint8_t program = HeldSongTones.program[c].exchange(0xFF);
    const uint8_t reverb = HeldSongTones.reverb[c].exchange(0xFF), chorus = HeldSongTones.chorus[c].exchange(0xFF);
    if (!port1) continue;
    const bool dryChannel = dry && (c == 8 || c == 9 || c == 11 || c == 12);
    if (msb != 0xFF) SendShortMidi(port1, PackMidi(0xB0 | c, 0, msb));
    if (lsb != 0xFF) SendShortMidi(port1, PackMidi(0xB0 | c, 32, lsb));
    if (program != 0xFF) SendShortMidi(port1, PackMidi(0xC0 | c, program));
    if (reverb != 0xFF) SendShortMidi(port1, PackMidi(0xB0 | c, 91, dryChannel ? 0 : reverb));
    if (chorus != 0xFF) SendShortMidi(port1, PackMidi(0xB0 | c, 93, dryChannel ? 0 : chorus));
  }
}

void PacedTwoPortSendThread(MidiOutHandle port1, MidiOutHandle port2, std::vector<uint32_t> one,
                            std::vector<uint32_t> two, unsigned firstDelayMs) {
  if (firstDelayMs) plat::SleepMs(firstDelayMs);
  for (size_t i = 0; i < std::max(one.size(), two.size()); ++i) {
    if (i < one.size() && port1) SendShortMidi(port1, one[i]);
    if (i < two.size() && port2) SendShortMidi(port2, two[i]);
    plat::SleepMs(2);
  }
}

void StartPacedTwoPortSend(MidiOutHandle port1, MidiOutHandle port2, std::vector<uint32_t> one, std::vector<uint32_t> two,
                           unsigned firstDelayMs) {
  if (one.empty() && two.empty()) return;
  try {
    std::thread(PacedTwoPortSendThread, port1, port2, one, two, firstDelayMs).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the messages still go, at once.
    for (uint32_t m : one) SendShortMidi(port1, m);
    for (uint32_t m : two) SendShortMidi(port2, m);
  }
}

// ---- [SECTION] Chase planning and pacing ----------------------------------------------------

bool IsChasedController(unsigned cc) {
  if (cc < 12) return (0xDA6u >> cc) & 1u;
  if (cc >= 64 && cc <= 95) return (0xF810FFBFu >> (cc - 64)) & 1u;
  return false;
}

namespace {

// Key of a chased state: kind (1 controller, 2 program, 3 pitch bend, 4 channel pressure), port,
// channel, controller. 0 for an event that is not chased.
uint32_t ChaseKey(const SongEvent& e, int* value) {
  const unsigned kind = e.status & 0xF0, ch = e.status & 0x0F, port = e.port & 1;
  const uint32_t where = (port << 20) | (ch << 16);
  switch (kind) {
    case 0xB0:
      if (!IsChasedController(e.data1)) return 0;
      *value = e.data2;
      return (1u << 24) | where | e.data1;
    case 0xC0: *value = e.data1; return (2u << 24) | where;
    case 0xE0: *value = e.data2 * 128 + e.data1; return (3u << 24) | where;
    case 0xD0: *value = e.data1; return (4u << 24) | where;
    default: return 0;
  }
}

}  // namespace

ChasePlan PlanChase(const SongModel& song, uint32_t S, uint32_t O, bool fast) {
  ChasePlan plan;
  const auto& events = song.SongEventList;
  plan.skip.assign(events.size(), 0);
  plan.fast = fast;
  if (S == 0) return plan;
  struct KeyState {
    int last = -1, atS = -1, atO = -1;
  };
  std::unordered_map<uint32_t, KeyState> keys;
  int lastBank[2][2][16];  // [msb/lsb][port][channel]
  std::fill(&lastBank[0][0][0], &lastBank[0][0][0] + 64, -1);
  const uint32_t E = fast && O > S ? O : S;
  for (size_t i = 0; i < events.size(); ++i) {
    const SongEvent& e = events[i];
    if (e.tick >= E) break;
    if (e.kind != kSongEventChannel) continue;
    if ((e.status & 0xF0) == 0xB0 && (e.data1 == 0 || e.data1 == 32)) {
      if (e.tick < S) lastBank[e.data1 == 0 ? 0 : 1][e.port & 1][e.status & 0x0F] = static_cast<int>(i);
      continue;
    }
    int value = 0;
    const uint32_t key = ChaseKey(e, &value);
    if (!key) continue;
    KeyState& k = keys[key];
    if (e.tick < S) {
      if (k.last >= 0 && (fast || (key >> 24) != 2)) plan.skip[k.last] = 1;
      k.last = static_cast<int>(i);
      k.atS = value;
    }
    if (e.tick < O) k.atO = value;
  }
  for (const auto& [key, k] : keys)
    if (k.last >= 0) ++plan.keysAll;
  if (!fast) {
    plan.keysSent = plan.keysAll;
    return plan;
  }
  for (const auto& [key, k] : keys) {
    if (k.last < 0) continue;
    const bool isCc = (key >> 24) == 1;
    const unsigned cc = key & 0xFF;
    const bool always = isCc && (cc == 7 || (cc == 64 && k.atS > 0));
    if (k.atS == k.atO && !always) plan.skip[k.last] = 1;
    else ++plan.keysSent;
  }
  for (size_t i = 0; i < events.size(); ++i) {
    const SongEvent& e = events[i];
    if (e.tick >= S) break;
    if (plan.skip[i]) continue;
    if (e.kind == kSongEventChannel && (e.status & 0xF0) == 0xB0 && (e.data1 == 0 || e.data1 == 32)) {
      const int port = e.port & 1, ch = e.status & 0x0F;
      auto program = keys.find((2u << 24) | (static_cast<uint32_t>(port) << 20) | (static_cast<uint32_t>(ch) << 16));
      const bool programSent = program != keys.end() && program->second.last >= 0 && !plan.skip[program->second.last];
      if (lastBank[e.data1 == 0 ? 0 : 1][port][ch] == static_cast<int>(i) && programSent) ++plan.sequenceEvents;
      else plan.skip[i] = 1;
      continue;
    }
    int value = 0;
    const bool other = e.kind == kSongEventSysEx || (e.kind == kSongEventChannel && (e.status & 0xF0) == 0xB0 &&
                                                      ChaseKey(e, &value) == 0);
    if (!other) continue;
    if (e.tick < O) plan.skip[i] = 1;
    else ++plan.sequenceEvents;
  }
  return plan;
}

int ChaseWeight(const SongEvent& e) {
  if (e.kind == kSongEventSysEx) return 8;
  if (e.kind != kSongEventChannel || e.status < 0xA0) return 0;
  return (e.status & 0xF0) == 0xC0 ? 8 : 1;
}

int ChasePacer::left() const {
  const uint32_t at = clock_.downbeat();
  return at ? static_cast<int32_t>(at - clock_.now()) : 0;
}

void ChasePacer::Plan(int64_t weight, bool waiting) {
  pacing_ = false;
  if (!waiting) return;
  const int l = left();
  spread_ = l >= 351 ? static_cast<uint32_t>(l - 350) : 0;
  start_ = clock_.now();
  total_ = weight;
  sent_ = 0;
  TraceLog(L"[MDL] 셋업 분산 - 무게 %lld, 펼 시간 %ums(여유 %dms 중 %dms 는 남겨 둠)\n", static_cast<long long>(weight), spread_, l,
           350);
  pacing_ = weight > 0 && spread_ > 0;
  if (!pacing_) TraceLog(L"[MDL] 분산할 여유가 없다 - 예전 분산(32개마다 1ms)으로 간다\n");
}

// Waits until the weight sent so far has its share of the spread, giving up 350 ms before the
// downbeat.
void ChasePacer::WaitUntilShare() {
  const uint32_t due = start_ + static_cast<uint32_t>(static_cast<double>(spread_) * sent_ / total_);
  while (clock_.playing() && static_cast<int32_t>(due - clock_.now()) > 0) {
    if (clock_.downbeat() == 0 || left() <= 350) return;
    clock_.sleep(1);
  }
}

void ChasePacer::Before(const SongEvent& e, bool downbeatPending) {
  const int weight = ChaseWeight(e);
  if (pacing_) {
    if (weight == 0) return;
    sent_ += weight;
    WaitUntilShare();
    return;
  }
  if (downbeatPending && ++events_ % 32 == 0 && left() > 500) clock_.sleep(1);
}

void ChasePacer::AfterSent(bool programChange, bool downbeatPending) {
  if (pacing_) return;
  if (++messages_ % 32 == 0) clock_.sleep(1);
  if (programChange && downbeatPending && ++programs_ % 4 == 0 && left() > 512) clock_.sleep(12);
}

// ---- [SECTION] One run -----------------------------------------------------------------------

namespace {

constexpr double kSpinMs = 0.25;      // the last part of every wait is a busy wait on the clock
constexpr double kLateRebaseMs = 30;  // an event this late moves the clock base
constexpr double kTickReportMs = 30;

bool IsRhythmChannel(int c) { return c == 6 || (c >= 8 && c <= 14); }
bool IsSolo1Channel(int port, int c) { return port == 0 && (c == 1 || c == 2); }
bool IsSolo2Channel(int port, int c) { return port == 0 && (c == 3 || c == 4 || c == 15); }
bool IsDryDrumBass(int port, int c) {
  return Settings.dryDrumBass && !Settings.rawSound && port == 0 && (c == 8 || c == 9 || c == 11 || c == 12);
}

std::vector<int> AllChannels() {
  std::vector<int> all(16);
  for (int c = 0; c < 16; ++c) all[c] = c;
  return all;
}

int Bpm(int tempoUs) { return static_cast<int>(std::lround(60000000.0 / (tempoUs > 0 ? tempoUs : 500000))); }

void PostSongBpm(bool first, int tempoUs) {
  if (!first || tempoUs <= 0) return;
  const int bpm = Bpm(tempoUs);
  if (bpm < 20 || bpm > 400 || bpm == PlaybackState.LastPostedBpm.load()) return;
  PlaybackState.LastPostedBpm = bpm;
  PostScriptToPage(PageCall(L"setSongBpm", bpm));
}

// Keeps a tone message of a rhythm channel (port 1) for the hand-back. Reverb is kept as it would
// have been sent (mixer offset, dry channels); the bass program is the operator's bass when chosen.
void HoldSongTone(int c, unsigned kind, uint8_t d1, uint8_t d2) {
  if (!HeldSongTones.valid.load()) ResetTrackingGlobals();
  if (kind == 0xC0) {
    HeldSongTones.program[c] = static_cast<uint8_t>((c == 8 && IsUserBassToneSet() ? GetCvtBassProgram() : d1) & 0x7F);
  } else if (d1 == 0) {
    HeldSongTones.bankMsb[c] = d2;
  } else if (d1 == 32) {
    HeldSongTones.bankLsb[c] = d2;
  } else if (d1 == 91) {
    Mixer.SongReverbSend[0][c].store(d2);
    HeldSongTones.reverb[c] = static_cast<uint8_t>(IsDryDrumBass(0, c) ? 0 : AddSendOffset(d2, Mixer.ReverbSendOffset[0][c].load()));
  } else if (d1 == 93) {
    Mixer.SongChorusSend[0][c].store(d2);
    HeldSongTones.chorus[c] = d2;
  }
  HeldSongTones.pending = 1;
}

// The state of one run; lives on the player thread only.
class Run {
 public:
  explicit Run(uint32_t generation) : generation_(generation), song_(LoadedSong()) {}
  void Play();

 private:
  bool StartUp();
  void StartSequence();
  void FirstEventActions();
  void EventLoop();
  void End(bool started);
  bool WaitFor(uint32_t tick);
  void DoPause(double* target);
  void Services(uint32_t now);
  void HandleTempo(const SongEvent& e);
  // False when the message was not sent.
  bool HandleChannel(size_t index, const SongEvent& e, bool chase);
  int16_t& ChaseCcValueSlot(int port, int channel, int cc) { return chaseCcSlot_[port & 1][channel & 15][cc & 127]; }
  void ForgetChaseCcValues() { std::fill(&chaseCcSlot_[0][0][0], &chaseCcSlot_[0][0][0] + 2 * 16 * 128, int16_t{-1}); }
  void SendChase(size_t index, const SongEvent& e);
  void CheckLyricsEnd();
  void CheckMedleyEnd();
  void Interpolate(uint32_t t, double target, double now);

  const uint32_t generation_;
  std::shared_ptr<const SongModel> song_;
  SongSysExPath sysex_;
  int ppq_ = 120;
  uint32_t S_ = 0;
  ChasePlan chase_;
  bool newSong_ = false;
  bool reached_ = false;
  bool hadSongCc7_[2][16] = {};
  // Note tables: whether a source note sounds and which note was really sent for it.
  uint8_t noteSounding_[2][16][128] = {};
  uint8_t soundingNote_[2][16][128] = {};
  // The clock: base time (NowMs), time accumulated along the tempo map, previous timed tick.
  double base_ = 0, accumulated_ = 0, lastReport_ = 0, lastPass_ = 0;
  uint32_t P_ = 0;
  int tempoUs_ = 500000;
  int firstTempoUs_ = 0;
  bool tempoTaken_ = false;
  bool tempoHold_ = false;
  int ignoredTempoLogs_ = 0;
  uint32_t lastLateLog_ = 0;
  uint32_t lyricEndTick_ = 0;
  bool lyricEndDone_ = false, medleyEndDone_ = false;
  ChasePacer pacer_{ChaseClock{[] { return plat::TimeGetTime(); }, [](unsigned ms) { plat::SleepMs(ms); },
                               [] { return PlaybackState.isPlaying.load() != 0; }, [] { return PlaybackState.startAt.load(); }}};
  bool medleyRun_ = false;
  int16_t chaseCcSlot_[2][16][128];  // last value the chase sent per controller, -1 none (medley runs)
  bool realtime_ = false;
  SaxExpression sax_;
};

void Run::Play() {
  const bool started = StartUp();
  if (started) {
    StartSequence();
    EventLoop();
  }
  End(started);
}

bool Run::StartUp() {
  Sound.PlayerThreadId = plat::CurrentThreadId();
  PlaybackState.NaturalEndFlag = 0;
  ClearCcCache();
  DebugLog(L"[SONG] PlayMidiThread 시작");
  if (CvtState.rhythm.load()) OpenVolumeTrace(15000);
  ppq_ = song_->SongPpq > 0 ? song_->SongPpq : 120;
  if (!OpenMidiPort1() && !g_noPort1Logged.exchange(true))
    DebugLog(L"MIDI 출력 장치 없음 - 무음으로 재생 진행(화면만)");
  PlaybackState.waitingGo = PlaybackState.startAt.load() ? 1 : 0;
  if (PlaybackState.attachCancel.load()) return false;
  if (!OpenMidiPort2()) {
    bool port2Notes = false;
    for (int c = 0; c < 16 && !port2Notes; ++c) port2Notes = SongHasNoteOn(1, c);
    if (port2Notes && !g_noPort2Logged.exchange(true)) {
      DebugLog(L"2포트 MIDI 장치를 찾지 못했습니다 - 이 곡은 2포트(채널17~32)를 쓰는 곡이라 1포트와 채널이 겹쳐 소리가 "
               L"섞일 수 있습니다.");
      // A constant literal of our own: its line breaks are escapes the page's alert shows.
      PostScriptToPage(PageCall(
          L"alert",
          ScriptLiteral{L"'이 곡은 2포트(17~32채널) 악기를 쓰는 곡인데, 2포트 MIDI 장치를 찾지 못했습니다.\\n\\n2포트 "
                        L"채널이 1포트의 같은 채널번호와 겹쳐 소리가 섞여 나올 수 있습니다.\\n\\nCTRL+I에서 2포트 장치를 "
                        L"지정해주세요 (이 PC의 MIDI 출력 장치가 목록에 나옵니다).\\n또는 같은 창에서 1포트와 2포트를 "
                        L"내장음원(FluidSynth)으로 고르면 별도 장치 없이 32채널이 모두 재생됩니다.'"}));
    }
  }
  if (PlaybackState.SetupAlreadySent.exchange(0) == 0) {
    const uint32_t at = PlaybackState.startAt.load();
    PlaybackState.SetupSpreadOn = PlaybackState.waitingGo.load() && CvtState.rhythm.load() && at != 0 &&
                                  static_cast<int32_t>(at - plat::TimeGetTime()) > 1200;
    SendSongModuleSetup();
    PlaybackState.SetupSpreadOn = 0;
  }
  if (PlaybackState.attachCancel.load()) return false;

  PlaybackState.paused = PlaybackState.StartPaused.exchange(0);
  for (int p = 0; p < 2; ++p)
    for (int c = 0; c < 16; ++c)
      for (int n = 0; n < 128; ++n) soundingNote_[p][c][n] = static_cast<uint8_t>(n);
  ResetMixerDefaults();
  for (int p = 0; p < 2; ++p)
    for (int c = 0; c < 16; ++c) {
      Mixer.SongChannelVolume[p][c].store(100);
      Mixer.ChannelVolumeOverride[p][c].store(static_cast<uint8_t>(std::clamp(Mixer.EffectiveChannelPercent[p][c].load(), 0, 255)));
      Mixer.SongReverbSend[p][c].store(40);
    }
  if (AnySendOffsetSet()) ResendSendOffsets();
  SendDryDrumBassSends();
  for (const SongEvent& e : song_->SongEventList)
    if (e.kind == kSongEventChannel && (e.status & 0xF0) == 0xB0 && e.data1 == 7)
      hadSongCc7_[e.port & 1][e.status & 0x0F] = true;
  const bool neutral = Settings.volAllUser == 64 && Settings.volOrchUser == 64 && SongSettings.SongGainPercent == 100;
  for (int p = 0; p < 2; ++p) {
    const MidiOutHandle h = p == 0 ? Sound.MidiOutPort1.load() : Sound.MidiOutPort2.load();
    if (!h) continue;
    for (int c = 0; c < 16; ++c) {
      if ((neutral && Mixer.EffectiveChannelPercent[p][c].load() == 100) || IsRhythmOwnedChannel(p, c) || hadSongCc7_[p][c])
        continue;
      SendShortMidi(h, PackMidi(0xB0 | c, 7, ComputeOutputVolume(p, c, Mixer.ChannelVolumeOverride[p][c].load())));
    }
  }
  PlaybackState.SongStartGuardTime = 0;
  if (CvtState.rhythm.load()) {
    TraceLog(L"[LOCK] 곡 베이스 프로그램(ch8 PC %u) 차단 - CVT 소유\n", static_cast<unsigned>(GetCvtBassProgram()));
  } else if (MidiOutHandle p1 = Sound.MidiOutPort1.load()) {
    SendShortMidi(p1, PackMidi(0xC8, static_cast<unsigned>(GetCvtBassProgram())));
  }
  CvtState.CvtTurnedOnMidSong = 0;
  CvtState.CvtTurnedOffByUser = 0;
  PlaybackState.PlayerMsPerTick = MsPerTick(500000, ppq_);
  {
    // The gate: a stop that came at any time since this run was requested ends it here.
    std::lock_guard lock(g_playGate);
    if (PlaybackState.StopGeneration.load() != generation_ || PlaybackState.attachCancel.load()) {
      DebugLog(L"[SONG] 시작 중에 정지 요청 - 재생하지 않고 끝냅니다");
      return false;
    }
    PlaybackState.isPlaying = 1;
  }
  PostPlayingState(true);
  if (!PlaybackState.waitingGo.load()) {
    PlaybackState.SongTick = 0;
    StampTickPosition(0);
  }
  ResetActiveNoteCounts();
  std::string refused;
  realtime_ = EnterRealtimeThread(40, &refused) == plat::RealtimeLevel::kFifo;
  if (!realtime_ && !g_priorityLogged.exchange(true))
    DebugLog(L"[SONG] 실시간 우선순위를 받지 못함(" + Utf8ToWide(refused) + L") - 가능한 만큼 높여 재생");
  base_ = plat::NowMs();
  lastReport_ = lastPass_ = base_;
  P_ = 0;
  return true;
}

void Run::StartSequence() {
  uint32_t S = 0;
  if (PlaybackState.skipToTickSet.exchange(0)) S = PlaybackState.skipToTick.load();
  else if (PlaybackState.StartAtFirstNote.load() && !FirstNonDrumNoteTick(*song_, &S)) S = 0;
  PlaybackState.StartAtFirstNote = 0;
  const bool rhythm = CvtState.rhythm.load() != 0;
  const uint32_t startAt = PlaybackState.startAt.load();
  auto startAbove0 = [&] {
    if (!PlaybackState.waitingGo.load()) {
      PlaybackState.SongTick = S;
      StampTickPosition(S);
      PostTickUpdate(S);
    }
    if (startAt == 0) PlaybackState.ResyncRequested = 1;
  };
  if (S > 0) {
    startAbove0();
  } else if (startAt == 0) {
    uint32_t a = 0;
    if (rhythm || Settings.leadInMode == 0 || !FindLeadInBar(*song_, &a)) {
      PlaybackState.ResyncRequested = 1;
    } else if (Settings.leadInMode == 2) {
      S = a;
      DebugLog(L"[빈 첫마디] 완전히 빈 첫 마디 - 건너뛰고 tick " + std::to_wstring(a) + L" 부터 시작");
      startAbove0();
    } else {
      const int n = CountInClicks(a, ppq_);
      DebugLog(L"[빈 첫마디] 완전히 빈 첫 마디 - 하이햇 " + std::to_wstring(n) + L"번으로 박 신호");
      if (MidiOutHandle p1 = Sound.MidiOutPort1.load()) {
        int tempo = 500000;
        for (const SongEvent& e : song_->SongEventList)
          if (e.kind == kSongEventTempo && e.tempo > 0) {
            tempo = static_cast<int>(e.tempo);
            break;
          }
        const double beat = MsPerTick(tempo, ppq_) * ppq_;
        DebugLog(L"[빈 첫마디] 신호음 " + std::to_wstring(n) + L"번 · 한 박 " + std::to_wstring(std::lround(beat)) +
                 L"ms (곡 템포 " + std::to_wstring(Bpm(tempo)) + L"BPM 기준)");
        const uint32_t start = static_cast<uint32_t>(std::llround(base_));
        std::thread(CountInClickThread, p1, n, beat, start, Settings.leadInNote, Settings.leadInVel).detach();
      }
      PlaybackState.ResyncRequested = 1;
    }
  }
  S_ = S;
  if (!PlaybackState.SkipStartMuteOnce.load()) {
    const uint32_t until = PlaybackState.SongTick.load() + 4u * static_cast<uint32_t>(ppq_);
    PlaybackState.muteUntil = until;
    TraceLog(L"[MUT] 설정(곡시작) tick=%u -> muteUntil=%u\n", PlaybackState.SongTick.load(), until);
  }

  // Fast jump decision.
  const uint32_t O = PlaybackState.LastPlayedTick.load();
  const bool valid = PlaybackState.LastPlayedValid.load() != 0;
  const uint32_t G = ComputeSetupSignature();
  const uint32_t previous = PlaybackState.SetupSignature.load();
  const bool hasEvents = !song_->SongEventList.empty();
  const bool fast = Settings.jumpFastSetup && valid && O > 0 && G == previous && S > 0 && hasEvents;
  if (S > 0 && valid && O > 0 && Settings.jumpFastSetup && G != previous)
    TraceLog(L"[JMP] 차분 생략 - 조건 변화(sig %d -> %d) 이번엔 전부 전송\n", static_cast<int>(previous),
             static_cast<int>(G));
  PlaybackState.SetupSignature = G;
  newSong_ = !valid;
  if (S > 0) {
    PlaybackState.LastPlayedValid = 0;
    if (hasEvents) chase_ = PlanChase(*song_, S, O, fast);
    medleyRun_ = PlaybackState.MedleyItemIndex.load() >= 0;
    if (medleyRun_) ForgetChaseCcValues();
    if (PlaybackState.waitingGo.load() && PlaybackState.startAt.load()) {
      int64_t weight = 0;
      const auto& events = song_->SongEventList;
      for (size_t i = 0; i < events.size() && events[i].tick < S; ++i)
        if (i >= chase_.skip.size() || !chase_.skip[i]) weight += ChaseWeight(events[i]);
      pacer_.Plan(weight, true);
    }
    if (fast)
      TraceLog(L"[JMP] 빠른 셋업 from=%u to=%u | 상태 %d/%d, 시퀀스 %d 개만 전송\n", O, S, chase_.keysSent,
               chase_.keysAll, chase_.sequenceEvents);
  }
  // The lyric end: one bar after the last sung syllable.
  if (!song_->LyricSyncTicks.empty()) {
    const uint32_t L = song_->LyricSyncTicks.back();
    lyricEndTick_ = L + 1;
    const int bar = TickToBar(*song_, L);
    if (static_cast<size_t>(bar + 1) < song_->BarTicks.size()) lyricEndTick_ = std::max(lyricEndTick_, BarToTick(*song_, bar + 1));
  }
}

// A tempo offset that waited for the next song takes effect, and the tempo the rhythm carried
// into this song is used up (at the downbeat, and again when a run ends).
static void TakePendingTempoAndCarry() {
  if (PlaybackState.PendingTempoOffsetSet.exchange(0)) {
    PlaybackState.TempoOffsetBpm = PlaybackState.PendingTempoOffset.load();
    PostTempoPitchDisplay();
  }
  CvtState.PendingTempoFactor = 0;
  CvtState.CvtCarryTempo.store({});
  CvtState.CvtTempoFactor = -1;
}


void Run::FirstEventActions() {
  PostTickUpdate(S_);
  if (newSong_) {
    ResendChannelVolumes(AllChannels(), CvtState.rhythm.load() != 0);
    TraceLog(L"[VOL] 새 곡 첫 음 - 전 채널 볼륨 확정(리듬채널 제외=%d)\n", CvtState.rhythm.load() ? 1 : 0);
  }
  TraceStopwatchLap(L"SOUND");
  if (CvtState.rhythm.load()) {
    // The rhythm channels' volumes are watched for the song's first two bars.
    double bar = 4.0 * ppq_ * PlaybackState.PlayerMsPerTick.load();
    if (bar < 500 || bar > 8000) bar = 2000;
    OpenVolumeTrace(static_cast<uint32_t>(2 * bar));
  }
  DebugLog(L"[SONG] *** 곡 첫 음 - 실제 재생 시작 ***");
  ReportChannelLoad();
  TraceLog(L"[GO ] skipToTick=%u rhythm=%d\n", S_, CvtState.rhythm.load() ? 1 : 0);
  if (AttachState.AttachReadyCheck.exchange(0)) CheckAttachLead();
  if (uint32_t at = PlaybackState.startAt.exchange(0)) {
    // A rhythm that stops meanwhile leaves no downbeat to wait for: the song goes on at once. A
    // downbeat set without the rhythm (the end of a song-to-song fill) is kept on the wall clock.
    const bool overRhythm = CvtState.rhythm.load() != 0;
    // The downbeat on the fine clock (the millisecond value is whole milliseconds of it): sleep
    // while more than a millisecond is left, then wait out the rest exactly.
    const double now = plat::NowMs();
    const double deadline = std::floor(now) + static_cast<int32_t>(at - static_cast<uint32_t>(static_cast<uint64_t>(now)));
    while (PlaybackState.isPlaying.load() && (CvtState.rhythm.load() || !overRhythm)) {
      const double left = deadline - plat::NowMs();
      if (left <= 0) break;
      if (left <= 1.5) {
        plat::WaitUntilMsPrecise(deadline, left);
        break;
      }
      plat::SleepUntilMs(std::min(deadline - 1, plat::NowMs() + 1));
    }
    DebugLog(L"[SONG] >>> 예약 다운비트 도달 - 곡 진행 시작 <<<");
    base_ = plat::NowMs();
    accumulated_ = 0;
  }
  if (MidiOutHandle p1 = Sound.MidiOutPort1.load(); p1 && HeldSongTones.valid.load()) {
    // Tones held back during the set-up: the rhythm's stop hands them back, or they go now.
    if (CvtState.rhythm.load()) HeldSongTones.pending = 1;
    else SendHeldSongTones(p1);
  }
  if (PlaybackState.waitingGo.load()) {
    if (CvtState.rhythm.load()) PlaybackState.ResyncContinuous = 1;
    PlaybackState.SongTick = S_;
    StampTickPosition(S_);
    PlaybackState.waitingGo = 0;
    PlaybackState.ResyncRequested = 1;
  }
  TakePendingTempoAndCarry();
  // The clock starts at the start tick now: events before it were the chase.
  sysex_.TakeSettleWaitMs();
  base_ = plat::NowMs();
  accumulated_ = 0;
  lastReport_ = lastPass_ = base_;
  P_ = S_;
}

void Run::Services(uint32_t now) {
  sysex_.Collect();
  sysex_.RestoreAfterReset(now, false);
  sysex_.RunDeferred(now);
  CheckLyricsEnd();
  CheckMedleyEnd();
  sax_.WatchSettings();
  sax_.Step(now);
}

void Run::CheckLyricsEnd() {
  if (lyricEndDone_ || lyricEndTick_ == 0 || !CvtState.rhythm.load() || !PlaybackState.isPlaying.load() ||
      PlaybackState.paused.load() || PlaybackState.waitingGo.load() || PlaybackState.SongTick.load() < lyricEndTick_)
    return;
  lyricEndDone_ = true;
  PostScriptToPage(PageCall(L"handleLyricsEndAutoNext"));
}

void Run::CheckMedleyEnd() {
  const uint32_t end = PlaybackState.MedleySegmentEndTick.load();
  if (medleyEndDone_ || PlaybackState.MedleyItemIndex.load() < 0 || end == 0 || !PlaybackState.isPlaying.load() ||
      PlaybackState.paused.load() || PlaybackState.waitingGo.load() || PlaybackState.SongTick.load() < end)
    return;
  medleyEndDone_ = true;
  TraceLog(L"[MDL] 구간 끝 도달 tick=%u (목표 %u) - 다음 항목으로\n", PlaybackState.SongTick.load(), end);
  PostScriptToPage(PageCall(L"handleMedleyEnd"));
}

void Run::DoPause(double* target) {
  const bool rhythm = CvtState.rhythm.load() != 0;
  if (MidiOutHandle p1 = Sound.MidiOutPort1.load())
    for (int c = 0; c < 16; ++c)
      if (!rhythm || !IsRhythmChannel(c)) SendShortMidi(p1, PackMidi(0xB0 | c, 123, 0));
  if (MidiOutHandle p2 = Sound.MidiOutPort2.load())
    for (int c = 0; c < 16; ++c) SendShortMidi(p2, PackMidi(0xB0 | c, 123, 0));
  for (int p = 0; p < 2; ++p)
    for (int c = 0; c < 16; ++c)
      for (int n = 0; n < 128; ++n) noteSounding_[p][c][n] = 0;
  const double t0 = plat::NowMs();
  while (PlaybackState.paused.load() && PlaybackState.isPlaying.load()) plat::SleepMs(10);
  const double waited = plat::NowMs() - t0;
  base_ += waited;
  *target += waited;
  lastPass_ = plat::NowMs();
}

void Run::Interpolate(uint32_t t, double target, double now) {
  const double mpt = PlaybackState.PlayerMsPerTick.load();
  const double ahead = mpt > 0 ? (target - now) / mpt : 0;
  const double exact = std::max(0.0, static_cast<double>(t) - ahead);
  const uint32_t tickNow = static_cast<uint32_t>(exact);
  const uint32_t ms = static_cast<uint32_t>(static_cast<uint64_t>(now));
  if (tickNow != PlaybackState.SongTick.load()) PlaybackState.LastTickChangeTime = ms;
  PlaybackState.SongTick = tickNow;
  StoreClockSample(exact, now);
}

// Waits until the event at tick t is due. False when the run was stopped meanwhile.
bool Run::WaitFor(uint32_t t) {
  // While the rhythm plays under the song, the song keeps one tempo; when the operator stops the
  // rhythm it follows its own tempo map again, and a rhythm started under it takes the song back
  // to its first tempo.
  const bool rhythm = CvtState.rhythm.load() != 0;
  if (rhythm) tempoHold_ = true;
  if (CvtState.CvtTurnedOffByUser.exchange(0)) {
    tempoHold_ = false;
    DebugLogAsync(L"[CVT] 사용자가 CVT 를 끔 - 템포 고정 해제(이후 곡의 템포 변화를 다시 따라감)");
  }
  if (CvtState.CvtTurnedOnMidSong.exchange(0) && rhythm && firstTempoUs_ > 0 && firstTempoUs_ != tempoUs_) {
    DebugLogAsync(L"[CVT] 곡 도중 CVT 켬 - 템포 되돌림 " + std::to_wstring(Bpm(tempoUs_)) + L" -> " +
                  std::to_wstring(Bpm(firstTempoUs_)) + L" bpm");
    tempoUs_ = firstTempoUs_;
    PlaybackState.CurrentTempoUs = tempoUs_;
    PostSongBpm(true, tempoUs_);
  }
  const double mpt = MsPerTickWithOffset(tempoUs_, ppq_, PlaybackState.TempoOffsetBpm.load());
  PlaybackState.PlayerMsPerTick = mpt;
  accumulated_ += (t - P_) * mpt;
  double target = base_ + accumulated_;
  const double late = plat::NowMs() - target;
  if (late > kLateRebaseMs) {
    PlaybackState.ClockRebases.fetch_add(1, std::memory_order_relaxed);
    base_ += late;
    target += late;
    const uint32_t now = plat::TimeGetTime();
    if (now - lastLateLog_ >= 1000) {
      lastLateLog_ = now;
      DebugLogAsync(L"[PLAY] *** " + std::to_wstring(std::lround(late)) + L"ms 밀림 - 기준시각 재설정(음악이 한 번 튐) *** 곡tick " +
                    std::to_wstring(P_) + L", CVT " + (CvtState.rhythm.load() ? L"켬" : L"끔"));
    }
  }
  for (;;) {
    if (!PlaybackState.isPlaying.load()) return false;
    if (PlaybackState.paused.load()) {
      DoPause(&target);
      continue;
    }
    double now = plat::NowMs();
    if (now >= target) break;
    const double gap = now - lastPass_;
    lastPass_ = now;
    if (gap > 12) {
      const uint32_t ms = plat::TimeGetTime();
      if (ms - lastLateLog_ >= 1000) {
        lastLateLog_ = ms;
        DebugLogAsync(L"[PLAY] *** 재생 루프 " + std::to_wstring(std::lround(gap)) + L"ms 멈춤 *** 곡tick " +
                      std::to_wstring(P_));
      }
    }
    Interpolate(t, target, now);
    Services(plat::TimeGetTime());
    if (now - lastReport_ > kTickReportMs) {
      lastReport_ = now;
      PostTickUpdate(PlaybackState.SongTick.load());
    }
    now = plat::NowMs();
    if (target - now <= kSpinMs + 1.0) {
      plat::WaitUntilMsPrecise(target, kSpinMs);
    } else {
      plat::SleepUntilMs(std::min(target - kSpinMs, now + 1.0));
    }
  }
  P_ = t;
  if (PlaybackState.isPlaying.load()) {
    PlaybackState.SongTick = t;
    StoreClockSample(t, target);
  }
  return true;
}

void Run::HandleTempo(const SongEvent& e) {
  const int tempo = static_cast<int>(e.tempo);
  const bool rhythm = CvtState.rhythm.load() != 0;
  const bool first = !tempoTaken_;
  if (first || (!rhythm && !tempoHold_)) {
    if (rhythm) tempoHold_ = true;
    tempoUs_ = tempo > 0 ? tempo : 500000;
    PlaybackState.CurrentTempoUs = tempoUs_;
    if (first) firstTempoUs_ = tempoUs_;
    tempoTaken_ = true;
    PlaybackState.PlayerMsPerTick = MsPerTickWithOffset(tempoUs_, ppq_, PlaybackState.TempoOffsetBpm.load());
    PostSongBpm(first, tempoUs_);
    return;
  }
  if (tempo > 0 && tempo != tempoUs_ && ignoredTempoLogs_ < 3) {
    ++ignoredTempoLogs_;
    DebugLogAsync(L"[CVT] 템포 변화 무시(tick " + std::to_wstring(e.tick) + L") - 파일 요구 " +
                  std::to_wstring(Bpm(tempo)) + L"bpm, 현재 " + std::to_wstring(Bpm(tempoUs_)) + L"bpm 유지");
  }
}

bool Run::HandleChannel(size_t index, const SongEvent& e, bool chase) {
  const int p = e.port & 1, c = e.status & 0x0F;
  const unsigned kind = e.status & 0xF0;
  uint8_t d1 = e.data1, d2 = e.data2;
  const bool noteOn = kind == 0x90 && d2 > 0;
  const bool noteOff = kind == 0x80 || (kind == 0x90 && d2 == 0);
  if (chase && (noteOn || noteOff)) return false;
  const bool rhythm = CvtState.rhythm.load() != 0;
  const bool owned = CvtState.CvtOwnsChannels.load() && (p == 0 ? (c >= 8 && c <= 12) : (c >= 9 && c <= 12));
  const bool toneMessage = kind == 0xC0 || (kind == 0xB0 && (d1 == 0 || d1 == 32));
  if (p == 0 && rhythm && IsRhythmChannel(c) && toneMessage) {
    // The rhythm engine plays its own tones on its channels; the song's are kept for when it stops.
    HoldSongTone(c, kind, d1, d2);
    return false;
  }
  if (chase) {
    const bool bassSetup = p == 0 && c == 8 && (kind == 0xC0 || (kind == 0xB0 && (d1 == 0 || d1 == 7 || d1 == 32)));
    if (p == 0 && IsRhythmChannel(c) && (CvtState.FillPlaying.load() || PlaybackState.waitingGo.load())) {
      // The set-up waits for the downbeat or the fill: the song's tones are kept for later.
      if (toneMessage || (kind == 0xB0 && (d1 == 91 || d1 == 93))) {
        HoldSongTone(c, kind, d1, d2);
        return false;
      }
      if (rhythm) return false;
    }
    if (owned && !bassSetup) return false;
  } else {
    if (CvtState.FillStarted.load() || owned) return false;
    if (PlaybackState.MelodyMute.load() && p == 0 && c == 0) return false;
    if (noteOn && ((PlaybackState.Solo1Mute.load() && IsSolo1Channel(p, c)) ||
                   (PlaybackState.Solo2Mute.load() && IsSolo2Channel(p, c))))
      return false;
    if (rhythm && p == 0 && (noteOn || noteOff) && IsRhythmChannel(c)) return false;
    if (CvtState.FillDrumMute.load() && noteOn && p == 0 && c >= 10 && c <= 13) return false;
  }
  if (kind == 0xB0 && d1 == 7) {
    Mixer.SongChannelVolume[p][c].store(d2);
    const int pct = Mixer.EffectiveChannelPercent[p][c].load();
    const int v = pct == 100 ? d2 : std::clamp(d2 * pct / 100, 0, 127);
    Mixer.ChannelVolumeOverride[p][c].store(static_cast<uint8_t>(v));
    const bool rhythmOwned = p == 0 && c == 8 && IsRhythmOwnedChannel(p, c);
    d2 = static_cast<uint8_t>(rhythmOwned ? ComputeOutputVolume(0, 8, DefaultRhythmVolume(8)) : ComputeOutputVolume(p, c, v));
  } else if (kind == 0xB0 && d1 == 91) {
    Mixer.SongReverbSend[p][c].store(d2);
    d2 = static_cast<uint8_t>(IsDryDrumBass(p, c) ? 0 : AddSendOffset(d2, Mixer.ReverbSendOffset[p][c].load()));
  } else if (kind == 0xB0 && d1 == 93) {
    Mixer.SongChorusSend[p][c].store(d2);
    d2 = static_cast<uint8_t>(IsDryDrumBass(p, c) ? 0 : AddSendOffset(d2, Mixer.ChorusSendOffset[p][c].load()));
  }
  const bool saxMelody = p == 0 && c == 0 && Settings.saxExpr != 0;
  if (saxMelody && kind == 0xB0) d2 = static_cast<uint8_t>(SaxExpression::MelodyControllerValue(d1, d2));
  if (kind == 0xC0) {
    if (index < PatchTable.PatchEventVolume.size()) Mixer.PatchVolumePercent[p][c].store(PatchTable.PatchEventVolume[index] ? PatchTable.PatchEventVolume[index] : 100);
    if (p == 0 && c == 8) d1 = static_cast<uint8_t>(GetCvtBassProgram() & 0x7F);
    else if (p == 0 && c == 0 && IsUserSaxToneSet()) d1 = static_cast<uint8_t>(UserSaxProgram() & 0x7F);
    else if (p == 0 && (c == 9 || c == 10) && IsUserDrumKitSet(c)) d1 = static_cast<uint8_t>(UserDrumKitProgram(c) & 0x7F);
  }
  if (p == 0 && kind == 0xB0 && (d1 == 0 || d1 == 32) &&
      ((c == 0 && IsUserSaxToneSet()) || ((c == 9 || c == 10) && IsUserDrumKitSet(c))))
    return false;
  if (noteOn) {
    int note = TransposeNote(d1, c, PlaybackState.CurrentKey.load());
    if (note < 0) return false;  // pushed outside the MIDI range by the key: not sent
    if (p == 0 && c == 0) {
      const int o = MelodyOctaveShift();
      if (o != 0 && note + 12 * o >= 0 && note + 12 * o <= 127) note += 12 * o;
    }
    note = DrumNoteOverride(p, c, note) & 0x7F;
    const MidiOutHandle h = GetPortHandle(p);
    if (noteSounding_[p][c][d1] && soundingNote_[p][c][d1] != note)
      SendShortMidi(h, PackMidi(0x80 | c, soundingNote_[p][c][d1], 0));
    soundingNote_[p][c][d1] = static_cast<uint8_t>(note);
    noteSounding_[p][c][d1] = 1;
    Mixer.LastNoteOnTime[p][c].store(plat::TimeGetTime());
    d1 = static_cast<uint8_t>(note);
    if (saxMelody && index < song_->MelodyArticulation.size() && song_->MelodyArticulation[index].velocity != 0)
      d2 = static_cast<uint8_t>(sax_.NoteOn(song_->MelodyArticulation[index], note,
                                            PlaybackState.PlayerMsPerTick.load(), plat::TimeGetTime()));
  } else if (noteOff) {
    if (!noteSounding_[p][c][d1]) return false;  // its note-on was never sent
    noteSounding_[p][c][d1] = 0;
    d1 = soundingNote_[p][c][d1];
  }
  if (kind == 0xB0 && d1 == 32 && IsSc8850Port(p, c)) d2 = 4;
  if (chase && medleyRun_ && kind == 0xB0 && d1 != 6 && d1 != 38 && (d1 < 98 || d1 > 101)) {
    // A medley item's chase sends a controller only when its value changes.
    int16_t& slot = ChaseCcValueSlot(p, c, d1);
    if (slot == d2) return false;
    slot = d2;
  }
  sysex_.SleepUntilSettled();
  SendShortMidi(GetPortHandle(p), PackMidi(e.status, d1, d2));
  if (noteOn && CvtState.FillStarted.load()) {
    // The transition fill silenced the song while this note was on its way: it is taken back.
    SendShortMidi(GetPortHandle(p), PackMidi(0x80 | c, d1, 0));
    noteSounding_[p][c][e.data1] = 0;
    if (saxMelody) sax_.NoteOff(d1);
    return true;
  }
  if (saxMelody && noteOn) sax_.LayerNoteOn(d1, d2);
  if (saxMelody && noteOff) sax_.NoteOff(d1);
  if (noteOn) {
    Sound.ActiveNoteCounts[p][c].fetch_add(1);
  } else if (noteOff) {
    if (Sound.ActiveNoteCounts[p][c].load() > 0) Sound.ActiveNoteCounts[p][c].fetch_sub(1);
  } else if (kind == 0xB0 && d1 == 64) {
    Sound.SustainPedalOn[p][c].store(d2 > 63 ? 1 : 0);
  }
  return true;
}

void Run::SendChase(size_t index, const SongEvent& e) {
  const bool downbeatPending = PlaybackState.waitingGo.load() && PlaybackState.startAt.load();
  pacer_.Before(e, downbeatPending);
  if (e.kind == kSongEventTempo) {
    HandleTempo(e);
    return;
  }
  if (e.kind == kSongEventSysEx) {
    sysex_.Filter(song_->SysExOf(e), e.port, plat::TimeGetTime());
    if (sysex_.SettlePending()) {
      if (medleyRun_) ForgetChaseCcValues();  // the module reset: every controller is new again
      sysex_.SleepUntilSettled();
      SendRhythmPartMaps();
    }
    return;
  }
  if (HandleChannel(index, e, true)) pacer_.AfterSent((e.status & 0xF0) == 0xC0, downbeatPending);
}

void Run::EventLoop() {
  const auto& events = song_->SongEventList;
  for (size_t i = 0; i < events.size(); ++i) {
    const SongEvent& e = events[i];
    if (!PlaybackState.isPlaying.load()) return;
    Services(plat::TimeGetTime());
    if (e.tick < S_) {
      if (i < chase_.skip.size() && chase_.skip[i]) continue;
      SendChase(i, e);
      continue;
    }
    if (!reached_) {
      reached_ = true;
      FirstEventActions();
      if (!PlaybackState.isPlaying.load()) return;
    }
    PlaybackState.LastPlayedTick = e.tick;
    PlaybackState.LastPlayedValid = 1;
    if (e.tick > P_ && !WaitFor(e.tick)) return;
    if (!PlaybackState.isPlaying.load()) return;
    switch (e.kind) {
      case kSongEventTempo: HandleTempo(e); break;
      case kSongEventSysEx: sysex_.Filter(song_->SysExOf(e), e.port, plat::TimeGetTime()); break;
      default:
        // The built-in synthesizer places the event at its due time, not at the moment of sending.
        SetSynthSendTime(base_ + accumulated_);
        HandleChannel(i, e, false);
        SetSynthSendTime(0);
        break;
    }
    // A reset's settle wait held this event back: the song's grid moves on with it.
    base_ += sysex_.TakeSettleWaitMs();
  }
}

void Run::End(bool started) {
  bool natural = false;
  if (started) {
    {
      std::lock_guard lock(g_playGate);
      natural = PlaybackState.isPlaying.exchange(0) != 0;
    }
    const double tailStart = plat::NowMs();
    for (int i = 0; i < 200 && sysex_.Collect() > 0; ++i) plat::SleepMs(1);
    const double drainMs = plat::NowMs() - tailStart;
    // All notes off where the song still sounds; while the rhythm plays, only there and spread out
    // on a worker so that the rhythm's own notes are not held up behind a burst.
    const bool rhythm = CvtState.rhythm.load() != 0;
    auto sounding = [](int p, int c) { return Sound.ActiveNoteCounts[p][c].load() > 0 || Sound.SustainPedalOn[p][c].load(); };
    const MidiOutHandle p1 = Sound.MidiOutPort1.load(), p2 = Sound.MidiOutPort2.load();
    std::vector<uint32_t> one, two;
    for (int c = 0; c < 16; ++c) {
      if (p1 && (!rhythm || (!IsRhythmChannel(c) && sounding(0, c)))) one.push_back(PackMidi(0xB0 | c, 123, 0));
      if (p2 && (!rhythm || sounding(1, c))) two.push_back(PackMidi(0xB0 | c, 123, 0));
    }
    if (rhythm) {
      DebugLogAsync(L"[CVT] 곡 종료 정리 - 실제로 울리던 채널만 " + std::to_wstring(one.size()) + L"+" +
                    std::to_wstring(two.size()) + L"개 전송");
      StartPacedTwoPortSend(p1, p2, std::move(one), std::move(two), 15);
      const double totalMs = plat::NowMs() - tailStart;
      if (drainMs > 5 || totalMs > 10)
        DebugLogAsync(L"[CVT] 곡 종료 꼬리 - SysEx 드레인 " + std::to_wstring(std::lround(drainMs)) + L"ms / 꼬리 전체 " +
                      std::to_wstring(std::lround(totalMs)) + L"ms");
    } else {
      for (uint32_t m : one) SendShortMidi(p1, m);
      for (uint32_t m : two) SendShortMidi(p2, m);
    }
    PostPlayingState(false);
  }
  PlaybackState.waitingGo = 0;
  PlaybackState.ResyncContinuous = 0;
  PlaybackState.ResyncContinuousTransition = 0;
  CvtState.PendingCarryTempoUs = 0;
  PlaybackState.startAt = 0;
  TakePendingTempoAndCarry();
  LeaveRealtimeThread();
  song_.reset();
  PlaybackState.PlayerThreadAlive = 0;
  if (natural) {
    PlaybackState.NaturalEndFlag = 1;
    PostScriptToPage(PageCall(L"handleSongNaturalEnd"));
  }
}

void PlayMidiThreadRun(uint32_t generation) {
  auto run = std::make_unique<Run>(generation);
  run->Play();
}

}  // namespace

bool ClearPendingAttach() {
  const uint32_t at = PlaybackState.startAt.load();
  const bool waiting = PlaybackState.waitingGo.load() != 0;
  const bool pending = AttachState.AttachPending.load() != 0;
  if (at == 0 && !waiting && !pending) return false;
  TraceLog(L"[ATT] 이전 붙이기 정리(pending=%d waitingGo=%d startAt=%u)\n", pending ? 1 : 0, waiting ? 1 : 0, at);
  PlaybackState.attachCancel = 1;
  PlaybackState.startAt = 0;
  // The stop moves the stop generation under the player's gate: the scheduled run, whenever it
  // reaches its start, finds it moved and never plays. So the window thread need not wait long.
  StopPlayer(0);
  for (int i = 0; i < 50 && AttachState.AttachPending.load(); ++i) plat::SleepMs(1);
  if (AttachState.AttachPending.load()) TraceLog(L"[ATT][WARN] 2초 안에 정리되지 않음 - 그대로 진행\n");
  PlaybackState.attachCancel = 0;
  PlaybackState.waitingGo = 0;
  return true;
}
