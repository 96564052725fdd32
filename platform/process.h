#pragma once
// Runs a command without a window (no terminal, standard streams on /dev/null) and waits for it
// with a time limit, in place of CreateProcess + WaitForSingleObject.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// The exit code reported for a process still running when the wait ends (STILL_ACTIVE).
inline constexpr int kStillActive = 259;

// Starts argv[0] (looked up in PATH when it has no slash) and waits at most timeoutMs. Returns its
// exit code, 128 + the signal number when a signal ended it, kStillActive when it is still running
// (it is left running and reaped in the background), or -1 when it cannot be started.
int RunHiddenAndWait(const std::vector<std::string>& argv, unsigned timeoutMs);

// The same for a command line, split as Windows splits one: blanks separate arguments, double
// quotes group, backslashes before a double quote escape it.
int RunHiddenAndWait(std::wstring_view commandLine, unsigned timeoutMs);
std::vector<std::string> SplitCommandLine(std::wstring_view commandLine);

// Runs a command line hidden with its standard output and standard error going to a new temporary
// file ("tav..." in the temporary folder), waits at most timeoutMs (a command still running is
// left running) and returns the file's bytes; the file is always deleted. Empty when the file or
// the process could not be made.
std::string RunHiddenCommandCapture(std::wstring_view commandLine, unsigned timeoutMs = 20000);

// Like RunHiddenAndWait, but a command still running when the wait ends is ended with all it
// started, so the next step never works beside it. Returns kStillActive then.
int RunHiddenAndWaitOrEnd(const std::vector<std::string>& argv, unsigned timeoutMs);

// Starts `program` without waiting for it, in `cwd` (empty: ours). With `asSuccessor` the new
// process knows that it follows this one (TakeSuccessorMark), so it waits for this one to end
// instead of asking it to come forward.
bool StartProgram(const std::filesystem::path& program, const std::filesystem::path& cwd,
                   bool asSuccessor);

// True in a process that StartProgram started as a successor. Read once: the mark is removed
// from the environment, so programs this one starts do not inherit it.
bool TakeSuccessorMark();

}  // namespace plat

namespace plat {
// Sets a variable of this process's environment (inherited by processes started later).
void SetEnvironmentVariable(const std::string& name, const std::string& value);
}  // namespace plat
