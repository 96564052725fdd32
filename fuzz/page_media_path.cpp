// Fuzzes the media path check of the page server: whatever the request path, the answer is no
// file or a file inside the folder.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "platform/page_server.h"

namespace fs = std::filesystem;

namespace {

fs::path Folder() {
  static const fs::path folder = [] {
    fs::path base = fs::temp_directory_path() / ("tavelo_fuzz_media_" + std::to_string(::getpid()));
    fs::create_directories(base / "audio" / "Sub");
    std::ofstream(base / "audio" / "Song.mp3") << "a";
    std::ofstream(base / "audio" / "Sub" / "x.txt") << "b";
    std::ofstream(base / "secret.txt") << "c";
    std::error_code ec;
    fs::create_symlink(base / "secret.txt", base / "audio" / "out.txt", ec);
    fs::create_directory_symlink(base, base / "audio" / "up", ec);
    return fs::canonical(base / "audio");
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path folder = Folder();
  fs::path file = plat::ResolvePageMediaFile(
      folder, std::string_view(reinterpret_cast<const char*>(data), size));
  if (file.empty()) return 0;
  auto [f, r] = std::mismatch(folder.begin(), folder.end(), file.begin(), file.end());
  if (f != folder.end() || !fs::is_regular_file(file)) std::abort();
  return 0;
}
