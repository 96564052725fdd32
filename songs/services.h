#pragma once
// What other subsystems call of the song library that is not built yet. Each has a body in
// placeholders.cpp that logs once and returns the failure value.

// Reads the pop-song Korean index into the song list; the number of songs it named.
int LoadPopKoIndex();
// Marks the last play-history entry as used (at shutdown).
void MarkLastHistoryInsUsed();
