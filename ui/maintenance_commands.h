#pragma once
// Stage-one page commands of the song library: the vocal export, the two song-list maintenance
// jobs, and the source-language lyrics flag (window thread).
#include <string>

// "VOCAL_EXPORT:" + song number "|" syllable marks.
void HandleVocalExport(const std::wstring& m);
// "SYNC_MISSING_SONGS": adds hand-placed song files to the list on a worker thread.
void HandleSyncMissingSongs(const std::wstring& m);
// "REBUILD_POPKO": rebuilds the pop-song Korean index on a worker thread.
void HandleRebuildPopKo(const std::wstring& m);
// "SET_ORIG_LANG:" + 0/1: the customer page follows the main page's source-language lyrics.
void HandleSetOrigLang(const std::wstring& m);
