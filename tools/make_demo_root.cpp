// make_demo_root [--synth] ROOT: fills ROOT (an install root) with the demo song library and its
// catalogue; with --synth also its synth folder with a SoundFont and the built-in synthesizer
// chosen (what tools/make-demo-root, and so run.sh, makes: a first song that sounds).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "tools/demo_songs.h"
#include "tools/demo_synth.h"

int main(int argc, char** argv) {
  const bool synth = argc == 3 && std::strcmp(argv[1], "--synth") == 0;
  if (argc != 2 && !synth) {
    std::fprintf(stderr, "usage: make_demo_root [--synth] ROOT\n");
    return 2;
  }
  const std::filesystem::path root = std::filesystem::absolute(argv[argc - 1]);
  std::string error;
  if (!MakeDemoRoot(root, &error) || (synth && !WriteDemoSynth(root, &error))) {
    std::fprintf(stderr, "make_demo_root: %s\n", error.c_str());
    return 1;
  }
  std::printf("demo library: %zu songs in %s\n", DemoSongs().size(), root.c_str());
  return 0;
}
