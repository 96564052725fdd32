#include "sound/send_trace.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <thread>

#include "base/player_signals.h"
#include "base/trace_log.h"
#include "platform/clock.h"
#include "platform/sysinfo.h"

LoadTraceState LoadTraceRecords;

MidiSendStatsValues MidiSendStats;

namespace {

std::atomic<uint32_t> VolumeTraceOpened{0};

const wchar_t* const kLoadKindNames[] = {L"뱅크MSB",          L"뱅크LSB",        L"프로그램",
                                         L"컨트롤러리셋(CC121)", L"볼륨(CC7)",      L"올사운드오프(CC120)",
                                         L"올노트오프(CC123)",  L"익스프레션(CC11)", L"팬(CC10)"};
constexpr const wchar_t* kLoadSpan = L"ALT+Z/엔터 ~ 곡 첫 음";

bool IsRhythmChannel(int channel) { return channel == 6 || (channel >= 8 && channel <= 14); }

bool VolumeTraceOpen(uint32_t now) {
  const uint32_t until = Sound.VolumeTraceUntil.load();
  return until != 0 && static_cast<int32_t>(until - now) > 0;
}

void PerfMonitorThread() {
  plat::LowerThreadPriority();
  MidiSendStatsValues& s = MidiSendStats;
  for (auto* c : {&s.messages, &s.rhythmThreadMessages, &s.playerThreadMessages, &s.otherMessages,
                  &s.bytes, &s.busyUs, &s.longestUs, &s.sysexUs, &s.rhythmJitterUs, &s.duplicatesDropped})
    c->store(0);
  plat::SystemTimes sys0;
  plat::ProcessTimes proc0;
  plat::GetSystemTimes(sys0);
  plat::GetProcessTimes(proc0);
  const unsigned processors = plat::ProcessorCount();
  const double start = plat::NowMs();
  double last = start;
  for (int i = 0; i < 150; ++i) {
    plat::SleepMs(100);
    plat::SystemTimes sys1;
    plat::ProcessTimes proc1;
    plat::GetSystemTimes(sys1);
    plat::GetProcessTimes(proc1);
    const double now = plat::NowMs();
    const double dIdle = static_cast<double>(sys1.idle - sys0.idle);
    const double dTotal = static_cast<double>((sys1.kernel - sys0.kernel) + (sys1.user - sys0.user));
    double sysLoad = 0;
    if (dTotal > 0) sysLoad = (dIdle < dTotal ? dTotal - dIdle : 0) * 100.0 / dTotal;
    const double dProc = static_cast<double>((proc1.kernel - proc0.kernel) + (proc1.user - proc0.user));
    const double wall100ns = (now - last) * 10000.0;
    const double procLoad = wall100ns > 0 ? dProc * 100.0 / (processors * wall100ns) : 0;
    sys0 = sys1;
    proc0 = proc1;
    last = now;
    TraceLog(L"[PRF] +%5ums  sys=%5.1f%%  proc=%5.1f%%  mem=%uMB  | [BN] msg=%4ld(rhy%4ld play%4ld etc%4ld) "
             L"bytes=%6ld busy=%6.1fms sysex=%6.1fms max=%5.1fms jit=%5.1fms dedup=%4ld\n",
             static_cast<unsigned>(now - start), sysLoad, procLoad,
             static_cast<unsigned>(plat::WorkingSetBytes() >> 20), s.messages.exchange(0),
             s.rhythmThreadMessages.exchange(0), s.playerThreadMessages.exchange(0),
             s.otherMessages.exchange(0), s.bytes.exchange(0), s.busyUs.exchange(0) / 1000.0,
             s.sysexUs.exchange(0) / 1000.0, s.longestUs.exchange(0) / 1000.0,
             s.rhythmJitterUs.exchange(0) / 1000.0, s.duplicatesDropped.exchange(0));
  }
  Sound.PerfMonitorRunning.store(0);
}

}  // namespace

void ArmLoadTrace() {
  LoadTraceRecords.armed.store(0);
  LoadTraceRecords.generation.fetch_add(1);
  LoadTraceRecords.count.store(0);
  LoadTraceRecords.armedAtMs.store(plat::NowMs());
  LoadTraceRecords.armed.store(1);
}

void ReportChannelLoad() {
  if (!LoadTraceRecords.armed.exchange(0)) return;
  int n = std::min(LoadTraceRecords.count.load(), LoadTraceState::kCapacity);
  // A sender still writing its record ends the report before it.
  const uint32_t generation = LoadTraceRecords.generation.load();
  for (int i = 0; i < n; ++i)
    if (LoadTraceRecords.stored[i].load(std::memory_order_acquire) != generation) n = i;
  if (n <= 0) {
    TraceLog(L"[LOAD] ===== (%ls) 기록된 뱅크/프로그램/리셋이 하나도 없음 =====\n", kLoadSpan);
    return;
  }
  TraceLog(L"[LOAD] ===== 채널 로드 묶음 (%ls) - 기록 %d개 =====\n", kLoadSpan, n);
  const LoadTraceRecord* r = LoadTraceRecords.records;
  const MidiOutHandle port2 = Sound.MidiOutPort2.load();
  auto portIndex = [&](const LoadTraceRecord& rec) { return port2 != 0 && rec.port == port2 ? 1 : 0; };
  int groups = 0, totalPc = 0, totalBank = 0;
  for (int first = 0; first < n;) {
    int last = first;
    while (last + 1 < n && r[last + 1].timeMs - r[last].timeMs <= 4.0) ++last;
    bool touched[2][16] = {};
    int pc = 0, bank = 0;
    for (int i = first; i <= last; ++i) {
      touched[portIndex(r[i])][r[i].channel & 15] = true;
      if (r[i].kind == 2) ++pc;
      if (r[i].kind <= 1) ++bank;
    }
    std::wstring channels;
    for (int p = 0; p < 2; ++p) {
      bool firstOfPort = true;
      for (int ch = 0; ch < 16; ++ch) {
        if (!touched[p][ch]) continue;
        wchar_t piece[32];
        if (firstOfPort) std::swprintf(piece, 32, L"  p%d:ch%d", p, ch);
        else std::swprintf(piece, 32, L",%d", ch);
        if (channels.size() + std::wcslen(piece) < 190) channels += piece;
        firstOfPort = false;
      }
    }
    ++groups;
    totalPc += pc;
    totalBank += bank;
    TraceLog(L"[LOAD]  묶음%-2d +%7.1f ~%7.1fms  PC %2d개 뱅크 %2d개 %ls\n", groups, r[first].timeMs,
             r[last].timeMs, pc, bank, channels.c_str());
    first = last + 1;
  }
  TraceLog(L"[LOAD] 총 %d묶음 / PC %d개 / 뱅크 %d개  (구 프로그램은 3~4묶음 관찰됨)\n", groups, totalPc, totalBank);
  int hits = 0, soundOrReset = 0;
  for (int i = 0; i < n; ++i) {
    const LoadTraceRecord& rec = r[i];
    if (portIndex(rec) == 1 || !IsRhythmChannel(rec.channel) || rec.kind > 8) continue;
    if (hits < 200)
      TraceLog(L"[CVTMOV] +%7.1fms  ch%-2d %ls = %u\n", rec.timeMs, rec.channel, kLoadKindNames[rec.kind],
               static_cast<unsigned>(rec.value));
    ++hits;
    if (rec.kind <= 3 || rec.kind == 5) ++soundOrReset;
  }
  TraceLog(L"[CVTMOV] CVT 소유 채널이 맞은 횟수 %d (그중 음색/리셋 %d)  -- 음색/리셋 0 이면 성공\n", hits, soundOrReset);
}

void OpenVolumeTrace(uint32_t ms) {
  const uint32_t now = plat::TimeGetTime();
  VolumeTraceOpened.store(now);
  Sound.VolumeTraceUntil.store(now + ms);
  TraceLog(L"[VOL2] ===== 창 열림 - 첫 음부터 %ums 동안 CVT 채널 볼륨 추적 =====\n", ms);
}

uint32_t VolumeTraceOpenedAt() { return VolumeTraceOpened.load(); }

void TraceVolumeCc(int port, int channel, int controller, int value) {
  const uint32_t now = plat::TimeGetTime();
  if (!VolumeTraceOpen(now) || port != 0 || !Player().rhythmRunning() || !IsRhythmChannel(channel)) return;
  const unsigned since = now - VolumeTraceOpened.load();
  if (controller == 128)
    TraceLog(L"[VOL2] +%5ums  p0:ch%-2d PROG %d  (tid %u)\n", since, channel, value, plat::CurrentThreadId());
  else
    TraceLog(L"[VOL2] +%5ums  p0:ch%-2d CC%-3d = %d  (tid %u)\n", since, channel, controller, value,
             plat::CurrentThreadId());
}

void TraceVolumeSysEx(const uint8_t* b, size_t length, std::wstring_view label) {
  const uint32_t now = plat::TimeGetTime();
  if (!VolumeTraceOpen(now) || !b || length <= 9) return;
  if (b[0] != 0xF0 || b[1] != 0x41 || b[3] != 0x42 || b[4] != 0x12) return;
  const unsigned since = now - VolumeTraceOpened.load();
  const std::wstring text(label);
  if (b[5] == 0x40 && b[6] == 0x00 && b[7] == 0x04) {
    TraceLog(L"[VOL2] +%5ums  GS 마스터볼륨 SysEx = %d  (%ls, tid %u)\n", since, b[8], text.c_str(),
             plat::CurrentThreadId());
  } else if ((b[5] == 0x40 || b[5] == 0x50) && (b[6] & 0xF0) == 0x10 && b[7] == 0x19) {
    const int part = b[6] & 0x0F;
    const int channel = part == 0 ? 9 : part <= 9 ? part - 1 : part;
    TraceLog(L"[VOL2] +%5ums  GS 파트볼륨 SysEx 파트주소 %02X %02X = %d (ch%d)  (%ls, tid %u)\n", since, b[5],
             b[6], b[8], channel, text.c_str(), plat::CurrentThreadId());
  }
}

void StartPerfMonitor() {
  uint8_t idle = 0;
  if (!Sound.PerfMonitorRunning.compare_exchange_strong(idle, 1)) return;
  try {
    std::thread(PerfMonitorThread).detach();
  } catch (...) {
    Sound.PerfMonitorRunning.store(0);
  }
}

