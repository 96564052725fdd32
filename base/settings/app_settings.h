#pragma once
// The application settings: every value of "<root>/system/app_settings.cfg" as one member of
// the process-wide `Settings`. A member's initializer is its default; nothing else supplies
// defaults. Handlers set a member and call SaveAppSettings at once, so the file mirrors the values.
//
// Integers and flags are relaxed atomics (the two byte flags `cvtFixedOn` and `builtinSynth` are
// bytes) read without a lock by whoever acts on them. Text members should be assigned through
// SetSettingText, which drops control characters (a value can never split its line in the file)
// and takes the settings lock, so a concurrent save never reads half a string.
//
// The external module's routing (`extRoute`) and note map (`extNoteMap`) are not held here: the
// external module's own atomics (ExtRouting) hold them and the file carries their text forms
// (ParseExtRouting / FormatExtRouting, ParseExtNoteMap / FormatExtNoteMap in base/settings/ext_routing.h).
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

// A number of the settings that any thread reads without the settings lock while the page's
// handlers change it: a relaxed atomic that reads and assigns like the plain number it holds.
// (Copies take the value, so a whole AppSettings can still be reset.)
template <typename T>
class RelaxedSetting {
 public:
  constexpr RelaxedSetting(T value = T{}) noexcept : value_(value) {}
  RelaxedSetting(const RelaxedSetting& other) noexcept : value_(other.load()) {}
  RelaxedSetting& operator=(const RelaxedSetting& other) noexcept { return *this = other.load(); }
  RelaxedSetting& operator=(T value) noexcept {
    value_.store(value, std::memory_order_relaxed);
    return *this;
  }
  operator T() const noexcept { return load(); }
  T load() const noexcept { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<T> value_;
};
using SettingInt = RelaxedSetting<int>;
using SettingByte = RelaxedSetting<uint8_t>;

struct AppSettings {
  // Guards the text members and whole-file writes of the settings file (one for the process).
  static inline std::mutex Mutex;

  SettingInt autoKeyMode = 0;                 // 0 original key, 1 male singer key, 2 female singer key
  std::wstring port1Module = L"SC8850";
  std::wstring port2Module = L"SC8850";
  SettingInt outputMode = 2;                  // 2 ("2 OUT") or 4 ("4 OUT")
  std::wstring port1Device;            // empty: automatic choice
  std::wstring port2Device;
  SettingInt chordYAdj = 0;
  SettingInt scLyrSize = 100;
  SettingInt scLyrColor = 0;
  SettingInt scLyrBold = 1;
  SettingInt scLyrOutline = 0;
  SettingInt scChdSize = 100;
  SettingInt scChdColor = 4;
  SettingInt scChdBold = 1;
  SettingInt scChdOutline = 0;
  SettingInt jumpMarkYAdj = 0;
  SettingInt medleyPrestart = 1;
  SettingInt reverbLevel = -1;                // -1 leaves the song's own reverb alone
  SettingInt fullScore = 0;
  SettingInt reverbShapeOn = 1;
  SettingInt reverbMacro = 4;
  SettingInt reverbTime = 56;
  SettingInt reverbPreLpf = 0;
  SettingInt ccDedupOn = 0;
  SettingInt chorusMacro = -1;
  SettingInt chorusLevel = -1;
  SettingInt chorusDepth = -1;
  SettingInt helpFontPx = 20;
  SettingInt helpPageSec = 9;
  SettingInt outTrim = 80;
  SettingInt volCeil = 118;
  SettingInt mixerMaxPct = 125;
  SettingInt songGainOn = 1;
  SettingInt songGainTarget = -25;
  SettingInt songGainLimit = 60;
  SettingInt sg1FixedBpm = 65;
  SettingInt cvtFixedBpm = 136;
  SettingInt boxSpeed = 100;
  SettingByte cvtFixedOn = 0;
  SettingInt numLockOff = 1;
  SettingInt volAllUser = 64;
  SettingInt volOrchUser = 64;
  SettingInt extOn = 0;
  std::wstring extDevice;              // the sound side's ExtDeviceName
  SettingInt extToCh = -1;
  SettingInt extCc = 0;
  SettingInt extPc = 0;
  SettingInt extClock = 0;
  SettingInt jumpFastSetup = 1;
  SettingInt cvtBassGatePct = 100;
  SettingInt cvtBassLowSolo = 36;
  SettingInt cvtVolBass = 80;
  SettingInt cvtVolGuitar = 85;
  SettingInt cvtVolDrum = 100;
  SettingInt cvtVolFx = 80;
  // Rhythm-engine channel volumes, channels 1 to 16; -1 means the part default above.
  std::array<SettingInt, 16> cvtVolCh{-1, -1, -1, -1, -1, -1, 85, -1, 80, 105, 100, 95, 95, 80, 80, -1};
  SettingInt cvtGuitarLow = 48;
  SettingInt cvtBassLow = 28;
  SettingInt cvtBassHigh = 55;
  SettingInt dryDrumBass = 1;
  SettingInt leadInMode = 1;
  SettingInt leadInNote = 42;
  SettingInt leadInVel = 100;
  std::wstring synthSf2;
  SettingInt synthGain = 70;
  SettingInt synthGsFx = 1;
  SettingInt synthPeriodSize = 0;
  SettingInt synthPeriods = 0;
  SettingInt startFullscreen = 0;
  SettingInt customerMonitor = 0;             // 0: no customer window
  SettingInt customerBright = 100;
  SettingInt cwLyricsPct = 53;
  SettingInt cwScoreFill = 100;
  SettingInt customerVideo = 0;
  SettingInt keepAdjust = 1;
  SettingInt liteMode = -1;                   // -1 automatic, 0 full, 1 light
  SettingInt customerVideoSrc = 0;            // 0 video file, 1 capture input
  std::wstring customerCamLabel;
  SettingInt pcScore = -1;                    // -1 not measured
  SettingInt gpuForce = -1;                   // -1 automatic, 0 off, 1 on
  SettingInt rawSound = 0;
  SettingInt saxExpr = 0;
  SettingInt saxLayer = 0;                    // written, never taken back from the file
  SettingInt saxBoost = 100;
  SettingInt saxInsFx = 0;
  SettingInt saxInsLv = 110;
  SettingInt saxBend = 1;
  SettingInt saxBreath = 1;
  SettingInt saxGate = 88;
  SettingInt moduleTonePreset = 0;
  SettingInt use8850NativeMap = 0;
  SettingByte builtinSynth = 0;            // both ports through the built-in synthesizer
  SettingInt bgRandom = 0;
  std::wstring lyricFont;              // empty, a family name, or "file:" + font file name
  std::wstring lyricWaitColor = L"#ffcc00";
  std::wstring lyricSungColor = L"#ff2000";
  SettingInt lyricFontScale = 100;
};

inline constexpr std::wstring_view AppSettingsFilePath = L"<root>/system/app_settings.cfg";

// The one set of values of the running program.
extern AppSettings Settings;


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
  SettingInt AppSettings::*intMember = nullptr;
  SettingByte AppSettings::*byteMember = nullptr;
  std::wstring AppSettings::*textMember = nullptr;
};

namespace app_settings_detail {
using S = AppSettings;
constexpr AppSettingKey I(const char* n, SettingInt S::*m) { return {n, SettingRule::Any, 0, 0, m}; }
constexpr AppSettingKey R(const char* n, SettingInt S::*m, int lo, int hi) {
  return {n, SettingRule::Range, lo, hi, m};
}
constexpr AppSettingKey F(const char* n, SettingInt S::*m) { return {n, SettingRule::Flag, 0, 1, m}; }
constexpr AppSettingKey X(const char* n, SettingRule r, SettingInt S::*m) { return {n, r, 0, 0, m}; }
constexpr AppSettingKey B(const char* n, SettingByte S::*m) {
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

