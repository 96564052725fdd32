#pragma once
// The PC check (ALT+F12): measures in about ten seconds, without sounding a note, what decides
// whether this PC keeps time while it paints lyrics and score, grades twelve items, scores the PC
// from 0 to 100 with a letter, shows the result in the page's panel, writes
// "<root>/system/pc_check.txt" and stores the score as `pcScore`.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sysinfo.h"

struct PcCheckItem {
  std::wstring name, value, advice;
  int grade = 1;  // 2 good, 1 fair, 0 poor, -1 not measured
  int weight = 1;
};

struct PcCheckState {
  std::atomic<uint8_t> PcCheckRunning{0};   // 1 while a check runs
  std::atomic<uint8_t> PcCheckPongFlag{0};  // the main page answered a round-trip probe
  // Whether the browser runs with graphics acceleration (set at start by the program).
  std::atomic<int> GpuAccelerationOn{0};
};
extern PcCheckState PcCheck;

// The grades of each item from its measurements.
PcCheckItem GradeTimer(double averageMs, double maximumMs);
// Intervals of a 2 ms sleep loop in milliseconds.
PcCheckItem GradeJitter(std::vector<double> intervals);
PcCheckItem GradeMidiOutput(bool portOpen, double averageMs, double maximumMs);
// fileBytes -1: no song to read; 0: the file gave no bytes.
PcCheckItem GradeSongRead(long long fileBytes, double ms);
// seek 1 solid state, 0 rotating, 255 unknown; readMs -1 unknown; freeGiB < 0 unknown.
PcCheckItem GradeDisk(int seek, double readMs, double freeGiB, double totalGiB);
PcCheckItem GradePageRoundTrip(double averageMs);
PcCheckItem GradeCpuClock(bool read, unsigned currentMhz, unsigned maximumMhz);
PcCheckItem GradePower(const plat::PowerStatus& power);
PcCheckItem GradeAntivirus(int code, const std::wstring& text);
PcCheckItem GradeSystem(bool read, const std::string& release, const std::string& machine);
PcCheckItem GradeCores(unsigned count);
PcCheckItem GradeMemory(bool read, double totalGiB, double availableGiB);

struct PcCheckResult {
  int score = 0;
  std::wstring letter, verdict;
};
// Weighted grades of the measured items (grade >= 0) as 0..100, letter and verdict.
PcCheckResult ScorePcCheck(const std::vector<PcCheckItem>& items);
// "showPcCheck([...], score, 'letter', 'verdict')" in its try block.
std::wstring BuildShowPcCheckScript(const std::vector<PcCheckItem>& items, const PcCheckResult& result);
// The report file's bytes: byte-order mark, UTF-8, CR LF lines.
std::string BuildPcCheckReport(const std::vector<PcCheckItem>& items, const PcCheckResult& result);

// "%.1f".
std::wstring FormatOneDecimal(double x);

// Starts the check on its own thread unless one runs.
void StartPcCheck();
// The check thread's body.
void RunPcCheck();
