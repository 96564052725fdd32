#pragma once
// The song text beside each MIDI file ("<root>/system/P0012.txt"): header lines with the
// title, singer and key line, and a lyric section (between a ">" line and a "<" line) of lyric
// lines and chord lines; and the optional source-language lyrics of a J or C file beside it.
#include <string>
#include <string_view>
#include <vector>

#include "songs/song_model.h"

// Resets the text part of `model` and fills it from the song text (read through the song file
// cache). A missing or empty file leaves the reset values.
void ParseSongText(SongModel& model, const std::wstring& textPath);
void ParseSongTextBytes(SongModel& model, std::string_view bytes);

// How a lyric-section line is read.
enum class SectionLineKind { kLyric, kChord, kDropped };
// `line` is the line as read; `cut` receives it without trailing blanks, tabs, CR and U+3000.
SectionLineKind ClassifySectionLine(std::wstring_view line, std::wstring* cut);

// No-chord spellings standing alone (N.C, N C, N,C) become "NC".
std::wstring NormalizeNoChord(std::wstring_view line);

// Whole-file reader with byte-order-mark detection (UTF-16 either way, UTF-8); every line, empty
// ones included.
std::vector<std::wstring> ReadTextLines(const std::wstring& path);
std::vector<std::wstring> TextLinesFromBytes(std::string_view bytes);

// Fills ExtraTextLines from "J<digits>.txt", else "C<digits>.txt", beside the song text.
void LoadSongExtraText(SongModel& model, const std::wstring& textPath);
