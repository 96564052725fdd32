#pragma once
// The program's own file: the test that a downloaded file is a program this system can start, and
// the swap that puts a new release in place of the running program file.
#include <filesystem>
#include <functional>

namespace plat {

// True when the file begins with the ELF signature.
bool IsProgramFile(const std::filesystem::path& file);

// Where the previous copy of a program file is kept: "<program>_old" beside it.
std::filesystem::path PreviousProgramFile(const std::filesystem::path& program);

// Steps of SwapProgramFile, in order.
enum class SwapStep {
  kStageNew,     // copy the new file beside the program (same file system), executable, flushed
  kKeepPrevious, // the running program file becomes `previous` as well (hard link, else a copy)
  kReplace,      // rename the staged copy over the program file
};

// Puts `newFile` in place of `program`; `previous` keeps the replaced program file. The program
// path holds a whole, executable program file at every moment (the old one until the final
// rename), so a failure or a crash at any step leaves a program that starts. False when a step
// failed; `program` is then unchanged and the staged copy removed.
bool SwapProgramFile(const std::filesystem::path& newFile, const std::filesystem::path& program,
                     const std::filesystem::path& previous);

// For tests: called before each step; false makes that step fail.
void SetSwapStepHook(std::function<bool(SwapStep)> hook);

}  // namespace plat
