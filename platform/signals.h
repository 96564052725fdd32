#pragma once
// SIGINT and SIGTERM ask the program to close its main window, as closing it by hand does.
#include <functional>

namespace plat {

// Installs the handlers; each signal then calls onSignal on a thread of its own (never inside the
// signal handler). Call once, before other threads start.
bool OnTerminationSignals(std::function<void()> onSignal);

}  // namespace plat
