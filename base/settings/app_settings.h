#pragma once
// The application settings: every value of "C:/tavelo/system/app_settings.cfg" as one member of
// the process-wide `Settings`. A member's initializer is its default; nothing else supplies
// defaults. Handlers set a member and call SaveAppSettings at once, so the file mirrors the values.
//
// Integers and flags are plain 32-bit values (the two byte flags `cvtFixedOn` and `builtinSynth`
// are bytes) read without a lock by whoever acts on them. Text members should be assigned through
// SetSettingText, which drops control characters (a value can never split its line in the file)
// and takes the settings lock, so a concurrent save never reads half a string.
//
// The external module's routing (`extRoute`) and note map (`extNoteMap`) are not held here: the
// external module's own atomics ExtRouteFlags / ExtNoteMap hold them and the file carries their text forms
// (ParseExtRouting / FormatExtRouting, ParseExtNoteMap / FormatExtNoteMap in base/settings/ext_routing.h).
#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

struct AppSettings {
  int autoKeyMode = 0;                 // 0 original key, 1 male singer key, 2 female singer key
  std::wstring port1Module = L"SC8850";
  std::wstring port2Module = L"SC8850";
  int outputMode = 2;                  // 2 ("2 OUT") or 4 ("4 OUT")
  std::wstring port1Device;            // empty: automatic choice
  std::wstring port2Device;
  int chordYAdj = 0;
  int scLyrSize = 100;
  int scLyrColor = 0;
  int scLyrBold = 1;
  int scLyrOutline = 0;
  int scChdSize = 100;
  int scChdColor = 4;
  int scChdBold = 1;
  int scChdOutline = 0;
  int jumpMarkYAdj = 0;
  int medleyPrestart = 1;
  int reverbLevel = -1;                // -1 leaves the song's own reverb alone
  int fullScore = 0;
  int reverbShapeOn = 1;
  int reverbMacro = 4;
  int reverbTime = 56;
  int reverbPreLpf = 0;
  int ccDedupOn = 0;
  int chorusMacro = -1;
  int chorusLevel = -1;
  int chorusDepth = -1;
  int helpFontPx = 20;
  int helpPageSec = 9;
  int outTrim = 80;
  int volCeil = 118;
  int mixerMaxPct = 125;
  int songGainOn = 1;
  int songGainTarget = -25;
  int songGainLimit = 60;
  int sg1FixedBpm = 65;
  int cvtFixedBpm = 136;
  int boxSpeed = 100;
  uint8_t cvtFixedOn = 0;
  int numLockOff = 1;
  int volAllUser = 64;
  int volOrchUser = 64;
  int extOn = 0;
  std::wstring extDevice;              // the sound side's ExtDeviceName
  int extToCh = -1;
  int extCc = 0;
  int extPc = 0;
  int extClock = 0;
  int jumpFastSetup = 1;
  int cvtBassGatePct = 100;
  int cvtBassLowSolo = 36;
  int cvtVolBass = 80;
  int cvtVolGuitar = 85;
  int cvtVolDrum = 100;
  int cvtVolFx = 80;
  // Rhythm-engine channel volumes, channels 1 to 16; -1 means the part default above.
  std::array<int, 16> cvtVolCh{-1, -1, -1, -1, -1, -1, 85, -1, 80, 105, 100, 95, 95, 80, 80, -1};
  int cvtGuitarLow = 48;
  int cvtBassLow = 28;
  int cvtBassHigh = 55;
  int dryDrumBass = 1;
  int leadInMode = 1;
  int leadInNote = 42;
  int leadInVel = 100;
  std::wstring synthSf2;
  int synthGain = 70;
  int synthGsFx = 1;
  int synthPeriodSize = 0;
  int synthPeriods = 0;
  int startFullscreen = 0;
  int customerMonitor = 0;             // 0: no customer window
  int customerBright = 100;
  int cwLyricsPct = 53;
  int cwScoreFill = 100;
  int customerVideo = 0;
  int keepAdjust = 1;
  int liteMode = -1;                   // -1 automatic, 0 full, 1 light
  int customerVideoSrc = 0;            // 0 video file, 1 capture input
  std::wstring customerCamLabel;
  int pcScore = -1;                    // -1 not measured
  int gpuForce = -1;                   // -1 automatic, 0 off, 1 on
  int rawSound = 0;
  int saxExpr = 0;
  int saxLayer = 0;                    // written, never taken back from the file
  int saxBoost = 100;
  int saxInsFx = 0;
  int saxInsLv = 110;
  int saxBend = 1;
  int saxBreath = 1;
  int saxGate = 88;
  int moduleTonePreset = 0;
  int use8850NativeMap = 0;
  uint8_t builtinSynth = 0;            // both ports through the built-in synthesizer
  int bgRandom = 0;
  std::wstring lyricFont;              // empty, a family name, or "file:" + font file name
  std::wstring lyricWaitColor = L"#ffcc00";
  std::wstring lyricSungColor = L"#ff2000";
  int lyricFontScale = 100;
};

inline constexpr std::wstring_view AppSettingsFilePath = L"C:/tavelo/system/app_settings.cfg";

// The one set of values of the running program.
extern AppSettings Settings;

// Guards the text members and whole-file writes of the settings file.
extern std::mutex AppSettingsMutex;

// How LoadAppSettings takes a value text.
enum class SettingRule : uint8_t {
  Any,          // any integer
  Range,        // integer kept only within lo..hi
  Flag,         // 1 for any non-zero integer, else 0
  ByteFlag,     // the same, held as a byte
  NonNegative,  // negative becomes 0
  MinusOneOr01, // 0 or 1; anything else becomes -1
  OneElseZero,  // 1 when the number is 1, else 0
  AlwaysZero,   // written, but reading always stores 0
  MixerMax,     // 50..150, then raised to the floor of the output trim after the read
  Text,         // as is (control characters dropped)
  DeviceText,   // StripControlAndTrim
  Color,        // exactly 7 characters starting with "#"
  IntList16,    // cvtVolCh
  ExtRoute,     // ParseExtRouting / FormatExtRouting
  ExtNoteMap,   // ParseExtNoteMap / FormatExtNoteMap
};

struct AppSettingKey {
  const char* name;
  SettingRule rule;
  int lo = 0, hi = 0;
  int AppSettings::*intMember = nullptr;
  uint8_t AppSettings::*byteMember = nullptr;
  std::wstring AppSettings::*textMember = nullptr;
};

namespace app_settings_detail {
using S = AppSettings;
constexpr AppSettingKey I(const char* n, int S::*m) { return {n, SettingRule::Any, 0, 0, m}; }
constexpr AppSettingKey R(const char* n, int S::*m, int lo, int hi) {
  return {n, SettingRule::Range, lo, hi, m};
}
constexpr AppSettingKey F(const char* n, int S::*m) { return {n, SettingRule::Flag, 0, 1, m}; }
constexpr AppSettingKey X(const char* n, SettingRule r, int S::*m) { return {n, r, 0, 0, m}; }
constexpr AppSettingKey B(const char* n, uint8_t S::*m) {
  return {n, SettingRule::ByteFlag, 0, 1, nullptr, m};
}
constexpr AppSettingKey T(const char* n, SettingRule r, std::wstring S::*m) {
  return {n, r, 0, 0, nullptr, nullptr, m};
}
constexpr AppSettingKey N(const char* n, SettingRule r) { return {n, r}; }
}  // namespace app_settings_detail

// Every key of the file, in the order the writer writes them.
inline constexpr std::array<AppSettingKey, 99> AppSettingKeys = [] {
  using namespace app_settings_detail;
  using R_ = SettingRule;
  return std::array<AppSettingKey, 99>{{
      I("autoKeyMode", &S::autoKeyMode),
      T("port1Module", R_::Text, &S::port1Module),
      T("port2Module", R_::Text, &S::port2Module),
      I("outputMode", &S::outputMode),
      T("port1Device", R_::DeviceText, &S::port1Device),
      T("port2Device", R_::DeviceText, &S::port2Device),
      I("chordYAdj", &S::chordYAdj),
      R("scLyrSize", &S::scLyrSize, 50, 250),
      R("scLyrColor", &S::scLyrColor, 0, 7),
      R("scLyrBold", &S::scLyrBold, 0, 2),
      R("scLyrOutline", &S::scLyrOutline, 0, 2),
      R("scChdSize", &S::scChdSize, 50, 250),
      R("scChdColor", &S::scChdColor, 0, 7),
      R("scChdBold", &S::scChdBold, 0, 2),
      R("scChdOutline", &S::scChdOutline, 0, 2),
      I("jumpMarkYAdj", &S::jumpMarkYAdj),
      F("medleyPrestart", &S::medleyPrestart),
      R("reverbLevel", &S::reverbLevel, -1, 127),
      F("fullScore", &S::fullScore),
      F("reverbShapeOn", &S::reverbShapeOn),
      R("reverbMacro", &S::reverbMacro, 0, 7),
      R("reverbTime", &S::reverbTime, 0, 127),
      R("reverbPreLpf", &S::reverbPreLpf, 0, 7),
      F("ccDedupOn", &S::ccDedupOn),
      R("chorusMacro", &S::chorusMacro, -1, 7),
      R("chorusLevel", &S::chorusLevel, -1, 127),
      R("chorusDepth", &S::chorusDepth, -1, 127),
      R("helpFontPx", &S::helpFontPx, 10, 80),
      R("helpPageSec", &S::helpPageSec, 3, 120),
      R("outTrim", &S::outTrim, 30, 100),
      R("volCeil", &S::volCeil, 60, 127),
      AppSettingKey{"mixerMaxPct", R_::MixerMax, 50, 150, &S::mixerMaxPct},
      F("songGainOn", &S::songGainOn),
      R("songGainTarget", &S::songGainTarget, -200, 100),
      R("songGainLimit", &S::songGainLimit, 0, 120),
      R("sg1FixedBpm", &S::sg1FixedBpm, 0, 250),
      R("cvtFixedBpm", &S::cvtFixedBpm, 30, 300),
      R("boxSpeed", &S::boxSpeed, 25, 400),
      B("cvtFixedOn", &S::cvtFixedOn),
      R("numLockOff", &S::numLockOff, 0, 2),
      R("volAllUser", &S::volAllUser, 0, 127),
      R("volOrchUser", &S::volOrchUser, 0, 127),
      F("extOn", &S::extOn),
      T("extDevice", R_::DeviceText, &S::extDevice),
      R("extToCh", &S::extToCh, -1, 15),
      F("extCc", &S::extCc),
      F("extPc", &S::extPc),
      F("extClock", &S::extClock),
      N("extRoute", R_::ExtRoute),
      N("extNoteMap", R_::ExtNoteMap),
      R("jumpFastSetup", &S::jumpFastSetup, 0, 1),
      R("cvtBassGatePct", &S::cvtBassGatePct, 20, 100),
      R("cvtBassLowSolo", &S::cvtBassLowSolo, 0, 60),
      R("cvtVolBass", &S::cvtVolBass, 0, 127),
      R("cvtVolGuitar", &S::cvtVolGuitar, 0, 127),
      R("cvtVolDrum", &S::cvtVolDrum, 0, 127),
      R("cvtVolFx", &S::cvtVolFx, 0, 127),
      N("cvtVolCh", R_::IntList16),
      R("cvtGuitarLow", &S::cvtGuitarLow, 0, 72),
      R("cvtBassLow", &S::cvtBassLow, 12, 60),
      R("cvtBassHigh", &S::cvtBassHigh, 36, 84),
      F("dryDrumBass", &S::dryDrumBass),
      R("leadInMode", &S::leadInMode, 0, 2),
      R("leadInNote", &S::leadInNote, 1, 127),
      R("leadInVel", &S::leadInVel, 1, 127),
      T("synthSf2", R_::DeviceText, &S::synthSf2),
      R("synthGain", &S::synthGain, 5, 300),
      F("synthGsFx", &S::synthGsFx),
      R("synthPeriodSize", &S::synthPeriodSize, 0, 8192),
      R("synthPeriods", &S::synthPeriods, 0, 64),
      F("startFullscreen", &S::startFullscreen),
      X("customerMonitor", R_::NonNegative, &S::customerMonitor),
      R("customerBright", &S::customerBright, 50, 200),
      R("cwLyricsPct", &S::cwLyricsPct, 35, 62),
      R("cwScoreFill", &S::cwScoreFill, 50, 150),
      F("customerVideo", &S::customerVideo),
      F("keepAdjust", &S::keepAdjust),
      X("liteMode", R_::MinusOneOr01, &S::liteMode),
      X("customerVideoSrc", R_::OneElseZero, &S::customerVideoSrc),
      T("customerCamLabel", R_::Text, &S::customerCamLabel),
      R("pcScore", &S::pcScore, 0, 100),
      X("gpuForce", R_::MinusOneOr01, &S::gpuForce),
      F("rawSound", &S::rawSound),
      F("saxExpr", &S::saxExpr),
      X("saxLayer", R_::AlwaysZero, &S::saxLayer),
      R("saxBoost", &S::saxBoost, 100, 300),
      F("saxInsFx", &S::saxInsFx),
      R("saxInsLv", &S::saxInsLv, 60, 127),
      F("saxBend", &S::saxBend),
      F("saxBreath", &S::saxBreath),
      R("saxGate", &S::saxGate, 70, 100),
      F("moduleTonePreset", &S::moduleTonePreset),
      F("use8850NativeMap", &S::use8850NativeMap),
      B("builtinSynth", &S::builtinSynth),
      F("bgRandom", &S::bgRandom),
      T("lyricFont", R_::Text, &S::lyricFont),
      T("lyricWaitColor", R_::Color, &S::lyricWaitColor),
      T("lyricSungColor", R_::Color, &S::lyricSungColor),
      R("lyricFontScale", &S::lyricFontScale, 50, 200),
  }};
}();

// The key's entry, or nullptr for a name that is not a settings key (case-sensitive).
const AppSettingKey* FindAppSettingKey(std::string_view name);

// Reads the file into Settings. A missing file changes nothing; unknown keys and lines without
// "=" are skipped; a value outside its key's rule keeps the previous value.
void LoadAppSettings();

// Rewrites the file whole (temporary file + rename) from Settings: all 99 keys in table order,
// LF line ends, no byte-order mark. False when the file could not be written.
bool SaveAppSettings();

// The text form that the file holds for a key ("" for an unknown key), as SaveAppSettings writes it.
std::wstring AppSettingValueText(const AppSettingKey& key);

// Assigns a text member under the settings lock with every character below U+0020 dropped.
void SetSettingText(std::wstring AppSettings::*member, std::wstring_view value);
// A copy of a text member taken under the settings lock (for threads other than the window thread).
std::wstring GetSettingText(std::wstring AppSettings::*member);

// Reverb and chorus sends of the drum and bass channels are forced to 0 for this port/channel
// (port 0 = output port 1, 0-based channel).
bool IsDryDrumBassChannel(int port, int channel);

