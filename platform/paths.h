#pragma once
// Install paths. The program names every file by its install path ("<root>/system/x.cfg");
// RealPath is the one place that turns such a name into a file of this machine, under the root
// given by TAVELO_ROOT (else $HOME/tavelo).
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>

namespace plat {

inline constexpr std::wstring_view kInstallRoot = L"<root>";

// The real install root. Read from the environment on first use; tests may set it.
std::filesystem::path RootDir();
void SetRootDir(const std::filesystem::path& root);

// Maps an install path ("<root>/...", or the older program's spelling of its root that its files
// may hold, see paths.cpp) to a real path below the root. Windows names are case-blind, so each existing component is matched without regard to
// case ("p0012.mid" finds "P0012.MID"). A path with a ".." component, or one that is neither an
// install path nor an absolute path of this machine, gives an empty path. A program file named
// with ".exe" maps to the program of that name in lower case ("<root>/Tavelo.exe" -> "tavelo").
std::filesystem::path RealPath(std::wstring_view installPath);

// Resolves many install paths in a row, as RealPath does, listing each folder at most once: for
// writing a package's many files into a large folder. Add tells it of a file it has created.
// One thread at a time.
class PathResolver {
 public:
  std::filesystem::path RealPath(std::wstring_view installPath);
  void Add(const std::filesystem::path& created);

 private:
  // Folder -> lower-case name -> the name as stored.
  std::unordered_map<std::string, std::unordered_map<std::wstring, std::string>> folders_;
};

// How many folders have been listed to match a name without regard to case (tests, benchmarks).
uint64_t CaseMatchListings();

// Joins a relative name to the install root: InstallPath(L"system/x") == L"<root>/system/x".
std::wstring InstallPath(std::wstring_view relative);

// The real path of an install path as text, for what the operator reads ("/home/x/tavelo/synth").
std::wstring ShownPath(std::wstring_view installPath);

// The running program's own file.
std::filesystem::path ExecutablePath();
// For tests: another file stands for the running program's (empty: the real one again).
void SetExecutablePath(const std::filesystem::path& program);

}  // namespace plat
