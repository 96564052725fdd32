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

// The file that the synthesizer renders into instead of a sound card ($TAVELO_SYNTH_FILE; machines
// without sound and the tests); empty when unset.
std::string SynthRenderFileSetting();

}  // namespace plat
