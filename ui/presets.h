#pragma once
// Presets: snapshots of the five settings files in six slots. Slot 1 is the base, restored over the
// working files at every start; slots 2 to 6 are saved and loaded by hand.
#include <array>
#include <string>
#include <string_view>

struct PresetSection {
  const char* name;
  std::wstring_view file;
};

// The sections of a preset, in the order of saving and loading.
inline constexpr std::array<PresetSection, 5> PresetSections{{
    {"app", L"<root>/system/app_settings.cfg"},
    {"env", L"<root>/system/env_settings.cfg"},
    {"mixer", L"<root>/system/mixer.cfg"},
    {"eq", L"<root>/system/eq.cfg"},
    {"sound", L"<root>/system/soundsel.cfg"},
}};

// "<root>/presets/p" + N + ".cfg".
std::wstring PresetPath(int slot);

// Lines split at LF, one trailing CR removed, empty lines dropped; keeps only the output-device
// lines ("port1Device=", "port2Device=") when keepDeviceLines, else every other line. Each kept
// line ends with LF.
std::string StripPortDeviceLines(std::string_view text, bool keepDeviceLines);

// Snapshot of the current settings into slot 1..6. Pending sound saves and the application
// settings are written first; when app_settings.cfg cannot be written the slot is left as it was,
// so slot and working file never disagree. False, with what failed in `failure` (and the log),
// for a slot outside 1..6 or when a file could not be written.
bool SavePreset(int slot, std::wstring* failure = nullptr);
// Copies the slot's sections over the working files, keeping this computer's device lines.
// False when the slot's file is missing or empty.
bool LoadPreset(int slot);
// LoadPreset, then SendEnvSettingsToPage.
bool LoadPresetAndApply(int slot);

// Replaces one key of the base preset's "app" section (nothing when there is no base preset or no
// such section). Read and write hold the preset file's lock, so concurrent patches are both kept.
// False when nothing was written.
bool SetPresetAppKey(std::string_view key, std::string_view value);

// The saved time of a slot ("" when none), as written after "saved=".
std::wstring ReadPresetSavedTime(int slot);
// The page array of the six slots: [{s:1,w:'...'},...].
std::wstring BuildPresetInfoList();
void PostPresetInfo();
void PostPresetModal(std::wstring_view kind, int slot);

// The scripts that bring the page up to date with the working settings (settings blob, mixer,
// settings values), in the order they are posted.
std::wstring BuildAppSettingsInitScript();
// The page's initAppSettings(...) call, without a guard (the page boot and the preset load both
// send it); the module names are passed in as read under the settings lock.
std::wstring InitAppSettingsCallText(const std::wstring& port1Module, const std::wstring& port2Module);

// Re-reads the working files, re-sends the sound state and refreshes the page.
void SendEnvSettingsToPage();

// Page commands.
void HandlePresetInfo(const std::wstring& message);       // "PRESET_INFO"
void HandlePresetSaveBase(const std::wstring& message);   // "PRESET_SAVE_BASE"
void HandlePresetSaveSlot(const std::wstring& message);   // "PRESET_SAVE_SLOT:" N
void HandlePresetLoad(const std::wstring& message);       // "PRESET_LOAD:" N
