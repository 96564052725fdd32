#pragma once
// The open-file dialog, owned by the program's windows.
#include <filesystem>
#include <string>
#include <vector>

namespace plat {

struct FileFilter {
  std::wstring name;     // shown to the user
  std::wstring pattern;  // "*.jpg;*.png" or "*.*"
};

// The path of an existing file the user picked, or empty when cancelled (or without a display).
// The process's current folder is left as it was.
std::filesystem::path PickOpenFile(const std::wstring& title, const std::vector<FileFilter>& filters);

}  // namespace plat
