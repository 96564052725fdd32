// The song-list indexes on a 60,000-song catalogue with 15,000 pop songs: LoadGenreIndex and
// LoadPopKoIndex (both run at every start; goal together under 40 ms) and the songs.csv patch
// with the Korean readings (goal under 300 ms). Prints the times of each run.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "songs/song_catalog.h"
#include "songs/song_indexes.h"
#include "songs/song_list.h"

#include "bench_catalogue.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  const int songs = argc > 1 ? std::max(4, std::atoi(argv[1])) : 60000;
  const fs::path root = fs::temp_directory_path() / ("tavelo_bench_indexes_" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "system");
  plat::SetRootDir(root);

  std::vector<SongRecord> list;
  std::string genre, popko = "#POPKO2\n";
  const std::string csv = BenchCatalogueCsv(songs, [&](int i, const std::wstring& title, const std::wstring& singer,
                                                       const std::wstring& line1) {
    SongRecord& s = list.emplace_back();
    s.id = i;
    s.nat = i % 4 == 0 ? L"p" : L"k";
    s.title = title;
    s.singer = singer;
    s.line1 = line1;
    s.chosung = ExtractChosung(title);
    s.singerChosung = ExtractChosung(singer);
    genre += std::to_string(i) + "\t" + WideToUtf8(i % 3 ? L"발라드" : L"트로트") + "\n";
    if (i % 4 == 0)
      popko += std::to_string(i) + "\t" + WideToUtf8(L"한글 제목 " + std::to_wstring(i)) + "\t" +
               WideToUtf8(L"한글 가수") + "\t" + WideToUtf8(L"한글로 읽은 첫 소절 " + std::to_wstring(i)) + "\n";
  });
  plat::WriteFileAtomic(root / "system" / "genre.idx", genre);
  plat::WriteFileAtomic(root / "system" / "popko.idx", popko);
  std::printf("catalogue: %d songs (%d pop), songs.csv %zu bytes, genre.idx %zu, popko.idx %zu bytes\n", songs,
              songs / 4, csv.size(), genre.size(), popko.size());
  DebugLog(L"index benchmark ready");

  constexpr int kRuns = 8, kWarmRuns = 2;
  std::vector<double> loads, patches;
  for (int run = 0; run < kRuns; ++run) {
    {
      std::unique_lock lock(SongLibrary.SongListMutex);
      SongLibrary.SongList = list;
    }
    plat::WriteFileAtomic(root / "system" / "songs.csv", csv);
    const double t0 = plat::NowMs();
    const int genres = LoadGenreIndex();
    const double t1 = plat::NowMs();
    const int changed = LoadPopKoIndex();
    const double t2 = plat::NowMs();
    const int rows = PatchSongsCsvFromPopKo();
    const double t3 = plat::NowMs();
    if (run >= kWarmRuns) {
      loads.push_back(t2 - t0);
      patches.push_back(t3 - t2);
    }
    std::printf("run %d: LoadGenreIndex %.1f ms (%d), LoadPopKoIndex %.1f ms (%d), patch %.1f ms (%d rows)\n", run + 1,
                t1 - t0, genres, t2 - t1, changed, t3 - t2, rows);
  }
  std::sort(loads.begin(), loads.end());
  std::sort(patches.begin(), patches.end());
  std::printf("runs %d-%d: both loads median %.1f ms (goal under 40 ms), patch median %.1f ms (goal under 300 ms)\n",
              kWarmRuns + 1, kRuns, loads[loads.size() / 2], patches[patches.size() / 2]);
  fs::remove_all(root);
  return 0;
}
