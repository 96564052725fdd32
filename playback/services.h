#pragma once
// What other subsystems call of the player and the rhythm engine.
#include <atomic>
#include <cstdint>

// The player's shared values (the fields read outside the player so far).
struct PlaybackStateValues {
  std::atomic<uint8_t> isPlaying{0};  // set while the player's event loop runs
};
extern PlaybackStateValues PlaybackState;
