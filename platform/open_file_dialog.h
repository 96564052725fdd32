#pragma once
// The system's open-file dialog. With an X display it is FLTK's file chooser; without one the
// dialog counts as cancelled and that is logged by the caller. For tests, TAVELO_TEST_PICK_FILE
// names a file whose first line is taken as the operator's pick (an empty line: cancelled) instead
// of showing a dialog.
#include <string>
#include <vector>

namespace plat {

struct FileDialogFilter {
  std::wstring label;    // "설정 파일 (*.cfg;*.ini;*.txt)"
  std::wstring pattern;  // "*.cfg;*.ini;*.txt"
};

struct OpenFileDialog {
  std::wstring title;
  std::vector<FileDialogFilter> filters;
  std::wstring fileName;     // preset file name, may be empty
  std::wstring startFolder;  // real folder, may be empty
};

enum class FileDialogOutcome { kPicked, kCancelled, kNoDisplay };

struct FileDialogResult {
  FileDialogOutcome outcome = FileDialogOutcome::kCancelled;
  std::wstring path;  // set when picked: an existing file
};

// Modal: returns when the operator has picked a file or closed the dialog.
FileDialogResult ShowOpenFileDialog(const OpenFileDialog& dialog);

}  // namespace plat
