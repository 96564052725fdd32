// The pattern editor: "RED_SAVE:" of a dense 8-bar part (edit, temporary write, read back,
// verify, rename, page payload; the disk sync of the write included), and the preview's send-time
// error at 220 bpm (each note-on against its ideal time from the preview's first event).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/paths.h"
#include "playback/red_editor.h"
#include "playback/rhythm_sender.h"
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
  WriteRedPatternMidi(plat::RealPath(StylePartPath(L"DS9", L"P1")), base);
  RedFileOps ops;
  ops.post = [](std::wstring_view) {};
  ops.reload = [](std::wstring, int) {};
  SetRedFileOps(ops);
  RedOpen(L"DS9");
  std::vector<double> saves;
  for (int i = 0; i < 40; ++i) {
    const std::wstring fields = DenseFields(60 + i % 2);
    const double t0 = plat::NowMs();
    RedSave(fields);
    saves.push_back(plat::NowMs() - t0);
  }
  std::printf("RED_SAVE dense 8 bars (%d hits): median %.3f ms, p99 %.3f ms, max %.3f ms\n", 7 * 128, Pct(saves, 0.5),
              Pct(saves, 0.99), Pct(saves, 1.0));

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
