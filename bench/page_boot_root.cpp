// bench_page_boot_root ROOT [SONGS]: fills the install root ROOT with a catalogue of SONGS songs
// (60,000 by default) for the page boot benchmark (bench/page_boot.mjs): songs.csv and, in the
// system folder like a real install, one MIDI file and one song text per song. A root that
// already holds a songs.csv of that many songs is kept as it is.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/text.h"
#include "songs/song_catalog.h"
#include "songs/song_file_cache.h"

#include "bench_catalogue.h"

namespace fs = std::filesystem;

namespace {

bool WriteSmallFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_page_boot_root ROOT [SONGS]\n");
    return 2;
  }
  const fs::path root = fs::absolute(argv[1]);
  const int songs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60000;
  const fs::path system = root / "system";
  const fs::path stamp = root / ("bench_songs_" + std::to_string(songs));
  if (fs::exists(stamp)) {
    std::printf("catalogue of %d songs already in %s\n", songs, root.c_str());
    return 0;
  }
  std::error_code ec;
  fs::create_directories(system, ec);

  bool written = true;
  const std::string csv = BenchCatalogueCsv(songs, [&](int i, const std::wstring& title, const std::wstring& singer,
                                                       const std::wstring& line1) {
    const std::string name = "P" + WideToUtf8(PadSongNumber(i));
    written = written && WriteSmallFile(system / (name + ".MID"), kBenchSongMidi) &&
              WriteSmallFile(system / (name + ".txt"), WideToUtf8(title + L"\n" + singer + L"\n" + line1 + L"\n"));
  });
  if (!written) {
    std::fprintf(stderr, "cannot write the song files in %s\n", system.c_str());
    return 1;
  }
  if (!WriteSmallFile(system / "songs.csv", csv) || !WriteSmallFile(stamp, "")) {
    std::fprintf(stderr, "cannot write songs.csv in %s\n", system.c_str());
    return 1;
  }
  std::printf("catalogue: %d songs, songs.csv %zu bytes, in %s\n", songs, csv.size(), root.c_str());
  return 0;
}
