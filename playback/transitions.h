#pragma once
// The next song over the running rhythm (its fill covers the change, the next song's first bar
// line lands on the engine's bar grid), the lyric-end transition, and in medley play mode the
// song-to-song fill after a song without the rhythm.
#include <mutex>

// "AUTO_NEXT_SONG_ID:": only while a song plays over the rhythm engine (on the calling thread).
void AutoNextWithFill(int songNumber);

// Jumps and transitions never run at once: each takes this lock first (without waiting); an
// empty lock means another one runs and this one is refused.
std::unique_lock<std::mutex> TryBeginMove();
