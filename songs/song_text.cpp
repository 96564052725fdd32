#include "songs/song_text.h"

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/codepage.h"
#include "songs/chords.h"
#include "songs/song_catalog.h"
#include "songs/song_file_cache.h"

namespace {

constexpr int kTitleHeaderLine = 1;
constexpr int kSingerHeaderLine = 4;
constexpr int kKeyHeaderLine = 6;

bool IsWordBreak(wchar_t c) {
  return c == L'\t' || c == L' ' || c == L',' || c == L'.' || c == L'/' || c == L'|';
}

std::wstring CutTrailing(std::wstring_view line) {
  size_t end = line.size();
  while (end > 0) {
    wchar_t c = line[end - 1];
    if (c != L' ' && c != L'\t' && c != L'\r' && c != 0x3000) break;
    --end;
  }
  return std::wstring(line.substr(0, end));
}

std::wstring_view TrimBlanks(std::wstring_view s) {
  while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == L' ' || s.back() == L'\t')) s.remove_suffix(1);
  return s;
}

// The key line "original / male / female", each a chord-style key name.
void ReadKeyLine(std::wstring_view line, SongKeyRootSet& roots) {
  size_t first = line.find(L'/');
  if (first == std::wstring_view::npos) return;
  size_t second = line.find(L'/', first + 1);
  if (second == std::wstring_view::npos) return;
  ChordName original = ParseChordName(TrimBlanks(line.substr(0, first)));
  ChordName male = ParseChordName(TrimBlanks(line.substr(first + 1, second - first - 1)));
  ChordName female = ParseChordName(TrimBlanks(line.substr(second + 1)));
  roots.originalRoot = original.root;
  roots.pageOriginalRoot = original.root;
  roots.originalMinor = original.minor;
  roots.maleRoot = male.root;
  roots.femaleRoot = female.root;
}

}  // namespace

SectionLineKind ClassifySectionLine(std::wstring_view line, std::wstring* cut) {
  *cut = CutTrailing(line);
  if (cut->empty()) return SectionLineKind::kDropped;
  bool hasChordChar = false, hasDigit = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const wchar_t c = line[i];
    if ((c >= 0xAC00 && c <= 0xD7A3) || (c >= 0x3131 && c <= 0x318E) || c == L'_') return SectionLineKind::kLyric;
    if (c >= L'a' && c <= L'z' && (i == 0 || IsWordBreak(line[i - 1]))) return SectionLineKind::kLyric;
  }
  for (wchar_t c : *cut) {
    if (c == L',' || c == L'.' || c == L'/' || c == L'|' || (c >= L'A' && c <= L'G') || (c >= L'a' && c <= L'g'))
      hasChordChar = true;
    if (c >= L'0' && c <= L'9') hasDigit = true;
  }
  if (hasChordChar) return SectionLineKind::kChord;
  if (hasDigit) return SectionLineKind::kLyric;
  return SectionLineKind::kDropped;
}

std::wstring NormalizeNoChord(std::wstring_view line) {
  std::wstring out;
  out.reserve(line.size());
  for (size_t i = 0; i < line.size(); ++i) {
    const wchar_t c = line[i];
    if (c == L'N' && (out.empty() || IsWordBreak(out.back()))) {
      size_t j = i + 1;
      while (j < line.size() && (line[j] == L' ' || line[j] == L'\t' || line[j] == L'.' || line[j] == L',')) ++j;
      if (j < line.size() && line[j] == L'C' && (j + 1 == line.size() || IsWordBreak(line[j + 1]))) {
        out += L"NC";
        i = j;
        continue;
      }
    }
    out.push_back(c);
  }
  return out;
}

void ParseSongTextBytes(SongModel& model, std::string_view bytes) {
  model.SongTitle = L"제목 없음";
  model.SongSinger.clear();
  model.LyricLines.clear();
  model.ChordLines.clear();
  model.SongKeyRoots = SongKeyRootSet{};
  model.SingerTransposition.male = 0;
  model.SingerTransposition.female = 0;
  if (bytes.empty()) return;

  struct TextLikeChordLine {
    size_t index;
    std::wstring text;
  };
  std::vector<TextLikeChordLine> textLike;
  bool inSection = false;
  int headerNumber = -1;
  for (const std::wstring& line : TakeSongTextLines(DecodeTextToUtf8(bytes))) {
    if (!line.empty() && line[0] == L'>') {
      inSection = true;
      continue;
    }
    if (!line.empty() && line[0] == L'<') {
      inSection = false;
      continue;
    }
    if (!inSection) {
      ++headerNumber;
      if (line.empty()) continue;
      if (headerNumber == kTitleHeaderLine) model.SongTitle = line;
      else if (headerNumber == kSingerHeaderLine) model.SongSinger = line;
      else if (headerNumber == kKeyHeaderLine) ReadKeyLine(line, model.SongKeyRoots);
      continue;
    }
    if (line.empty()) continue;
    std::wstring cut;
    switch (ClassifySectionLine(line, &cut)) {
      case SectionLineKind::kLyric:
        model.LyricLines.push_back(std::move(cut));
        break;
      case SectionLineKind::kChord:
        if (cut.find_first_of(L",/") == std::wstring::npos) textLike.push_back({model.ChordLines.size(), cut});
        model.ChordLines.push_back(NormalizeNoChord(cut));
        break;
      case SectionLineKind::kDropped:
        break;
    }
  }

  // An instrumental whose text lines were read as chords: give them back to the lyrics.
  if (model.LyricLines.empty() && !textLike.empty()) {
    std::vector<std::wstring> chords;
    size_t next = 0;
    for (size_t i = 0; i < model.ChordLines.size(); ++i) {
      if (next < textLike.size() && textLike[next].index == i) {
        ++next;
        continue;
      }
      chords.push_back(std::move(model.ChordLines[i]));
    }
    model.ChordLines = std::move(chords);
    for (auto& t : textLike) model.LyricLines.push_back(t.text);
    DebugLog(L"[연주곡 제목] 가사가 없는 곡이라 글자 줄 " + std::to_wstring(textLike.size()) +
             L"개를 코드에서 가사로 되돌림 (첫 줄: " + textLike.front().text.substr(0, 20) + L")");
  }
}

void ParseSongText(SongModel& model, const std::wstring& textPath) {
  ParseSongTextBytes(model, *ReadSongBytesShared(textPath));
}

std::vector<std::wstring> TextLinesFromBytes(std::string_view bytes) {
  if (bytes.empty()) return {};
  std::wstring text;
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
    std::string_view body = bytes.substr(2);
    text = plat::Utf16BytesToWide(body.substr(0, body.size() & ~size_t{1}), false);
  } else if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFE && static_cast<uint8_t>(bytes[1]) == 0xFF) {
    std::string_view body = bytes.substr(2);
    text = plat::Utf16BytesToWide(body.substr(0, body.size() & ~size_t{1}), true);
  } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    text = Utf8ToWide(bytes.substr(3));
  } else {
    text = Utf8ToWide(bytes);
  }
  std::vector<std::wstring> lines = SplitWide(text, L'\n');
  for (auto& line : lines)
    if (!line.empty() && line.back() == L'\r') line.pop_back();
  return lines;
}

std::vector<std::wstring> ReadTextLines(const std::wstring& path) {
  return TextLinesFromBytes(ReadSongBytesCached(path));
}

void LoadSongExtraText(SongModel& model, const std::wstring& textPath) {
  model.ExtraTextLines.clear();
  size_t slash = textPath.find_last_of(L"/\\");
  std::wstring folder = slash == std::wstring::npos ? L"" : textPath.substr(0, slash + 1);
  std::wstring name = slash == std::wstring::npos ? textPath : textPath.substr(slash + 1);
  std::wstring digits;
  for (wchar_t c : name)
    if (c >= L'0' && c <= L'9') digits.push_back(c);
  if (digits.empty()) return;
  for (const wchar_t* letter : {L"J", L"C"}) {
    std::wstring candidate = folder + letter + digits + L".txt";
    if (!SongFileAvailable(candidate)) continue;
    std::vector<std::wstring> lines = ReadTextLines(candidate);
    if (lines.empty()) continue;
    bool inSection = false;
    for (const auto& line : lines) {
      if (line.empty()) continue;
      if (line[0] == L'>') {
        inSection = true;
      } else if (line[0] == L'<') {
        inSection = false;
      } else if (inSection) {
        std::wstring cut = CutTrailing(line);
        if (!cut.empty()) model.ExtraTextLines.push_back(std::move(cut));
      }
    }
    return;
  }
}
