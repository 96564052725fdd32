#include "app/debug_log.h"

// Placeholder start-up until the shell lands.
int RunTavelo(int, char**) {
  DebugLog(L"start");
  return 0;
}
