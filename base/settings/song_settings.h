#pragma once
// Values remembered per song number (singer keys, song gain, tempo offset), each in its own small
// file read whole at start and rewritten whole after every change, and the page's own display
// settings, kept as one JSON text that only the page interprets.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

inline constexpr std::wstring_view UserKeyFilePath = L"C:/tavelo/system/userkey.txt";
inline constexpr std::wstring_view SongGainFilePath = L"C:/tavelo/system/song_gain.cfg";
inline constexpr std::wstring_view SongTempoFilePath = L"C:/tavelo/system/song_tempo.cfg";
inline constexpr std::wstring_view EnvSettingsFilePath = L"C:/tavelo/system/env_settings.cfg";

// Male and female key offsets in semitones; 99 means no key.
struct UserKey {
  int male = 0;
  int female = 0;
  bool operator==(const UserKey&) const = default;
};

// Filled at start by the start-up load thread, then changed only on the window thread.
extern std::map<int, UserKey> UserKeyMap;
extern std::map<int, int> SongGainMap;   // percent 25..400
extern std::map<int, int> SongTempoMap;  // beats per minute -80..80

// Gain percent in effect for the loaded song (100: none), and whether it came from SongGainMap.
extern int SongGainPercent;
extern uint8_t SongGainManual;

inline constexpr int kUnknownSongLoudness = -9999;

void LoadUserKeys();
void LoadSongGains();
void LoadSongTempos();
// Each rewrites its file whole from the map; false when the write failed.
bool SaveUserKeys();
bool SaveSongGains();
bool SaveSongTempos();

// "[" + the song numbers of UserKeyMap in ascending order, joined by "," + "]".
std::wstring BuildUserKeyIdList();

// Tenths of a decibel for a gain percent (40·log10 law): 141 -> 60, 71 -> -59; 0 for percent <= 0.
int GainPercentToLevel(int percent);

// Recomputes SongGainPercent and SongGainManual for the loaded song: its stored gain, else the
// automatic gain from its loudness index (kUnknownSongLoudness when not measured).
void UpdateCurrentSongGain(int songNumber, int songLoudness);

// The whole of "env_settings.cfg"; empty when missing.
std::string ReadEnvSettingsText();

// The page settings blob as a script argument: the file's text when it parses as one JSON object,
// else empty (and logged). Only then may a caller put it into page script unescaped.
std::wstring EnvSettingsScriptArgument();

// Page command "SAVE_ENV:" + JSON: stores the text after the colon as the whole file.
void HandleSaveEnv(const std::wstring& message);
