#include "ui/program_update_commands.h"

#include <system_error>
#include <thread>

#include "base/debug_log.h"
#include "online/program_update.h"

void HandleCheckProgramUpgrade(const std::wstring&) {
  try {
    std::thread(ProgramUpdateThread).detach();
  } catch (const std::system_error&) {
    DebugLog(L"프로그램 업데이트: 작업 스레드를 시작하지 못함");
  }
}
