#include "tools/demo_synth.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <system_error>
#include <vector>

#include "platform/files.h"
#include "platform/synth_library.h"

namespace fs = std::filesystem;

namespace {

bool IsSoundFont(const fs::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".sf2";
}

// The first SoundFont of the synth folder, linking the system's one in when there is none.
std::string SoundFontOfRoot(const fs::path& synth) {
  std::error_code ec;
  std::vector<std::string> own;
  for (fs::directory_iterator it(synth, ec), end; !ec && it != end; it.increment(ec))
    if (IsSoundFont(it->path())) own.push_back(it->path().filename().string());
  std::sort(own.begin(), own.end());
  if (!own.empty()) return own.front();
  const std::vector<fs::path> system = plat::SystemSoundFontFiles();
  if (system.empty()) return {};
  // default-GM.sf2 is the alternatives system's link: the file it names keeps its own name.
  fs::path target = fs::canonical(system.front(), ec);
  if (ec) target = system.front();
  const fs::path link = synth / target.filename();
  fs::create_symlink(target, link, ec);
  return ec ? std::string() : target.filename().string();
}

}  // namespace

bool WriteDemoSynth(const fs::path& root, std::string* error) {
  const fs::path synth = root / "synth";
  std::error_code ec;
  fs::create_directories(synth, ec);
  const std::string font = SoundFontOfRoot(synth);
  if (font.empty()) {
    std::fprintf(stderr,
                 "make_demo_root: no General MIDI SoundFont on this machine - the songs play silent until "
                 "one is in %s (apt-get install timgm6mb-soundfont or fluid-soundfont-gm)\n",
                 synth.c_str());
    return true;
  }
  const fs::path settings = root / "system" / "app_settings.cfg";
  if (fs::exists(settings, ec)) return true;  // the operator's settings stay as they are
  if (plat::WriteFileAtomic(settings, "builtinSynth=1\nsynthSf2=" + font + "\n")) return true;
  *error = "cannot write " + settings.string();
  return false;
}
