// The pattern editor: "RED_SAVE:" of a dense 8-bar part (backup copy, edit, temporary write, read
// back, verify, rename, page payload), once with the disk syncs of the backup and the write and
// once without them, and the preview's send-time error at 220 bpm (each note-on against its ideal
// time from the preview's start).
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "playback/red_editor.h"
#include "playback/rhythm_sender.h"
#include "playback/rhythm_style.h"
#include "sound/mixer_state.h"

namespace fs = std::filesystem;

namespace {

std::mutex g_mu;
std::vector<double> g_sent;  // note-on send times, ms
void Record(MidiOutHandle, uint32_t m) {
  if ((m & 0xF0) == 0x90 && ((m >> 16) & 0x7F) > 0) {
    std::lock_guard lock(g_mu);
    g_sent.push_back(plat::NowMs());
  }
}

double Pct(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * (v.size() - 1))];
}

// The save's file steps as the program does them, without waiting for the disk.
bool CopyNoSync(std::wstring_view from, std::wstring_view to) {
  const auto bytes = plat::ReadFileBytes(plat::RealPath(from));
  return bytes && plat::WriteFileReplacing(plat::RealPath(to), *bytes);
}
bool WriteNoSync(std::wstring_view path, const RedPattern& p) {
  const auto bytes = BuildRedPatternBytes(p);
  return bytes && plat::WriteFileReplacing(plat::RealPath(path), *bytes);
}

// Every page row, a hit on every sixteenth of 8 bars.
std::wstring DenseFields(int velocity) {
  std::wstring fields = L"0";
  for (int row : kRedPageRows) {
    fields += L"\t" + std::to_wstring(row) + L"=";
    for (int step = 0; step < 128; ++step)
      fields += (step ? L"|" : L"") + std::to_wstring(step) + L".40." + std::to_wstring(velocity) + L".10";
  }
  return fields;
}

}  // namespace

int main() {
  const fs::path root = fs::temp_directory_path() / ("tavelo_bench_red_" + std::to_string(std::random_device{}()));
  fs::create_directories(root / "pxr");
  plat::SetRootDir(root);
  RedPattern base;
  base.tracks.push_back({0, {{0, 0, std::string("\xFF\x21\x01\x00", 4)}, {0, 1, std::string("\xC9\x00", 2)}}});
  // A library of nine styles, as the page payload looks each one up.
  for (int k = 1; k <= 9; ++k) WriteRedPatternMidi(plat::RealPath(StylePartPath(StyleNameFromNumber(k), L"P1")), base);
  RedFileOps ops;
  ops.post = [](std::wstring_view) {};
  ops.reload = [](std::wstring, int) {};
  for (const bool sync : {true, false}) {
    ops.copy = sync ? nullptr : CopyNoSync;
    ops.write = sync ? nullptr : WriteNoSync;
    SetRedFileOps(ops);
    RedOpen(L"DS9");
    std::vector<double> saves, cpu;
    for (int i = 0; i < 40; ++i) {
      const std::wstring fields = DenseFields(60 + i % 2);
      const double t0 = plat::NowMs();
      const std::clock_t c0 = std::clock();
      RedSave(fields);
      cpu.push_back(1000.0 * static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC);
      saves.push_back(plat::NowMs() - t0);
    }
    // The processor time tells the work apart from waiting on a busy machine.
    std::printf("RED_SAVE dense 8 bars (%d hits), %s: median %.3f ms, p99 %.3f ms, max %.3f ms; processor time median %.3f ms\n",
                7 * 128, sync ? "disk syncs included" : "without the disk syncs", Pct(saves, 0.5), Pct(saves, 0.99),
                Pct(saves, 1.0), Pct(cpu, 0.5));
  }

  // Preview: two bars of sixteenths at 220 bpm, four times.
  SetCvtOutput(Record);
  for (auto& percent : Mixer.EffectiveRhythmPercent) percent = 100;
  RedSetBpm(L"220");
  std::vector<StyleEvent> events;
  for (uint32_t step = 0; step < 32; ++step) {
    events.push_back({step * 30, 9, kStyleNoteOn, 36, 90, 0});
    events.push_back({step * 30 + 10, 9, kStyleNoteOff, 36, 0, 0});
  }
  const uint64_t generation = ++RedEditor.RedPreviewGeneration;
  const double start = plat::NowMs();
  RunRedPreview(MidiOutHandle{1}, events, 120, 2, generation);
  const double stepMs = 60000.0 / 220 / 4;
  std::vector<double> errors;
  for (size_t i = 0; i < g_sent.size(); ++i) errors.push_back(g_sent[i] - (start + static_cast<double>(i) * stepMs));
  std::printf("preview at 220 bpm (%zu note-ons): error median %.3f ms, p99 %.3f ms, max %.3f ms\n", errors.size(),
              Pct(errors, 0.5), Pct(errors, 0.99), Pct(errors, 1.0));
  SetCvtOutput(nullptr);
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
