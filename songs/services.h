#pragma once
// What other subsystems call of the song library that is not built yet. Each has a body in
// placeholders.cpp that logs once and returns the failure value.
#include <string>
#include <vector>

std::wstring BuildFavoritesPayload();
std::wstring BuildHistoryPayload();
// Song numbers of the pop songs' Korean text files ("E####.txt").
std::vector<int> CollectPopTextSongNumbers();
void LoadFavorites();
void LoadGenreIndex();
void LoadPlayHistory();
// Reads the pop-song Korean index into the song list; the number of songs it named.
int LoadPopKoIndex();
void LoadScoreOctConfig();
void LoadUserMarks();
// Marks the last play-history entry as used (at shutdown).
void MarkLastHistoryInsUsed();
void StartGenreIndexBuild();
void StartPopKoIndexBuild();
