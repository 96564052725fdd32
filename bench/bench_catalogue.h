#pragma once
// The synthetic catalogue the benchmarks load: songs.csv text for `songs` songs with Korean and
// English titles, singers and first lines, and a call per song for its files.
#include <functional>
#include <string>

#include "base/text.h"
#include "songs/song_catalog.h"
#include "songs/song_file_cache.h"

// The empty MIDI file every benchmark song gets (a header without tracks).
inline const std::string kBenchSongMidi("MThd\0\0\0\6\0\1\0\0\1\xE0", 14);

inline std::string BenchCatalogueCsv(
    int songs, const std::function<void(int number, const std::wstring& title, const std::wstring& singer,
                                        const std::wstring& line1)>& eachSong) {
  static const wchar_t* kTitles[] = {L"아리랑", L"도라지 타령", L"밀양 아리랑", L"강강술래", L"Yesterday \"Once\" More",
                                     L"진도 아리랑, 긴 소리", L"새타령", L"봄날은 간다"};
  static const wchar_t* kSingers[] = {L"민요", L"합창단", L"The Singers", L"가수 이름"};
  std::string csv(kSongsCsvHeader);
  csv += '\n';
  for (int i = 1; i <= songs; ++i) {
    const std::wstring title = std::wstring(kTitles[i % 8]) + L" " + std::to_wstring(i);
    const std::wstring singer = kSingers[i % 4];
    const std::wstring line1 = L"첫 소절 가사가 여기 들어갑니다 " + std::to_wstring(i);
    csv += std::to_string(i) + (i % 10 == 0 ? ",p" : ",k") + ",남,C/D/A,32," + std::to_string(80 + i % 60) +
           ",민요," + QuoteCsvField(title) + "," + QuoteCsvField(title) + ",,작사,작곡," + QuoteCsvField(singer) +
           "," + QuoteCsvField(line1) + ",,,,,," + QuoteCsvField(ExtractChosung(title)) + "," +
           QuoteCsvField(ExtractChosung(singer)) + "\n";
    eachSong(i, title, singer, line1);
  }
  return csv;
}
