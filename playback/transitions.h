#pragma once
// The next song over the running rhythm (its fill covers the change, the next song's first bar
// line lands on the engine's bar grid), the lyric-end transition, and in medley play mode the
// song-to-song fill after a song without the rhythm.
// "AUTO_NEXT_SONG_ID:": only while a song plays over the rhythm engine (on the calling thread).
void AutoNextWithFill(int songNumber);
