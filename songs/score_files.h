#pragma once
// Per-song score settings kept in two small files under the system folder, each loaded whole at
// start and rewritten whole after every change: "score_oct.cfg" (how the score transposes and
// moves the two melody staves) and "usermarks.cfg" (the operator's own jump marks).
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

struct UserMarks {
  int64_t j = -1;   // short intro target tick, -1 unset
  int64_t k = -1;   // short interlude target tick
  int64_t v3 = -1;  // third verse tick
  bool operator==(const UserMarks&) const = default;
};

// Loaded by the start-up load thread before the page can send changes; afterwards read and
// changed on the window thread only (song start and page commands), so no lock.
struct ScoreFilesState {
  std::map<int, std::array<int, 4>> ScoreOctMap;  // song -> tU, tL, oU, oL
  std::map<int, UserMarks> UserMarkMap;           // song -> marks
};
extern ScoreFilesState ScoreFiles;

// File text <-> maps. Reading skips lines it cannot read and limits the values; writing keeps
// the values as stored (score octaves) or leaves out songs without a mark (user marks).
std::map<int, std::array<int, 4>> ParseScoreOct(std::string_view bytes);
std::string FormatScoreOct(const std::map<int, std::array<int, 4>>& map);
std::map<int, UserMarks> ParseUserMarks(std::string_view bytes);
std::string FormatUserMarks(const std::map<int, UserMarks>& map);

void LoadScoreOctConfig();
void SaveScoreOctConfig();
void LoadUserMarks();
void SaveUserMarks();
