#include "ui/old_config_import.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <vector>

#include "base/settings/app_settings.h"
#include "base/text.h"
#include "platform/files.h"
#include "sound/mixer.h"
#include "sound/module_setup.h"
#include "sound/channel_tones.h"
#include "sound/services.h"
#include "sound/tone_table.h"
#include "ui/presets.h"

namespace {

struct ChannelRow {
  const char* key;
  const wchar_t* label;  // nullptr: not in the report
  std::vector<std::pair<int, int>> channels;  // port 1/2, 0-based channel
};

const std::vector<ChannelRow>& VolumeRows() {
  static const std::vector<ChannelRow> rows = {
      {"Assign_Volume_Melody", L"멜로디", {{1, 0}}},
      {"Assign_Volume_Solo1", L"솔로1", {{1, 1}, {1, 2}}},
      {"Assign_Volume_Solo2", L"솔로2", {{1, 3}, {1, 4}, {1, 15}}},
      {"Assign_Volume_Piano", L"피아노", {{1, 5}, {1, 6}}},
      {"Assign_Volume_String", L"현악", {{1, 7}, {2, 3}, {2, 4}, {2, 5}, {2, 6}}},
      {"Assign_Volume_Guita", L"기타", {{2, 0}, {2, 1}, {2, 2}}},
      {"Assign_Volume_Brass", L"브라스", {{1, 13}, {1, 14}, {2, 7}, {2, 8}}},
      {"Assign_Volume_Organ", L"신스", {{2, 13}, {2, 14}, {2, 15}}},
  };
  return rows;
}

const std::vector<ChannelRow>& SongDrumRows() {
  static const std::vector<ChannelRow> rows = {
      {"Assign_Volume_Song_BD", L"B.D", {{1, 9}}},
      {"Assign_Volume_Song_SD", L"S.D", {{1, 10}}},
      {"Assign_Volume_Song_HH", L"H.H", {{1, 11}}},
      {"Assign_Volume_Song_TT", L"T.T", {{1, 12}}},
      {"Assign_Volume_Song_ETC", L"ETC", {{2, 9}, {2, 10}, {2, 11}, {2, 12}}},
      {"Assign_Volume_Bass_GT", L"B.GT", {{1, 8}}},
  };
  return rows;
}

struct RhythmRow {
  const char* volume;
  const char* mute;
  const wchar_t* label;
  int channel;
};
constexpr RhythmRow kRhythmRows[] = {
    {"PXR__BG_Volume", "PXR__BG_Mute", L"B.GT", 8},  {"PXR__GT1_Volume", "PXR__GT1_Mute", L"Guita", 6},
    {"PXR__BD_Volume", "PXR__BD_Mute", L"B.D", 9},   {"PXR__SD_Volume", "PXR__SD_Mute", L"S.D", 10},
    {"PXR__HH_Volume", "PXR__HH_Mute", L"H.H", 11},  {"PXR__TT_Volume", "PXR__TT_Mute", L"T.T", 13},
    {"PXR__HC_Volume", "PXR__HC_Mute", L"Perc", 12}, {"PXR__TB_Volume", "PXR__TB_Mute", L"돔돔", 14},
};

std::wstring FormatPercent(int n) { return std::to_wstring(n) + L"%"; }

struct ToneRow {
  const char* key;
  int part, variant;
  const wchar_t* label;
};
constexpr ToneRow kToneRows[] = {
    {"UserBassDRTone", 0, 0, L"베이스드럼"}, {"UserSnareTone", 1, 0, L"스네어"},
    {"UserBassGTTone", 2, 0, L"베이스기타"}, {"UserGuitarTone", 3, 0, L"기타(원곡)"},
    {"PXR_UserGuitarTone", 3, 1, L"기타(리듬)"}, {"UserHihatTone", 4, 0, L"하이햇"},
};

// A tone name from the tone table, shown as text in the report's markup.
std::wstring HtmlText(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'<') out += L"&lt;";
    else if (c == L'>') out += L"&gt;";
    else if (c == L'&') out += L"&amp;";
    else if (c == L'\'') out += L"&#39;";
    else if (c == L'"') out += L"&quot;";
    else out += c;
  }
  return out;
}

// A drum pitch 0..127 of the older file: the channel's pitch setting, -24..24 semitones.
void ImportDrumPitch(const OldConfigMap& map, const char* key, int channel, const wchar_t* label,
                     std::vector<std::wstring>& items, bool apply) {
  int v = 0;
  if (!LookupOldConfigInt(map, key, v) || v < 0 || v > 127) return;
  const int pitch = std::clamp(v - 64, -24, 24);
  if (apply) Tones.ChannelToneSettings[0][channel][kTonePitch] = pitch;
  items.push_back(std::wstring(label) + L" 피치 " + (pitch > 0 ? L"+" : L"") + std::to_wstring(pitch));
}

std::wstring Join(const std::vector<std::wstring>& items) {
  std::wstring out;
  for (size_t i = 0; i < items.size(); ++i) out += (i ? L" · " : L"") + items[i];
  return out;
}

void AppendReportLine(std::wstring& report, const std::wstring& line) {
  if (!report.empty()) report += L"<br>";
  report += line;
}

void SetImportedChannelVolume(int port, int channel, int percent) {
  if ((port != 1 && port != 2) || channel < 0 || channel > 15) return;
  Mixer.MixerChannelPercent[port - 1][channel] = std::clamp(percent, 0, 150);
  UpdateChannelLevel(port - 1, channel);
}

std::wstring ChannelGroupItems(const OldConfigMap& map, const std::vector<ChannelRow>& rows, bool apply) {
  std::vector<std::wstring> items;
  for (const ChannelRow& row : rows) {
    const int p = OldLevelToPercent(map, row.key);
    if (p < 0) continue;
    if (apply)
      for (auto [port, channel] : row.channels) SetImportedChannelVolume(port, channel, p);
    if (row.label) items.push_back(std::wstring(row.label) + L" " + FormatPercent(p));
  }
  return Join(items);
}

}  // namespace

size_t ParseOldConfigFile(const std::wstring& path, OldConfigMap& map, std::wstring* why) {
  map.clear();
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || !std::filesystem::is_regular_file(path, ec)) {
    if (why) *why = L"파일을 열지 못했습니다.";
    return 0;
  }
  if (size > kOldConfigMaxBytes) {
    if (why) *why = L"설정 파일이 너무 큽니다 (" + std::to_wstring(size) + L" 바이트). 가져오지 않았습니다.";
    return 0;
  }
  std::optional<std::string> bytes = plat::ReadFileBytes(path);
  if (!bytes || bytes->size() > kOldConfigMaxBytes) {
    if (why) *why = L"파일을 읽지 못했습니다.";
    return 0;
  }
  if (bytes->find('\0') != std::string::npos) {
    if (why) *why = L"설정 파일이 아닙니다 (글자가 아닌 내용이 들어 있음). 가져오지 않았습니다.";
    return 0;
  }
  map = ParseOldConfigText(*bytes);
  return map.size();
}

std::wstring ApplyOldConfig(const OldConfigMap& map, bool apply, const std::vector<SoundTableEntry>& table) {
  std::wstring report;
  if (apply) ResetMixerDefaults();
  const std::wstring f4 = ChannelGroupItems(map, VolumeRows(), apply);
  const std::wstring f5 = ChannelGroupItems(map, SongDrumRows(), apply);
  if (!f4.empty()) AppendReportLine(report, L"<b>F4 볼륨</b> → " + f4);
  if (!f5.empty()) AppendReportLine(report, L"<b>F5 원곡 드럼</b> → " + f5);

  std::vector<std::wstring> rhythm;
  for (const RhythmRow& row : kRhythmRows) {
    int volume = 0, mute = 0;
    if (!LookupOldConfigInt(map, row.volume, volume)) continue;
    const bool muted = (LookupOldConfigInt(map, row.mute, mute) && mute != 0) || volume < 0;
    const int percent = muted ? 0 : std::min(volume, 150);
    if (apply) {
      Mixer.RhythmChannelPercent[row.channel] = percent;
      UpdateRhythmChannelLevel(row.channel);
    }
    rhythm.push_back(std::wstring(row.label) + L" " + FormatPercent(percent));
  }
  if (!rhythm.empty()) AppendReportLine(report, L"<b>ALT+F5 CVT 드럼</b> → " + Join(rhythm));

  // Rhythm tones: the older file counts entries of the part's type in the tone table.
  std::vector<std::wstring> tones;
  for (const ToneRow& row : kToneRows) {
    int index = 0;
    if (!LookupOldConfigInt(map, row.key, index) || index < 0) continue;
    int count = 0;
    for (const SoundTableEntry& e : table) {
      if (e.type != row.part || count++ != index) continue;
      if (apply) SetCvtToneSlot(row.part, row.variant, {true, e.name == L"Default", e.bank32, e.bank0, e.program, e.note, e.name});
      tones.push_back(std::wstring(row.label) + L" " + HtmlText(e.name));
      break;
    }
  }
  ImportDrumPitch(map, "BassDrumPitch", 9, L"B.D", tones, apply);
  ImportDrumPitch(map, "SnareDrumPitch", 10, L"S.D", tones, apply);
  if (!tones.empty()) AppendReportLine(report, L"<b>ALT+F4 음색</b> → " + Join(tones));
  else if (table.empty()) AppendReportLine(report, L"<b>ALT+F4 음색</b> → SOUNDTBL.CFG 를 못 찾아 건너뛰었습니다");

  EqSettingsValues eq = EqSettings;
  bool eqTaken = false;
  int v = 0;
  if (LookupOldConfigInt(map, "EqLowFreq", v) && (v == 0 || v == 1)) eq.lowFreq = v, eqTaken = true;
  if (LookupOldConfigInt(map, "EqHighFreq", v) && (v == 0 || v == 1)) eq.highFreq = v, eqTaken = true;
  if (LookupOldConfigInt(map, "Equalizer_L", v) && v >= -12 && v <= 12) eq.lowGain = v + 64, eqTaken = true;
  if (LookupOldConfigInt(map, "Equalizer_H", v) && v >= -12 && v <= 12) eq.highGain = v + 64, eqTaken = true;
  eq.lowGain = std::clamp(eq.lowGain, 52, 76);
  eq.highGain = std::clamp(eq.highGain, 52, 76);
  if (apply) EqSettings = eq;
  if (eqTaken)
    AppendReportLine(report, L"<b>CTRL+E EQ</b> → 저음 " + std::to_wstring(eq.lowGain - 64) + L"dB(" +
                                 (eq.lowFreq ? L"400Hz" : L"200Hz") + L") · 고음 " +
                                 std::to_wstring(eq.highGain - 64) + L"dB(" + (eq.highFreq ? L"6kHz" : L"3kHz") + L")");

  if (LookupOldConfigInt(map, "DefPlayKey", v) && v >= 0 && v <= 2) {
    if (apply) Settings.autoKeyMode = v;
    static constexpr const wchar_t* kKeyNames[] = {L"원키", L"남자키", L"여자키"};
    AppendReportLine(report, std::wstring(L"<b>곡 시작 자동 키</b> → ") + kKeyNames[v]);
  }
  if (LookupOldConfigInt(map, "Out4ch", v)) {
    const int mode = v != 0 ? 4 : 2;
    if (apply) Settings.outputMode = mode;
    AppendReportLine(report, L"<b>음성 출력</b> → " + std::to_wstring(mode) + L" OUT");
  }
  std::wstring model;
  for (const char* key : {"Port1Module", "ModuleName", "SoundModule", "Module", "MidiModule", "SynthModule"}) {
    std::string text;
    if (!LookupOldConfigText(map, key, text)) continue;
    const std::string low = ToLowerNarrow(text);
    if (low.find("8850") != std::string::npos) model = L"SC8850";
    else if (low.find("8820") != std::string::npos) model = L"SC8820";
    else if (low.find("88pro") != std::string::npos || low.find("88 pro") != std::string::npos) model = L"CS88Pro";
    break;
  }
  if (!model.empty()) {
    if (apply) {
      SetSettingText(&AppSettings::port1Module, model);
      SetSettingText(&AppSettings::port2Module, model);
    }
    AppendReportLine(report, L"<b>모듈</b> → 1/2포트 " + model);
  } else {
    AppendReportLine(report, L"<b>모듈</b> → 이 파일에는 모듈명이 없어 그대로 두었습니다(ALT+0 에서 직접 고르세요)");
  }
  AppendReportLine(report,
                   L"<span style='color:#8b9099;'>※ 음색은 SOUNDTBL.CFG 목록 순번 기준, EQ 게인은 dB 로 보고 넣습니다. "
                   L"소리를 들어보고 ALT+F4 / CTRL+E 에서 미세조정하세요. 가져오기 전 상태로 되돌리려면 ALT+0 의 설정 "
                   L"프리셋을 쓰세요.</span>");
  return report;
}

bool ImportOldConfig(const std::wstring& path, std::wstring& report) {
  OldConfigMap map;
  std::wstring why;
  report.clear();
  if (ParseOldConfigFile(path, map, &why) == 0) {
    if (!why.empty()) report = why;
    return false;
  }
  report = ApplyOldConfig(map, true, SoundTableSnapshot());
  SaveMixerConfig();
  SaveSoundSel();
  SaveEqConfig();
  SaveAppSettings();
  SendEnvSettingsToPage();
  return true;
}
