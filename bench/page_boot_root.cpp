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
    const std::string name = "P" + WideToUtf8(PadSongNumber(i));
    if (!WriteSmallFile(system / (name + ".MID"), midi) ||
        !WriteSmallFile(system / (name + ".txt"), WideToUtf8(title + L"\n" + singer + L"\n" + line1 + L"\n"))) {
      std::fprintf(stderr, "cannot write the song files in %s\n", system.c_str());
      return 1;
    }
  }
  if (!WriteSmallFile(system / "songs.csv", csv) || !WriteSmallFile(stamp, "")) {
    std::fprintf(stderr, "cannot write songs.csv in %s\n", system.c_str());
    return 1;
  }
  std::printf("catalogue: %d songs, songs.csv %zu bytes, in %s\n", songs, csv.size(), root.c_str());
  return 0;
}
