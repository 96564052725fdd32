// make_demo_root ROOT: fills ROOT (an install root) with the demo song library and its catalogue.
#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/demo_songs.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_demo_root ROOT\n");
    return 2;
  }
  std::string error;
  if (!MakeDemoRoot(std::filesystem::absolute(argv[1]), &error)) {
    std::fprintf(stderr, "make_demo_root: %s\n", error.c_str());
    return 1;
  }
  std::printf("demo library: %zu songs in %s\n", DemoSongs().size(), argv[1]);
  return 0;
}
