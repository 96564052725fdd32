#include "ui/presets.h"

#include <cstdio>
#include <optional>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/settings/settings_files.h"
#include "base/settings/song_settings.h"
#include "base/text.h"
#include "platform/clock.h"
#include "sound/services.h"
#include "ui/page_assets.h"
#include "ui/script_channel.h"

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsDeviceLine(std::string_view line) {
  return StartsWith(line, "port1Device=") || StartsWith(line, "port2Device=");
}

std::string HeaderLine(const PresetSection& section) {
  return std::string("[") + section.name + "]\n";
}

// The body of a section: from the end of its header line to the LF before the next "[" that
// starts a line (that LF included), or to the end. npos start when the header is missing.
struct SectionSpan {
  size_t begin = std::string::npos;
  size_t end = std::string::npos;
};

SectionSpan FindSection(const std::string& text, const std::string& header) {
  SectionSpan span;
  size_t at = 0;
  // The header must start a line.
  for (;;) {
    at = text.find(header, at);
    if (at == std::string::npos) return span;
    if (at == 0 || text[at - 1] == '\n') break;
    ++at;
  }
  span.begin = at + header.size();
  size_t next = text.find("\n[", span.begin == 0 ? 0 : span.begin - 1);
  span.end = next == std::string::npos ? text.size() : next + 1;
  if (span.end < span.begin) span.end = span.begin;
  return span;
}

// The slot number of a "PRESET_...:" N command.
int SlotArgument(const std::wstring& message) {
  size_t colon = message.find(L':');
  return colon == std::wstring::npos ? 0 : LeadingInt(std::wstring_view(message).substr(colon + 1));
}

}  // namespace

std::wstring PresetPath(int slot) { return L"<root>/presets/p" + std::to_wstring(slot) + L".cfg"; }

std::string StripPortDeviceLines(std::string_view text, bool keepDeviceLines) {
  std::string out;
  while (!text.empty()) {
    size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text = lf == std::string_view::npos ? std::string_view{} : text.substr(lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || IsDeviceLine(line) != keepDeviceLines) continue;
    out.append(line);
    out += '\n';
  }
  return out;
}

bool SavePreset(int slot, std::wstring* failure) {
  auto fail = [&](const std::wstring& what) {
    DebugLog(L"프리셋 저장 실패(" + std::to_wstring(slot) + L"번): " + what);
    if (failure) *failure = what;
    return false;
  };
  if (slot < 1 || slot > 6) return fail(L"슬롯 번호가 1~6 밖임");
  // Sound choices still waiting for their debounced save go to disk first, so the snapshot holds
  // what the operator hears now.
  FlushDeferredSoundSaves();
  // The slot is written only when the working file holds the values now in effect: otherwise the
  // two would disagree, and the slot would hold the older values from disk.
  if (!SaveAppSettings()) return fail(L"app_settings.cfg 를 쓰지 못함 - 슬롯은 그대로 둠");
  SaveMixerConfig();

  plat::LocalTime now = plat::LocalNow();
  char saved[64];
  std::snprintf(saved, sizeof saved, "saved=%04d-%02d-%02d %02d:%02d\n", now.year, now.month,
                now.day, now.hour, now.minute);
  std::string text = "[meta]\n";
  text += saved;
  for (const PresetSection& section : PresetSections) {
    std::string body;
    {
      std::lock_guard lock(SettingsFileLock(section.file));
      body = ReadFileText(section.file);
    }
    const std::string_view name(section.name);
    if (name == "app") body = StripPortDeviceLines(body, false);
    if (name == "env" && !body.empty()) {
      // Only the blob as one checked line goes into a preset: a line break followed by "[" would
      // start a section of its own when the preset is loaded.
      std::wstring why;
      std::optional<std::string> json = NormalizeEnvSettingsJson(body, /*asciiOnly=*/false, &why);
      if (!json) {
        DebugLog(L"프리셋 저장: env_settings.cfg 를 넣지 않음 - " + why);
        continue;  // without the section a load leaves the working file alone
      }
      body = std::move(*json);
    }
    text += HeaderLine(section);
    text += body;
    if (!body.empty() && body.back() != '\n') text += '\n';
  }
  if (!WriteFileText(PresetPath(slot), text)) return fail(L"프리셋 파일을 쓰지 못함 - " + PresetPath(slot));
  return true;
}

bool LoadPreset(int slot) {
  std::string text = ReadFileText(PresetPath(slot));
  if (text.empty()) return false;
  for (const PresetSection& section : PresetSections) {
    SectionSpan span = FindSection(text, HeaderLine(section));
    if (span.begin == std::string::npos) continue;
    std::string body = text.substr(span.begin, span.end - span.begin);
    std::lock_guard lock(SettingsFileLock(section.file));
    if (std::string_view(section.name) == "app")
      body += StripPortDeviceLines(ReadFileText(section.file), true);
    if (!WriteFileTextLocked(section.file, body))
      DebugLog(L"프리셋 불러오기: 쓰지 못함 - " + std::wstring(section.file));
  }
  return true;
}

bool LoadPresetAndApply(int slot) {
  if (!LoadPreset(slot)) return false;
  SendEnvSettingsToPage();
  return true;
}

bool SetPresetAppKey(std::string_view key, std::string_view value) {
  const std::wstring path = PresetPath(1);
  std::lock_guard lock(SettingsFileLock(path));
  std::string text = ReadFileText(path);
  if (text.empty()) return false;
  SectionSpan span = FindSection(text, "[app]\n");
  if (span.begin == std::string::npos) return false;
  std::string prefix = std::string(key) + "=";
  std::string rebuilt;
  std::string_view body(text.data() + span.begin, span.end - span.begin);
  while (!body.empty()) {
    size_t lf = body.find('\n');
    std::string_view line = body.substr(0, lf);
    body = lf == std::string_view::npos ? std::string_view{} : body.substr(lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || StartsWith(line, prefix)) continue;
    rebuilt.append(line);
    rebuilt += '\n';
  }
  rebuilt += prefix;
  rebuilt.append(value);
  rebuilt += '\n';
  std::string out = text.substr(0, span.begin) + rebuilt + text.substr(span.end);
  return WriteFileTextLocked(path, out);
}

std::wstring ReadPresetSavedTime(int slot) {
  std::string text = ReadFileText(PresetPath(slot));
  if (text.size() < 6) return {};
  size_t at = text.find("saved=");
  if (at == std::string::npos) return {};
  at += 6;
  size_t end = text.find_first_of("\r\n", at);
  return Utf8ToWide(std::string_view(text).substr(at, end == std::string::npos ? end : end - at));
}

std::wstring BuildPresetInfoList() {
  std::wstring out = L"[";
  for (int slot = 1; slot <= 6; ++slot) {
    if (slot > 1) out += L',';
    out += L"{s:" + std::to_wstring(slot) + L",w:" + ScriptString(ReadPresetSavedTime(slot)) + L"}";
  }
  return out + L"]";
}

void PostPresetInfo() {
  const std::wstring slots = BuildPresetInfoList();
  PostScriptToPage(PageCall(L"setPresetInfo", ScriptLiteral{slots}));
}

void PostPresetModal(std::wstring_view kind, int slot) {
  PostScriptToPage(PageCall(L"presetModal", kind, slot, ReadPresetSavedTime(slot)));
}

std::wstring InitAppSettingsCallText(const std::wstring& port1Module, const std::wstring& port2Module) {
  const AppSettings& s = Settings;
  auto n = [](int v) { return std::to_wstring(v); };
  // Two small objects of numbers only.
  const std::wstring reverb = L"{on:" + n(s.reverbShapeOn) + L",macro:" + n(s.reverbMacro) + L",time:" +
                              n(s.reverbTime) + L",preLpf:" + n(s.reverbPreLpf) + L"}";
  const std::wstring chorus = L"{macro:" + n(s.chorusMacro) + L",level:" + n(s.chorusLevel) + L",depth:" +
                              n(s.chorusDepth) + L"}";
  // The value 100 only keeps the place of a retired setting, so the later arguments keep theirs.
  return PageCallText(L"initAppSettings", s.autoKeyMode, port1Module, port2Module, s.outputMode, s.chordYAdj,
                      s.jumpMarkYAdj, s.reverbLevel, s.startFullscreen, s.moduleTonePreset, s.use8850NativeMap, 100,
                      ScriptLiteral{reverb}, s.fullScore, ScriptLiteral{chorus});
}

std::wstring BuildAppSettingsInitScript() {
  const AppSettings& s = Settings;
  std::wstring port1Module, port2Module, lyricFont, waitColor, sungColor;
  {
    std::lock_guard lock(AppSettings::Mutex);
    port1Module = s.port1Module;
    port2Module = s.port2Module;
    lyricFont = s.lyricFont;
    waitColor = s.lyricWaitColor;
    sungColor = s.lyricSungColor;
  }
  std::wstring js = InitAppSettingsCallText(port1Module, port2Module);
  // The display setters exist only on pages that have their panel.
  auto ifPresent = [&js](std::wstring_view name, const std::wstring& call) {
    js += L"; if(typeof ";
    js += name;
    js += L"==='function') ";
    js += call;
  };
  ifPresent(L"setRawSoundDisplay", PageCallText(L"setRawSoundDisplay", s.rawSound));
  ifPresent(L"setSaxExprDisplay", PageCallText(L"setSaxExprDisplay", s.saxExpr));
  ifPresent(L"setSaxLayerDisplay", PageCallText(L"setSaxLayerDisplay", s.saxLayer));
  ifPresent(L"setSaxBoostDisplay", PageCallText(L"setSaxBoostDisplay", s.saxBoost));
  ifPresent(L"setSaxInsFxDisplay", PageCallText(L"setSaxInsFxDisplay", s.saxInsFx, s.saxInsLv));
  ifPresent(L"setSaxPlayDisplay", PageCallText(L"setSaxPlayDisplay", s.saxBend, s.saxBreath, s.saxGate));
  ifPresent(L"setCcDedupDisplay", PageCallText(L"setCcDedupDisplay", s.ccDedupOn));
  ifPresent(L"setBuiltinSynthDisplay", PageCallText(L"setBuiltinSynthDisplay", s.builtinSynth ? 1 : 0));
  ifPresent(L"setBgRandomDisplay", PageCallText(L"setBgRandomDisplay", s.bgRandom));
  ifPresent(L"setLyricFontDisplay", PageCallText(L"setLyricFontDisplay", lyricFont));
  ifPresent(L"setLyricWaitColorDisplay", PageCallText(L"setLyricWaitColorDisplay", waitColor));
  ifPresent(L"setLyricSungColorDisplay", PageCallText(L"setLyricSungColorDisplay", sungColor));
  ifPresent(L"setLyricFontScaleDisplay", PageCallText(L"setLyricFontScaleDisplay", s.lyricFontScale));
  const std::wstring fonts = ListFontFiles();
  ifPresent(L"initCustomFonts", PageCallText(L"initCustomFonts", ScriptLiteral{fonts}));
  ifPresent(L"renderSettingsPanel", PageCallText(L"renderSettingsPanel"));
  js += L";";
  return GuardedScript(js);
}

void SendEnvSettingsToPage() {
  LoadAppSettings();
  LoadMixerConfig();
  LoadEqConfig();
  LoadSoundSel();

  std::vector<int> channels;
  for (int ch = 0; ch < 16; ++ch) channels.push_back(ch);
  ResendChannelVolumes(channels, false);
  SendEqSetup(true);
  ApplyCvtTones();
  ResendSendOffsets();
  SendDryDrumBassSends();
  if (Settings.moduleTonePreset) {
    SendChorusSetup(0, GetSettingText(&AppSettings::port1Module));
    SendChorusSetup(1, GetSettingText(&AppSettings::port2Module));  // nothing when port 2 is closed
  }

  if (std::wstring env = EnvSettingsScriptArgument(); !env.empty())
    PostScriptToPage(GuardedScript(PageCallText(L"applyEnvSettings", JsonText{std::move(env)}) +
                                   L"; if(typeof scoreRedraw==='function') scoreRedraw();"));
  PostScriptToPage(GuardedScript(BuildMixerInitScript() + L";"));
  PostScriptToPage(BuildAppSettingsInitScript());

  SendReverbSetup();
  if (Settings.rawSound == 0) ResendSendOffsets();
  SendDryDrumBassSends();
}

void HandlePresetInfo(const std::wstring&) { PostPresetInfo(); }

void HandlePresetSaveBase(const std::wstring&) {
  std::wstring failure;
  if (!SavePreset(1, &failure)) {
    PostAlertToPage(L"설정을 저장하지 못했습니다: " + failure);
    return;
  }
  PostPresetInfo();
  PostPresetModal(L"savebase", 1);
}

void HandlePresetSaveSlot(const std::wstring& message) {
  int slot = SlotArgument(message);
  if (slot < 2 || slot > 6) return;
  std::wstring failure;
  if (!SavePreset(slot, &failure)) {
    PostAlertToPage(L"설정을 저장하지 못했습니다: " + failure);
    return;
  }
  PostPresetInfo();
  PostPresetModal(L"save", slot);
}

void HandlePresetLoad(const std::wstring& message) {
  int slot = SlotArgument(message);
  if (LoadPresetAndApply(slot)) PostPresetInfo();
  else PostPresetModal(L"empty", slot);
}
