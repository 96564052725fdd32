#include "songs/keysig.h"

#include <algorithm>
#include <mutex>

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "songs/bars.h"

namespace {

constexpr size_t kMaxReportedProblems = 20;

std::mutex KeySigTableMutex;
std::map<int, std::vector<KeySigEntry>> KeySigTable;  // guarded by KeySigTableMutex
int64_t KeySigFileTime = 0;
bool KeySigLoadedOnce = false;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Leading blanks, an optional sign, then digits up to the first other character; 0 without
// digits. Saturates instead of overflowing.
int64_t ReadLeadingInt(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int64_t v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (v < 1000000000000LL) v = v * 10 + (s[i] - '0');
    ++i;
  }
  return negative ? -v : v;
}

std::string_view TrimKeyText(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

int KeyValueOf(int root, bool minor) {
  static constexpr int kKeyOfMajorRoot[12] = {0, -5, 2, -3, 4, -1, 6, 1, -4, 3, -2, 5};
  int major = ((root + (minor ? 3 : 0)) % 12 + 12) % 12;
  return kKeyOfMajorRoot[major];
}

KeySigParse ParseKeySigText(std::string_view bytes) {
  KeySigParse out;
  size_t problemCount = 0;
  auto problem = [&](int lineNo, const wchar_t* reason, std::string_view line) {
    ++problemCount;
    if (out.problems.size() < kMaxReportedProblems)
      out.problems.push_back(std::to_wstring(lineNo) + L"번째 줄(" + reason + L"): " + Utf8ToWide(line));
  };
  int lineNo = 0;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t nl = bytes.find('\n', pos);
    std::string_view line = bytes.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? bytes.size() : nl + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t first = 0;
    while (first < line.size() && IsBlank(line[first])) ++first;
    if (first == line.size()) continue;
    std::string_view body = line.substr(first);
    if (body[0] == ';' || body.starts_with("//")) continue;

    size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      problem(lineNo, L"'=' 가 없음", line);
      continue;
    }
    int64_t song = ReadLeadingInt(line.substr(0, eq));
    if (song <= 0 || song > 0x7FFFFFFF) {
      problem(lineNo, L"곡번호를 못 읽음", line);
      continue;
    }
    std::vector<KeySigEntry> entries;
    bool someBad = false;
    std::string_view rest = line.substr(eq + 1);
    for (;;) {
      size_t comma = rest.find(',');
      std::string_view item = rest.substr(0, comma);
      if (TrimKeyText(item).empty()) {
        // Blank items are skipped without complaint.
      } else if (size_t colon = item.find(':'); colon == std::string_view::npos) {
        someBad = true;
      } else {
        int64_t bar = ReadLeadingInt(item.substr(0, colon));
        std::string_view keyText = TrimKeyText(item.substr(colon + 1));
        if (bar < 1 || bar > 0x7FFFFFFF || keyText.empty() || !IsNoteLetter(static_cast<unsigned char>(keyText[0]))) {
          someBad = true;
        } else {
          ChordName key = ParseChordName(Utf8ToWide(keyText));
          entries.push_back({static_cast<int>(bar), KeyValueOf(key.root, key.minor)});
        }
      }
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    if (entries.empty()) {
      problem(lineNo, L"쓸 수 있는 '마디:조' 가 하나도 없음", line);
      continue;
    }
    if (someBad) problem(lineNo, L"일부 항목을 못 읽어 그것만 뺐음", line);
    std::stable_sort(entries.begin(), entries.end(),
                     [](const KeySigEntry& a, const KeySigEntry& b) { return a.bar < b.bar; });
    out.table[static_cast<int>(song)] = std::move(entries);
    ++out.songsCounted;
  }
  return out;
}

void LoadKeySigTable() {
  const auto path = plat::RealPath(kKeySigTablePath);
  bool exists = false;
  int64_t writeTime = 0;
  if (!path.empty()) {
    if (auto stamp = plat::StatFile(path)) {
      exists = true;
      writeTime = stamp->mtimeNs;
    }
  }
  std::lock_guard lock(KeySigTableMutex);
  if (KeySigLoadedOnce && exists && writeTime == KeySigFileTime) return;
  KeySigTable.clear();
  KeySigLoadedOnce = true;
  KeySigFileTime = writeTime;
  if (!exists) return;
  auto bytes = plat::ReadFileBytes(path);
  if (!bytes) return;
  KeySigParse parsed = ParseKeySigText(*bytes);
  KeySigTable = std::move(parsed.table);
  std::wstring summary = L"조표 표(keysig.txt) 읽음 - " + std::to_wstring(parsed.songsCounted) + L"곡";
  if (!parsed.problems.empty()) summary += L", 이상한 줄 " + std::to_wstring(parsed.problems.size()) + L"개";
  DebugLog(summary);
  for (const auto& p : parsed.problems) DebugLog(L"  [keysig.txt] " + p);
}

std::vector<KeySigEntry> KeySigEntriesFor(int songNumber) {
  std::lock_guard lock(KeySigTableMutex);
  auto it = KeySigTable.find(songNumber);
  return it == KeySigTable.end() ? std::vector<KeySigEntry>{} : it->second;
}

int SongNumberFromMidiPath(std::wstring_view midiPath) {
  size_t slash = midiPath.find_last_of(L"/\\");
  std::wstring_view name = slash == std::wstring_view::npos ? midiPath : midiPath.substr(slash + 1);
  int64_t number = 0;
  for (wchar_t c : name) {
    if (c < L'0' || c > L'9') continue;
    number = number * 10 + (c - L'0');
    if (number > 0x7FFFFFFF) return 0;  // a digit run beyond an int names no song
  }
  return static_cast<int>(number);
}

std::vector<std::pair<int, int>> BuildPageKeySignatures(const SongModel& song, std::wstring_view midiPath) {
  std::vector<std::pair<int, int>> list;
  auto add = [&](int barIndex, int key) {
    for (const auto& [bar, k] : list)
      if (bar == barIndex) return;
    list.emplace_back(barIndex, key);
  };
  const int number = SongNumberFromMidiPath(midiPath);
  std::vector<KeySigEntry> table = number >= 1 ? KeySigEntriesFor(number) : std::vector<KeySigEntry>{};
  if (!table.empty()) {
    for (const auto& e : table) add(e.bar - 1, e.key);
    DebugLog(L"[전조] 곡 " + std::to_wstring(number) + L" - 조표 표에서 " + std::to_wstring(table.size()) +
             L"구간 적용");
  } else {
    for (const auto& k : song.SongKeySignatures) add(TickToBar(song, k.tick), k.sharpsOrFlats);
  }
  return list;
}

void ComputeSingerKeys(SongModel& song) {
  int male = 0, female = 0;
  const auto& roots = song.SongKeyRoots;
  int lowest = -1, highest = -1, middle = -1;
  if (!song.MelodyNotes.empty()) {
    lowest = 127;
    highest = 0;
    for (const auto& n : song.MelodyNotes) {
      lowest = std::min(lowest, n.note);
      highest = std::max(highest, n.note);
    }
    middle = (lowest + highest) / 2;
  }
  if (roots.originalRoot >= 0) {
    auto shift = [&](int target, int upper, int lower) {
      if (target < 0) return 0;
      int d = ((target - roots.originalRoot) % 12 + 12) % 12;
      if (d <= 5) return d;
      if (d >= 7) return d - 12;
      bool nearerUpper = middle >= 0 && std::abs(middle - upper) < std::abs(middle - lower);
      return (middle < 0 || nearerUpper) ? -6 : 6;
    };
    male = shift(roots.maleRoot, 63, 51);
    female = shift(roots.femaleRoot, 70, 58);
    DebugLog(L"[KEY] 근음 원=" + std::to_wstring(roots.originalRoot) + L" 남=" + std::to_wstring(roots.maleRoot) +
             L" 여=" + std::to_wstring(roots.femaleRoot) + L" -> 이조 남 " + std::to_wstring(male) + L" / 여 " +
             std::to_wstring(female) + L" 반음" + L"   멜로디 " + std::to_wstring(lowest) + L"~" +
             std::to_wstring(highest) + L"(가운데 " + std::to_wstring(middle) + L")");
  }
  song.SingerTransposition.male = male;
  song.SingerTransposition.female = female;
}

int ClampSingerKey(int key) { return key == kNoSingerKey ? key : std::clamp(key, -12, 12); }

void ApplyStoredSingerKeys(const SongModel& song, int male, int female) {
  if (male != kNoSingerKey) song.SingerTransposition.male = ClampSingerKey(male);
  if (female != kNoSingerKey) song.SingerTransposition.female = ClampSingerKey(female);
}
