#pragma once
// The song files ("<root>/system/P0012.MID", "P0012.txt", "E0012.txt", ...) and the small
// process-wide cache through which every reader gets their bytes. A song is read several times in
// a row when it starts (catalogue row, probes, text and MIDI analysis), so the last six files stay
// in memory. A cached file is checked against its size, times and identity on every hit, so a
// file replaced on disk is read again rather than served stale.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The number in decimal with "0" in front until it has at least four digits: 7 -> "0007".
std::wstring PadSongNumber(int number);

// "<root>/system/" + kind letter + padded number + extension (".MID" or ".txt").
std::wstring SongFilePath(wchar_t kind, int number, std::wstring_view extension);

// Largest song file read; a larger one counts as unreadable and is never read.
inline constexpr uint64_t kSongFileMaxBytes = 64ULL << 20;

// The whole file at `path` (an install path such as "<root>/system/P0012.MID"); empty when the
// file is missing, unreadable, empty or over kSongFileMaxBytes. Callable from any thread.
std::string ReadSongBytesCached(const std::wstring& path);
// The same bytes shared with the cache instead of copied (never null; empty as above).
std::shared_ptr<const std::string> ReadSongBytesShared(const std::wstring& path);

// Reads both files into the cache on a detached thread and returns at once.
void PrewarmSongFiles(const std::wstring& midiPath, const std::wstring& textPath);
void PrewarmSongFilesThread(std::wstring midiPath, std::wstring textPath);

// The argument of the page command "PREWARM_SONG:": a song number above 0 warms its MIDI file
// and song text; anything else does nothing.
void PrewarmSongCommand(std::wstring_view argument);

// True when the file can be opened for reading; nothing is read or cached.
bool SongFileAvailable(const std::wstring& path);

// Why the MIDI file at `path` cannot be played ("빈 파일입니다", "파일이 너무 큽니다: ...", "MIDI 파일이
// 아닙니다", ...), empty when it can be read as one. Reads it through the cache.
std::wstring MidiFileRefusal(const std::wstring& path);

// For tests: the cached paths, oldest first, and emptying the cache.
std::vector<std::wstring> SongByteCachePaths();
void ClearSongByteCache();
