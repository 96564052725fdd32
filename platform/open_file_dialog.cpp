#include "platform/open_file_dialog.h"

#include <FL/Fl.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/message_box.h"

namespace plat {

namespace {

// FLTK's filter text: "label\tpattern" lines, patterns as "{a,b}" lists.
std::string FltkFilter(const std::vector<FileDialogFilter>& filters) {
  std::string out;
  for (const FileDialogFilter& f : filters) {
    std::string pattern = WideToUtf8Bytes(f.pattern);
    if (pattern.find(';') != std::string::npos) {
      std::string list;
      for (char c : pattern) list += c == ';' ? ',' : c;
      pattern = "{" + list + "}";
    }
    if (!out.empty()) out += '\n';
    out += WideToUtf8Bytes(f.label) + "\t" + pattern;
  }
  return out;
}

std::optional<FileDialogResult> TestPick() {
  const char* switchFile = std::getenv("TAVELO_TEST_PICK_FILE");
  if (!switchFile || !*switchFile) return std::nullopt;
  std::string text = ReadFileBytes(switchFile).value_or("");
  const size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  if (text.empty()) return FileDialogResult{FileDialogOutcome::kCancelled, {}};
  return FileDialogResult{FileDialogOutcome::kPicked, Utf8BytesToWide(text)};
}

}  // namespace

FileDialogResult ShowOpenFileDialog(const OpenFileDialog& dialog) {
  if (auto pick = TestPick()) return *pick;
  if (!DisplayAvailable()) return {FileDialogOutcome::kNoDisplay, {}};
  static std::mutex dialogMutex;
  std::lock_guard lock(dialogMutex);
  Fl_Native_File_Chooser chooser(Fl_Native_File_Chooser::BROWSE_FILE);
  const std::string title = WideToUtf8Bytes(dialog.title);
  const std::string filter = FltkFilter(dialog.filters);
  const std::string name = WideToUtf8Bytes(dialog.fileName);
  const std::string folder = WideToUtf8Bytes(dialog.startFolder);
  chooser.title(title.c_str());
  if (!filter.empty()) chooser.filter(filter.c_str());
  if (!folder.empty()) chooser.directory(folder.c_str());
  if (!name.empty()) chooser.preset_file(name.c_str());
  if (chooser.show() != 0 || !chooser.filename() || !*chooser.filename()) return {};
  std::error_code ec;
  if (!std::filesystem::is_regular_file(chooser.filename(), ec)) return {};
  return {FileDialogOutcome::kPicked, Utf8BytesToWide(chooser.filename())};
}

}  // namespace plat
