#include "platform/synth_library.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <system_error>

namespace plat {

std::vector<std::filesystem::path> SynthLibraryFiles(const std::filesystem::path& synthDir) {
  std::vector<std::filesystem::path> out;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(synthDir, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code fec;
    if (it->is_directory(fec)) continue;
    std::string name = it->path().filename().string();
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.size() > 9 && lower.find("fluidsynth") != std::string::npos) out.push_back(it->path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

void* LoadLibraryFile(const std::string& pathOrName, LibraryLoadError* error) {
  dlerror();
  void* lib = dlopen(pathOrName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib) return lib;
  if (error) {
    const char* text = dlerror();
    error->message = text ? text : "";
    if (error->message.find("wrong ELF class") != std::string::npos)
      error->code = 193;
    else if (error->message.find("cannot open shared object file") != std::string::npos &&
             error->message.find(pathOrName) == std::string::npos)
      error->code = 126;
    else
      error->code = 0;
  }
  return nullptr;
}

void* LibrarySymbol(void* library, const char* name) {
  if (!library || !name) return nullptr;
  return dlsym(library, name);
}

namespace {
std::mutex soundFontDirMutex;
std::filesystem::path soundFontDirOverride;
}  // namespace

void SetSystemSoundFontDir(const std::filesystem::path& dir) {
  std::lock_guard lock(soundFontDirMutex);
  soundFontDirOverride = dir;
}

std::vector<std::filesystem::path> SystemSoundFontFiles() {
  std::filesystem::path dir = "/usr/share/sounds/sf2";
  {
    std::lock_guard lock(soundFontDirMutex);
    if (!soundFontDirOverride.empty()) dir = soundFontDirOverride;
  }
  std::vector<std::filesystem::path> out;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fec;
    if (!it->is_regular_file(fec)) continue;  // follows links: default-GM.sf2 is one
    std::string ext = it->path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".sf2") out.push_back(it->path());
  }
  std::sort(out.begin(), out.end());
  // The alternatives system's choice of General MIDI SoundFont comes first.
  std::stable_partition(out.begin(), out.end(),
                        [](const std::filesystem::path& p) { return p.filename() == "default-GM.sf2"; });
  return out;
}

std::string SynthRenderFileSetting() {
  const char* file = std::getenv("TAVELO_SYNTH_FILE");
  return file ? file : "";
}

}  // namespace plat
