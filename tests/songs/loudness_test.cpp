#include <gtest/gtest.h>

#include <cmath>

#include "midi_writer.h"
#include "songs/loudness.h"
#include "songs/midi_parser.h"

namespace {

// At division 480 and 120 bpm a tick is 1/960 s: `ms` milliseconds are ms * 0.96 ticks.
uint32_t Ms(int ms) { return static_cast<uint32_t>(ms * 96 / 100); }

SongModel NotesEvery(int count, int spacingMs, int lengthMs, int velocity = 127) {
  SongModel m;
  m.SongPpq = 480;
  for (int i = 0; i < count; ++i) {
    m.SongEventList.push_back(ChannelEvent(Ms(i * spacingMs), 0x90, 60, velocity));
    m.SongEventList.push_back(ChannelEvent(Ms(i * spacingMs + lengthMs), 0x80, 60, 0));
  }
  return m;
}

}  // namespace

TEST(SongLoudness, Examples) {
  SongModel full = NotesEvery(30, 1000, 250);
  full.SongEventList.insert(full.SongEventList.begin(), {ChannelEvent(0, 0xB0, 7, 127), ChannelEvent(0, 0xB0, 11, 127)});
  EXPECT_EQ(EstimateSongLoudness(full), 0);

  // 29 notes are too few.
  EXPECT_EQ(EstimateSongLoudness(NotesEvery(29, 1000, 250)), kUnknownLoudness);
  // Everything over within 1.75 seconds.
  EXPECT_EQ(EstimateSongLoudness(NotesEvery(40, 40, 20)), kUnknownLoudness);
  EXPECT_EQ(EstimateSongLoudness(SongModel{}), kUnknownLoudness);

  // Default volume 100, velocity 64: ((64/127)^2 (100/127)^2)^2 -> 100 log10 of it.
  SongModel soft = NotesEvery(30, 1000, 250, 64);
  double e = std::pow(std::pow(64 / 127.0, 2) * std::pow(100 / 127.0, 2), 2);
  EXPECT_EQ(EstimateSongLoudness(soft), static_cast<int>(std::lround(100 * std::log10(e))));
}

TEST(SongLoudness, Percentile90) {
  std::vector<double> seven = {1, 2, 3, 4, 5, 6, 7, 0, -1};
  EXPECT_EQ(Percentile90(seven), 0);
  std::vector<double> ten = {10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
  EXPECT_EQ(Percentile90(ten), 10);  // index 9 of ten
  std::vector<double> twenty;
  for (int i = 1; i <= 20; ++i) twenty.push_back(i);
  EXPECT_EQ(Percentile90(twenty), 19);
}

TEST(MelodyArticulation, Examples) {
  SongModel m;
  m.SongPpq = 480;
  m.BarTicks = BuildBarTicks({}, 480);
  // First note on beat 3 of bar 0, velocity 100, a quarter of a beat long, the next at once.
  m.SongEventList = {ChannelEvent(960, 0x90, 67, 100), ChannelEvent(1080, 0x80, 67, 0),
                     ChannelEvent(1080, 0x90, 60, 80), ChannelEvent(1440, 0x80, 60, 0),
                     // Beat 1 of bar 1 after a rest of one beat, velocity 80, two beats, then a rest.
                     ChannelEvent(1920, 0x90, 72, 80), ChannelEvent(2880, 0x80, 72, 0),
                     ChannelEvent(3360, 0x90, 74, 80), ChannelEvent(3400, 0x80, 74, 0),
                     // Other channels and ports get no entry.
                     ChannelEvent(0, 0x91, 60, 100), ChannelEvent(0, 0x90, 60, 100, 1)};
  BuildMelodyArticulation(m);
  ASSERT_EQ(m.MelodyArticulation.size(), m.SongEventList.size());
  const auto& first = m.MelodyArticulation[0];
  EXPECT_EQ(first.velocity, 106);
  EXPECT_EQ(first.amount1, 0);
  EXPECT_EQ(first.amount2, 0);
  EXPECT_EQ(first.level, 67 / 12 + 95);
  EXPECT_EQ(first.length, 120u);
  const auto& detached = m.MelodyArticulation[4];
  EXPECT_EQ(detached.velocity, 106);
  EXPECT_EQ(detached.amount1, 40);
  EXPECT_EQ(detached.amount2, 170);
  EXPECT_EQ(m.MelodyArticulation[8].velocity, 0);
  EXPECT_EQ(m.MelodyArticulation[9].velocity, 0);
  EXPECT_EQ(m.MelodyArticulation[1].velocity, 0);  // note-offs carry nothing
}

TEST(MelodyArticulation, OpenNotesLastABeatAndLengthsPickAmounts) {
  SongModel m;
  m.SongPpq = 0;  // a beat of 120 ticks
  m.SongEventList = {ChannelEvent(0, 0x90, 60, 60), ChannelEvent(240, 0x90, 62, 60), ChannelEvent(240 + 150, 0x80, 62, 0),
                     ChannelEvent(600, 0x90, 64, 60)};
  BuildMelodyArticulation(m);
  EXPECT_EQ(m.MelodyArticulation[0].length, 120u);  // never closed: one beat
  EXPECT_EQ(m.MelodyArticulation[0].amount1, 26);
  EXPECT_EQ(m.MelodyArticulation[0].amount2, 130);
  // 150 ticks: at least one beat, under one and a half.
  EXPECT_EQ(m.MelodyArticulation[1].amount1, 26);
  EXPECT_EQ(m.MelodyArticulation[1].length, 150u);
  EXPECT_EQ(m.MelodyArticulation[3].length, 120u);
  // No bars: accent 40, first note's short lead-in -10, detached long note -14: 60 + 16.
  EXPECT_EQ(m.MelodyArticulation[0].velocity, 76);
}

// The pass keeps its note list for the next song, but not the list of a giant file.
TEST(SongLoudness, NoteListOfAGiantSongIsNotKept) {
  EXPECT_NE(EstimateSongLoudness(NotesEvery(40, 1000, 250)), kUnknownLoudness);
  const size_t small = LoudnessNoteMemoryKept();
  EXPECT_GT(small, 0u);
  EstimateSongLoudness(NotesEvery(400000, 10, 5));
  EXPECT_LE(LoudnessNoteMemoryKept(), size_t{8} << 20);
  EstimateSongLoudness(NotesEvery(40, 1000, 250));
  EXPECT_GT(LoudnessNoteMemoryKept(), 0u);
}
