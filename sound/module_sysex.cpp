#include "sound/module_sysex.h"

#include <map>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"
#include "sound/midi_send.h"

ModuleReplay ModuleReplayList;

namespace {

std::mutex g_syxMu;
std::map<std::wstring, std::vector<SysExMessage>> g_syxCache;  // entries are never removed

}  // namespace

std::vector<SysExMessage> ReadSyxFile(std::wstring_view fileName) {
  if (fileName.find_first_of(L"/\\") != std::wstring_view::npos) return {};
  auto bytes = plat::ReadFileBytes(
      plat::RealPath(L"<root>/system/system-exclive/" + std::wstring(fileName)));
  if (!bytes) return {};
  return SplitSysEx(*bytes);
}

SysExMessage BuildGsDt1(uint8_t a1, uint8_t a2, uint8_t a3, const std::vector<uint8_t>& data) {
  SysExMessage m = {0xF0, 0x41, 0x10, 0x42, 0x12, static_cast<uint8_t>(a1 & 0x7F),
                    static_cast<uint8_t>(a2 & 0x7F), static_cast<uint8_t>(a3 & 0x7F)};
  unsigned sum = m[5] + m[6] + m[7];
  for (uint8_t d : data) {
    m.push_back(d & 0x7F);
    sum += d & 0x7F;
  }
  m.push_back(static_cast<uint8_t>((128 - sum % 128) % 128));
  m.push_back(0xF7);
  return m;
}

const std::vector<SysExMessage>& GetSyxMessages(std::wstring_view fileName) {
  std::lock_guard lock(g_syxMu);
  auto it = g_syxCache.find(std::wstring(fileName));
  if (it == g_syxCache.end()) it = g_syxCache.emplace(std::wstring(fileName), ReadSyxFile(fileName)).first;
  return it->second;
}
