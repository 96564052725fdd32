#pragma once
// The patch substitution table "PATCHTBL.CFG": named tones and rules that turn one tone (bank
// LSB, bank MSB, program) into another with a volume correction, applied to each newly loaded
// song's program changes and their bank selects.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "songs/song_model.h"

struct PatchTone {
  int lsb = 0, msb = 0, program = 0, volume = 100;
};
constexpr uint32_t PatchToneKey(int lsb, int msb, int program) {
  return static_cast<uint32_t>(lsb) * 65536u + static_cast<uint32_t>(msb) * 256u +
         static_cast<uint32_t>(program & 127);
}

// The patch substitution table and what it did to the loaded song.
struct PatchTableState {
  // Source tone key -> destination tone. Filled by LoadPatchTable only.
  std::map<uint32_t, PatchTone> PatchSubstitutions;
  // One byte per event of the loaded song: 0 none, 1..200 the volume percent of that program
  // change.
  std::vector<uint8_t> PatchEventVolume;
};
extern PatchTableState PatchTable;

void LoadPatchTable();
// Rewrites the events of a newly analysed song, before its model is published, and logs what
// it changed. Bank selects may be added (see ApplyPatchTableTo): lists kept per event must be
// built again when the list grew.
void ApplyPatchTable(std::vector<SongEvent>& events);

// The rewrite itself, for any event list whose events have kind, status, data1, data2 and port.
// Returns the number of substitutions and fills `volumes` (one byte per event) and `summary`.
// A substituted program change takes the bank selects it uses: the most recent one of each kind
// on its channel is rewritten when no earlier program change took it; when one did, that earlier
// tone must stay, and a bank select of its own (a copy of the program change turned into
// controller 0 or 32) is put right before the program change, so the list can grow. A channel
// without bank selects gets none.
template <class Events>
int ApplyPatchTableTo(Events& events, std::vector<uint8_t>& volumes, std::wstring& summary) {
  volumes.assign(events.size(), 0);
  summary.clear();
  if (PatchTable.PatchSubstitutions.empty() || events.empty()) return 0;
  int msb[2][16] = {}, lsb[2][16] = {};
  // Position of the most recent bank select of each kind (-1 none), and whether a program change
  // has taken it since.
  long long msbAt[2][16], lsbAt[2][16];
  bool msbTaken[2][16] = {}, lsbTaken[2][16] = {};
  for (int p = 0; p < 2; ++p)
    for (int c = 0; c < 16; ++c) msbAt[p][c] = lsbAt[p][c] = -1;
  struct Insert {
    size_t before;  // index of the program change
    uint8_t controller, value;
  };
  std::vector<Insert> inserts;
  int count = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    auto& e = events[i];
    if (e.kind != 0) continue;
    int port = e.port == 1 ? 1 : 0;
    int ch = e.status & 0x0F;
    unsigned kind = e.status & 0xF0;
    if (kind == 0xB0 && e.data1 == 0) {
      msb[port][ch] = e.data2;
      msbAt[port][ch] = static_cast<long long>(i);
      msbTaken[port][ch] = false;
    } else if (kind == 0xB0 && e.data1 == 32) {
      lsb[port][ch] = e.data2;
      lsbAt[port][ch] = static_cast<long long>(i);
      lsbTaken[port][ch] = false;
    } else if (kind == 0xC0) {
      const bool msbFree = !msbTaken[port][ch], lsbFree = !lsbTaken[port][ch];
      msbTaken[port][ch] = lsbTaken[port][ch] = true;  // this program change takes them
      if (ch == 9 || (port == 0 && ch >= 10 && ch <= 12)) continue;
      auto it = PatchTable.PatchSubstitutions.find(PatchToneKey(lsb[port][ch], msb[port][ch], e.data1));
      if (it == PatchTable.PatchSubstitutions.end()) continue;
      const PatchTone& to = it->second;
      const int toMsb = to.msb & 127, toLsb = to.lsb & 127;
      int oldLsb = lsb[port][ch], oldMsb = msb[port][ch], oldProgram = e.data1;
      e.data1 = static_cast<uint8_t>(to.program & 127);
      if (msbAt[port][ch] >= 0 && msbFree) events[static_cast<size_t>(msbAt[port][ch])].data2 = static_cast<uint8_t>(toMsb);
      else if (msbAt[port][ch] >= 0 && toMsb != msb[port][ch]) inserts.push_back({i, 0, static_cast<uint8_t>(toMsb)});
      if (lsbAt[port][ch] >= 0 && lsbFree) events[static_cast<size_t>(lsbAt[port][ch])].data2 = static_cast<uint8_t>(toLsb);
      else if (lsbAt[port][ch] >= 0 && toLsb != lsb[port][ch]) inserts.push_back({i, 32, static_cast<uint8_t>(toLsb)});
      msb[port][ch] = toMsb;
      lsb[port][ch] = toLsb;
      if (to.volume != 100) volumes[i] = static_cast<uint8_t>(to.volume < 1 ? 1 : to.volume > 200 ? 200 : to.volume);
      if (count++) summary += L" | ";
      summary += std::to_wstring(port + 1) + L"포트ch" + std::to_wstring(ch + 1) + L" (" +
                 std::to_wstring(oldLsb) + L"," + std::to_wstring(oldMsb) + L"," +
                 std::to_wstring(oldProgram) + L")->(" + std::to_wstring(toLsb) + L"," +
                 std::to_wstring(toMsb) + L"," + std::to_wstring(to.program & 127) + L")";
      if (to.volume != 100) summary += L" vol" + std::to_wstring(to.volume);
    }
  }
  if (!inserts.empty()) {
    // Open the gaps from the back, so that every event moves once.
    const size_t n = events.size();
    events.resize(n + inserts.size());
    volumes.resize(n + inserts.size());
    size_t w = events.size(), j = inserts.size();
    for (size_t i = n; i-- > 0 && w > i + 1;) {
      --w;
      events[w] = events[i];
      volumes[w] = volumes[i];
      const size_t program = w;
      while (j > 0 && inserts[j - 1].before == i) {
        --j;
        --w;
        events[w] = events[program];
        events[w].status = static_cast<uint8_t>(0xB0 | (events[program].status & 0x0F));
        events[w].data1 = inserts[j].controller;
        events[w].data2 = inserts[j].value;
        volumes[w] = 0;
      }
    }
  }
  return count;
}
