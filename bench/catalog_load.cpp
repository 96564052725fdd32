// Loads a 60,000-song catalogue (songs.csv plus one MIDI file per song in a temporary root) and
// builds the page's song array, printing the times and the payload size.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "app/text.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "songs/song_catalog.h"
#include "songs/song_file_cache.h"
#include "songs/song_list.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  const int songs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60000;
  const fs::path root = fs::temp_directory_path() / ("tavelo_bench_catalog_" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "system");
  plat::SetRootDir(root);

  static const wchar_t* kTitles[] = {L"아리랑", L"도라지 타령", L"밀양 아리랑", L"강강술래", L"Yesterday \"Once\" More",
                                     L"진도 아리랑, 긴 소리", L"새타령", L"봄날은 간다"};
  static const wchar_t* kSingers[] = {L"민요", L"합창단", L"The Singers", L"가수 이름"};
  std::string csv(kSongsCsvHeader);
  csv += '\n';
  const std::string midi("MThd\0\0\0\6\0\1\0\0\1\xE0", 14);
  for (int i = 1; i <= songs; ++i) {
    const std::wstring title = std::wstring(kTitles[i % 8]) + L" " + std::to_wstring(i);
    const std::wstring singer = kSingers[i % 4];
    const std::wstring line1 = L"첫 소절 가사가 여기 들어갑니다 " + std::to_wstring(i);
    csv += std::to_string(i) + (i % 10 == 0 ? ",p" : ",k") + ",남,C/D/A,32," + std::to_string(80 + i % 60) +
           ",민요," + QuoteCsvField(title) + "," + QuoteCsvField(title) + ",,작사,작곡," + QuoteCsvField(singer) +
           "," + QuoteCsvField(line1) + ",,,,,," + QuoteCsvField(ExtractChosung(title)) + "," +
           QuoteCsvField(ExtractChosung(singer)) + "\n";
    plat::WriteFileAtomic(root / "system" / ("P" + WideToUtf8(PadSongNumber(i)) + ".MID"), midi);
  }
  plat::WriteFileAtomic(root / "system" / "songs.csv", csv);
  std::printf("catalogue: %d songs, songs.csv %zu bytes\n", songs, csv.size());

  double bestLoad = 1e9, bestPayload = 1e9, bestTotal = 1e9;
  size_t payloadChars = 0, payloadUtf8 = 0;
  for (int run = 0; run < 5; ++run) {
    const double t0 = plat::NowMs();
    LoadSongDb();
    const double t1 = plat::NowMs();
    const std::wstring payload = BuildSongListPayload();
    const double t2 = plat::NowMs();
    payloadChars = payload.size();
    if (run == 0) payloadUtf8 = WideToUtf8(payload).size();
    bestLoad = std::min(bestLoad, t1 - t0);
    bestPayload = std::min(bestPayload, t2 - t1);
    bestTotal = std::min(bestTotal, t2 - t0);
    std::printf("run %d: LoadSongDb %.1f ms, BuildSongListPayload %.1f ms, total %.1f ms\n", run + 1, t1 - t0,
                t2 - t1, t2 - t0);
  }
  std::printf("songs listed: %d\n", GetSongCount());
  std::printf("payload: %zu characters (%zu bytes as UTF-8)\n", payloadChars, payloadUtf8);
  std::printf("best: load %.1f ms + payload %.1f ms = %.1f ms (goal under 150 ms)\n", bestLoad, bestPayload, bestTotal);
  fs::remove_all(root);
  return 0;
}
