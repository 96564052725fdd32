#pragma once
// Song preparation: makes one song ready to play. Stops the old run, makes the loaded song model
// describe exactly the two files (read again only when a path changed), opens the ports, decides
// key, tempo offset, start tick and medley end, and posts the song screen script. It does not
// start the player. Two preparations never overlap.
#include <string>
#include <string_view>
#include <vector>

// True when the song is prepared; false when the MIDI file is missing or the old run would not end.
bool PrepareSongForPlay(const std::wstring& midiPath, const std::wstring& textPath);
// Whether the file name is listed in "halftime_songs.txt".
bool IsHalftimeSong(std::wstring_view midiPath);
// "<root>/system/P" + the number padded to 4 digits + ".MID" / ".txt".
std::wstring SongMidiPath(int number);
std::wstring SongTextPath(int number);
// All notes off, reset all controllers and sustain off on every channel of both open ports.
void PanicAllChannels();
// The bass register: the whole octaves (in semitones, -24..24) that bring the style's bass to the
// song's, from the middle note of each list; 0 when either list is empty.
int BassOctaveShiftFor(std::vector<int> songBass, std::vector<int> styleBass);
