#include "base/test_switches.h"

#include <cstdlib>

namespace {

std::string Switch(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

bool TestCommandsSwitch() { return Switch("TAVELO_TEST_COMMANDS") == "1"; }
std::string WebBaseSwitch() { return Switch("TAVELO_WEB_BASE"); }
std::string NetProbeSwitch() { return Switch("TAVELO_NET_PROBE"); }
std::string RsResumeDelaySwitch() { return Switch("TAVELO_RS_RESUME_DELAY_MS"); }
std::string IndexDelaySwitch() { return Switch("TAVELO_INDEX_DELAY_MS"); }
