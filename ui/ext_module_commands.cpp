#include "ui/ext_module_commands.h"

#include <vector>

#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/settings/ext_routing.h"
#include "base/text.h"
#include "platform/midi_out.h"
#include "sound/ext_module.h"
#include "sound/midi_ports.h"
#include "sound/services.h"

namespace {

std::wstring ArgOf(const std::wstring& m) {
  const size_t colon = m.find(L':');
  return colon == std::wstring::npos ? std::wstring() : m.substr(colon + 1);
}

}  // namespace

void HandleExtList(const std::wstring&) {
  std::vector<std::wstring> names;
  const unsigned count = plat::MidiOutDeviceCount();
  for (unsigned i = 0; i < count; ++i) {
    std::wstring name;
    if (plat::MidiOutDeviceName(i, &name)) names.push_back(std::move(name));
  }
  PostScriptToPage(PageCall(L"setExtDevices", names, GetSettingText(&AppSettings::extDevice), GetExtModuleStatusText()));
}

void HandleExtPanic(const std::wstring&) { AllSoundOffAllPorts(); }

void HandleExtApply(const std::wstring& m) {
  std::vector<std::wstring> f = SplitWide(ArgOf(m), L'\t');
  f.resize(8);
  AllSoundOffAllPorts();
  Settings.extOn = LeadingInt(f[0]) != 0 ? 1 : 0;
  const int toCh = LeadingInt(f[1]);
  Settings.extToCh = toCh >= -1 && toCh <= 15 ? toCh : -1;
  Settings.extCc = LeadingInt(f[2]) != 0 ? 1 : 0;
  Settings.extPc = LeadingInt(f[3]) != 0 ? 1 : 0;
  Settings.extClock = LeadingInt(f[4]) != 0 ? 1 : 0;
  ParseExtRouting(f[5]);
  ParseExtNoteMap(f[6]);
  if (f[7] != GetSettingText(&AppSettings::extDevice)) {
    CloseExternalModule();
    SetSettingText(&AppSettings::extDevice, f[7]);
  }
  if (Settings.extOn) OpenExternalModule();
  StartStopExternalClock();
  AllSoundOffAllPorts();
  SaveAppSettings();
  PostScriptToPage(PageCall(L"setExtStatus", GetExtModuleStatusText()));
}
