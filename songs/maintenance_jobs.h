#pragma once
// The two song-list maintenance jobs of the settings panel: adding the hand-placed song files
// (MIDI files without a songs.csv row) to songs.csv and the list, and rebuilding the pop-song
// Korean index from every Korean text file. Each runs on its own detached thread at below-normal
// priority, and only one of each kind runs at a time.
#include <string_view>
#include <vector>

// Adds the first 200 unlisted songs now (rows, reload, both indexes, page update) and hands the
// rest to a background thread; the number added now.
int AddHandPlacedSongs();
// The songs after the first 200: waits, adds them, updates the page.
void AddRemainingHandPlacedSongsThread(const std::vector<int>& numbers);
// Body of the sync job (its caller has set the sync flag): logs, adds, reports the count in the
// badge; the flag is cleared when the last batch is in.
void RunManualSongSync();
// Body of the rebuild job: the index from every Korean text file, the songs.csv patch, the badge
// and the list refresh.
void RebuildPopKoIndex();

// Start the jobs on detached threads, showing `startedBadge` (when given) before the job runs.
// False, with no thread started and no badge, while a job of the same kind runs (or when no
// thread could be started).
bool StartManualSongSync(std::wstring_view startedBadge = {});
bool StartPopKoIndexRebuild(std::wstring_view startedBadge = {});
