#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>

#include "midi_writer.h"
#include "songs/song_load.h"
#include "songs/midi_parser.h"
#include "songs/song_file_cache.h"
#include "songs/song_model.h"
#include "temp_root.h"

namespace {

std::string SongMidi(int bars, int division) {
  TestTrack conductor;
  conductor.Tempo(0, 500000).TimeSig(0, 4, 2);
  TestTrack melody;
  TestTrack bass;
  TestTrack gasa;
  gasa.Name("gasa").Cc(0, 0, 10, 0);
  TestTrack staff1;
  staff1.Name("staff1");
  const uint32_t bar = 4 * division;
  for (int b = 1; b < bars; ++b) {
    melody.Note(b * bar, 0, 60 + b % 12, 90, division);
    bass.Note(b * bar, 8, 36 + b % 12, 90, 2 * division);
    gasa.On(b * bar, 0, 60, 1);
    staff1.Note(b * bar, 0, 60 + b % 12, 90, division);
  }
  return MakeMidiFile(division, {conductor, melody, bass, gasa, staff1});
}

}  // namespace

TEST(SongModel, RebuildReadsBothFilesAndPublishesWhole) {
  TempRoot root;
  ClearSongByteCache();
  root.Write("P0001.MID", SongMidi(8, 480));
  root.Write("P0001.txt", "0001\n첫 노래\n\n\n가수\n\nC/G/A\n>\n하나 둘 셋\nC . . . | G\n<\n");
  root.Write("J0001.txt", ">\nひとつ\n<\n");
  auto song = RebuildSongModel(L"C:/tavelo/system/P0001.MID", L"C:/tavelo/system/P0001.txt");
  EXPECT_EQ(LoadedSong(), song);
  EXPECT_EQ(song->SongTitle, L"첫 노래");
  EXPECT_EQ(song->SongPpq, 480);
  EXPECT_EQ(song->SongBaseBpm, 120);
  EXPECT_EQ(song->LyricSyncTicks.size(), 7u);
  EXPECT_EQ(song->MelodyNotes.size(), 7u);
  EXPECT_EQ(song->BassPartNotes.size(), 7u);
  EXPECT_EQ(song->BassPartNotes[0], (NoteSpan{37, 1920, 960}));
  EXPECT_EQ(song->ExtraTextLines, std::vector<std::wstring>{L"ひとつ"});
  EXPECT_EQ(song->MelodyArticulation.size(), song->SongEventList.size());
  EXPECT_EQ(song->SingerTransposition.male.load(), -5);

  // A song whose MIDI file is missing keeps the previous division and bars, with no events.
  auto missing = RebuildSongModel(L"C:/tavelo/system/P0404.MID", L"C:/tavelo/system/P0404.txt");
  EXPECT_TRUE(missing->SongEventList.empty());
  EXPECT_EQ(missing->SongPpq, 480);
  EXPECT_EQ(missing->BarTicks, song->BarTicks);
  EXPECT_EQ(missing->SongTitle, L"제목 없음");
  // Readers of the earlier snapshot still hold it whole.
  EXPECT_EQ(song->SongTitle, L"첫 노래");
  PublishSongModel(nullptr);
  EXPECT_TRUE(LoadedSong()->SongEventList.empty());
}

TEST(SongModel, ASongRebuiltInTheMemoryOfAnEarlierOneHoldsOnlyItsOwnEvents) {
  TempRoot root;
  ClearSongByteCache();
  const std::string big = SongMidi(40, 480), small = SongMidi(6, 96);
  root.Write("P0001.MID", big);
  root.Write("P0002.MID", small);
  SongModel fresh;
  ParseSongMidiBytes(fresh, small);
  auto fields = [](const SongModel& m) {
    std::vector<std::tuple<uint32_t, int, int, int, int, int, uint8_t, uint32_t>> out;
    for (size_t i = 0; i < m.SongEventList.size(); ++i) {
      const SongEvent& e = m.SongEventList[i];
      out.emplace_back(e.tick, e.kind, e.status, e.data1, e.data2, e.port, m.MelodyArticulation[i].velocity,
                       m.MelodyArticulation[i].length);
    }
    return out;
  };
  // Each song is let go before the next rebuild, so the later ones reuse the earlier ones' lists.
  for (int round = 0; round < 3; ++round) {
    RebuildSongModel(L"C:/tavelo/system/P0001.MID", L"");
    PublishSongModel(nullptr);
    auto song = RebuildSongModel(L"C:/tavelo/system/P0002.MID", L"");
    ASSERT_EQ(song->SongEventList.size(), fresh.SongEventList.size());
    ASSERT_EQ(song->MelodyArticulation.size(), song->SongEventList.size());
    EXPECT_EQ(fields(*song), fields(fresh)) << "round " << round;
    PublishSongModel(nullptr);
  }
}

TEST(SongModel, ReadersNeverSeeHalfASong) {
  TempRoot root;
  ClearSongByteCache();
  root.Write("P0001.MID", SongMidi(40, 480));
  root.Write("P0002.MID", SongMidi(12, 96));
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!stop) {
      auto s = LoadedSong();
      if (s->MelodyArticulation.size() != s->SongEventList.size() && !s->SongEventList.empty()) ++bad;
      if (!s->SongEventList.empty() && s->SongEventList.back().tick > 40u * 1920) ++bad;
      if (!s->SongEventList.empty() && s->BarTicks.size() > 1 && s->BarTicks[1] != 4u * s->SongPpq) ++bad;
    }
  });
  for (int i = 0; i < 40; ++i)
    RebuildSongModel(i % 2 ? L"C:/tavelo/system/P0001.MID" : L"C:/tavelo/system/P0002.MID", L"");
  stop = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
  PublishSongModel(nullptr);
}
