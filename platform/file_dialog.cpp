#include "platform/file_dialog.h"

#include <FL/Fl.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <mutex>
#include <system_error>
#include <unistd.h>

#include "platform/codepage.h"
#include "platform/message_box.h"

namespace plat {

std::filesystem::path PickOpenFile(const std::wstring& title, const std::vector<FileFilter>& filters) {
  if (!DisplayAvailable()) return {};
  static std::mutex dialogMutex;
  std::lock_guard lock(dialogMutex);
  std::error_code ec;
  const auto cwd = std::filesystem::current_path(ec);
  // FLTK filters: "Name\t*.{jpg,png}" one per line.
  std::string filterText;
  for (const auto& f : filters) {
    std::string pattern = WideToUtf8Bytes(f.pattern);
    std::string list;
    size_t pos = 0;
    while (pos <= pattern.size()) {
      size_t next = pattern.find(';', pos);
      if (next == std::string::npos) next = pattern.size();
      std::string one = pattern.substr(pos, next - pos);
      if (one.rfind("*.", 0) == 0) {
        if (!list.empty()) list += ',';
        list += one.substr(2);
      }
      pos = next + 1;
    }
    if (!filterText.empty()) filterText += '\n';
    filterText += WideToUtf8Bytes(f.name) + "\t" + (list == "*" ? std::string("*") : "*.{" + list + "}");
  }
  const std::string titleText = WideToUtf8Bytes(title);
  Fl_Native_File_Chooser chooser(Fl_Native_File_Chooser::BROWSE_FILE);
  chooser.title(titleText.c_str());
  chooser.filter(filterText.c_str());
  std::filesystem::path picked;
  if (chooser.show() == 0 && chooser.filename()) picked = chooser.filename();
  if (!cwd.empty()) std::filesystem::current_path(cwd, ec);
  if (!picked.empty() && !std::filesystem::is_regular_file(picked, ec)) picked.clear();
  return picked;
}

}  // namespace plat
