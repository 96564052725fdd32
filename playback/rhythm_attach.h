#pragma once
// A song started over the running rhythm: the go time that puts its first note on a coming bar
// line of the rhythm, the attach thread that prepares it, and the scheduled start of the player.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "playback/go_time.h"
#include "playback/services.h"


// LoadAndPlay's attach path: true when the song goes over the running rhythm (taken or already
// under way), false when the normal start applies.
bool TryAttachToRunningRhythm(const std::wstring& midi, const std::wstring& text);
// A scheduled player start `leadMs` before `startAt`.
void StartAttachThread(uint32_t leadMs);
