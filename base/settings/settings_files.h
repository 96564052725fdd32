#pragma once
// Whole-file reads and rewrites of the settings, preset and per-song files. Every rewrite goes
// through a temporary file and a rename, under one lock per file, so two threads that rewrite the
// same file never interleave and a read-modify-write never loses the other thread's update.
#include <mutex>
#include <string>
#include <string_view>

// The lock of one install path ("<root>/system/x.cfg"); the same path always gives the same
// mutex, whatever its case or slash style.
std::mutex& SettingsFileLock(std::wstring_view installPath);

// The whole file as bytes; empty when it cannot be read.
std::string ReadFileText(std::wstring_view installPath);

// Rewrites the file whole (parent folders created) under its lock. False when it failed; the old
// file is then untouched.
bool WriteFileText(std::wstring_view installPath, std::string_view bytes);

// The same for a caller that already holds SettingsFileLock(installPath).
bool WriteFileTextLocked(std::wstring_view installPath, std::string_view bytes);
