#include "ui/presets.h"

#include <cstdio>

#include "base/debug_log.h"
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

std::wstring PresetPath(int slot) { return L"C:/tavelo/presets/p" + std::to_wstring(slot) + L".cfg"; }

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

bool SavePreset(int slot) {
  if (slot < 1 || slot > 6) return false;
  // Sound choices still waiting for their debounced save go to disk first, so the snapshot holds
  // what the operator hears now.
  FlushDeferredSoundSaves();
  bool ok = SaveAppSettings();
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
    if (std::string_view(section.name) == "app") body = StripPortDeviceLines(body, false);
    text += HeaderLine(section);
    text += body;
    if (!body.empty() && body.back() != '\n') text += '\n';
  }
  if (!WriteFileText(PresetPath(slot), text)) {
    DebugLog(L"프리셋 저장 실패: " + PresetPath(slot));
    return false;
  }
  if (!ok) DebugLog(L"프리셋 저장: app_settings.cfg 를 쓰지 못해 디스크의 값으로 저장함");
  return ok;
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
    out += L"{s:" + std::to_wstring(slot) + L",w:'" + EscapeForScript(ReadPresetSavedTime(slot)) + L"'}";
  }
  return out + L"]";
}

void PostPresetInfo() { PostScriptToPage(L"try{ setPresetInfo(" + BuildPresetInfoList() + L"); }catch(e){}"); }

void PostPresetModal(std::wstring_view kind, int slot) {
  PostScriptToPage(L"try{ presetModal('" + EscapeForScript(kind) + L"'," + std::to_wstring(slot) +
                   L",'" + EscapeForScript(ReadPresetSavedTime(slot)) + L"'); }catch(e){}");
}

std::wstring BuildAppSettingsInitScript() {
  const AppSettings& s = Settings;
  auto n = [](int v) { return std::to_wstring(v); };
  auto q = [](const std::wstring& v) { return L"'" + EscapeForScript(v) + L"'"; };
  auto call = [](std::wstring_view fn, const std::wstring& args) {
    return L"); if(typeof " + std::wstring(fn) + L"==='function') " + std::wstring(fn) + L"(" + args;
  };
  std::wstring port1Module, port2Module, lyricFont, waitColor, sungColor;
  {
    std::lock_guard lock(AppSettingsMutex);
    port1Module = s.port1Module;
    port2Module = s.port2Module;
    lyricFont = s.lyricFont;
    waitColor = s.lyricWaitColor;
    sungColor = s.lyricSungColor;
  }
  std::wstring js = L"try{ initAppSettings(" + n(s.autoKeyMode) + L"," + q(port1Module) + L"," +
                    q(port2Module) + L"," + n(s.outputMode) + L"," + n(s.chordYAdj) + L"," +
                    n(s.jumpMarkYAdj) + L"," + n(s.reverbLevel) + L"," + n(s.startFullscreen) + L"," +
                    n(s.moduleTonePreset) + L"," + n(s.use8850NativeMap) + L",100" + L",{on:" +
                    n(s.reverbShapeOn) + L",macro:" + n(s.reverbMacro) + L",time:" + n(s.reverbTime) +
                    L",preLpf:" + n(s.reverbPreLpf) + L"}," + n(s.fullScore) + L", {macro:" +
                    n(s.chorusMacro) + L", level:" + n(s.chorusLevel) + L", depth:" + n(s.chorusDepth) + L"}";
  js += call(L"setRawSoundDisplay", n(s.rawSound));
  js += call(L"setSaxExprDisplay", n(s.saxExpr));
  js += call(L"setSaxLayerDisplay", n(s.saxLayer));
  js += call(L"setSaxBoostDisplay", n(s.saxBoost));
  js += call(L"setSaxInsFxDisplay", n(s.saxInsFx) + L"," + n(s.saxInsLv));
  js += call(L"setSaxPlayDisplay", n(s.saxBend) + L"," + n(s.saxBreath) + L"," + n(s.saxGate));
  js += call(L"setCcDedupDisplay", n(s.ccDedupOn));
  js += call(L"setBuiltinSynthDisplay", n(s.builtinSynth ? 1 : 0));
  js += call(L"setBgRandomDisplay", n(s.bgRandom));
  js += call(L"setLyricFontDisplay", q(lyricFont));
  js += call(L"setLyricWaitColorDisplay", q(waitColor));
  js += call(L"setLyricSungColorDisplay", q(sungColor));
  js += call(L"setLyricFontScaleDisplay", n(s.lyricFontScale));
  js += call(L"initCustomFonts", ListFontFiles());
  js += L"); if(typeof renderSettingsPanel==='function') renderSettingsPanel(); }catch(e){}";
  return js;
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
    PostScriptToPage(L"try{ applyEnvSettings(" + env +
                     L"); if(typeof scoreRedraw==='function') scoreRedraw(); }catch(e){}");
  PostScriptToPage(L"try{ " + BuildMixerInitScript() + L"; }catch(e){ console.log(e); }");
  PostScriptToPage(BuildAppSettingsInitScript());

  SendReverbSetup();
  if (Settings.rawSound == 0) ResendSendOffsets();
  SendDryDrumBassSends();
}

void HandlePresetInfo(const std::wstring&) { PostPresetInfo(); }

void HandlePresetSaveBase(const std::wstring&) {
  if (!SavePreset(1)) return;
  PostPresetInfo();
  PostPresetModal(L"savebase", 1);
}

void HandlePresetSaveSlot(const std::wstring& message) {
  int slot = SlotArgument(message);
  if (slot < 2 || slot > 6 || !SavePreset(slot)) return;
  PostPresetInfo();
  PostPresetModal(L"save", slot);
}

void HandlePresetLoad(const std::wstring& message) {
  int slot = SlotArgument(message);
  if (LoadPresetAndApply(slot)) PostPresetInfo();
  else PostPresetModal(L"empty", slot);
}
