#include "playback/red_editor.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <thread>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/player_signals.h"
#include "base/text.h"
#include "base/realtime_thread.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/realtime.h"
#include "playback/rhythm_sender.h"
#include "sound/midi_ports.h"
#include "sound/midi_send.h"
#include "sound/module_setup.h"

RedEditorStateValues RedEditor;

namespace {

constexpr std::wstring_view kOrigFolder = L"<root>/pxr/_orig/";
constexpr std::wstring_view kBakFolder = L"<root>/pxr/_bak/";
// A step beyond this would put a note past what a file's delta time can hold.
constexpr int64_t kMaxStep = 4096;
constexpr int64_t kMaxLength = 65535;

bool DefaultCopy(std::wstring_view from, std::wstring_view to) {
  const auto src = plat::RealPath(from);
  const auto dst = plat::RealPath(to);
  if (src.empty() || dst.empty()) return false;
  const auto bytes = plat::ReadFileBytes(src);
  return bytes && plat::WriteFileAtomic(dst, *bytes);
}
bool DefaultWrite(std::wstring_view path, const RedPattern& p) {
  const auto real = plat::RealPath(path);
  return !real.empty() && WriteRedPatternMidi(real, p);
}
bool DefaultRead(std::wstring_view path, RedPattern& p) {
  const auto real = plat::RealPath(path);
  if (real.empty()) {
    p = InitRedPattern();
    return false;
  }
  return ReadRedPatternMidi(real, p);
}
void DefaultReload(std::wstring style, int variation) {
  std::thread(LoadStyleSetThreadEntry, std::move(style), variation).detach();
}
void PlayRedHit(RedPattern source, int row, int note, int velocity);
void DefaultHit(RedPattern source, int row, int note, int velocity) {
  std::thread(PlayRedHit, std::move(source), row, note, velocity).detach();
}
void DefaultPost(std::wstring_view script) { PostScriptToPage(script); }

RedFileOps g_ops{DefaultCopy, DefaultWrite, DefaultRead, DefaultReload, DefaultHit, DefaultPost};

bool IsChannelMessage(const std::string& b) {
  return !b.empty() && static_cast<uint8_t>(b[0]) >= 0x80 && static_cast<uint8_t>(b[0]) <= 0xEF;
}
int StatusOf(const std::string& b) { return static_cast<uint8_t>(b[0]) & 0xF0; }
int ChannelOf(const std::string& b) { return static_cast<uint8_t>(b[0]) & 0x0F; }
int Data(const std::string& b, size_t i) { return b.size() > i ? static_cast<uint8_t>(b[i]) : -1; }

int RowOf(const RedTrack& t, const RedEvent& e) {
  return IsChannelMessage(e.bytes) ? RedEditorRow(t.port, ChannelOf(e.bytes)) : -1;
}
bool IsNoteMessage(const std::string& b) {
  return b.size() >= 3 && (StatusOf(b) == 0x80 || StatusOf(b) == 0x90);
}

uint32_t StepTicks(int division) { return static_cast<uint32_t>(std::max(1, division / 4)); }

// A whole integer field (optional sign, digits only); false for anything else.
bool ParseWhole(std::wstring_view s, int64_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == L'-' || s[i] == L'+')) negative = s[i++] == L'-';
  if (i == s.size() || s.size() - i > 9) return false;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < L'0' || s[i] > L'9') return false;
    v = v * 10 + (s[i] - L'0');
  }
  value = negative ? -v : v;
  return true;
}

std::wstring ResultScript(int ok, std::wstring_view text) { return PageCall(L"setRedResult", ok, text); }

void Post(std::wstring_view script) { g_ops.post(script); }

// Appends a number in decimal; the page payload holds thousands of them.
void AppendNumber(std::wstring& out, int64_t v) {
  wchar_t digits[24];
  size_t n = 0;
  uint64_t u = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + u % 10);
    u /= 10;
  } while (u);
  if (v < 0) out += L'-';
  while (n) out += digits[--n];
}

std::wstring PartPath(int index) { return StylePartPath(RedEditor.RedStyleName, kRedPartNames[static_cast<size_t>(index)]); }

void ReloadWhenActive() {
  if (RedEditor.RedStyleName == ActiveStyleName())
    g_ops.reload(RedEditor.RedStyleName, RhythmStyles.activeVariation.load());
}

std::vector<const RedPattern*> OtherLoaded(int index) {
  std::vector<const RedPattern*> others;
  for (int i = 0; i < 6; ++i)
    if (i != index && RedEditor.RedPatternLoaded[static_cast<size_t>(i)]) others.push_back(&RedEditor.RedPatterns[static_cast<size_t>(i)]);
  return others;
}

void AllSoundOff(MidiOutHandle port, int from, int to) {
  if (!port) return;
  for (int ch = from; ch <= to; ++ch) {
    SendShortMidi(port, 0xB0u | static_cast<uint32_t>(ch) | (120u << 8));
    SendShortMidi(port, 0xB0u | static_cast<uint32_t>(ch) | (123u << 8));
  }
}

void SetupModuleWhenIdle() {
  if (!Player().songPlaying() && !Player().rhythmRunning()) SendProSetOnce(true);
}

void PlayRedPreviewThread(std::vector<StyleEvent> events, int division, int bars, uint64_t generation) {
  if (!OpenMidiPort1()) {
    Post(ResultScript(0, L"MIDI 출력 장치를 열지 못했습니다 - CTRL+I 에서 장치를 확인해주세요"));
    return;
  }
  SetupModuleWhenIdle();
  if (RedEditor.RedPreviewGeneration.load() != generation) return;
  RunRedPreview(Sound.MidiOutPort1.load(), std::move(events), division, bars, generation);
}

void PlayRedHit(RedPattern source, int row, int note, int velocity) {
  if (!OpenMidiPort1()) return;
  SetupModuleWhenIdle();
  const MidiOutHandle port = Sound.MidiOutPort1.load();
  std::vector<StyleEvent> setup;
  bool bankMsb = false, bankLsb = false, program = false;
  for (const StyleEvent& e : CollectRedPreviewEvents(source)) {
    if (e.channel != row) continue;
    if (e.kind == kStyleController && e.data1 == 0 && !bankMsb) bankMsb = true, setup.push_back(e);
    else if (e.kind == kStyleController && e.data1 == 32 && !bankLsb) bankLsb = true, setup.push_back(e);
    else if (e.kind == kStyleProgram && !program) program = true, setup.push_back(e);
  }
  std::stable_sort(setup.begin(), setup.end(), [](const StyleEvent& a, const StyleEvent& b) { return a.kind > b.kind; });
  for (const StyleEvent& e : setup) SendCvtEvent(port, e);
  SoundRedHitNote(port, row, note, velocity, 400);
}

}  // namespace

void SoundRedHitNote(MidiOutHandle port, int row, int note, int velocity, unsigned holdMs) {
  const uint8_t follow = (row == 6 || row == 8) ? 1 : 0;
  StyleEvent e{0, static_cast<uint8_t>(row), kStyleNoteOn, static_cast<uint8_t>(note), static_cast<uint8_t>(velocity), follow};
  SendCvtEvent(port, e);
  plat::SleepMs(holdMs);
  // The sender remembers which note the chord and range rules made of it: that one ends.
  e.kind = kStyleNoteOff;
  e.data2 = 0;
  SendCvtEvent(port, e);
}

void SetRedFileOps(const RedFileOps& ops) {
  g_ops.copy = ops.copy ? ops.copy : DefaultCopy;
  g_ops.write = ops.write ? ops.write : DefaultWrite;
  g_ops.read = ops.read ? ops.read : DefaultRead;
  g_ops.reload = ops.reload ? ops.reload : DefaultReload;
  g_ops.hit = ops.hit ? ops.hit : DefaultHit;
  g_ops.post = ops.post ? ops.post : DefaultPost;
}

int RedEditorRow(uint8_t port, int channel) {
  if (port == 0) return channel >= 8 && channel <= 13 ? channel : -1;
  if (port == 1) {
    if (channel == 0) return 6;
    if (channel == 13 || channel == 14) return channel;
  }
  return -1;
}

std::wstring RedPatternFileName(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"/\\");
  return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

bool IsRedStyleName(std::wstring_view style) {
  if (style.empty() || style.size() > 32) return false;
  return std::all_of(style.begin(), style.end(), [](wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
  });
}

int FindRedRowTrack(const RedPattern& p, int row) {
  for (size_t t = 0; t < p.tracks.size(); ++t)
    for (const RedEvent& e : p.tracks[t].events)
      if (RowOf(p.tracks[t], e) == row) return static_cast<int>(t);
  return -1;
}

int FindRedRowProgram(const RedPattern& p, int row) {
  for (const RedTrack& t : p.tracks)
    for (const RedEvent& e : t.events)
      if (RowOf(t, e) == row && StatusOf(e.bytes) == 0xC0 && e.bytes.size() >= 2) return Data(e.bytes, 1);
  return -1;
}

int CountRedRowHits(const RedPattern& p, int row) {
  int n = 0;
  for (const RedTrack& t : p.tracks)
    for (const RedEvent& e : t.events)
      if (RowOf(t, e) == row && e.bytes.size() >= 3 && StatusOf(e.bytes) == 0x90 && Data(e.bytes, 2) > 0) ++n;
  return n;
}

int CountRedPatternBars(const RedPattern& p) {
  const int64_t bar = p.division > 0 ? 4LL * p.division : 480;
  uint32_t last = 0;
  for (const RedTrack& t : p.tracks)
    for (const RedEvent& e : t.events)
      if (IsChannelMessage(e.bytes) && e.bytes.size() >= 3 && StatusOf(e.bytes) == 0x90 && Data(e.bytes, 2) > 0)
        last = std::max(last, e.tick);
  return static_cast<int>(std::clamp<int64_t>(last / bar + 1, 1, 8));
}

std::vector<RedHit> CollectRedRowHits(const RedPattern& p, int row) {
  std::vector<const RedEvent*> notes;
  for (const RedTrack& t : p.tracks)
    for (const RedEvent& e : t.events)
      if (RowOf(t, e) == row && IsNoteMessage(e.bytes)) notes.push_back(&e);
  std::stable_sort(notes.begin(), notes.end(), [](const RedEvent* a, const RedEvent* b) {
    return a->tick != b->tick ? a->tick < b->tick : a->seq < b->seq;
  });
  std::vector<RedHit> hits;
  std::map<int, size_t> open;
  for (const RedEvent* e : notes) {
    const int note = Data(e->bytes, 1), velocity = Data(e->bytes, 2);
    if (StatusOf(e->bytes) == 0x90 && velocity > 0) {
      open[note] = hits.size();
      hits.push_back({e->tick, note, velocity, 15});
    } else if (const auto it = open.find(note); it != open.end()) {
      const int64_t length = static_cast<int64_t>(e->tick) - hits[it->second].tick;
      hits[it->second].length = length > 0 ? static_cast<int>(std::min<int64_t>(length, kMaxLength)) : 1;
      open.erase(it);
    }
  }
  return hits;
}

void CollectRedRowNotes(const RedPattern& p, int row, std::vector<int>& notes) {
  for (const RedHit& h : CollectRedRowHits(p, row))
    if (std::find(notes.begin(), notes.end(), h.note) == notes.end()) notes.push_back(h.note);
}

int AddRedRowTrack(RedPattern& p, int row, const RedPattern* source) {
  const int channel = row == 6 ? 0 : row;
  const uint8_t port = (row == 6 || row == 14) ? 1 : 0;
  RedTrack track;
  track.port = port;
  int32_t seq = 1000000 + 1000 * row;
  track.events.push_back({0, seq++, std::string("\xFF\x21\x01", 3) + static_cast<char>(port)});
  if (source) {
    const RedEvent *program = nullptr, *msb = nullptr, *lsb = nullptr;
    for (const RedTrack& t : source->tracks)
      for (const RedEvent& e : t.events) {
        if (RowOf(t, e) != row) continue;
        if (StatusOf(e.bytes) == 0xC0 && e.bytes.size() >= 2 && !program) program = &e;
        if (StatusOf(e.bytes) == 0xB0 && e.bytes.size() >= 3 && Data(e.bytes, 1) == 0 && !msb) msb = &e;
        if (StatusOf(e.bytes) == 0xB0 && e.bytes.size() >= 3 && Data(e.bytes, 1) == 32 && !lsb) lsb = &e;
      }
    for (const RedEvent* e : {msb, lsb, program}) {
      if (!e) continue;
      std::string bytes = e->bytes;
      bytes[0] = static_cast<char>(StatusOf(bytes) | channel);
      track.events.push_back({0, seq++, std::move(bytes)});
    }
  }
  p.tracks.push_back(std::move(track));
  return static_cast<int>(p.tracks.size()) - 1;
}

void ReplaceRedRowHits(RedPattern& p, int row, const std::vector<RedHit>& hits, const RedPattern* source) {
  // The row's track and channel are found before its notes go: a track that held only notes
  // stays the row's track instead of a new one being added on every save.
  int t = FindRedRowTrack(p, row);
  int channel = row == 6 ? 0 : row;
  if (t >= 0)
    for (const RedEvent& e : p.tracks[static_cast<size_t>(t)].events)
      if (RowOf(p.tracks[static_cast<size_t>(t)], e) == row) {
        channel = ChannelOf(e.bytes);
        break;
      }
  for (RedTrack& tr : p.tracks)
    std::erase_if(tr.events, [&](const RedEvent& e) { return RowOf(tr, e) == row && IsNoteMessage(e.bytes); });
  if (t < 0) {
    if (hits.empty()) return;
    t = AddRedRowTrack(p, row, source);
  }
  RedTrack& track = p.tracks[static_cast<size_t>(t)];
  const uint32_t step = StepTicks(p.division);
  int32_t k = 0;
  for (const RedHit& h : hits) {
    const uint32_t start = h.tick * step;
    const uint32_t length = h.length > 0 ? static_cast<uint32_t>(h.length) : 1;
    const int32_t seq = 2000000 + 10000 * row + 2 * k++;
    const char note = static_cast<char>(h.note), vel = static_cast<char>(h.velocity);
    track.events.push_back({start, seq, std::string{static_cast<char>(0x90 | channel), note, vel}});
    track.events.push_back({start + length, seq + 1, std::string{static_cast<char>(0x80 | channel), note, 0}});
  }
}

std::vector<RedRowEdit> ApplyRedEdits(RedPattern& p, const std::vector<std::wstring>& fields,
                                      const std::vector<const RedPattern*>& others) {
  std::vector<RedRowEdit> edits;
  for (size_t f = 1; f < fields.size(); ++f) {
    const std::wstring_view field = fields[f];
    const size_t eq = field.find(L'=');
    int64_t row = -1;
    if (eq == std::wstring_view::npos || !ParseWhole(field.substr(0, eq), row) || row < 0 || row > 15) continue;
    std::vector<RedHit> hits;
    for (const std::wstring& hit : SplitWide(field.substr(eq + 1), L'|')) {
      const std::vector<std::wstring> parts = SplitWide(hit, L'.');
      int64_t v[4];
      if (parts.size() < 4) continue;
      bool ok = true;
      for (int i = 0; i < 4; ++i) ok = ok && ParseWhole(parts[static_cast<size_t>(i)], v[i]);
      if (!ok || v[0] < 0 || v[0] > kMaxStep) continue;
      hits.push_back({static_cast<uint32_t>(v[0]), static_cast<int>(std::clamp<int64_t>(v[1], 0, 127)),
                      static_cast<int>(std::clamp<int64_t>(v[2], 1, 127)),
                      static_cast<int>(std::clamp<int64_t>(v[3], 1, kMaxLength))});
    }
    const RedPattern* source = nullptr;
    for (const RedPattern* o : others)
      if (FindRedRowTrack(*o, static_cast<int>(row)) >= 0) {
        source = o;
        break;
      }
    ReplaceRedRowHits(p, static_cast<int>(row), hits, source);
    edits.push_back({static_cast<int>(row), static_cast<int>(hits.size())});
  }
  return edits;
}

std::vector<StyleEvent> CollectRedPreviewEvents(const RedPattern& p) {
  std::vector<StyleEvent> out;
  for (const RedTrack& t : p.tracks)
    for (const RedEvent& e : t.events) {
      const int row = RowOf(t, e);
      if (row < 0) continue;
      const int status = StatusOf(e.bytes);
      const uint8_t follow = (row == 6 || row == 8) ? 1 : 0;
      StyleEvent s{e.tick, static_cast<uint8_t>(row), 0, 0, 0, follow};
      if (status == 0x90 && e.bytes.size() >= 3 && Data(e.bytes, 2) > 0) {
        s.kind = kStyleNoteOn, s.data1 = static_cast<uint8_t>(Data(e.bytes, 1)), s.data2 = static_cast<uint8_t>(Data(e.bytes, 2));
      } else if ((status == 0x90 || status == 0x80) && e.bytes.size() >= 3) {
        s.kind = kStyleNoteOff, s.data1 = static_cast<uint8_t>(Data(e.bytes, 1));
      } else if (status == 0xC0 && e.bytes.size() >= 2) {
        s.kind = kStyleProgram, s.data1 = static_cast<uint8_t>(Data(e.bytes, 1));
      } else if (status == 0xB0 && e.bytes.size() >= 3 && (Data(e.bytes, 1) == 0 || Data(e.bytes, 1) == 32)) {
        s.kind = kStyleController, s.data1 = static_cast<uint8_t>(Data(e.bytes, 1)), s.data2 = static_cast<uint8_t>(Data(e.bytes, 2));
        s.followChord = 0;
      } else {
        continue;
      }
      out.push_back(s);
    }
  std::stable_sort(out.begin(), out.end(), [](const StyleEvent& a, const StyleEvent& b) { return a.tick < b.tick; });
  return out;
}

void RunRedPreview(MidiOutHandle port, std::vector<StyleEvent> events, int division, int bars, uint64_t generation) {
  if (division <= 0) division = 120;
  const uint64_t span = static_cast<uint64_t>(division) * static_cast<uint64_t>(std::max(1, bars)) * 4;
  std::vector<StyleEvent> loop;
  loop.reserve(events.size() * 4);
  // Events past the loop (a damaged file's far tick) are left out: they would keep the preview
  // running for as long as that tick takes.
  std::erase_if(events, [&](const StyleEvent& e) { return e.tick > span; });
  for (uint64_t k = 0; k < 4; ++k)
    for (StyleEvent e : events) {
      e.tick = static_cast<uint32_t>(e.tick + k * span);
      loop.push_back(e);
    }
  std::stable_sort(loop.begin(), loop.end(), [](const StyleEvent& a, const StyleEvent& b) { return a.tick < b.tick; });
  RedEditor.RedPreviewRunning = 1;
  // Exact wake-ups while it plays, below the player's and the engine's threads.
  std::string refused;
  EnterRealtimeThread(30, &refused);
  const double msPerTick = 60000.0 / std::clamp(RedEditor.RedBpm.load(), 40, 220) / division;
  const double start = plat::NowMs();
  size_t next = 0;
  while (RedEditor.RedPreviewGeneration.load() == generation && next < loop.size()) {
    const double now = plat::NowMs();
    const double position = (now - start) / msPerTick;
    while (next < loop.size() && loop[next].tick <= position) {
      const StyleEvent& e = loop[next++];
      if (e.kind == kStyleNoteOn && RedEditor.RedMuted[e.channel].load()) continue;
      SendCvtEvent(port, e);
    }
    // A step of at most 1 ms, ending at the next event when that is due sooner.
    if (next < loop.size()) plat::SleepUntilMs(std::min(now + 1.0, start + loop[next].tick * msPerTick));
  }
  LeaveRealtimeThread();
  AllSoundOff(port, 0, 15);
  RedEditor.RedPreviewRunning = 0;
  Post(PageCall(L"redPreviewDone"));
}

void StopRedPreview() { AllSoundOff(Sound.MidiOutPort1.load(), 0, 15); }

std::wstring BuildSetRedDataScript() {
  static const std::map<int, std::vector<int>> kStandard = {
      {9, {35, 36}},
      {10, {37, 38, 39, 40, 41, 43, 45, 47, 48, 50}},
      {11, {42, 44, 46, 49, 51, 52, 53, 55, 57, 59}},
      {12, {39, 54, 56, 58, 65, 66, 69, 70, 75, 76}}};
  const auto list = [](const std::vector<int>& v) {
    std::wstring s;
    for (size_t i = 0; i < v.size(); ++i) {
      if (i) s += L',';
      AppendNumber(s, v[i]);
    }
    return s;
  };
  // Every row's hits of every loaded pattern, collected once: each pattern's rows also need the
  // notes of the others.
  std::array<std::array<std::vector<RedHit>, kRedPageRows.size()>, 6> rowHits;
  std::array<std::array<int, kRedPageRows.size()>, 6> rowPrograms{};
  for (size_t j = 0; j < 6; ++j)
    if (RedEditor.RedPatternLoaded[j])
      for (size_t r = 0; r < kRedPageRows.size(); ++r) {
        rowHits[j][r] = CollectRedRowHits(RedEditor.RedPatterns[j], kRedPageRows[r]);
        rowPrograms[j][r] = FindRedRowProgram(RedEditor.RedPatterns[j], kRedPageRows[r]);
      }
  const auto addNotes = [](const std::vector<RedHit>& hits, std::vector<int>& notes) {
    for (const RedHit& h : hits)
      if (std::find(notes.begin(), notes.end(), h.note) == notes.end()) notes.push_back(h.note);
  };
  std::wstring out = L"setRedData(" + ScriptString(RedEditor.RedStyleName) + L",[";
  for (size_t i = 0; i < 6; ++i) {
    if (i) out += L',';
    const std::wstring pat = std::wstring(kRedPartNames[i]);
    if (!RedEditor.RedPatternLoaded[i]) {
      out += L"{pat:'" + pat + L"',ok:0,rows:[]}";
      continue;
    }
    const RedPattern& p = RedEditor.RedPatterns[i];
    const int bars = CountRedPatternBars(p);
    const uint32_t step = StepTicks(p.division);
    out += L"{pat:'" + pat + L"',ok:1,bars:" + std::to_wstring(bars) + L",tpq:" + std::to_wstring(p.division) + L",rows:[";
    for (size_t r = 0; r < kRedPageRows.size(); ++r) {
      const int row = kRedPageRows[r];
      int program = rowPrograms[i][r];
      const std::vector<RedHit>& hits = rowHits[i][r];
      std::vector<int> own;
      for (size_t j = 0; j < 6; ++j)
        if (RedEditor.RedPatternLoaded[j] && rowPrograms[j][r] == program) addNotes(rowHits[j][r], own);
      if (own.empty()) {
        int other = program;
        for (size_t j = 0; j < 6; ++j) {
          if (!RedEditor.RedPatternLoaded[j] || FindRedRowTrack(RedEditor.RedPatterns[j], row) < 0) continue;
          addNotes(rowHits[j][r], own);
          const int qp = rowPrograms[j][r];
          if (other == program && qp != program) other = qp;
        }
        program = other;
      }
      std::sort(own.begin(), own.end());
      std::vector<int> palette = own;
      if (const auto it = kStandard.find(row); it != kStandard.end())
        for (int n : it->second)
          if (std::find(palette.begin(), palette.end(), n) == palette.end()) palette.push_back(n);
      std::sort(palette.begin(), palette.end());
      std::wstring n;
      int off = 0;
      for (const RedHit& h : hits) {
        const uint64_t s = (static_cast<uint64_t>(h.tick) + step / 2) / step;
        if (h.tick % step != 0) ++off;
        if (s >= static_cast<uint64_t>(bars) * 16) continue;
        n += n.empty() ? L"[" : L",[";
        AppendNumber(n, static_cast<int64_t>(s));
        for (const int v : {h.note, h.velocity, h.length}) {
          n += L',';
          AppendNumber(n, v);
        }
        n += L']';
      }
      if (r) out += L',';
      out += L"{ch:" + std::to_wstring(row) + L",prog:" + std::to_wstring(program) + L",mine:" +
             (FindRedRowTrack(p, row) >= 0 ? L"1" : L"0") + L",dd:" + std::to_wstring(hits.empty() ? 15 : hits[0].length) +
             L",pal:[" + list(palette) + L"],own:[" + list(own) + L"],n:[" + n + L"],off:" + std::to_wstring(off) + L"}";
    }
    out += L"]}";
  }
  out += L"],[";
  for (int k = 1; k <= 9; ++k) {
    const std::wstring style = StyleNameFromNumber(k);
    const bool ok = FileExists(StylePartPath(style, L"P1")) || FileExists(StylePartPath(style, L"P2"));
    out += (k > 1 ? L"," : L"") + std::wstring(L"{k:") + std::to_wstring(k) + L",st:" + ScriptString(style) + L",ok:" +
           (ok ? L"1" : L"0") + L"}";
  }
  out += L"]);";
  return GuardedScript(out, L"setRedData");
}

void RedOpen(std::wstring_view arg) {
  const std::wstring style = arg.empty() ? std::wstring(L"DS1") : std::wstring(arg);
  std::lock_guard lock(RedEditor.RedMutex);
  RedEditor.RedPatterns.fill(InitRedPattern());
  RedEditor.RedPatternLoaded.fill(false);
  RedEditor.RedStyleName = style;
  // The name becomes part of file paths: any other name opens nothing.
  if (IsRedStyleName(style)) {
    for (size_t i = 0; i < 6; ++i) {
      const std::wstring path = PartPath(static_cast<int>(i));
      if (!FileExists(path)) continue;
      const std::wstring orig = std::wstring(kOrigFolder) + RedPatternFileName(path);
      if (!FileExists(orig)) g_ops.copy(path, orig);
      RedEditor.RedPatternLoaded[i] = g_ops.read(path, RedEditor.RedPatterns[i]);
    }
  }
  Post(BuildSetRedDataScript());
}

void RedSave(std::wstring_view arg) {
  const std::vector<std::wstring> fields = SplitWide(arg, L'\t');
  std::lock_guard lock(RedEditor.RedMutex);
  int64_t index = -1;
  if (!ParseWhole(TrimBlanks(fields[0]), index) || index < 0 || index > 5 || !RedEditor.RedPatternLoaded[static_cast<size_t>(index)]) {
    Post(ResultScript(0, L"그 패턴 파일이 없습니다"));
    return;
  }
  const int slot = static_cast<int>(index);
  const std::wstring path = PartPath(slot);
  const std::wstring name = RedPatternFileName(path);
  RedPattern work = RedEditor.RedPatterns[static_cast<size_t>(slot)];
  const std::vector<RedRowEdit> edits = ApplyRedEdits(work, fields, OtherLoaded(slot));
  if (edits.empty()) {
    Post(ResultScript(0, L"고친 것이 없습니다"));
    return;
  }
  // Without a good backup the save does not start: a later restore must find this state.
  if (!g_ops.copy(path, std::wstring(kBakFolder) + name)) {
    DebugLog(L"[리듬편집] 백업 실패 - 저장 안 함: " + name);
    Post(ResultScript(0, L"백업을 만들지 못해 저장하지 않았습니다"));
    return;
  }
  // Written and checked beside the part file; only a verified file replaces it.
  const std::wstring temp = path + L".new";
  if (!g_ops.write(temp, work)) {
    std::error_code ec;
    if (const auto real = plat::RealPath(temp); !real.empty()) std::filesystem::remove(real, ec);
    Post(ResultScript(0, L"파일을 쓰지 못했습니다"));
    return;
  }
  RedPattern check = InitRedPattern();
  std::wstring problem;
  if (!g_ops.read(temp, check)) {
    problem = L"다시 읽지 못했습니다";
  } else {
    for (const RedRowEdit& e : edits)
      if (CountRedRowHits(check, e.row) != e.hits) problem = L"타점 수가 안 맞습니다(ch" + std::to_wstring(e.row) + L")";
    if (problem.empty() && !RedPatternsEqual(work, check)) problem = L"쓴 내용과 읽은 내용이 다릅니다";
  }
  std::error_code ec;
  const auto realTemp = plat::RealPath(temp), realPath = plat::RealPath(path);
  if (problem.empty() && (realTemp.empty() || realPath.empty() || (std::filesystem::rename(realTemp, realPath, ec), ec)))
    problem = L"파일을 바꾸지 못했습니다";
  if (!problem.empty()) {
    if (!realTemp.empty()) std::filesystem::remove(realTemp, ec);
    DebugLog(L"[리듬편집] 저장 검산 실패 - 되돌림: " + name + L" / " + problem);
    Post(ResultScript(0, L"저장에 문제가 있어 되돌렸습니다 - " + problem));
    return;
  }
  check.loaded = true;
  RedEditor.RedPatterns[static_cast<size_t>(slot)] = std::move(check);
  RedEditor.RedPatternLoaded[static_cast<size_t>(slot)] = true;
  DebugLog(L"[리듬편집] 저장 완료: " + name + L" (고친 파트 " + std::to_wstring(edits.size()) + L"개)");
  ReloadWhenActive();
  Post(ResultScript(1, name + L" 저장했습니다") + BuildSetRedDataScript());
}

void RedRestore(std::wstring_view arg) {
  const std::vector<std::wstring> fields = SplitWide(arg, L'\t');
  int64_t slot = -1, which = 0;
  if (!ParseWhole(TrimBlanks(fields[0]), slot) || slot < 0 || slot > 5) return;
  if (fields.size() > 1) which = LeadingInt(fields[1]);
  std::lock_guard lock(RedEditor.RedMutex);
  if (!IsRedStyleName(RedEditor.RedStyleName)) return;
  const std::wstring label = which != 0 ? L"직전 저장분" : L"원본";
  const std::wstring path = PartPath(static_cast<int>(slot));
  const std::wstring name = RedPatternFileName(path);
  const std::wstring source = std::wstring(which != 0 ? kBakFolder : kOrigFolder) + name;
  if (!FileExists(source)) {
    Post(ResultScript(0, label + L"이 없습니다"));
    return;
  }
  if (!g_ops.copy(source, path)) {
    Post(ResultScript(0, L"되돌리지 못했습니다"));
    return;
  }
  const size_t i = static_cast<size_t>(slot);
  RedEditor.RedPatternLoaded[i] = g_ops.read(path, RedEditor.RedPatterns[i]);
  DebugLog(L"[리듬편집] 되돌림: " + name + L" <- " + label);
  ReloadWhenActive();
  Post(ResultScript(1, label + L"으로 되돌렸습니다") + BuildSetRedDataScript());
}

void RedPreview(std::wstring_view arg) {
  const std::vector<std::wstring> fields = SplitWide(arg, L'\t');
  std::lock_guard lock(RedEditor.RedMutex);
  int64_t slot = -1;
  if (!ParseWhole(TrimBlanks(fields[0]), slot) || slot < 0 || slot > 5 || !RedEditor.RedPatternLoaded[static_cast<size_t>(slot)]) return;
  ++RedEditor.RedPreviewGeneration;
  RedPattern work = RedEditor.RedPatterns[static_cast<size_t>(slot)];
  ApplyRedEdits(work, fields, OtherLoaded(static_cast<int>(slot)));
  std::vector<StyleEvent> events = CollectRedPreviewEvents(work);
  if (events.empty()) {
    Post(ResultScript(0, L"울릴 타점이 없습니다"));
    return;
  }
  const uint64_t generation = ++RedEditor.RedPreviewGeneration;
  std::thread(PlayRedPreviewThread, std::move(events), work.division, CountRedPatternBars(work), generation).detach();
}

void RedStop() {
  ++RedEditor.RedPreviewGeneration;
  StopRedPreview();
}

void RedMute(std::wstring_view arg) {
  const std::vector<std::wstring> fields = SplitWide(arg, L'\t');
  const int row = arg.empty() ? -1 : LeadingInt(fields[0]);
  const bool on = fields.size() > 1 && LeadingInt(fields[1]) != 0;
  if (row < 0 || row > 15) return;
  RedEditor.RedMuted[static_cast<size_t>(row)] = on ? 1 : 0;
  if (on) AllSoundOff(Sound.MidiOutPort1.load(), row, row);
}

void RedSetBpm(std::wstring_view arg) { RedEditor.RedBpm = std::clamp(LeadingInt(arg), 40, 220); }

void RedHitCommand(std::wstring_view arg) {
  const std::vector<std::wstring> fields = SplitWide(arg, L'\t');
  if (fields.size() < 4) return;
  int64_t slot = -1, row = -1, note = -1, velocity = 0;
  if (!ParseWhole(TrimBlanks(fields[0]), slot) || !ParseWhole(TrimBlanks(fields[1]), row) ||
      !ParseWhole(TrimBlanks(fields[2]), note) || !ParseWhole(TrimBlanks(fields[3]), velocity))
    return;
  std::lock_guard lock(RedEditor.RedMutex);
  if (slot < 0 || slot > 5 || !RedEditor.RedPatternLoaded[static_cast<size_t>(slot)]) return;
  if (row < 0 || row > 15 || note < 0 || note > 127) return;
  const RedPattern* source = &RedEditor.RedPatterns[static_cast<size_t>(slot)];
  if (FindRedRowTrack(*source, static_cast<int>(row)) < 0)
    for (size_t i = 0; i < 6; ++i)
      if (RedEditor.RedPatternLoaded[i] && FindRedRowTrack(RedEditor.RedPatterns[i], static_cast<int>(row)) >= 0) {
        source = &RedEditor.RedPatterns[i];
        break;
      }
  g_ops.hit(*source, static_cast<int>(row), static_cast<int>(note), static_cast<int>(std::clamp<int64_t>(velocity, 1, 127)));
}
