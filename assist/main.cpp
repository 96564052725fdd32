// The customer support program: a keypad window that lets one support agent see and control
// this computer.
#include <cstdlib>

#include "assist/keypad.h"

int main() {
  int code = RunOrvane();
  // A session thread still running ends with the process; nothing is joined.
  std::quick_exit(code);
}
