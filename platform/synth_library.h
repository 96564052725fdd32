#pragma once
// Run-time binding of the software synthesizer library (FluidSynth): which files to try, in
// which order, and the load and symbol lookup themselves. The library is never linked.
#include <filesystem>
#include <string>
#include <vector>

namespace plat {

// Files of `synthDir` whose lower-cased name is longer than 9 characters and contains
// "fluidsynth", in sorted order (a missing folder gives none).
std::vector<std::filesystem::path> SynthLibraryFiles(const std::filesystem::path& synthDir);

// The system's own FluidSynth library, tried after the synth folder's files.
inline constexpr const char* kSystemSynthLibrary = "libfluidsynth.so.3";

struct LibraryLoadError {
  int code = 0;          // 193: wrong word size, 126: a library it needs is missing, else 0
  std::string message;   // the loader's own text
};

// Loads a library (a path, or a bare name for the system's search). Null and `error` filled on
// failure. A loaded library stays loaded for the whole run.
void* LoadLibraryFile(const std::string& pathOrName, LibraryLoadError* error);
void* LibrarySymbol(void* library, const char* name);

// The system's General MIDI SoundFonts (Debian's timgm6mb-soundfont, fluid-soundfont-gm and the
// like in /usr/share/sounds/sf2): the one the system names as its default first, then the others
// in sorted order. None when the folder is missing.
std::vector<std::filesystem::path> SystemSoundFontFiles();
// For tests: another folder stands for the system's SoundFont folder (empty: the real one again).
void SetSystemSoundFontDir(const std::filesystem::path& dir);

// The file that the synthesizer renders into instead of a sound card ($TAVELO_SYNTH_FILE; machines
// without sound and the tests); empty when unset.
std::string SynthRenderFileSetting();

}  // namespace plat
