#include "base/settings/song_settings.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "base/debug_log.h"
#include "base/settings/app_settings.h"
#include "base/settings/settings_files.h"
#include "base/text.h"
#include "platform/codepage.h"


SongSettingsState SongSettings;

namespace {

constexpr std::wstring_view kGainHeader[] = {
    L"# 곡별 음량 - 한 줄에 \"곡번호 게인%\" (100 = 곡 그대로, 141 = 약 +6dB, 71 = 약 -6dB)",
    L"# 여기 적힌 곡은 자동 계산을 무시하고 이 값을 씁니다. 직접 고쳐도 됩니다.",
    L"# 지우면 그 곡은 다시 자동 계산으로 돌아갑니다. ALT+V = 지금 들리는 크기를 이 곡 값으로 저장.",
};
constexpr std::wstring_view kTempoHeader[] = {
    L"# 곡별 연주 템포 - 한 줄에 \"곡번호 오프셋BPM\" (0 = 원곡 그대로, +5 = 원곡보다 5bpm 빠르게)",
    L"# F10 템포판에서 S 를 누르면 지금 곡의 값이 여기 적힙니다. 직접 고쳐도 됩니다.",
    L"# 줄을 지우면 그 곡은 다시 원곡 템포로 시작합니다.",
};

template <typename Fn>
void ForEachLine(const std::string& text, Fn fn) {
  std::string_view rest(text);
  while (!rest.empty()) {
    size_t lf = rest.find('\n');
    fn(rest.substr(0, lf));
    if (lf == std::string_view::npos) break;
    rest.remove_prefix(lf + 1);
  }
}

// One whitespace-separated decimal integer (optional sign) at `pos`; false when there is none
// or it does not fit an int.
bool ReadWord(std::string_view line, size_t& pos, int& value) {
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t' || line[pos] == '\r')) ++pos;
  size_t start = pos;
  if (pos < line.size() && (line[pos] == '-' || line[pos] == '+')) ++pos;
  size_t digits = pos;
  long long v = 0;
  while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') {
    v = v * 10 + (line[pos++] - '0');
    if (v > 0x7fffffffLL) return false;
  }
  if (pos == digits) return false;
  value = static_cast<int>(line[start] == '-' ? -v : v);
  return true;
}

// Gains and tempos: "#" comments, then "song value"; the value clamped to lo..hi.
void LoadNumberPairs(std::wstring_view path, std::map<int, int>& map, int lo, int hi) {
  map.clear();
  ForEachLine(ReadFileText(path), [&](std::string_view line) {
    if (!line.empty() && line[0] == '#') return;
    size_t pos = 0;
    int song = 0, value = 0;
    if (!ReadWord(line, pos, song) || !ReadWord(line, pos, value) || song <= 0) return;
    map[song] = std::clamp(value, lo, hi);
  });
}

bool SaveNumberPairs(std::wstring_view path, const std::map<int, int>& map,
                     const std::wstring_view (&header)[3]) {
  std::string out;
  for (std::wstring_view line : header) out += plat::WideToAnsi(line) + "\n";
  for (const auto& [song, value] : map) out += std::to_string(song) + " " + std::to_string(value) + "\n";
  return WriteFileText(path, out);
}

}  // namespace

void LoadUserKeys() {
  SongSettings.UserKeyMap.clear();
  ForEachLine(ReadFileText(UserKeyFilePath), [](std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t c1 = line.find(',');
    if (c1 == std::string_view::npos) return;
    size_t c2 = line.find(',', c1 + 1);
    if (c2 == std::string_view::npos) return;
    int song = LeadingInt(line.substr(0, c1));
    if (song <= 0) return;
    SongSettings.UserKeyMap[song] = {LeadingInt(line.substr(c1 + 1, c2 - c1 - 1)),
                        LeadingInt(line.substr(c2 + 1))};
  });
}

bool SaveUserKeys() {
  std::string out;
  for (const auto& [song, key] : SongSettings.UserKeyMap)
    out += std::to_string(song) + "," + std::to_string(key.male) + "," + std::to_string(key.female) + "\n";
  return WriteFileText(UserKeyFilePath, out);
}

std::wstring BuildUserKeyIdList() {
  std::wstring out = L"[";
  for (const auto& [song, key] : SongSettings.UserKeyMap) {
    if (out.size() > 1) out += L',';
    out += std::to_wstring(song);
  }
  return out + L"]";
}

void LoadSongGains() { LoadNumberPairs(SongGainFilePath, SongSettings.SongGainMap, 25, 400); }
void LoadSongTempos() { LoadNumberPairs(SongTempoFilePath, SongSettings.SongTempoMap, -80, 80); }
bool SaveSongGains() { return SaveNumberPairs(SongGainFilePath, SongSettings.SongGainMap, kGainHeader); }
bool SaveSongTempos() { return SaveNumberPairs(SongTempoFilePath, SongSettings.SongTempoMap, kTempoHeader); }

int GainPercentToLevel(int percent) {
  if (percent <= 0) return 0;
  return static_cast<int>(std::lround(400.0 * std::log10(percent / 100.0)));
}

void UpdateCurrentSongGain(int songNumber, int songLoudness) {
  SongSettings.SongGainPercent = 100;
  SongSettings.SongGainManual = 0;
  if (Settings.songGainOn == 0) return;
  if (songNumber >= 1) {
    if (auto it = SongSettings.SongGainMap.find(songNumber); it != SongSettings.SongGainMap.end()) {
      SongSettings.SongGainPercent = it->second;
      SongSettings.SongGainManual = 1;
      return;
    }
  }
  if (songLoudness == kUnknownSongLoudness) return;
  int limit = std::max<int>(Settings.songGainLimit, 0);
  long long correction = static_cast<long long>(Settings.songGainTarget) - songLoudness;
  correction = std::clamp<long long>(correction, -limit, limit);
  long percent = std::lround(100.0 * std::pow(10.0, correction / 400.0));
  SongSettings.SongGainPercent = static_cast<int>(std::clamp(percent, 25L, 400L));
}

std::string ReadEnvSettingsText() { return ReadFileText(EnvSettingsFilePath); }

namespace {

// False when brackets outside strings nest deeper than `limit`. Counted without recursion, so
// any text can be checked before a parser that recurses (or a value that is walked) sees it.
bool JsonNestingWithin(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > limit) return false;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return true;
}

}  // namespace

std::optional<std::string> NormalizeEnvSettingsJson(std::string_view text, bool asciiOnly, std::wstring* why) {
  auto refuse = [&](const wchar_t* reason) -> std::optional<std::string> {
    if (why) *why = reason;
    return std::nullopt;
  };
  if (text.size() > kEnvSettingsMaxBytes) return refuse(L"너무 큼");
  // The parser takes NUL for the end of its input: the text after it would be dropped unseen.
  if (text.find('\0') != std::string_view::npos) return refuse(L"NUL 문자 포함");
  if (!JsonNestingWithin(text, kEnvSettingsMaxDepth)) return refuse(L"중첩이 너무 깊음");
  auto parsed = nlohmann::ordered_json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_object()) return refuse(L"JSON 객체가 아님");
  // Written out again: one line, nothing but the parsed object (no trailing script, no raw line
  // break that could start a section line of a preset).
  return parsed.dump(-1, ' ', asciiOnly, nlohmann::ordered_json::error_handler_t::replace);
}

std::wstring EnvSettingsScriptArgument() {
  std::string text = ReadEnvSettingsText();
  if (text.empty()) return {};
  // The text goes into page script as code, so it must be exactly one JSON object.
  std::wstring why;
  std::optional<std::string> json = NormalizeEnvSettingsJson(text, /*asciiOnly=*/true, &why);
  if (!json) {
    DebugLog(L"env_settings.cfg: " + why + L" - 무시함 (" + std::to_wstring(text.size()) + L" 바이트)");
    return {};
  }
  return Utf8ToWide(*json);
}

void HandleSaveEnv(const std::wstring& message) {
  size_t colon = message.find(L':');
  std::wstring_view json = colon == std::wstring::npos ? std::wstring_view{}
                                                       : std::wstring_view(message).substr(colon + 1);
  const std::string text = WideToUtf8(json);
  std::wstring why;
  std::optional<std::string> normalized = NormalizeEnvSettingsJson(text, /*asciiOnly=*/false, &why);
  if (!normalized) {
    DebugLog(L"env_settings.cfg 저장 거부: " + why + L" (" + std::to_wstring(text.size()) +
             L" 바이트) - 기존 파일 유지");
    return;
  }
  if (!WriteFileText(EnvSettingsFilePath, *normalized)) DebugLog(L"env_settings.cfg 저장 실패");
}
