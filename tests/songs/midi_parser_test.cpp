#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "midi_writer.h"
#include "songs/lyric_timing.h"
#include "songs/midi_parser.h"
#include "songs/song_model.h"

namespace {

SongModel Parse(const std::string& bytes) {
  SongModel m;
  ParseSongMidiBytes(m, bytes);
  return m;
}

TestTrack Conductor() { return TestTrack().Tempo(0, 500000); }

}  // namespace

TEST(BarTicks, TablesOfTimeSignatures) {
  struct Case {
    const char* name;
    std::vector<TimeSignature> sigs;
    int division;
    std::vector<uint32_t> firstBars;
    size_t count;
    uint32_t last;
  } cases[] = {
      {"none, 4/4 of 1920", {}, 480, {0, 1920, 3840}, 1042, 1998720},
      {"division 0 gives 480-tick bars", {}, 0, {0, 480, 960}, 4167, 1999680},
      {"3/4 then 4/4 at 1000", {{0, 3, 2}, {1000, 4, 2}}, 480, {0, 1440, 3360, 5280}, 0, 0},
      {"6/8 only", {{0, 6, 3}}, 480, {0, 1440, 2880}, 0, 0},
      {"first signature late: 4/4 bars before it", {{3840, 3, 2}}, 480, {0, 1920, 3840, 5280}, 0, 0},
      {"power above 30 counts as 4/4", {{0, 3, 31}}, 480, {0, 1920}, 0, 0},
      {"numerator 0 counts as 4/4", {{0, 0, 2}}, 480, {0, 1920}, 0, 0},
  };
  for (const auto& c : cases) {
    auto bars = BuildBarTicks(c.sigs, c.division);
    ASSERT_GE(bars.size(), c.firstBars.size()) << c.name;
    for (size_t i = 0; i < c.firstBars.size(); ++i) EXPECT_EQ(bars[i], c.firstBars[i]) << c.name << " bar " << i;
    if (c.count) {
      EXPECT_EQ(bars.size(), c.count) << c.name;
      EXPECT_EQ(bars.back(), c.last) << c.name;
    }
    EXPECT_LT(bars.back(), kBarTickLimit) << c.name;
  }
}

TEST(BarTicks, CraftedSignaturesCanNeitherWrapNorFillMemory) {
  // A signature far beyond the song, one of a single tick per bar, and one near 2^32.
  auto bars = BuildBarTicks({{0, 1, 2}, {0xFFFFFF00u, 255, 0}}, 1);
  EXPECT_LE(bars.size(), kMaxBars);
  for (size_t i = 1; i < bars.size(); ++i) ASSERT_GT(bars[i], bars[i - 1]);
  auto wide = BuildBarTicks({{0, 255, 0}}, 65535);  // bars of 67 million ticks
  EXPECT_EQ(wide, std::vector<uint32_t>{0});
}

TEST(ParseSongMidi, EventsPortsAndKinds) {
  TestTrack a = Conductor();
  a.Port(0, 1).Program(0, 0, 5).On(10, 0, 60, 100).Off(20, 0, 60);
  TestTrack b;
  b.Port(0, 1).Cc(5, 3, 7, 90);
  TestTrack c;
  c.Port(0, 2).On(0, 0, 60, 100).SysEx(3, std::string("\x41\x10\xF7", 3)).Tempo(4, 400000);
  SongModel m = Parse(MakeMidiFile(480, {a, b, c}));
  ASSERT_EQ(m.SongPpq, 480);
  // Tempo 500000 (port 0), program, cc (both port 1), sysex and tempo of port 2, note on, note off.
  std::vector<std::tuple<uint32_t, int, int, int>> got;  // tick, kind, status, port
  for (const auto& e : m.SongEventList) got.emplace_back(e.tick, e.kind, e.status, e.port);
  std::vector<std::tuple<uint32_t, int, int, int>> want = {
      {0, kSongEventTempo, 0, 0},  {0, kSongEventChannel, 0xC0, 1}, {3, kSongEventSysEx, 0, 2},
      {4, kSongEventTempo, 0, 2},  {5, kSongEventChannel, 0xB3, 1}, {10, kSongEventChannel, 0x90, 1},
      {20, kSongEventChannel, 0x80, 1}};
  EXPECT_EQ(got, want);
  const auto sysex = m.SysExOf(m.SongEventList[2]);
  EXPECT_EQ(std::vector<uint8_t>(sysex.begin(), sysex.end()), (std::vector<uint8_t>{0xF0, 0x41, 0x10, 0xF7}));
  EXPECT_EQ(m.SongEventList[0].tempo, 500000u);
  EXPECT_EQ(m.SongEventList[1].data1, 5);
  EXPECT_EQ(m.SongEventList[1].data2, 0);
  EXPECT_EQ(m.SongBaseBpm, 120);
}

TEST(ParseSongMidi, EventsOfOneTickKeepFileOrderTrackAfterTrack) {
  TestTrack a, b;
  a.Cc(100, 0, 1, 1).Cc(100, 0, 1, 2);
  b.Cc(50, 1, 1, 3).Cc(100, 1, 1, 4);
  SongModel m = Parse(MakeMidiFile(96, {a, b}));
  std::vector<int> values;
  for (const auto& e : m.SongEventList) values.push_back(e.data2);
  EXPECT_EQ(values, (std::vector<int>{3, 1, 2, 4}));
}

// Random tracks of controllers, tempos and SysEx messages, parsed and compared with the same
// events put in order the plain way (a stable sort by tick over file order). The cases cover a
// file already in order, dense interleaved tracks, and ticks spread far beyond the event count.
TEST(ParseSongMidi, EventsOfManyTracksComeInTickOrderWithTheirBytes) {
  struct Want {
    uint32_t tick;
    int kind, status, data1, data2, port;
    uint32_t tempo;
    std::vector<uint8_t> sysex;
    bool operator==(const Want&) const = default;
  };
  struct Case {
    const char* name;
    int tracks;
    int eventsPerTrack;
    uint32_t maxStep;      // ticks between a track's events: 0..maxStep
    bool tracksInSequence;  // each track starts where the previous one ended
  } cases[] = {
      {"one track", 1, 300, 7, false},
      {"tracks one after another", 4, 100, 5, true},
      {"dense interleaved tracks", 12, 200, 3, false},
      {"ticks far apart", 6, 50, 5000000, false},
      {"more tracks than a song has", 80, 20, 30, false},
  };
  std::mt19937 random(1234);
  for (const auto& c : cases) {
    std::vector<TestTrack> tracks;
    std::vector<Want> want;
    uint32_t start = 0;
    for (int t = 0; t < c.tracks; ++t) {
      TestTrack track;
      const int port = t % 3;  // port 3 keeps only its tempos and SysEx
      track.Port(start, port);
      uint32_t tick = start;
      for (int i = 0; i < c.eventsPerTrack; ++i) {
        tick += static_cast<uint32_t>(random() % (c.maxStep + 1));
        const int choice = static_cast<int>(random() % 10);
        if (choice == 0) {
          const uint32_t tempo = 300000 + static_cast<uint32_t>(random() % 400000);
          track.Tempo(tick, tempo);
          want.push_back({tick, kSongEventTempo, 0, 0, 0, port, tempo, {}});
        } else if (choice == 1) {
          std::string body = {0x41, 0x10, static_cast<char>(t), static_cast<char>(i & 0x7F), static_cast<char>(0xF7)};
          body.resize(5 + random() % 4, 0x11);
          track.SysEx(tick, body);
          const std::string stored = '\xF0' + body;
          std::vector<uint8_t> bytes(stored.begin(), stored.end());
          want.push_back({tick, kSongEventSysEx, 0, 0, 0, port, 0, bytes});
        } else {
          const int ch = t % 16, value = static_cast<int>(random() % 128);
          track.Cc(tick, ch, i % 100, value);
          if (port <= 1) want.push_back({tick, kSongEventChannel, 0xB0 | ch, i % 100, value, port, 0, {}});
        }
      }
      tracks.push_back(track);
      if (c.tracksInSequence) start = tick;
    }
    std::stable_sort(want.begin(), want.end(), [](const Want& a, const Want& b) { return a.tick < b.tick; });

    SongModel m = Parse(MakeMidiFile(480, tracks));
    std::vector<Want> got;
    for (const auto& e : m.SongEventList) {
      auto bytes = m.SysExOf(e);
      got.push_back({e.tick, e.kind, e.status, e.data1, e.data2, e.port,
                     e.kind == kSongEventTempo ? e.tempo : 0u, std::vector<uint8_t>(bytes.begin(), bytes.end())});
    }
    ASSERT_EQ(got.size(), want.size()) << c.name;
    for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(got[i], want[i]) << c.name << " event " << i;
    EXPECT_EQ(m.MelodyArticulation.size(), m.SongEventList.size()) << c.name;
  }
}

TEST(SongModel, SysExOfAnythingButAKnownSysExIsEmpty) {
  SongModel m;
  m.SongSysExData = {0xF0, 0x7E, 0xF7};
  m.SongSysExStarts = {0, 3};
  SongEvent e;
  e.kind = kSongEventSysEx;
  e.sysex = 0;
  EXPECT_EQ(m.SysExOf(e).size(), 3u);
  e.sysex = 1;  // past the list
  EXPECT_TRUE(m.SysExOf(e).empty());
  e.sysex = 0xFFFFFFFFu;
  EXPECT_TRUE(m.SysExOf(e).empty());
  e.kind = kSongEventTempo;
  e.tempo = 0;
  EXPECT_TRUE(m.SysExOf(e).empty());
  m.SongSysExStarts = {0, 9};  // a list that claims more bytes than it holds
  e.kind = kSongEventSysEx;
  EXPECT_TRUE(m.SysExOf(e).empty());
}

TEST(ParseSongMidi, BaseTempoSkipsZeroTempos) {
  TestTrack t;
  t.Tempo(0, 0).Tempo(10, 400000);
  EXPECT_EQ(Parse(MakeMidiFile(480, {t})).SongBaseBpm, 150);
  TestTrack none;
  none.On(0, 0, 60, 1);
  EXPECT_EQ(Parse(MakeMidiFile(480, {none})).SongBaseBpm, 0);
}

TEST(ParseSongMidi, KeySignaturesCollapse) {
  TestTrack t;
  t.KeySig(0, 1, 0).KeySig(0, 2, 0)    // same tick: the later wins
      .KeySig(100, 2, 1)                 // only the minor flag changes: dropped
      .KeySig(200, -3, 0)
      .KeySig(300, 9, 0)                 // out of range: dropped
      .KeySig(400, -3, 0);               // repeats: dropped
  SongModel m = Parse(MakeMidiFile(480, {t}));
  EXPECT_EQ(m.SongKeySignatures, (std::vector<KeySignature>{{0, 2, 0}, {200, -3, 0}}));
}

TEST(ParseSongMidi, HeaderLengthIsHonoured) {
  TestTrack t;
  t.On(0, 0, 60, 100);
  std::string longer = std::string("MThd\0\0\0\x08\0\x01\0\x01\x01\xE0\xAA\xBB", 16) + t.Chunk();
  SongModel m = Parse(longer);
  EXPECT_EQ(m.SongPpq, 480);
  EXPECT_EQ(m.SongEventList.size(), 1u);

  SongModel previous;
  previous.SongPpq = 96;
  previous.BarTicks = {0, 384};
  previous.SongLoudness = 12;
  std::string shorter = std::string("MThd\0\0\0\x04\0\x01\0\x01\x01\xE0", 14) + t.Chunk();
  ParseSongMidiBytes(previous, shorter);
  EXPECT_TRUE(previous.SongEventList.empty());
  EXPECT_EQ(previous.SongPpq, 96);  // the previous song's values stay
  EXPECT_EQ(previous.BarTicks, (std::vector<uint32_t>{0, 384}));
  EXPECT_EQ(previous.SongLoudness, 12);

  ParseSongMidiBytes(previous, "RIFF....");
  EXPECT_TRUE(previous.SongEventList.empty());
  EXPECT_EQ(previous.SongPpq, 96);
}

TEST(ParseSongMidi, StatusBytesThePlayerMustNeverSendAreDropped) {
  TestTrack t;
  t.Raw(0, {0x3C, 0x40})               // data bytes before any status
      .Raw(1, {0xF8, 0x01, 0x02})       // real-time status
      .Raw(2, {0xFE, 0x01, 0x02})
      .On(3, 0, 60, 100);
  SongModel m = Parse(MakeMidiFile(480, {t}));
  ASSERT_EQ(m.SongEventList.size(), 1u);
  EXPECT_EQ(m.SongEventList[0].status, 0x90);
}

TEST(ParseSongMidi, RunningStatusAndTruncatedData) {
  TestTrack t;
  t.On(0, 0, 60, 100).Raw(10, {62, 100}).Raw(20, {64, 0});
  SongModel m = Parse(MakeMidiFile(480, {t}));
  ASSERT_EQ(m.SongEventList.size(), 3u);
  EXPECT_EQ(m.SongEventList[2].data1, 64);

  // A chunk that claims more bytes than the file holds keeps the events read so far.
  std::string file = MidiHeader(480, 1) + TestTrack::ChunkOf("MTrk", "") ;
  file.resize(file.size() - 8);
  std::string body("\x00\x90\x3C\x64\x10\x80\x3C", 7);  // the note-off is cut in the middle
  std::string chunk = TestTrack::ChunkOf("MTrk", body);
  chunk[7] = 100;  // length 100, only 7 bytes follow
  m = Parse(file + chunk);
  ASSERT_EQ(m.SongEventList.size(), 1u);

  // A meta event whose length runs past the chunk ends that track; the next track still counts.
  TestTrack bad;
  bad.On(0, 0, 60, 100).Raw(1, {0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0x7F});
  TestTrack good;
  good.On(5, 1, 61, 100);
  m = Parse(MakeMidiFile(480, {bad, good}));
  EXPECT_EQ(m.SongEventList.size(), 2u);

  // Non-track chunks are skipped by their length and counted.
  std::string withJunk = MidiHeader(480, 2) + TestTrack::ChunkOf("XFIH", "abc") + good.Chunk();
  EXPECT_EQ(Parse(withJunk).SongEventList.size(), 1u);
}

TEST(ParseSongMidi, CompanionTrackIsTheFirstChunkOfItsNameWhereverTheNameStands) {
  // Chunk 2 is named late in its track, chunk 3 at its start: chunk 2 is still the lyric track.
  TestTrack late, early;
  late.On(0, 0, 60, 1).On(480, 0, 60, 1).Meta(960, 0x03, "gasa").On(960, 0, 60, 1);
  early.Name("gasa").On(100, 0, 60, 1);
  SongModel m = Parse(MakeMidiFile(480, {Conductor(), late, early}));
  EXPECT_EQ(m.LyricSyncTicks, (std::vector<uint32_t>{0, 480, 960}));
}

TEST(ParseSongMidi, CompanionTracks) {
  TestTrack conductor = Conductor();
  TestTrack music;
  music.Note(0, 0, 72, 100, 480);
  TestTrack gasa;
  gasa.Name("gasa").On(0, 0, 60, 1).Cc(0, 0, 10, 10).On(480, 0, 60, 1).Cc(960, 0, 10, 10).On(960, 0, 60, 1);
  TestTrack staff1;
  staff1.Name(" Staff1 ").Note(0, 0, 60, 100, 240).On(480, 15, 64, 100).On(960, 0, 67, 100);
  TestTrack staff2;
  staff2.Name("staff2").On(0, 0, 48, 100).On(0, 0, 52, 100).On(0, 0, 55, 100).On(5, 0, 36, 100).On(10, 0, 60, 100);
  SongModel m = Parse(MakeMidiFile(480, {conductor, music, gasa, staff1, staff2}));

  EXPECT_EQ(m.LyricSyncTicks, (std::vector<uint32_t>{0, 480, 960}));
  EXPECT_EQ(m.JumpMarks, (std::vector<JumpMark>{{0, 10}, {960, 10}}));
  EXPECT_EQ(FindJumpMarkTick(m, 10), 0);
  EXPECT_EQ(FindJumpMarkTick(m, 30), -1);
  // Channel 16's open note lasts a quarter; channel 1's stays 0.
  EXPECT_EQ(m.MelodyNotes, (std::vector<NoteSpan>{{60, 0, 240}, {64, 480, 480}, {67, 960, 0}}));
  // Chord C3 E3 G3 on 0 keeps its lowest note, the note 5 ticks later goes, the one on 10 stays.
  EXPECT_EQ(m.SecondStaffNotes, (std::vector<NoteSpan>{{48, 0, 0}, {60, 10, 0}}));
  // Every channel message of the named tracks also plays (they are silent by their velocity).
  EXPECT_EQ(m.SongEventList.size(), 1u + 2 + 5 + 4 + 5);
}

TEST(ParseSongMidi, SecondStaffKeepsTheLowestNoteOfAChord) {
  std::vector<NoteSpan> notes = {{55, 0, 0}, {48, 0, 0}, {52, 0, 0}, {60, 5, 0}, {62, 10, 0}};
  ThinSecondStaffNotes(notes);
  EXPECT_EQ(notes, (std::vector<NoteSpan>{{48, 0, 0}, {62, 10, 0}}));
}

TEST(ParseSongMidi, UnnamedCompanionTracksDefaultToChunks34To36) {
  std::vector<TestTrack> tracks(36);
  tracks[33].On(100, 0, 60, 1);
  tracks[34].Note(0, 0, 67, 90, 100);
  SongModel m = Parse(MakeMidiFile(480, tracks));
  EXPECT_EQ(m.LyricSyncTicks, std::vector<uint32_t>{100});
  EXPECT_EQ(m.MelodyNotes, (std::vector<NoteSpan>{{67, 0, 100}}));
}

namespace {

struct Seen {
  uint32_t tick;
  int kind, status, data1, data2;
  bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "{" << s.tick << ", kind " << s.kind << ", " << std::hex << s.status << " " << s.data1 << " "
            << s.data2 << std::dec << "}";
}
std::vector<Seen> EventsOf(const SongModel& m) {
  std::vector<Seen> out;
  for (const auto& e : m.SongEventList) out.push_back({e.tick, e.kind, e.status, e.data1, e.data2});
  return out;
}
std::string TrackOf(std::string_view body) { return TestTrack::ChunkOf("MTrk", body); }
std::string WithLength(std::string chunk, uint32_t length) {
  chunk[4] = static_cast<char>(length >> 24);
  chunk[5] = static_cast<char>(length >> 16);
  chunk[6] = static_cast<char>(length >> 8);
  chunk[7] = static_cast<char>(length);
  return chunk;
}

}  // namespace

// Files that other readers take and that real songs contain: each must keep all its notes at
// their ticks.
TEST(ParseSongMidi, RealWorldQuirksKeepEveryEvent) {
  const Seen on60{0, kSongEventChannel, 0x90, 60, 100};
  TestTrack second;
  second.On(100, 1, 61, 90);
  const Seen on61{100, kSongEventChannel, 0x91, 61, 90};
  TestTrack first;
  first.On(0, 0, 60, 100);
  const std::string firstChunk = first.Chunk();
  const uint32_t firstBody = static_cast<uint32_t>(firstChunk.size() - 8);
  struct Case {
    const char* what;
    std::string file;
    std::vector<Seen> want;
  } cases[] = {
      {"running status goes on after a meta and a SysEx event",
       MidiHeader(480, 1) + TestTrack()
                                .On(0, 0, 60, 100)
                                .Meta(10, 0x01, "text")
                                .Raw(20, {62, 100})
                                .SysEx(30, std::string("\x41\xF7", 2))
                                .Raw(40, {64, 0})
                                .Chunk(),
       {on60, {20, kSongEventChannel, 0x90, 62, 100}, {30, kSongEventSysEx, 0, 0, 0}, {40, kSongEventChannel, 0x90, 64, 0}}},
      {"delta times of five and more bytes",
       MidiHeader(480, 1) + TrackOf(std::string("\x80\x80\x80\x80\x0A\x90\x3C\x64", 8) +
                                    std::string("\x80\x80\x80\x80\x80\x80\x05\x3E\x64", 9) +
                                    std::string("\xFF\xFF\xFF\xFF\xFF\x7F\x40\x64\x00\xFF\x2F\x00", 12)),
       {{10, kSongEventChannel, 0x90, 60, 100}, {15, kSongEventChannel, 0x90, 62, 100},
        {0xFFFFFFFFu, kSongEventChannel, 0x90, 64, 100}}},
      {"a first track longer than the file ends at its end-of-track",
       MidiHeader(480, 2) + WithLength(firstChunk, 100000) + second.Chunk(), {on60, on61}},
      {"a first track whose length takes in the next track",
       MidiHeader(480, 2) + WithLength(firstChunk, firstBody + static_cast<uint32_t>(second.Chunk().size())) +
           second.Chunk(),
       {on60, on61}},
      {"events after the end-of-track are not the track's",
       MidiHeader(480, 1) + TrackOf(std::string("\x00\x90\x3C\x64\x00\xFF\x2F\x00\x00\x90\x3E\x64", 12)), {on60}},
      {"a 00 byte where a track's first status is due",
       MidiHeader(480, 2) + TrackOf(std::string("\x00\x00\x00\x90\x3C\x64\x00\xFF\x2F\x00", 10)) + second.Chunk(),
       {on60, on61}},
      {"data bytes with the top bit set keep seven bits",
       MidiHeader(480, 1) + TestTrack().Raw(0, {0x90, 0xBC, 0xE4}).Raw(5, {0xB0, 0x87, 0xFF}).Chunk(),
       {on60, {5, kSongEventChannel, 0xB0, 7, 127}}},
  };
  for (const auto& c : cases) EXPECT_EQ(EventsOf(Parse(c.file)), c.want) << c.what;
}

TEST(ParseSongMidi, CompanionTrackNamedAfterAStrayLeadingByte) {
  TestTrack gasa;
  gasa.Raw(0, {0x00}).Name("gasa").On(0, 0, 60, 1).On(480, 0, 60, 1);
  SongModel m = Parse(MakeMidiFile(480, {Conductor(), gasa}));
  EXPECT_EQ(m.LyricSyncTicks, (std::vector<uint32_t>{0, 480}));
}

// SMPTE time: ticks keep their length in time, whatever tempo events the file holds.
TEST(ParseSongMidi, SmpteDivisionBecomesQuarterNotesOfOneSecond) {
  struct Case {
    int division;
    int ppq;
    uint32_t tempo;
  } cases[] = {
      {0xE728, 1000, 1000000},  // 25 frames of 40 ticks
      {0xE850, 1920, 1000000},  // 24 frames of 80 ticks
      {0xE250, 2400, 1000000},  // 30 frames of 80 ticks
      {0xE304, 120, 1001000},   // 29.97 drop-frame, 4 ticks a frame
  };
  for (const auto& c : cases) {
    TestTrack t;
    t.Tempo(0, 400000).On(0, 0, 60, 100).Tempo(50, 300000).Off(c.ppq, 0, 60);
    SongModel m = Parse(MakeMidiFile(c.division, {t}));
    EXPECT_EQ(m.SongPpq, c.ppq) << c.division;
    EXPECT_EQ(EventsOf(m), (std::vector<Seen>{{0, kSongEventTempo, 0, 0, 0}, {0, kSongEventChannel, 0x90, 60, 100}, {static_cast<uint32_t>(c.ppq), kSongEventChannel, 0x80, 60, 0}}))
        << c.division;
    ASSERT_FALSE(m.SongEventList.empty());
    EXPECT_EQ(m.SongEventList[0].tempo, c.tempo) << c.division;
    EXPECT_EQ(m.SongBaseBpm, 60) << c.division;
    EXPECT_EQ(m.BarTicks.at(1), static_cast<uint32_t>(4 * c.ppq)) << c.division;
  }
  // Frame rates that do not exist, and frames without ticks: nothing to play, and the previous
  // song's division stays.
  for (int division : {0xE028, 0xFF28, 0x8028, 0xE700}) {
    TestTrack t;
    t.On(0, 0, 60, 100);
    SongModel m;
    m.SongPpq = 96;
    EXPECT_FALSE(ParseSongMidiBytes(m, MakeMidiFile(division, {t}))) << division;
    EXPECT_TRUE(m.SongEventList.empty()) << division;
    EXPECT_EQ(m.SongPpq, 96) << division;
  }
}
