#pragma once
// The rhythm check's scan: for the nine digit-key styles, which part files exist in the style
// folder and which file each of the four fills would really use; and the style codes the folder
// holds that no digit reaches. Reads files only, no lock.
#include <array>
#include <string>
#include <string_view>
#include <vector>

struct RhythmCheckFill {
  int source = 0;         // 0 none, 1 the style's own file, 2 borrowed from DS1, 3 the style's F1
  bool synthDrums = false;  // channel 13 or 14 of the file has a program change and a note-on
  std::wstring file;      // file name without folder, empty for none
};

struct RhythmCheckRow {
  int number = 0;         // 1..9
  std::wstring style;
  bool p1 = false, p2 = false, ed = false, intro = false;
  std::array<RhythmCheckFill, 4> fills;
};

struct RhythmCheckScan {
  std::vector<RhythmCheckRow> rows;   // numbers 1 to 9
  std::vector<std::wstring> orphans;  // upper-cased codes of "*-P1.MID" files no number reaches
};

RhythmCheckScan ScanRhythmStyles();

// The page call "setRhythmCheck([rows],'<active>',<variation>,<running>,[orphans])", every
// code and file name escaped as a text literal.
std::wstring BuildRhythmCheckScript(const RhythmCheckScan& scan, std::wstring_view activeStyle, int variation,
                                    bool running);
