#include "songs/vocal_export.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

// A decimal number at `pos` like the C library reads one: leading white space and one sign
// allowed. False when no digit follows. The value saturates far beyond any tick or code.
bool ReadNumber(std::wstring_view s, size_t& pos, int64_t& value) {
  size_t p = pos;
  while (p < s.size() && (s[p] == L' ' || (s[p] >= L'\t' && s[p] <= L'\r'))) ++p;
  bool negative = false;
  if (p < s.size() && (s[p] == L'+' || s[p] == L'-')) negative = s[p++] == L'-';
  if (p >= s.size() || s[p] < L'0' || s[p] > L'9') return false;
  int64_t v = 0;
  for (; p < s.size() && s[p] >= L'0' && s[p] <= L'9'; ++p) v = std::min<int64_t>(v * 10 + (s[p] - L'0'), int64_t{1} << 40);
  value = negative ? -v : v;
  pos = p;
  return true;
}

void SkipComma(std::wstring_view s, size_t& pos) {
  if (pos < s.size() && s[pos] == L',') ++pos;
}

std::string Printf(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

void AppendVarLen(std::string& out, uint32_t v) {
  char bytes[5];
  int n = 0;
  bytes[n++] = char(v & 0x7F);
  while (v >>= 7) bytes[n++] = char(0x80 | (v & 0x7F));
  while (n) out += bytes[--n];
}

void AppendBe(std::string& out, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out += char((v >> (8 * i)) & 0xFF);
}

std::string CharUtf8(wchar_t c) { return WideToUtf8(std::wstring(1, c)); }

}  // namespace

std::vector<VocalMark> ParseVocalMarks(std::wstring_view text) {
  std::vector<VocalMark> marks;
  size_t pos = 0;
  for (;;) {
    int64_t tick = 0, code = 0, line = 0;
    if (!ReadNumber(text, pos, tick)) break;
    SkipComma(text, pos);
    if (!ReadNumber(text, pos, code)) break;
    SkipComma(text, pos);
    if (!ReadNumber(text, pos, line)) line = 0;
    if (code >= 1 && code <= 0x10FFFF)
      marks.push_back(VocalMark{uint32_t(tick), wchar_t(code), int(std::clamp<int64_t>(line, INT32_MIN, INT32_MAX))});
    if (pos + 1 < text.size() && text[pos] == L';') ++pos;
    else break;
  }
  return marks;
}

std::vector<NoteSpan> FindMelodyTrack(const SongModel& model, std::wstring& label) {
  if (!model.MelodyNotes.empty()) {
    label = L"악보(Staff1) 트랙";
    std::vector<NoteSpan> notes = model.MelodyNotes;
    std::stable_sort(notes.begin(), notes.end(), [](const NoteSpan& a, const NoteSpan& b) { return a.start < b.start; });
    return notes;
  }
  label = L"포트0 ch1(멜로디 소리 트랙)";
  std::vector<NoteSpan> notes;
  int open[128];
  std::fill(std::begin(open), std::end(open), -1);
  for (const SongEvent& e : model.SongEventList) {
    if (e.kind != kSongEventChannel || e.port != 0 || (e.status & 0x0F) != 0) continue;
    const int type = e.status & 0xF0, note = e.data1 & 0x7F;
    if (type == 0x90 && e.data2 > 0) {
      if (open[note] >= 0) notes[size_t(open[note])].length = int(e.tick) - notes[size_t(open[note])].start;
      open[note] = int(notes.size());
      notes.push_back(NoteSpan{note, int(e.tick), 0});
    } else if (type == 0x80 || type == 0x90) {
      if (open[note] >= 0) notes[size_t(open[note])].length = int(e.tick) - notes[size_t(open[note])].start;
      open[note] = -1;
    }
  }
  for (int i : open)
    if (i >= 0) notes[size_t(i)].length = model.SongPpq;
  std::stable_sort(notes.begin(), notes.end(), [](const NoteSpan& a, const NoteSpan& b) { return a.start < b.start; });
  return notes;
}

double TickToMs(const SongModel& model, uint32_t tick, int division) {
  if (division < 1) division = 480;
  double sum = 0;
  uint32_t prevTick = 0;
  double prevTempo = 500000;
  for (const SongEvent& e : model.SongEventList) {
    if (e.kind != kSongEventTempo || e.tempo == 0) continue;
    if (e.tick >= tick) break;
    sum += double(e.tick - prevTick) * prevTempo / 1000.0 / division;
    prevTick = e.tick;
    prevTempo = e.tempo;
  }
  return sum + (double(tick) - double(prevTick)) * prevTempo / 1000.0 / division;
}

std::wstring NoteName(int note) {
  if (note > 127 || note < 0) return L"?";
  static const wchar_t* kNames[12] = {L"C", L"C#", L"D", L"D#", L"E", L"F", L"F#", L"G", L"G#", L"A", L"A#", L"B"};
  return kNames[note % 12] + std::to_wstring(note / 12 - 1);
}

VocalPairing PairVocalMarks(const std::vector<VocalMark>& marks, const std::vector<NoteSpan>& notes, int division) {
  VocalPairing p;
  p.assignments.resize(marks.size());
  std::vector<int> taken(marks.size(), -1);
  std::vector<bool> used(notes.size(), false);
  const int64_t window = division < 1 ? 480 : division;
  size_t firstFree = 0;
  for (size_t i = 0; i < marks.size() && firstFree < notes.size(); ++i) {
    const int64_t tick = marks[i].tick;
    size_t j = firstFree;
    while (j + 1 < notes.size() && notes[j + 1].start <= tick) ++j;
    int64_t d = std::abs(int64_t{notes[j].start} - tick);
    if (j + 1 < notes.size()) {
      const int64_t d2 = std::abs(int64_t{notes[j + 1].start} - tick);
      if (d2 < d) {
        ++j;
        d = d2;
      }
    }
    if (d <= window) {
      taken[i] = int(j);
      used[j] = true;
      firstFree = j + 1;
    }
  }
  for (size_t i = 0; i < marks.size(); ++i) {
    VocalAssignment& a = p.assignments[i];
    if (taken[i] >= 0) {
      const NoteSpan& n = notes[size_t(taken[i])];
      a.start = n.start;
      a.length = n.length == 0 ? int(window) : n.length;
      a.note = n.note;
      continue;
    }
    if (i == 0) continue;
    VocalAssignment& prev = p.assignments[i - 1];
    const int64_t tick = marks[i].tick, end = int64_t{prev.start} + prev.length;
    if (prev.note >= 0 && tick > prev.start && tick < end) {
      a.note = prev.note;
      a.start = int(tick);
      a.length = int(end - tick);
      a.split = true;
      prev.length = int(tick - prev.start);
    }
  }
  for (size_t i = 0; i < marks.size(); ++i) {
    const VocalAssignment& a = p.assignments[i];
    if (a.note < 0) ++p.unmatched;
    if (a.split) ++p.splits;
    if (i > 0 && a.note >= 0 && a.start == p.assignments[i - 1].start && a.length == p.assignments[i - 1].length)
      ++p.overlaps;
  }
  p.notesWithoutSyllable = int(std::count(used.begin(), used.end(), false));
  return p;
}

std::string BuildVocalReport(int songNumber, int division, const std::vector<VocalMark>& marks,
                             const std::vector<NoteSpan>& notes, const std::wstring& label,
                             const VocalPairing& pairing, const SongModel& model) {
  const std::wstring n = std::to_wstring(division);
  std::wstring w;
  w += L"\xFEFF# 곡번호 " + std::to_wstring(songNumber) + L" / TPQ " + n + L"\r\n";
  w += L"# 가사 음절 " + std::to_wstring(marks.size()) + L"개 / 멜로디 음 " + std::to_wstring(notes.size()) + L"개 (" +
       label + L")\r\n";
  w += L"# 음이 안 붙은 음절 " + std::to_wstring(pairing.unmatched) + L"개  (줄 끝에 * 표시)\r\n";
  w += L"# 긴 음을 둘로 나눈 곳 " + std::to_wstring(pairing.splits) +
       L"개  (줄 끝에 나눔 - 한 음에 두 글자를 이어 부르는 자리)\r\n";
  w += L"# 가사가 안 붙은 멜로디 음 " + std::to_wstring(pairing.notesWithoutSyllable) +
       L"개  (전주/간주/후주 + 한 음절에 두 음)\r\n";
  w += L"# 한 음에 두 음절이 겹친 곳 " + std::to_wstring(pairing.overlaps) + L"개" +
       (pairing.overlaps > 0 ? L"  <-- *** 있으면 안 된다. 있으면 알려달라 ***" : L"  (정상)") + L"\r\n";
  w += L"#\r\n";
  w += L"# [tick차 읽는 법] 싱크마크와 악보 음 사이의 차이다. 0 이 아니어도 괜찮다 -\r\n";
  w += L"#   싱크마크는 화면 글자를 칠하려고 대충 찍힌 것이고, 노래의 실제 박자는 악보 음이다.\r\n";
  w += L"#   그래서 아래 '시작/길이' 는 싱크마크가 아니라 악보 음에서 뽑았다(TPQ " + n + L" 이므로 " +
       std::to_wstring(division / 2) + L"틱 = 8분음표).\r\n";
  w += L"#   진짜로 봐야 할 것은 (1) 가사 글자가 순서대로 맞는가 (2) 겹친 곳이 0개인가 두 가지다.\r\n";
  w += L"#\r\n";
  w += L"# 번호\t가사\t시작(초)\t길이(초)\t음높이\t음이름\ttick\ttick차\r\n";
  std::string out = WideToUtf8(w);
  for (size_t i = 0; i < marks.size(); ++i) {
    const VocalMark& m = marks[i];
    const VocalAssignment& a = pairing.assignments[i];
    out += std::to_string(i + 1) + '\t' + CharUtf8(m.character) + '\t';
    if (a.note < 0) {
      out += Printf("%.3f", TickToMs(model, m.tick, division) / 1000) + "\t-\t-\t-\t" + std::to_string(m.tick) +
             "\t-\t*\r\n";
      continue;
    }
    const double startMs = TickToMs(model, uint32_t(a.start), division);
    const double endMs = TickToMs(model, uint32_t(a.start) + uint32_t(a.length), division);
    const int64_t diff = int64_t{a.start} - int64_t{m.tick};
    out += Printf("%.3f", startMs / 1000) + '\t' + Printf("%.3f", (endMs - startMs) / 1000) + '\t' +
           std::to_string(a.note) + '\t' + WideToUtf8(NoteName(a.note)) + '\t' + std::to_string(m.tick) + '\t' +
           (diff >= 0 ? "+" : "") + std::to_string(diff) + (a.split ? WideToUtf8(L"\t나눔") : "") + "\r\n";
  }
  return out;
}

std::string BuildVocalMidi(int division, const std::vector<VocalMark>& marks, const VocalPairing& pairing,
                           const SongModel& model) {
  struct Event {
    uint32_t tick;
    int rank;
    std::string bytes;
  };
  std::vector<Event> events;
  for (const SongEvent& e : model.SongEventList) {
    if (e.kind != kSongEventTempo || e.tempo == 0) continue;
    std::string b = "\xFF\x51\x03";
    AppendBe(b, e.tempo & 0xFFFFFF, 3);
    events.push_back({e.tick, 0, std::move(b)});
  }
  for (size_t i = 0; i < marks.size(); ++i) {
    const VocalAssignment& a = pairing.assignments[i];
    if (a.note < 0 || a.length <= 0) continue;
    const std::string text = CharUtf8(marks[i].character);
    std::string lyric = "\xFF\x05";
    AppendVarLen(lyric, uint32_t(text.size()));
    lyric += text;
    const uint32_t start = uint32_t(a.start);
    events.push_back({start, 2, std::move(lyric)});
    events.push_back({start, 3, std::string{char(0x90), char(a.note & 0x7F), char(0x5A)}});
    events.push_back({start + uint32_t(a.length), 1, std::string{char(0x80), char(a.note & 0x7F), char(0)}});
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const Event& a, const Event& b) { return a.tick != b.tick ? a.tick < b.tick : a.rank < b.rank; });
  std::string track;
  uint32_t prev = 0;
  for (const Event& e : events) {
    AppendVarLen(track, e.tick - prev);
    prev = e.tick;
    track += e.bytes;
  }
  track += std::string("\x00\xFF\x2F\x00", 4);
  std::string file = "MThd";
  AppendBe(file, 6, 4);
  AppendBe(file, 0, 2);
  AppendBe(file, 1, 2);
  AppendBe(file, uint32_t(division) & 0xFFFF, 2);
  file += "MTrk";
  AppendBe(file, uint32_t(track.size()), 4);
  file += track;
  return file;
}

void ShowVocalExportNote(std::wstring_view text) {
  PostScriptToPage(GuardedScript(
      L"var _b=document.getElementById('vocal-export-note'); if(!_b){ _b=document.createElement('div'); "
      L"_b.id='vocal-export-note'; _b.style.cssText='position:fixed; left:50%; bottom:6%; transform:translateX(-50%); "
      L"background:#123; color:#9f9; border:2px solid #4c8; border-radius:10px; padding:14px 22px; font-size:20px; "
      L"z-index:99999; font-family:맑은 고딕,sans-serif; box-shadow:0 4px 18px rgba(0,0,0,.6); text-align:center;'; "
      L"document.body.appendChild(_b); } _b.textContent=" +
      ScriptString(text) +
      L"; clearTimeout(_b.__t); _b.__t=setTimeout(function(){ _b.remove(); }, 8000);",
      L"vocal-export-note"));
}

void ExportVocalData(std::wstring_view argument) {
  const size_t bar = argument.find(L'|');
  if (bar == std::wstring_view::npos) {
    DebugLogAsync(L"[노래내보내기] 자료 형식이 이상하다 - 취소");
    ShowVocalExportNote(L"내보내기 실패: 자료 형식 이상");
    return;
  }
  const int song = LeadingInt(argument.substr(0, bar), true);
  const std::vector<VocalMark> marks = ParseVocalMarks(argument.substr(bar + 1));
  if (marks.empty()) {
    DebugLogAsync(L"[노래내보내기] 키는 도착했으나 가사 음절이 0개 - 곡이 안 떠 있거나 싱크가 없는 곡이다");
    ShowVocalExportNote(L"내보낼 가사 싱크가 없습니다 (곡을 먼저 띄우세요)");
    return;
  }
  // One published model for the whole export: a song start elsewhere publishes a new one and
  // leaves this snapshot whole.
  const std::shared_ptr<const SongModel> model = LoadedSong();
  std::wstring label;
  const std::vector<NoteSpan> notes = FindMelodyTrack(*model, label);
  if (notes.empty()) {
    DebugLogAsync(L"[노래내보내기] 멜로디 음을 못 찾았다 - 취소");
    ShowVocalExportNote(L"내보내기 실패: 멜로디 음을 못 찾았습니다");
    return;
  }
  const int division = model->SongPpq < 1 ? 480 : model->SongPpq;
  const VocalPairing pairing = PairVocalMarks(marks, notes, division);
  const std::wstring base = L"<root>/vocal/vocal_" + std::to_wstring(song);
  const std::filesystem::path txt = plat::RealPath(base + L".txt"), mid = plat::RealPath(base + L".mid");
  if (txt.empty() ||
      !plat::WriteFileAtomic(txt, BuildVocalReport(song, division, marks, notes, label, pairing, *model))) {
    DebugLogAsync(L"[노래내보내기] txt 파일을 못 만들었다");
    ShowVocalExportNote(L"내보내기 실패: " + plat::ShownPath(L"<root>/vocal") + L" 에 파일을 못 만듭니다");
    return;
  }
  const bool midiWritten = !mid.empty() && plat::WriteFileAtomic(mid, BuildVocalMidi(division, marks, pairing, *model));
  // A MIDI file that could not be written is named, so nobody looks for it.
  const std::wstring midiMissing = midiWritten ? L"" : L" (mid 파일은 못 만들었다)";
  DebugLogAsync(L"[노래내보내기] 곡 " + std::to_wstring(song) + L" - 음절 " + std::to_wstring(marks.size()) +
                L" / 멜로디음 " + std::to_wstring(notes.size()) + L"(" + label + L") / 안 붙은 음절 " +
                std::to_wstring(pairing.unmatched) + L" / 가사 없는 음 " + std::to_wstring(pairing.notesWithoutSyllable) +
                L" / 겹친 곳 " + std::to_wstring(pairing.overlaps) + L" -> " + base + L".txt|.mid" + midiMissing);
  ShowVocalExportNote(L"노래자료 내보냄  ·  음절 " + std::to_wstring(marks.size()) + L" / 안 붙은 음절 " +
                      std::to_wstring(pairing.unmatched) + L" / 겹친 곳 " + std::to_wstring(pairing.overlaps) +
                      L"   →   " + base + L".txt" + midiMissing);
}
