#pragma once
// Two analyses at the end of every MIDI parse: how loud the song's notes are (to level songs
// against each other), and the accents and articulation of the melody notes for the player's
// saxophone expression.
#include <cstddef>
#include <vector>

#include "songs/song_model.h"

// 100 x log10 of the 90th percentile of the note energy per 250 ms window, rounded;
// kUnknownLoudness when the song has too little material.
int EstimateSongLoudness(const SongModel& model);

// The bytes the loudness pass keeps on the calling thread for the next song's notes (for the
// memory check of giant files).
size_t LoudnessNoteMemoryKept();

// The 90th percentile of the values above 0; 0 when fewer than 8 are. Reorders `values`.
double Percentile90(std::vector<double>& values);

// One entry per event; the note-ons of the melody (port 1, channel 1) get theirs.
void BuildMelodyArticulation(SongModel& model);
