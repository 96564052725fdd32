#include <gtest/gtest.h>

#include "midi_bytes.h"
#include "songs/midi_probes.h"
#include "songs/song_file_cache.h"
#include "temp_root.h"

namespace {

class MidiProbeTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearSongByteCache(); }
  void TearDown() override { ClearSongByteCache(); }
  void Song(int number, const std::string& bytes) {
    root.Write("P" + WideToNarrow(PadSongNumber(number)) + ".MID", bytes);
  }
  static std::string WideToNarrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }
  TempRoot root;
};

}  // namespace

TEST_F(MidiProbeTest, FirstUsableTempo) {
  struct Case {
    const char* what;
    std::string file;
    int bpm;
  } cases[] = {
      {"zero then 500000", Smf({Track(Tempo(0) + Tempo(500000))}), 120},
      {"400000", Smf({Track(Tempo(400000))}), 150},
      {"rounded", Smf({Track(Tempo(461538))}), 130},
      {"length 4 only", Smf({Track(Meta(0x51, Be(500000, 4)))}), 0},
      {"second track", Smf({Track(Name("x")), Track(Tempo(600000))}), 100},
      {"no tracks", Smf({Track(Tempo(500000))}, 0), 0},
      {"not MIDI", "RIFF" + Smf({Track(Tempo(500000))}).substr(4), 0},
      {"13 bytes", Smf({}).substr(0, 13), 0},
      {"cut inside the tempo", Smf({Track(Tempo(500000))}).substr(0, 14 + 8 + 5), 0},
      {"huge chunk length", Smf({Chunk("MTrk", Tempo(500000))}).replace(18, 4, "\xFF\xFF\xFF\xFF"), 120},
      {"huge meta length", Smf({Track(Raw({0, 0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}) + Tempo(500000))}), 0},
  };
  int number = 1;
  for (const auto& c : cases) {
    Song(number, c.file);
    EXPECT_EQ(ReadMidiTempoBpm(number), c.bpm) << c.what;
    ++number;
  }
  EXPECT_EQ(ReadMidiTempoBpm(999), 0);
}

TEST(FindNamedTracks, FirstOfEachNameByChunkNumber) {
  struct Case {
    const char* what;
    std::string file;
    NamedTracks tracks;
  } cases[] = {
      {"plain", Smf({Track(Name("melody")), Track(Name("gasa")), Track(Name("staff1")), Track(Name("staff2"))}),
       {2, 3, 4}},
      {"blanks and capitals", Smf({Track(Name(" Staff1 \t")), Track(Name(std::string("GASA\0\0", 6)))}), {2, 1, -1}},
      {"no near misses", Smf({Track(Name("staff1x")), Track(Name("gasa 2"))}), {-1, -1, -1}},
      {"first gasa wins", Smf({Track(Name("gasa")), Track(Name("gasa"))}), {1, -1, -1}},
      {"foreign chunk counts", Smf({Chunk("XFIH", "abc"), Track(Name("gasa"))}), {2, -1, -1}},
      {"empty name passed over", Smf({Track(Name("") + Name("staff2"))}), {-1, -1, 1}},
      {"only the first name counts", Smf({Track(Name("piano") + Name("gasa"))}), {-1, -1, -1}},
      {"no tracks announced", Smf({Track(Name("gasa"))}, 0), {-1, -1, -1}},
      {"a meta event is no running status", Smf({Track(Meta(0x01, "x") + std::string(1, '\0') + Raw({0x03, 4}) + "gasa")}),
       {-1, -1, -1}},
      {"running status goes on after a meta event",
       Smf({Track(NoteOn(0, 60, 90) + Meta(0x01, "x") + Raw({0, 62, 90}) + Name("staff1"))}), {-1, 1, -1}},
      {"a stray byte before a track's first status",
       Smf({Track(Raw({0, 0}) + Name("gasa"))}), {1, -1, -1}},
      {"a first track that claims the whole file",
       Smf({Chunk("MTrk", Name("x") + EndOfTrack()).replace(4, 4, Be(1000, 4)), Track(Name("staff2"))}), {-1, -1, 2}},
      {"running status of a channel message",
       Smf({Track(NoteOn(0, 60, 90) + Raw({0, 62, 90}) + Name("staff1"))}), {-1, 1, -1}},
      {"sysex skipped", Smf({Track(std::string(1, '\0') + Raw({0xF0, 3, 0x41, 0x10, 0xF7}) + Name("staff1"))}),
       {-1, 1, -1}},
  };
  for (const auto& c : cases) EXPECT_EQ(FindNamedTracks(c.file), c.tracks) << c.what;
  EXPECT_EQ(FindNamedTracks(""), NamedTracks{});
}

TEST(NormalizeTrackName, TrimsAndLowersAsciiOnly) {
  EXPECT_EQ(NormalizeTrackName(std::string(" \tStaff1 \t\0", 11)), "staff1");
  EXPECT_EQ(NormalizeTrackName("\xEA\xB0\x80 A"), "\xEA\xB0\x80 a");
  EXPECT_EQ(NormalizeTrackName(""), "");
}

TEST_F(MidiProbeTest, MelodyRange) {
  const std::string notes = NoteOn(0, 64, 80) + NoteOn(0, 55, 80) + NoteOn(0, 40, 0) + NoteOn(0, 72, 1);
  Song(1, Smf({Track(Name("drums") + NoteOn(9, 30, 100)), Track(Name("Staff1") + notes)}));
  Song(2, Smf({Track(Name("staff1") + NoteOn(0, 60, 0))}));
  std::vector<std::string> many(34, Track(NoteOn(0, 20, 100)));
  many.push_back(Track(NoteOn(0, 50, 100) + NoteOn(0, 52, 100)));
  Song(3, Smf(many));
  many.pop_back();
  Song(4, Smf(many));

  int low = -5, high = -5;
  EXPECT_TRUE(ReadMelodyNoteRange(1, low, high));
  EXPECT_EQ(low, 55);
  EXPECT_EQ(high, 72);
  low = high = -5;
  EXPECT_FALSE(ReadMelodyNoteRange(2, low, high));  // velocity 0 only
  EXPECT_EQ(low, -5);
  EXPECT_TRUE(ReadMelodyNoteRange(3, low, high));   // no staff1: chunk 35
  EXPECT_EQ(low, 50);
  EXPECT_EQ(high, 52);
  low = high = -5;
  EXPECT_FALSE(ReadMelodyNoteRange(4, low, high));  // fewer than 35 chunks
  EXPECT_FALSE(ReadMelodyNoteRange(5, low, high));  // no file
  EXPECT_EQ(high, -5);
}
