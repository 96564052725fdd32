#pragma once
// The song update's entry points from the page: the check with an alert (ALT+I), the dialog's
// run (incremental or full reinstall) and the board's date report. Each is a thread body.
#include <string_view>

void CheckSongUpdateThread();
void CheckSongDatesThread();
// The dialog's run. The caller has taken SongUpdateRunningFlag and hands it over: the clean-up
// of a full reinstall can then never run beside another update.
void RunSongUpdateFromModal(bool full);
// Deletes the song files, the catalogue and the update state files (full reinstall).
void CleanSongData();
// Deletes system files matching `pattern` ("P*.MID", case-blind) whose second character is a digit.
void DeleteNumberedSystemFiles(std::wstring_view pattern);
