#pragma once
// The two worker threads of a start: the start-up load thread reads every data and settings file
// the page and the player need (the page boot joins it before it sends the page its first data);
// the start-up update thread installs the program's copy and autostart entry and looks for updates.
#include <thread>

// The load thread, started by the start-up and joined by the first page boot.
extern std::thread StartupLoadThread;

// Body of the start-up load thread. Always reaches its end, whatever the files hold.
void RunStartupLoad();

// Body of the start-up update thread (detached).
void RunStartupUpdates();
