// libFuzzer target: the readers of the song-list indexes (genre.idx, popko.idx), the songs.csv
// patch with the Korean readings, and the vocal export's mark reader never crash, hang or read out
// of bounds; the patch always leaves a songs.csv in place. The input holds up to four parts
// separated by NUL bytes: genre.idx, popko.idx lines, songs.csv, the vocal export's argument.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <random>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "songs/song_indexes.h"
#include "songs/song_list.h"
#include "songs/song_model.h"
#include "songs/vocal_export.h"

namespace {

// The install root of the run, removed when the fuzzer ends.
struct FuzzRoot {
  std::filesystem::path path = std::filesystem::temp_directory_path() /
                               ("tavelo_fuzz_indexes_" + std::to_string(std::random_device{}()));
  ~FuzzRoot() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

const std::filesystem::path& Root() {
  static FuzzRoot owner;
  static const std::filesystem::path root = [] {
    const std::filesystem::path& p = owner.path;
    std::filesystem::create_directories(p / "system");
    plat::SetRootDir(p);
    SongRecord a, b, c;
    a.id = 1;
    b.id = 7;
    b.nat = L"p";
    c.id = 12;
    c.genre = L"트로트";
    std::unique_lock lock(SongLibrary.SongListMutex);
    SongLibrary.SongList = {a, b, c};
    return p;
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path system = Root() / "system";
  std::vector<std::string_view> parts;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (int i = 0; i < 3; ++i) {
    const size_t nul = rest.find('\0');
    if (nul == std::string_view::npos) break;
    parts.push_back(rest.substr(0, nul));
    rest.remove_prefix(nul + 1);
  }
  parts.push_back(rest);
  parts.resize(4);

  ForEachTextLine(parts[1], [](std::string_view line) { ParsePopKoLine(line); });
  plat::WriteFileAtomic(system / "genre.idx", parts[0]);
  plat::WriteFileAtomic(system / "popko.idx", "#POPKO2\n" + std::string(parts[1]));
  plat::WriteFileAtomic(system / "songs.csv", parts[2]);
  LoadGenreIndex();
  LoadPopKoIndex();
  PatchSongsCsvFromPopKo();
  if (!std::filesystem::exists(system / "songs.csv")) __builtin_trap();

  const std::wstring argument = Utf8ToWide(parts[3]);
  const std::vector<VocalMark> marks = ParseVocalMarks(argument);
  SongModel model;
  model.MelodyNotes = {{60, 0, 480}, {62, 480, 0}, {64, 100000, 10}};
  const VocalPairing pairing = PairVocalMarks(marks, model.MelodyNotes, 480);
  if (pairing.assignments.size() != marks.size()) __builtin_trap();
  BuildVocalReport(1, 480, marks, model.MelodyNotes, L"x", pairing, model);
  BuildVocalMidi(480, marks, pairing, model);
  return 0;
}
