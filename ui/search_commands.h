#pragma once
// Program side of the commands the search panel, the reservation queue, the history and the
// favourites post. Window thread.
#include <string>

// "HISTORY_SAVE:" + text: the whole history.log content.
void HandleHistorySave(const std::wstring& message);
// "FAV_SAVE:" + text: the whole favorites.log content.
void HandleFavSave(const std::wstring& message);
// "DUMP_SONG:" + number: what the program knows of the song, to the debug log.
void HandleDumpSong(const std::wstring& message);
// "SWITCH_TO_KOREAN_IME": logged; the page composes Hangul itself.
void HandleSwitchToKoreanIme(const std::wstring& message);
