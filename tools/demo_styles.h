#pragma once
// The demo rhythm styles: our own patterns for the nine digit-key styles (DS1-DS5, SG1, DS7-DS9)
// written as style part files "<STYLE>-<PART>.MID" into "<root>/pxr", the ending flourish
// "GG3-ED.MID", and the list of songs the rhythm plays at half speed
// ("<root>/system/halftime_songs.txt"). Used by tools/make-demo-root and the tests.
#include <filesystem>
#include <string>
#include <vector>

struct DemoStyleFile {
  std::string name;   // file name inside "pxr", e.g. "DS3-P2.MID"
  std::string bytes;  // the standard MIDI file
};

// Every style file of the demo library, style by style. Some styles lack some fills on purpose
// (DS9 has none), so that fills are borrowed from DS1 or replaced by the style's own F1.
std::vector<DemoStyleFile> DemoStyleFiles();

// The song file named in "halftime_songs.txt" (a fast 4/4 demo song).
std::string DemoHalftimeSongFile();

// Writes the style files and "halftime_songs.txt"; files already there are kept. False with a
// message when a file cannot be written.
bool WriteDemoStyles(const std::filesystem::path& root, std::string* error);
