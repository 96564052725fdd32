// Style files: reading one part, loading a whole style into the pending set, the swap into the
// active set, and the style choices.
#include "playback/rhythm_style.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <thread>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "base/trace_log.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "playback/services.h"
#include "songs/song_model.h"
#include "sound/rhythm_parts.h"
#include "sound/tone_table.h"

RhythmStyleStateValues RhythmStyles;

namespace {

constexpr std::wstring_view kStyleFolder = L"<root>/pxr/";

// Bounds-checked reading of big-endian numbers and variable-length quantities.
class ByteReader {
 public:
  ByteReader(std::string_view bytes, size_t pos, size_t end) : bytes_(bytes), pos_(pos), end_(end) {}
  size_t pos() const { return pos_; }
  size_t left() const { return end_ - pos_; }
  std::optional<uint8_t> Byte() {
    if (pos_ >= end_) return std::nullopt;
    return static_cast<uint8_t>(bytes_[pos_++]);
  }
  std::optional<uint32_t> Be(int n) {
    if (left() < static_cast<size_t>(n)) return std::nullopt;
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | static_cast<uint8_t>(bytes_[pos_++]);
    return v;
  }
  // At most four bytes, as a MIDI file allows; a longer one is a stream error.
  std::optional<uint32_t> Vlq() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      auto b = Byte();
      if (!b) return std::nullopt;
      v = (v << 7) | (*b & 0x7Fu);
      if (!(*b & 0x80)) return v;
    }
    return std::nullopt;
  }
  bool Skip(uint32_t n) {
    if (left() < n) return false;
    pos_ += n;
    return true;
  }
  void Back() { --pos_; }

 private:
  std::string_view bytes_;
  size_t pos_, end_;
};

uint32_t ScaleTick(uint64_t tick, double x) {
  const double v = std::floor(static_cast<double>(tick) * x + 0.5);
  if (!(v > 0)) return 0;
  if (v >= 4294967295.0) return UINT32_MAX;
  return static_cast<uint32_t>(v);
}

// Engine channel for a file (port, channel), or -1 when the reader drops it.
int EngineChannel(int port, int channel, uint8_t* follow) {
  *follow = 0;
  if (port == 0) {
    if (channel == 8) {
      *follow = 1;
      return 8;
    }
    if (channel >= 9 && channel <= 13) return channel;
  } else if (port == 1) {
    if (channel == 0) {
      *follow = 1;
      return 6;
    }
    if (channel == 13 || channel == 14) return channel;
  }
  return -1;
}

int KindRank(uint8_t kind) {
  switch (kind) {
    case kStyleNoteOff: return 0;
    case kStyleController: return 1;
    case kStyleProgram: return 2;
    default: return 3;
  }
}

struct NoteRecord {
  uint32_t start, length;
  uint8_t channel, note, velocity, follow;
};

// One track's events; stops quietly at the first stream error.
void ReadTrack(ByteReader r, double x, std::vector<StyleEvent>& plain, std::vector<NoteRecord>& notes, uint64_t& g) {
  struct Slot {
    bool on = false;
    uint64_t start = 0;
    uint8_t velocity = 0;
  };
  std::vector<Slot> table(16 * 128);
  uint64_t t = 0;
  int running = -1, port = 0;
  while (r.left() > 0) {
    auto delta = r.Vlq();
    if (!delta) return;
    t += *delta;
    auto first = r.Byte();
    if (!first) return;
    int status = *first;
    if (status & 0x80) {
      running = status;
    } else {
      if (running < 0) return;
      r.Back();
      status = running;
    }
    if (status == 0xFF) {
      running = -1;
      auto type = r.Byte();
      auto len = type ? r.Vlq() : std::nullopt;
      if (!len || r.left() < *len) return;
      if (*type == 0x21 && *len >= 1) {
        port = *r.Byte();
        r.Skip(*len - 1);
      } else {
        r.Skip(*len);
      }
      continue;
    }
    if (status >= 0xF0) {
      running = -1;
      auto len = r.Vlq();
      if (!len || !r.Skip(*len)) return;
      continue;
    }
    const int type = status & 0xF0, channel = status & 0x0F;
    auto d1 = r.Byte();
    if (!d1 || (*d1 & 0x80)) return;
    uint8_t d2 = 0;
    if (type != 0xC0 && type != 0xD0) {
      auto b = r.Byte();
      if (!b || (*b & 0x80)) return;
      d2 = *b;
    }
    uint8_t follow = 0;
    const int engine = EngineChannel(port, channel, &follow);
    if (engine < 0) continue;
    const uint32_t at = ScaleTick(t, x);
    if (type == 0xB0) {
      if (*d1 != 0 && *d1 != 32) continue;
      plain.push_back({at, static_cast<uint8_t>(engine), kStyleController, *d1, d2, 0});
      g = std::max<uint64_t>(g, at);
    } else if (type == 0xC0) {
      plain.push_back({at, static_cast<uint8_t>(engine), kStyleProgram, *d1, 0, 0});
      g = std::max<uint64_t>(g, at);
    } else if (type == 0x90 && d2 > 0) {
      Slot& s = table[channel * 128 + *d1];
      s = {true, t, d2};
    } else if (type == 0x80 || type == 0x90) {
      Slot& s = table[channel * 128 + *d1];
      if (!s.on) continue;
      const uint32_t start = ScaleTick(s.start, x);
      const uint32_t length = std::max<uint32_t>(1, ScaleTick(std::max<uint64_t>(1, t - s.start), x));
      notes.push_back({start, length, static_cast<uint8_t>(engine), *d1, s.velocity, follow});
      // Keep the note order among the plain events: a marker in `plain` points at the note.
      plain.push_back({start, 0xFF, 0xFF, 0, 0, 0});
      g = std::max<uint64_t>(g, uint64_t{start} + length);
      s.on = false;
    }
  }
}

void TraceStylePattern(std::wstring_view path, const StylePattern& p) {
  std::array<unsigned, 16> counts{};
  for (const StyleEvent& e : p.events)
    if (e.kind == kStyleNoteOn && e.channel < 16) ++counts[e.channel];
  std::wstring perChannel;
  for (int c = 0; c < 16; ++c)
    if (counts[c]) perChannel += L" ch" + std::to_wstring(c) + L"=" + std::to_wstring(counts[c]);
  TraceLog(L"[STY] %ls  이벤트 %u개  길이 %u틱 %ls\n", std::wstring(path).c_str(), static_cast<unsigned>(p.events.size()),
           p.length, perChannel.c_str());
  for (const StyleEvent& e : p.events) {
    if (e.kind == kStyleController)
      TraceLog(L"[STY]   tick%4u ch%-2u CC%-2u = %u\n", e.tick, unsigned{e.channel}, unsigned{e.data1}, unsigned{e.data2});
    else if (e.kind == kStyleProgram)
      TraceLog(L"[STY]   tick%4u ch%-2u PROG = %u\n", e.tick, unsigned{e.channel}, unsigned{e.data1});
  }
}

bool ChannelHasNoteOn(const std::vector<StyleEvent>& events, int channel) {
  return std::any_of(events.begin(), events.end(),
                     [&](const StyleEvent& e) { return e.channel == channel && e.kind == kStyleNoteOn; });
}

void PublishActiveName() {
  std::lock_guard lock(RhythmStyles.NameMutex);
  RhythmStyles.activeName = RhythmStyles.active.name;
  RhythmStyles.activeVariation = RhythmStyles.active.variation;
  RhythmStyles.activeHasMain = !RhythmStyles.active.main.events.empty();
  RhythmStyles.activeHasEnding = !RhythmStyles.active.ending.events.empty();
}

}  // namespace

std::wstring StyleNameFromNumber(int n) {
  if (n == 6) return L"SG1";
  if (n >= 1 && n <= 9) return L"DS" + std::to_wstring(n);
  return {};
}

std::wstring StylePartPath(std::wstring_view style, std::wstring_view part) {
  return std::wstring(kStyleFolder) + std::wstring(style) + L"-" + std::wstring(part) + L".MID";
}

bool FileExists(std::wstring_view installPath) {
  const auto real = plat::RealPath(installPath);
  return !real.empty() && plat::StatFile(real).has_value();
}

std::vector<std::wstring> ListStyleCodes() {
  std::vector<std::wstring> codes;
  const auto folder = plat::RealPath(kStyleFolder);
  if (folder.empty()) return codes;
  for (const std::string& name : plat::ListFileNames(folder)) {
    if (name.size() <= 7) continue;
    std::string tail = name.substr(name.size() - 7);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::toupper(c); });
    if (tail != "-P1.MID") continue;
    std::wstring code = Utf8ToWide(name.substr(0, name.size() - 7));
    if (std::find(codes.begin(), codes.end(), code) == codes.end()) codes.push_back(std::move(code));
  }
  std::sort(codes.begin(), codes.end());
  return codes;
}

StylePattern ParseStylePattern(std::string_view bytes, int songPpq, int bassGatePct) {
  StylePattern out;
  ByteReader head(bytes, 0, bytes.size());
  if (bytes.substr(0, 4) != "MThd" || !head.Skip(4)) return out;
  auto headerLength = head.Be(4);
  if (!headerLength || *headerLength < 6 || head.left() < *headerLength) return out;
  const size_t afterHeader = head.pos() + *headerLength;
  head.Be(2);  // format
  const uint32_t trackCount = *head.Be(2);
  const uint32_t division = *head.Be(2);
  const int ppq = std::max(0, songPpq);
  const double x = division == 0 ? 1.0 : static_cast<double>(ppq) / division;

  std::vector<StyleEvent> plain;
  std::vector<NoteRecord> notes;
  uint64_t g = 0;
  ByteReader chunks(bytes, afterHeader, bytes.size());
  for (uint32_t i = 0; i < trackCount && chunks.left() >= 8; ++i) {
    const size_t idAt = chunks.pos();
    chunks.Skip(4);
    const uint32_t length = *chunks.Be(4);
    const size_t bodyAt = chunks.pos();
    const size_t end = bodyAt + std::min<size_t>(length, chunks.left());
    if (bytes.substr(idAt, 4) == "MTrk") ReadTrack(ByteReader(bytes, bodyAt, end), x, plain, notes, g);
    if (!chunks.Skip(static_cast<uint32_t>(end - bodyAt)) || end - bodyAt < length) break;
  }

  if (ppq > 0) {
    const uint64_t bar = 4ull * ppq;
    const uint64_t bars = std::max<uint64_t>(1, (g + bar - 1) / bar);
    out.length = static_cast<uint32_t>(std::min<uint64_t>(UINT32_MAX / bar * bar, bars * bar));
  }
  const bool gate = bassGatePct >= 1 && bassGatePct <= 99;
  size_t nextNote = 0;
  out.events.reserve(plain.size() + notes.size());
  for (const StyleEvent& e : plain) {
    if (e.kind != 0xFF) {
      out.events.push_back(e);
      continue;
    }
    const NoteRecord& n = notes[nextNote++];
    out.events.push_back({n.start, n.channel, kStyleNoteOn, n.note, n.velocity, n.follow});
    uint64_t duration = n.length;
    if (n.channel == 8 && gate) duration = std::max<uint64_t>(1, uint64_t{n.length} * bassGatePct / 100);
    uint64_t off = n.start + duration;
    if (out.length != 0 && off >= out.length && uint64_t{n.start} + 1 < off) off = out.length - 1;
    out.events.push_back({static_cast<uint32_t>(std::min<uint64_t>(off, UINT32_MAX)), n.channel, kStyleNoteOff, n.note, 0,
                          n.follow});
  }
  std::stable_sort(out.events.begin(), out.events.end(), [](const StyleEvent& a, const StyleEvent& b) {
    if (a.tick != b.tick) return a.tick < b.tick;
    return KindRank(a.kind) < KindRank(b.kind);
  });
  return out;
}

int StyleSongPpq() {
  const auto song = LoadedSong();
  return song && song->SongPpq > 0 ? song->SongPpq : 120;
}

void LoadStylePattern(std::wstring_view path, std::vector<StyleEvent>& events, uint32_t& length) {
  events.clear();
  length = 0;
  const auto real = plat::RealPath(path);
  if (real.empty()) return;
  const auto bytes = plat::ReadFileBytes(real);
  if (!bytes) return;
  StylePattern p = ParseStylePattern(*bytes, StyleSongPpq(), Settings.cvtBassGatePct);
  TraceStylePattern(path, p);
  events = std::move(p.events);
  length = p.length;
}

bool LoadStyleSet(std::wstring_view styleName, int variation) {
  std::lock_guard load(RhythmStyles.LoadMutex);
  if (styleName.empty()) return false;
  const std::wstring style(styleName);
  const int ppq = StyleSongPpq();
  int chosen = variation == 2 ? 2 : 1;
  std::wstring mainPath = StylePartPath(style, chosen == 2 ? L"P2" : L"P1");
  if (!FileExists(mainPath) && chosen == 2) {
    chosen = 1;
    mainPath = StylePartPath(style, L"P1");
  }
  if (!FileExists(mainPath)) return false;
  StylePattern main;
  LoadStylePattern(mainPath, main.events, main.length);
  if (main.events.empty()) return false;

  std::vector<StyleEvent> defaultFill;
  uint32_t ignored = 0;
  const std::wstring ownF1 = StylePartPath(style, L"F1");
  if (FileExists(ownF1)) LoadStylePattern(ownF1, defaultFill, ignored);

  std::wstring fallback;
  if (style.size() >= 2 && (style[0] == L'D' || style[0] == L'd') && (style[1] == L'S' || style[1] == L's'))
    fallback = L"DS1";
  std::array<StyleFill, 4> fills;
  std::wstring logLine = L"[FILL] " + style + L" A/S/D/F = ";
  for (int k = 1; k <= 4; ++k) {
    const std::wstring part = L"F" + std::to_wstring(k);
    std::wstring path = StylePartPath(style, part);
    if (!FileExists(path)) {
      path.clear();
      if (!fallback.empty() && style != fallback && FileExists(StylePartPath(fallback, part)))
        path = StylePartPath(fallback, part);
      else if (FileExists(ownF1))
        path = ownF1;
    }
    std::wstring shown = path.empty() ? L"(없음)" : path;
    if (!path.empty()) {
      StyleFill& fill = fills[k - 1];
      LoadStylePattern(path, fill.events, ignored);
      for (int channel : {13, 14}) {
        if (!ChannelHasNoteOn(fill.events, channel)) continue;
        const bool hasProgram = std::any_of(fill.events.begin(), fill.events.end(), [&](const StyleEvent& e) {
          return e.channel == channel && e.kind == kStyleProgram;
        });
        if (hasProgram) {
          for (const StyleEvent& e : fill.events)
            if (e.channel == channel && (e.kind == kStyleProgram || e.kind == kStyleController))
              fill.programs.push_back(e);
        } else {
          std::erase_if(fill.events, [&](const StyleEvent& e) { return e.channel == channel; });
          shown += L"(ch" + std::to_wstring(channel) + L" 음색없음->제외)";
        }
      }
    }
    logLine += (k > 1 ? L" / " : L"") + shown;
  }
  DebugLog(logLine);

  StylePattern ending;
  const std::wstring edPath = StylePartPath(style, L"ED");
  if (FileExists(edPath)) LoadStylePattern(edPath, ending.events, ending.length);

  std::lock_guard set(RhythmStyles.SetMutex);
  StyleSet& p = RhythmStyles.pending;
  p.main = std::move(main);
  p.defaultFill = std::move(defaultFill);
  p.fills = std::move(fills);
  p.ending = std::move(ending);
  p.name = style;
  p.variation = chosen;
  RhythmStyles.PendingStyleReady = 1;
  RhythmStyles.StyleLoadPpq = ppq;
  return true;
}

bool CommitPendingStyle() {
  if (!RhythmStyles.PendingStyleReady.load()) return false;
  {
    std::lock_guard set(RhythmStyles.SetMutex);
    if (!RhythmStyles.PendingStyleReady.load()) return false;
    StyleSet& a = RhythmStyles.active;
    StyleSet& p = RhythmStyles.pending;
    std::swap(a.main, p.main);
    if (!p.defaultFill.empty()) std::swap(a.defaultFill, p.defaultFill);
    std::swap(a.fills, p.fills);
    std::swap(a.ending, p.ending);
    a.name = p.name;
    a.variation = p.variation;
    PublishActiveName();
    const int bpm = RhythmStyles.PendingStyleBpm.exchange(-1);
    if (bpm >= 0) RhythmStyles.ActiveStyleBpm = bpm;
    else RhythmStyles.PendingStyleBpm = bpm;
    RhythmStyles.PendingStyleReady = 0;
  }
  PushRhythmUi();
  return true;
}

bool LoadAndCommitStyle(std::wstring_view styleName, int variation) {
  if (!LoadStyleSet(styleName, variation)) return false;
  CommitPendingStyle();
  PushRhythmUi();
  return true;
}

std::wstring DefaultStyleForSong(int bpm) { return bpm >= 1 && bpm <= 99 ? L"SG1" : L"DS1"; }

std::wstring ActiveStyleName() {
  std::lock_guard lock(RhythmStyles.NameMutex);
  return RhythmStyles.activeName;
}

void LoadStyleSetThreadEntry(std::wstring style, int variation) { LoadStyleSet(style, variation); }

void SelectRhythmStyle(int n) {
  const int variation = RhythmStyles.activeVariation.load();
  if (n == 0) {
    std::thread(LoadStyleSetThreadEntry, ActiveStyleName(), variation == 1 ? 2 : 1).detach();
    return;
  }
  const std::wstring name = StyleNameFromNumber(n);
  if (name.empty()) return;
  RhythmStyles.UserPickedStyle = 1;
  RhythmStyles.PendingStyleBpm = name == L"SG1" ? std::max(0, static_cast<int>(Settings.sg1FixedBpm)) : 0;
  if (!FileExists(StylePartPath(name, L"P1")) && !FileExists(StylePartPath(name, L"P2"))) {
    PostAlertToPage(L"리듬 파일이 없습니다: " + StylePartPath(name, variation == 2 ? L"P2" : L"P1"));
    return;
  }
  std::thread(LoadStyleSetThreadEntry, name, variation).detach();
  if (CvtState.rhythm.load()) RhythmStyles.StyleChangeFillPending = 1;
}

void CaptureStyleInitialPrograms() {
  auto& records = RhythmStyles.StyleInitialPrograms;
  for (auto& r : records) r.fill(0);
  for (const StyleEvent& e : RhythmStyles.active.main.events) {
    if (e.kind != kStyleProgram || e.channel > 15 || records[e.channel][0]) continue;
    records[e.channel] = {1, 0, 0, 0, e.data1};
  }
  // The same first programs are the style's own tones a "Default" rhythm-part choice falls back to.
  ClearInitialTones(1);
  for (int ch = 0; ch < 16; ++ch)
    if (records[ch][0]) SetInitialTone(1, 0, ch, false, 0, 0, records[ch][4]);
}

void PushRhythmUi() {
  PostScriptToPage(PageCall(L"setRhythmUi", ActiveStyleName(), RhythmStyles.activeVariation.load(),
                            CvtState.rhythm.load() != 0, RhythmParts.SnareSubKitOn.load() != 0,
                            RhythmParts.SnareSubClapOn.load() != 0, RhythmParts.SnareSubShakerOn.load() != 0));
}

void PrepareRhythmStyleForSong(const SongModel& song) {
  if (!RhythmStyles.StylesLoadedOnce.load()) {
    const std::wstring name = RhythmStyles.UserPickedStyle.load() ? ActiveStyleName() : DefaultStyleForSong(song.SongBaseBpm);
    LoadAndCommitStyle(name, RhythmStyles.activeVariation.load());
    CaptureStyleInitialPrograms();
    RhythmStyles.StylesLoadedOnce = 1;
    return;
  }
  const int old = RhythmStyles.StyleLoadPpq.load();
  if (song.SongPpq <= 0 || song.SongPpq == old) return;
  TraceLog(L"[STY] tpq 변경 %d -> %d - 스타일 재파싱\n", old, song.SongPpq);
  if (CvtState.rhythm.load()) LoadStyleSet(ActiveStyleName(), RhythmStyles.activeVariation.load());
  else LoadAndCommitStyle(ActiveStyleName(), RhythmStyles.activeVariation.load());
}
