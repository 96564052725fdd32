#pragma once
// What other subsystems call of the song library that is not built yet. Each has a body in
// placeholders.cpp that logs once and returns the failure value.
#include <string>
#include <vector>

#include "songs/play_history.h"  // history and favourites, built
#include "songs/score_files.h"   // score octaves and user marks, built

// Song numbers of the pop songs' Korean text files ("E####.txt").
std::vector<int> CollectPopTextSongNumbers();
void LoadGenreIndex();
// Reads the pop-song Korean index into the song list; the number of songs it named.
int LoadPopKoIndex();
void StartGenreIndexBuild();
void StartPopKoIndexBuild();
