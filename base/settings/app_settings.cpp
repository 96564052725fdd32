#include "base/settings/app_settings.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <vector>

#include "base/debug_log.h"
#include "base/settings/settings_files.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "base/settings/ext_routing.h"

AppSettings Settings;

namespace {

std::wstring DropControlChars(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text)
    if (static_cast<unsigned long>(c) >= 0x20) out.push_back(c);
  return out;
}

// cvtVolCh: all 16 first -1, then up to 16 comma-separated numbers from the start of the text;
// a number outside 0..127 becomes -1.
void ParseIntList16(std::wstring_view text, std::array<SettingInt, 16>& out) {
  for (auto& v : out) v = -1;
  size_t pos = 0;
  for (int i = 0; i < 16 && pos < text.size(); ++i) {
    int v = LeadingInt(text.substr(pos));
    out[i] = (v >= 0 && v <= 127) ? v : -1;
    size_t comma = text.find(L',', pos);
    if (comma == std::wstring_view::npos) break;
    pos = comma + 1;
  }
}

std::wstring FormatIntList16(const std::array<SettingInt, 16>& values) {
  std::wstring out;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) out += L',';
    out += std::to_wstring(values[i]);
  }
  return out;
}

// Stores one value by its key's rule. Called with AppSettings::Mutex held.
// Why a stored value is not taken as it is written, empty when it is: a number rule needs a
// whole number, a range its bounds, a colour "#rrggbb".
std::wstring SettingValueFault(const AppSettingKey& key, const std::wstring& value) {
  switch (key.rule) {
    case SettingRule::Any:
    case SettingRule::Range:
    case SettingRule::MixerMax:
    case SettingRule::Flag:
    case SettingRule::ByteFlag:
    case SettingRule::NonNegative:
    case SettingRule::MinusOneOr01:
    case SettingRule::OneElseZero: {
      std::wstring_view v(value);
      while (!v.empty() && (v.front() == L' ' || v.front() == L'\t')) v.remove_prefix(1);
      while (!v.empty() && (v.back() == L' ' || v.back() == L'\t')) v.remove_suffix(1);
      size_t digits = !v.empty() && (v.front() == L'-' || v.front() == L'+') ? 1 : 0;
      if (digits == v.size() || v.find_first_not_of(L"0123456789", digits) != std::wstring_view::npos)
        return L"숫자가 아님";
      if ((key.rule == SettingRule::Range || key.rule == SettingRule::MixerMax) &&
          (LeadingInt(v) < key.lo || LeadingInt(v) > key.hi))
        return L"범위 " + std::to_wstring(key.lo) + L"~" + std::to_wstring(key.hi) + L" 밖";
      return {};
    }
    case SettingRule::Color:
      return value.size() == 7 && value[0] == L'#' ? std::wstring() : L"색이 #rrggbb 가 아님";
    default:
      return {};
  }
}

void ApplySettingValue(const AppSettingKey& key, const std::wstring& value) {
  AppSettings& s = Settings;
  switch (key.rule) {
    case SettingRule::Any:
      s.*key.intMember = LeadingInt(value);
      break;
    case SettingRule::Range:
    case SettingRule::MixerMax: {
      int v = LeadingInt(value);
      if (v >= key.lo && v <= key.hi) s.*key.intMember = v;
      break;
    }
    case SettingRule::Flag:
      s.*key.intMember = LeadingInt(value) != 0 ? 1 : 0;
      break;
    case SettingRule::ByteFlag:
      s.*key.byteMember = LeadingInt(value) != 0 ? 1 : 0;
      break;
    case SettingRule::NonNegative:
      s.*key.intMember = std::max(0, LeadingInt(value));
      break;
    case SettingRule::MinusOneOr01: {
      int v = LeadingInt(value);
      s.*key.intMember = (v == 0 || v == 1) ? v : -1;
      break;
    }
    case SettingRule::OneElseZero:
      s.*key.intMember = LeadingInt(value) == 1 ? 1 : 0;
      break;
    case SettingRule::AlwaysZero:
      s.*key.intMember = 0;
      break;
    case SettingRule::Text:
      s.*key.textMember = DropControlChars(value);
      break;
    case SettingRule::DeviceText:
      s.*key.textMember = StripControlAndTrim(value);
      break;
    case SettingRule::Color:
      if (value.size() == 7 && value[0] == L'#') s.*key.textMember = value;
      break;
    case SettingRule::IntList16:
      ParseIntList16(value, s.cvtVolCh);
      break;
    case SettingRule::ExtRoute:
      ParseExtRouting(value);
      break;
    case SettingRule::ExtNoteMap:
      ParseExtNoteMap(value);
      break;
  }
}

}  // namespace

const AppSettingKey* FindAppSettingKey(std::string_view name) {
  for (const AppSettingKey& key : AppSettingKeys)
    if (name == key.name) return &key;
  return nullptr;
}

void LoadAppSettings() {
  auto bytes = plat::ReadFileBytes(plat::RealPath(AppSettingsFilePath));
  if (!bytes) return;
  std::unique_lock lock(AppSettings::Mutex);
  std::string_view rest(*bytes);
  std::vector<std::wstring> faults;  // lines not taken as written, logged after the lock
  size_t lineNumber = 0;
  auto fault = [&](std::string_view line, std::wstring why) {
    constexpr size_t kNamed = 50;
    if (faults.size() < kNamed)
      faults.push_back(L"줄 " + std::to_wstring(lineNumber) + L" [" + Utf8ToWide(line.substr(0, 80)) + L"]: " + why);
  };
  while (!rest.empty()) {
    size_t lf = rest.find('\n');
    std::string_view line = rest.substr(0, lf);
    rest = lf == std::string_view::npos ? std::string_view{} : rest.substr(lf + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t eq = line.find('=');
    if (line.empty()) continue;
    if (eq == std::string_view::npos) {
      fault(line, L"'=' 없음 - 무시");
      continue;
    }
    const AppSettingKey* key = FindAppSettingKey(line.substr(0, eq));
    if (!key) {
      fault(line, L"모르는 항목 - 무시");
      continue;
    }
    const std::wstring value = Utf8ToWide(line.substr(eq + 1));
    if (std::wstring why = SettingValueFault(*key, value); !why.empty()) fault(line, why + L" - 읽을 수 있는 만큼만 반영");
    ApplySettingValue(*key, value);
  }
  // The mixer ceiling never lies below what the output trim takes away, nor above 150.
  int trim = Settings.outTrim;
  int floor = (trim >= 1 && trim <= 99) ? 10000 / trim : 100;
  Settings.mixerMaxPct = std::min(std::max<int>(Settings.mixerMaxPct, floor), 150);
  lock.unlock();
  if (!faults.empty()) {
    std::wstring text = L"app_settings.cfg: 그대로 받지 못한 줄 " + std::to_wstring(faults.size()) + L"개";
    for (const std::wstring& f : faults) text += L"\n  " + f;
    DebugLog(text);
  }
}

std::wstring AppSettingValueText(const AppSettingKey& key) {
  const AppSettings& s = Settings;
  switch (key.rule) {
    case SettingRule::ByteFlag:
      return s.*key.byteMember ? L"1" : L"0";
    case SettingRule::Text:
    case SettingRule::DeviceText:
    case SettingRule::Color:
      return DropControlChars(s.*key.textMember);
    case SettingRule::IntList16:
      return FormatIntList16(s.cvtVolCh);
    case SettingRule::ExtRoute:
      return DropControlChars(FormatExtRouting());
    case SettingRule::ExtNoteMap:
      return DropControlChars(FormatExtNoteMap());
    default:
      return std::to_wstring(s.*key.intMember);
  }
}

// One "key=value" line, UTF-8, LF.
static void WriteSettingLine(std::string& out, const char* key, std::wstring_view value) {
  out += key;
  out += '=';
  out += WideToUtf8(value);
  out += '\n';
}

bool SaveAppSettings() {
  // The file lock spans building and writing, so saves from two threads land in the order their
  // values were taken.
  std::lock_guard fileLock(SettingsFileLock(AppSettingsFilePath));
  std::string out;
  out.reserve(4096);
  {
    std::lock_guard lock(AppSettings::Mutex);
    for (const AppSettingKey& key : AppSettingKeys)
      WriteSettingLine(out, key.name, AppSettingValueText(key));
  }
  return WriteFileTextLocked(AppSettingsFilePath, out);
}

void SetSettingText(std::wstring AppSettings::*member, std::wstring_view value) {
  std::wstring clean = DropControlChars(value);
  std::lock_guard lock(AppSettings::Mutex);
  Settings.*member = std::move(clean);
}

std::wstring GetSettingText(std::wstring AppSettings::*member) {
  std::lock_guard lock(AppSettings::Mutex);
  return Settings.*member;
}

bool IsDryDrumBassChannel(int port, int channel) {
  return Settings.rawSound == 0 && Settings.dryDrumBass != 0 && port == 0 &&
         (channel == 8 || channel == 9 || channel == 11 || channel == 12);
}
