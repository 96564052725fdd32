#include "ui/pc_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <shared_mutex>
#include <system_error>
#include <thread>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "platform/paths.h"
#include "platform/realtime.h"
#include "songs/file_listing.h"
#include "songs/song_file_cache.h"
#include "songs/song_list.h"
#include "sound/midi_send.h"
#include "sound/sound_state.h"
#include "ui/av_exclusion.h"
#include "ui/services.h"

PcCheckState PcCheck;

namespace {

PcCheckItem Item(const wchar_t* name, int weight) {
  PcCheckItem item;
  item.name = name;
  item.weight = weight;
  return item;
}

void Set(PcCheckItem& item, int grade, std::wstring advice) {
  item.grade = grade;
  item.advice = std::move(advice);
}

std::wstring Int(double x) { return std::to_wstring(std::llround(x)); }

constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;

void PostPcCheckProgress(const wchar_t* text) { PostScriptToPage(PageCall(L"pcCheckProgress", text)); }

}  // namespace

std::wstring FormatOneDecimal(double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.1f", x);
  return Utf8ToWide(buf);
}

PcCheckItem GradeTimer(double averageMs, double maximumMs) {
  PcCheckItem it = Item(L"타이머 정확도", 2);
  it.value = L"평균 " + FormatOneDecimal(averageMs) + L"ms / 최대 " + FormatOneDecimal(maximumMs) + L"ms";
  if (averageMs <= 1.8 && maximumMs <= 5) Set(it, 2, L"1ms 단위로 정확합니다 - 박자에 좋습니다");
  else if (averageMs <= 3 && maximumMs <= 12) Set(it, 1, L"조금 무딥니다. 다른 프로그램을 닫으면 나아집니다");
  else Set(it, 0, L"많이 무딥니다. 전원을 '고성능'으로 바꾸고 백신 실시간 검사를 확인해 주세요");
  return it;
}

PcCheckItem GradeJitter(std::vector<double> intervals) {
  PcCheckItem it = Item(L"박자 흔들림", 3);
  double excess = 0, p95 = 0;
  if (!intervals.empty()) {
    std::sort(intervals.begin(), intervals.end());
    excess = std::max(0.0, intervals.back() - 2);
    const size_t at = std::min(intervals.size() - 1, size_t(double(intervals.size()) * 0.95));
    p95 = std::max(0.0, intervals[at] - 2);
  }
  it.value = L"보통 " + FormatOneDecimal(p95) + L"ms / 최대 " + FormatOneDecimal(excess) + L"ms 밀림";
  if (excess <= 5) Set(it, 2, L"아주 안정적입니다 - 드럼이 흔들리지 않습니다");
  else if (excess <= 15) Set(it, 1, L"가끔 밀립니다. 연주 중에는 다른 창을 띄우지 마세요");
  else Set(it, 0, L"많이 밀립니다. 박자가 절뚝일 수 있습니다(전원/백신/업데이트 확인)");
  return it;
}

PcCheckItem GradeMidiOutput(bool portOpen, double averageMs, double maximumMs) {
  PcCheckItem it = Item(L"MIDI 출력 속도", 2);
  if (!portOpen) {
    it.value = L"측정 안 함";
    Set(it, -1, L"MIDI 장치를 꽂고 CTRL+I 에서 고른 뒤 다시 재면 이 항목도 나옵니다");
    return it;
  }
  it.value = L"평균 " + FormatOneDecimal(averageMs) + L"ms / 최대 " + FormatOneDecimal(maximumMs) + L"ms";
  if (maximumMs <= 1) Set(it, 2, L"음원으로 바로 나갑니다");
  else if (maximumMs <= 4) Set(it, 1, L"가끔 걸립니다. USB 허브를 거치지 말고 직접 꽂아 보세요");
  else Set(it, 0, L"출력이 자주 막힙니다. USB 포트/드라이버를 바꿔 보세요");
  return it;
}

PcCheckItem GradeSongRead(long long fileBytes, double ms) {
  PcCheckItem it = Item(L"곡 읽기 속도", 1);
  if (fileBytes < 0) {
    it.value = L"곡 없음";
    Set(it, 1, L"곡이 없어 재지 못했습니다");
  } else if (fileBytes == 0) {
    it.value = L"읽기 실패";
    Set(it, 0, L"");
  } else {
    it.value = Int(ms) + L"ms (" + std::to_wstring(fileBytes / 1024) + L"KB)";
    if (ms <= 120) Set(it, 2, L"곡이 바로 걸립니다");
    else if (ms <= 400) Set(it, 1, L"조금 느립니다. 엔터 후 첫 음이 살짝 늦을 수 있습니다");
    else Set(it, 0, L"느립니다. HDD 라면 SSD 를 권합니다");
  }
  return it;
}

PcCheckItem GradeDisk(int seek, double readMs, double freeGiB, double totalGiB) {
  PcCheckItem it = Item(L"하드디스크", 2);
  std::wstring type = seek == 1 ? L"SSD" : seek == 0 ? L"HDD"
                      : readMs >= 0 && readMs < 1.5 ? L"SSD(추정)"
                      : readMs >= 4                 ? L"HDD(추정)"
                                                    : L"종류 미상";
  it.value = type;
  if (freeGiB >= 0) it.value += L" · 여유 " + Int(freeGiB) + L"GB / " + Int(totalGiB) + L"GB";
  if (readMs >= 0) it.value += L" · 읽기 " + FormatOneDecimal(readMs) + L"ms";
  const int space = freeGiB < 0 ? 1 : freeGiB >= 20 ? 2 : freeGiB >= 5 ? 1 : 0;
  const int speed = readMs < 0 ? 1 : readMs <= 2 ? 2 : readMs <= 8 ? 1 : 0;
  const int grade = std::min(space, speed);
  if (space == 0) Set(it, grade, L"여유 공간이 부족합니다 - 신곡 업데이트가 실패할 수 있습니다(20GB 이상 권장)");
  else if (speed == 0)
    Set(it, grade, seek == 1 || type == L"SSD(추정)"
                       ? L"SSD 인데 읽기가 느립니다 - eMMC 이거나 다른 프로그램이 디스크를 바쁘게 쓰고 있을 수 있습니다"
                       : L"디스크가 느립니다 - 곡이 늦게 걸립니다. SSD 를 권합니다");
  else if (grade == 1)
    Set(it, grade, space == 1 ? L"여유 공간이 빠듯합니다 - 정리하거나 늘려 주세요"
                              : L"조금 느립니다 - 엔터 후 첫 음이 살짝 늦을 수 있습니다");
  else Set(it, grade, L"빠르고 여유도 넉넉합니다");
  return it;
}

PcCheckItem GradePageRoundTrip(double averageMs) {
  PcCheckItem it = Item(L"화면 응답", 1);
  if (averageMs < 0) {
    it.value = L"응답 없음";
    Set(it, 0, L"화면(브라우저)이 응답하지 않습니다");
    return it;
  }
  it.value = L"왕복 " + FormatOneDecimal(averageMs) + L"ms";
  if (averageMs <= 25) Set(it, 2, L"가사/악보가 제때 그려집니다");
  else if (averageMs <= 70) Set(it, 1, L"조금 느립니다. 손님 화면을 끄면 가벼워집니다");
  else Set(it, 0, L"느립니다. 그래픽 드라이버를 최신으로 올려 보세요");
  return it;
}

PcCheckItem GradeCpuClock(bool read, unsigned currentMhz, unsigned maximumMhz) {
  PcCheckItem it = Item(L"CPU 클럭(전원 설정)", 2);
  if (!read || maximumMhz == 0) {
    it.value = L"확인 불가";
    Set(it, 1, L"이 PC 에서는 클럭을 읽지 못했습니다");
    return it;
  }
  const long long percent = std::llround(double(currentMhz) * 100.0 / maximumMhz);
  it.value = std::to_wstring(currentMhz) + L" / " + std::to_wstring(maximumMhz) + L"MHz (" + std::to_wstring(percent) + L"%)";
  if (percent >= 85) Set(it, 2, L"전력 제한 없이 돌고 있습니다");
  else if (percent >= 60) Set(it, 1, L"조금 눌려 있습니다. 전원 설정을 '고성능'으로 해보세요");
  else Set(it, 0, L"많이 눌려 있습니다 - 전원 '고성능' + 충전기 연결을 권합니다");
  return it;
}

PcCheckItem GradePower(const plat::PowerStatus& power) {
  PcCheckItem it = Item(L"전원", 1);
  switch (power.line) {
    case plat::PowerStatus::kCharger:
      it.value = L"충전기 연결";
      Set(it, 2, L"공연 중에는 항상 이 상태가 좋습니다");
      break;
    case plat::PowerStatus::kBattery:
      it.value = L"배터리";
      if (power.batteryPercent >= 0 && power.batteryPercent <= 100) it.value += L" " + std::to_wstring(power.batteryPercent) + L"%";
      Set(it, 0, L"배터리로 돌면 CPU 가 눌려 박자가 흔들립니다 - 충전기를 꽂아 주세요");
      break;
    case plat::PowerStatus::kUnknown:
      it.value = L"알 수 없음";
      Set(it, 1, L"데스크톱이면 정상입니다");
      break;
    case plat::PowerStatus::kNotReadable:
      it.value = L"확인 불가";
      Set(it, 1, L"");
      break;
  }
  return it;
}

PcCheckItem GradeAntivirus(int code, const std::wstring& text) {
  PcCheckItem it = Item(L"백신 검사 제외", 1);
  it.value = text;
  switch (code) {
    case 2: Set(it, 2, L"곡 폴더가 검사에서 빠져 있습니다 - 곡이 빨리 걸립니다"); break;
    case 3: Set(it, 2, L"실시간 검사가 꺼져 있어 검사로 인한 지연은 없습니다"); break;
    case 1: Set(it, 1, plat::ShownPath(L"<root>") + L" 을 제외하면 곡 읽기가 빨라집니다 - ALT+0 에서 [제외 등록]"); break;
    case 4: Set(it, -1, L"쓰시는 백신 프로그램에서 " + plat::ShownPath(L"<root>") + L" 폴더를 직접 제외해 주세요"); break;
    default: Set(it, -1, L"이 PC에는 백신 실시간 검사 서비스가 없습니다 - 제외할 것이 없습니다"); break;
  }
  return it;
}

PcCheckItem GradeSystem(bool read, const std::string& release, const std::string& machine) {
  PcCheckItem it = Item(L"운영체제", 1);
  if (!read) {
    it.value = L"확인 불가";
    Set(it, -1, L"버전을 읽지 못했습니다");
    return it;
  }
  const bool wide = machine == "x86_64" || machine == "aarch64" || machine == "arm64";
  it.value = L"리눅스 " + Utf8ToWide(release) + L" (" + Utf8ToWide(machine) + L") · " + (wide ? L"64비트" : L"32비트");
  if (wide) Set(it, 2, L"문제 없습니다");
  else Set(it, 1, L"32비트라 쓸 수 있는 메모리가 제한됩니다(3.2GB 까지)");
  return it;
}

PcCheckItem GradeCores(unsigned count) {
  PcCheckItem it = Item(L"CPU 코어", 1);
  it.value = std::to_wstring(count) + L"개";
  if (count >= 4) Set(it, 2, L"넉넉합니다");
  else if (count >= 2) Set(it, 1, L"돌아가지만 여유가 적습니다");
  else Set(it, 0, L"부족합니다");
  return it;
}

PcCheckItem GradeMemory(bool read, double totalGiB, double availableGiB) {
  PcCheckItem it = Item(L"메모리", 1);
  if (!read) {
    it.value = L"확인 불가";
    Set(it, -1, L"메모리 정보를 읽지 못했습니다");
    return it;
  }
  it.value = FormatOneDecimal(totalGiB) + L"GB (남은 " + FormatOneDecimal(availableGiB) + L"GB)";
  const int total = totalGiB >= 7.5 ? 2 : totalGiB >= 3.8 ? 1 : 0;
  const int avail = availableGiB >= 3 ? 2 : availableGiB >= 1.5 ? 1 : 0;
  const int grade = std::min(total, avail);
  if (grade == 2) Set(it, 2, L"넉넉합니다");
  else if (avail == 0) Set(it, grade, L"남은 메모리가 부족합니다 - ALT+0 의 [성능 모드]를 저사양으로 바꾸세요");
  else if (grade == 1) Set(it, grade, L"빠듯합니다 - 다른 프로그램을 닫고, [성능 모드]를 저사양으로 두세요");
  else Set(it, grade, L"부족합니다 - ALT+0 의 [성능 모드]를 저사양으로 바꾸세요");
  return it;
}

PcCheckResult ScorePcCheck(const std::vector<PcCheckItem>& items) {
  int points = 0, possible = 0;
  for (const PcCheckItem& it : items) {
    if (it.grade < 0) continue;
    points += it.grade * it.weight;
    possible += 2 * it.weight;
  }
  PcCheckResult r;
  r.score = possible > 0 ? int(std::llround(points * 100.0 / possible)) : 0;
  if (r.score >= 88) r.letter = L"A", r.verdict = L"이 PC 로 공연해도 좋습니다";
  else if (r.score >= 70) r.letter = L"B", r.verdict = L"쓸 수 있습니다 - 아래 주의 항목만 손보세요";
  else if (r.score >= 50) r.letter = L"C", r.verdict = L"박자가 흔들릴 수 있습니다 - 주의 항목을 꼭 손보세요";
  else r.letter = L"D", r.verdict = L"이 상태로는 권하지 않습니다";
  return r;
}

std::wstring BuildShowPcCheckScript(const std::vector<PcCheckItem>& items, const PcCheckResult& result) {
  std::wstring list = L"[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) list += L",";
    list += L"{n:" + ScriptString(items[i].name) + L",v:" + ScriptString(items[i].value) + L",t:" +
            ScriptString(items[i].advice) + L",g:" + std::to_wstring(items[i].grade) + L"}";
  }
  list += L"]";
  return PageCall(L"showPcCheck", ScriptLiteral{list}, result.score, result.letter, result.verdict);
}

std::string BuildPcCheckReport(const std::vector<PcCheckItem>& items, const PcCheckResult& result) {
  static const wchar_t* kWords[] = {L"미측정", L"주의", L"보통", L"좋음"};
  std::wstring w = L"Tavelo PC 성능 진단\r\n종합 " + result.letter + L" (" + std::to_wstring(result.score) + L"점) - " +
                   result.verdict + L"\r\n";
  for (const PcCheckItem& it : items)
    w += L"[" + std::wstring(kWords[std::clamp(it.grade, -1, 2) + 1]) + L"] " + it.name + L" : " + it.value + L"   " +
         it.advice + L"\r\n";
  return "\xEF\xBB\xBF" + WideToUtf8(w);
}

namespace {

double MeasurePageRoundTrip() {
  double sum = 0;
  int answered = 0;
  for (int round = 0; round < 10; ++round) {
    PcCheck.PcCheckPongFlag.store(0);
    const uint32_t t0 = plat::TimeGetTime();
    PostScriptToPage(GuardedScript(L"window.chrome.webview.postMessage('PCCHK_PONG');", L"PCCHK_PONG"));
    for (int i = 0; i < 2000; ++i) {
      if (PcCheck.PcCheckPongFlag.load()) {
        sum += plat::TimeGetTime() - t0;
        ++answered;
        break;
      }
      plat::SleepMs(1);
    }
    plat::SleepMs(10);
  }
  return answered ? sum / answered : -1;
}

// Opens every 37th song MIDI file (at most 24) and reads its first 4 KB; milliseconds per file.
double MeasureSongFileOpenMs(int& count) {
  count = 0;
  const std::vector<std::string> names = ListMatchingFiles(L"<root>/system/P*.MID");
  std::vector<std::filesystem::path> picked;
  const std::filesystem::path dir = plat::RealPath(L"<root>/system");
  for (size_t i = 0; i < names.size() && picked.size() < 24; i += 37) picked.push_back(dir / names[i]);
  const double t0 = plat::NowMs();
  char buf[4096];
  for (const auto& p : picked) {
    std::ifstream in(p, std::ios::binary);
    if (!in) continue;
    in.read(buf, sizeof buf);
    ++count;
  }
  const double ms = plat::NowMs() - t0;
  return count ? ms / count : -1;
}

std::vector<PcCheckItem> MeasureItems() {
  std::vector<PcCheckItem> items;
  PostPcCheckProgress(L"타이머 정확도 재는 중...");
  {
    double sum = 0, max = 0;
    for (int i = 0; i < 200; ++i) {
      const double a = plat::NowMs();
      plat::SleepMs(1);
      const double d = plat::NowMs() - a;
      sum += d;
      max = std::max(max, d);
    }
    items.push_back(GradeTimer(sum / 200, max));
  }
  PostPcCheckProgress(L"박자 흔들림 재는 중... (3초)");
  {
    std::string detail;
    const plat::RealtimeLevel level = plat::RaiseThreadRealtime(10, &detail);
    if (level != plat::RealtimeLevel::kFifo) DebugLog(L"[PCCHK] 실시간 우선순위를 얻지 못함: " + Utf8ToWide(detail));
    std::vector<double> intervals;
    intervals.reserve(2000);
    const uint32_t start = plat::TimeGetTime();
    double prev = plat::NowMs();
    while (plat::TimeGetTime() - start < 3000 && intervals.size() < 2000) {
      plat::SleepMs(2);
      const double now = plat::NowMs();
      intervals.push_back(now - prev);
      prev = now;
    }
    plat::LowerThreadFromRealtime();
    items.push_back(GradeJitter(std::move(intervals)));
  }
  PostPcCheckProgress(L"MIDI 출력 재는 중...");
  {
    const MidiOutHandle port = Sound.MidiOutPort1.load();
    double sum = 0, max = 0;
    if (port) {
      for (int i = 0; i < 300; ++i) {
        // Every probe must reach the port: the sender would drop a repeated controller value.
        ClearCcCache();
        const double a = plat::NowMs();
        SendShortMidi(port, 0x66BF);
        const double d = plat::NowMs() - a;
        sum += d;
        max = std::max(max, d);
        plat::SleepMs(1);
      }
    }
    items.push_back(GradeMidiOutput(port != 0, sum / 300, max));
  }
  PostPcCheckProgress(L"곡 읽기 속도 재는 중...");
  {
    int id = 0;
    {
      std::shared_lock lock(SongLibrary.SongListMutex);
      if (!SongLibrary.SongList.empty()) id = SongLibrary.SongList[SongLibrary.SongList.size() / 2].id;
    }
    long long bytes = -1;
    double ms = 0;
    if (id >= 1) {
      const uint32_t a = plat::TimeGetTime();
      const std::optional<std::string> data =
          plat::ReadFileBytes(plat::RealPath(L"<root>/system/P" + PadSongNumber(id) + L".MID"));
      ms = plat::TimeGetTime() - a;
      bytes = data ? (long long)data->size() : 0;
    }
    items.push_back(GradeSongRead(bytes, ms));
  }
  PostPcCheckProgress(L"하드디스크 재는 중...");
  {
    const std::filesystem::path root = plat::RootDir();
    int opened = 0;
    const double readMs = MeasureSongFileOpenMs(opened);
    uint64_t avail = 0, total = 0;
    const bool space = plat::GetVolumeSpace(root, avail, total);
    items.push_back(GradeDisk(plat::QuerySeekPenalty(root), readMs, space ? avail / kGiB : -1, space ? total / kGiB : -1));
  }
  PostPcCheckProgress(L"화면 응답 재는 중...");
  items.push_back(GradePageRoundTrip(MeasurePageRoundTrip()));
  {
    unsigned cur = 0, max = 0;
    const bool read = plat::QueryCpuClockMhz(cur, max);
    items.push_back(GradeCpuClock(read, cur, max));
  }
  items.push_back(GradePower(plat::QueryPowerStatus()));
  PostPcCheckProgress(L"백신 검사 설정 확인 중...");
  {
    const int code = QueryDefenderStatus();
    items.push_back(GradeAntivirus(code, CurrentAvStatus().text));
  }
  {
    std::string release, machine;
    const bool read = plat::QueryKernelVersion(release, machine);
    items.push_back(GradeSystem(read, release, machine));
  }
  items.push_back(GradeCores(plat::ProcessorCount()));
  {
    uint64_t total = 0, avail = 0;
    const bool read = plat::GetMemoryBytes(total, avail);
    items.push_back(GradeMemory(read, total / kGiB, avail / kGiB));
  }
  return items;
}

}  // namespace

void RunPcCheck() {
  const std::vector<PcCheckItem> items = MeasureItems();
  const PcCheckResult result = ScorePcCheck(items);
  PostScriptToPage(BuildShowPcCheckScript(items, result));
  if (const std::filesystem::path report = plat::RealPath(L"<root>/system/pc_check.txt"); !report.empty())
    plat::WriteFileAtomic(report, BuildPcCheckReport(items, result));
  DebugLog(L"[PCCHK] 진단 완료 - 종합 " + result.letter + L" (" + std::to_wstring(result.score) +
           L"점), 결과는 system/pc_check.txt");
  Settings.pcScore = result.score;
  SaveAppSettings();
  PostScriptToPage(PostAvExclusionState());
  if (std::wstring lite = BuildLiteModeScript(); !lite.empty()) PostScriptToPage(lite);
  // The customer page uses the browser control: the window thread runs it, after the new score.
  plat::PostWindowTask(ApplyCustomerBackground);
  if (Settings.gpuForce == -1 && result.score < 70 && PcCheck.GpuAccelerationOn.load() == 0)
    ShowPageBadge(L"약한 PC 로 판정됐습니다 - 프로그램을 다시 시작하면 그래픽 가속이 저절로 켜집니다");
  PcCheck.PcCheckRunning.store(0);
}

void StartPcCheck() {
  if (PcCheck.PcCheckRunning.exchange(1)) return;
  try {
    std::thread(RunPcCheck).detach();
  } catch (const std::system_error&) {
    PcCheck.PcCheckRunning.store(0);
    DebugLog(L"[PCCHK] 진단 스레드를 시작하지 못함");
  }
}
