#pragma once
// Page commands of the song screen's score settings: the per-song score octaves and the
// operator's jump marks (both kept in their own files), chord and jump-mark offsets, the full
// score flag and the score text styles (kept in the application settings).
#include <string>
#include <string_view>

// Up to n colon-separated decimal integers from the front of text, as a C scanf of "%d:%d:..."
// reads them (a value beyond the int range is clamped). Returns how many were read.
int ScanColonInts(std::wstring_view text, int* out, int n);

void HandleScoreOctSave(const std::wstring& m);
void HandleSetUserMark(const std::wstring& m);
void HandleSetChordY(const std::wstring& m);
void HandleSetJumpMarkY(const std::wstring& m);
void HandleSetFullScore(const std::wstring& m);
void HandleSetScoreText(const std::wstring& m);
