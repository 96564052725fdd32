#pragma once
// Song start, jumps inside the playing song, and the next song without the rhythm engine.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

// The one entry for starting a song from its two files (window thread). A start within 3 s of
// the last accepted one is ignored (held or hammered Enter).
void LoadAndPlay(const std::wstring& midiPath, const std::wstring& textPath);

// Restarts the player at a tick. With `preservePause` or `cut` the sound is cut at once instead
// of faded. Jumps and transitions never overlap: one that arrives while another runs is refused.
// False when it was refused or the old run would not end.
bool JumpToTick(uint32_t tick, bool preservePause, bool useLeadIn, bool cut);

// Jumps and transitions never run at once: each takes this lock first (without waiting); an
// empty lock means another one runs and this one is refused.
std::unique_lock<std::mutex> TryBeginMove();

// The optional tempo, key and key mode of a start command: "n:tempo:key:mode".
void ParseNextSongArgs(std::wstring_view args);
// The next song on its own thread: "NEXT_SONG" (-1 = the loaded song again) and "NEXT_SONG_ID:".
void StartNextSongThread(int songNumber);
// "AUTO_NEXT_SONG_ID:": only while a song plays over the rhythm engine.
void StartAutoNextSongThread(int songNumber);
// The transition itself (on the calling thread).
void AttachNextSongOverCvt(int songNumber);

// The full reset: player stopped, every channel silenced, the page back to its home screen.
void PanicAndResetHome();
