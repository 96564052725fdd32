#pragma once
// The font families installed on this machine (fontconfig), for the lyric font choice.
#include <string>
#include <vector>

namespace plat {

// Family names (UTF-8), each once: those that cover Korean first, then the others, each group
// sorted. Empty when fontconfig cannot be asked.
std::vector<std::string> InstalledFontFamilies();

}  // namespace plat
