#pragma once
// Values remembered per song number (singer keys, song gain, tempo offset), each in its own small
// file read whole at start and rewritten whole after every change, and the page's own display
// settings, kept as one JSON text that only the page interprets.
#include <cstdint>
#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <string_view>

inline constexpr std::wstring_view UserKeyFilePath = L"<root>/system/userkey.txt";
inline constexpr std::wstring_view SongGainFilePath = L"<root>/system/song_gain.cfg";
inline constexpr std::wstring_view SongTempoFilePath = L"<root>/system/song_tempo.cfg";
inline constexpr std::wstring_view EnvSettingsFilePath = L"<root>/system/env_settings.cfg";

// Male and female key offsets in semitones; 99 means no key.
struct UserKey {
  int male = 0;
  int female = 0;
  bool operator==(const UserKey&) const = default;
};

// The per-song settings of the running program.
struct SongSettingsState {
  // Filled at start by the start-up load thread, then changed only on the window thread.
  std::map<int, UserKey> UserKeyMap;
  std::map<int, int> SongGainMap;   // percent 25..400
  std::map<int, int> SongTempoMap;  // beats per minute -80..80

  // Gain percent in effect for the loaded song (100: none), and whether it came from
  // SongGainMap; read by the senders while the song start sets them.
  std::atomic<int> SongGainPercent{100};
  std::atomic<uint8_t> SongGainManual{0};
};
extern SongSettingsState SongSettings;

inline constexpr int kUnknownSongLoudness = -9999;

void LoadUserKeys();
void LoadSongGains();
void LoadSongTempos();
// Each rewrites its file whole from the map; false when the write failed.
bool SaveUserKeys();
bool SaveSongGains();
bool SaveSongTempos();

// "[" + the song numbers of SongSettings.UserKeyMap in ascending order, joined by "," + "]".
std::wstring BuildUserKeyIdList();

// Tenths of a decibel for a gain percent (40·log10 law): 141 -> 60, 71 -> -59; 0 for percent <= 0.
int GainPercentToLevel(int percent);

// Recomputes SongSettings.SongGainPercent and SongSettings.SongGainManual for the loaded song: its stored gain, else the
// automatic gain from its loudness index (kUnknownSongLoudness when not measured).
void UpdateCurrentSongGain(int songNumber, int songLoudness);

// The whole of "env_settings.cfg"; empty when missing.
std::string ReadEnvSettingsText();

// Limits of the page settings blob: the page's own object is a few kilobytes and a few levels
// deep. Deeper text would exhaust the stack of whoever walks it; larger text is no settings blob.
inline constexpr size_t kEnvSettingsMaxBytes = 256 * 1024;
inline constexpr int kEnvSettingsMaxDepth = 64;

// The blob checked and written out again on one line: exactly one JSON object, no NUL, within
// the limits above. asciiOnly escapes every character beyond ASCII (for page script, where
// U+2028 would end a line). Nothing when the text is refused; `why` then says why.
std::optional<std::string> NormalizeEnvSettingsJson(std::string_view text, bool asciiOnly,
                                                    std::wstring* why = nullptr);

// The page settings blob as a script argument: the file's text when it passes
// NormalizeEnvSettingsJson, else empty (and logged). Only then may a caller put it into page
// script unescaped.
std::wstring EnvSettingsScriptArgument();

// Page command "SAVE_ENV:" + JSON: stores the object written out again on one line. Text that is
// refused by NormalizeEnvSettingsJson leaves the file as it is and is logged.
void HandleSaveEnv(const std::wstring& message);
