#pragma once
// What other subsystems call of the online services; their shared state is defined in
// online_state.cpp.
#include <atomic>
#include <cstdint>

// Looks for a program update and applies it; true when it installed the base package.
bool CheckAndApplyProgramUpdate(bool manual);
// The song update of a start (automatic: the page's dialog opens only when new songs are found).
void CheckAndApplySongUpdate(bool automatic);
// Starts a new instance of the program and closes this one.
void RestartSelf();

// The online services' state read by the rest of the program.
struct OnlineState {
  // Set while a remote-support session runs (the window asks before closing while it is set).
  std::atomic<uint8_t> RemoteSupportActive{0};
  // Held by the program update check or the base package reinstall: one of them at a time.
  std::atomic<uint8_t> UpdateBusyFlag{0};
};
extern OnlineState Online;
// Reinstalls the base package (the update dialog's "zip" choice); a thread body.
void ForceReinstallBaseZip();
// Reads the member account file into the account the web login uses.
void LoadMemberAccount();
// Thread bodies started at start-up.
void NetStatusThread();
void RefreshKeysigTableThread();
void ResumeSupportThread();
