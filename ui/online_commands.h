#pragma once
// Page commands that start the song update services (window thread): each starts one detached
// worker thread and returns; the service reports back to the page itself.
#include <string>

void HandleRunSongUpdate(const std::wstring& m);
void HandleCheckSongUpdate(const std::wstring& m);
void HandleCheckSongDates(const std::wstring& m);
