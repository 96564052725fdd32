#pragma once
// The GS module's SysEx: DT1 parameter messages, the setup files of
// "<root>/system/system-exclive/", and the list of the song setup's messages that is replayed
// after a module reset in the song.
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

using SysExMessage = std::vector<uint8_t>;

// The song setup's SysEx, kept for replay after a module reset in the song.
struct ModuleReplay {
  std::mutex mu;
  std::vector<SysExMessage> list;
  size_t base = 0;         // ModuleReplayBase
  bool songEfxActive = false;
};
extern ModuleReplay ModuleReplayList;

SysExMessage BuildGsDt1(uint8_t a1, uint8_t a2, uint8_t a3, const std::vector<uint8_t>& data);
// The cached messages of a file of "<root>/system/system-exclive/".
const std::vector<SysExMessage>& GetSyxMessages(std::wstring_view fileName);
// The messages of such a file read now (no cache); empty when the name is not a bare file name or
// the file cannot be read.
std::vector<SysExMessage> ReadSyxFile(std::wstring_view fileName);
