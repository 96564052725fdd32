#pragma once
// Start-up and shutdown of the program: the order of the start-up steps up to the message loop,
// the single-instance rule, the browser check, the global hotkey, the worker threads started at
// start, the graphics decision for the browser and the clean-up of stray files.
#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>

// The program's entry: returns the exit code, always 0.
int RunTavelo(int argc, char** argv);

// The graphics decision from the text of app_settings.cfg (four keys, a later line wins).
struct GpuDecision {
  int gpuForce = -1;  // -1 automatic, 0 off, 1 on
  int pcScore = -1;
  int customerMonitor = 0;
  int customerVideo = 0;
  bool on = false;
  std::wstring reason;
};
GpuDecision DecideGpuAcceleration(std::string_view settingsFileBytes);

// Deletes files left by a wrong deployment below `folder` (at most five levels down, never in a
// folder named "song", never the running program). Returns the number deleted.
int DeleteStrayFiles(const std::filesystem::path& folder, int depth);
bool IsStrayBuildFile(std::wstring_view name);
