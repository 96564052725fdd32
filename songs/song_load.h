#pragma once
// Loading a song: its MIDI and text files analysed into a new song model that is then published.
#include <memory>
#include <string>
#include <vector>

#include "songs/song_model.h"

// Reads both files into a new model and publishes it: the song text, the MIDI file, the caller's
// event adjustment (the sound setup's patch substitution, which lives above this layer), the
// singer keys, the extra lyric text and the bass part, in that order. A MIDI file that cannot be
// read leaves an empty event list and keeps the previous song's division, bars, loudness and
// articulation. Returns the published model.
using SongEventAdjust = void (*)(std::vector<SongEvent>& events);
std::shared_ptr<const SongModel> RebuildSongModel(const std::wstring& midiPath, const std::wstring& textPath,
                                                  SongEventAdjust adjustEvents = nullptr);
