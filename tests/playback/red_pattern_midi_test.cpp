// The pattern editor's MIDI reader and writer: lossless round trips (also of MIDI files nobody
// here wrote, checked by Debian's midicsv), the header and track rules, and the writer's refusal
// of a delta time no reader could take back.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "test_paths.h"
#include "common/temp_root.h"
#include "platform/files.h"
#include "playback/red_pattern_midi.h"

namespace fs = std::filesystem;

namespace {

std::string Be(uint32_t v, int bytes) {
  std::string s;
  for (int i = bytes - 1; i >= 0; --i) s.push_back(char((v >> (8 * i)) & 0xFF));
  return s;
}

std::string Header(int format, int tracks, int division, const std::string& extra = "") {
  return "MThd" + Be(uint32_t(6 + extra.size()), 4) + Be(format, 2) + Be(tracks, 2) + Be(division, 2) + extra;
}

std::string Chunk(const std::string& body) { return "MTrk" + Be(uint32_t(body.size()), 4) + body; }

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int x : b) s.push_back(char(x));
  return s;
}

// A drum track in running status, with a name, the port meta after the first note, a SysEx, two
// notes on one tick, and an end-of-track that is not stored.
const std::string kTrack1 = Bytes({0x00, 0xFF, 0x03, 0x02, 'D', 'r',         // name
                                   0x00, 0x99, 36, 100,                       // note on, status
                                   0x00, 0xFF, 0x21, 0x01, 0x01,              // port meta: port 2
                                   0x00, 42, 90,                              // running status
                                   0x81, 0x00, 0x89, 36, 0,                   // 128 ticks later
                                   0x00, 0xF0, 0x03, 0x7E, 0x7F, 0xF7,        // SysEx
                                   0x00, 0xC9, 0x10,                          // program: one byte
                                   0x00, 0xFF, 0x2F, 0x00});
const std::string kTrack2 = Bytes({0x00, 0xB8, 0x07, 100, 0x83, 0x60, 0x98, 38, 80, 0x00, 0xFF, 0x2F, 0x00});

std::vector<std::string> Events(const RedTrack& t) {
  std::vector<std::string> out;
  for (const RedEvent& e : t.events) out.push_back(std::to_string(e.tick) + ":" + std::to_string(e.bytes.size()));
  return out;
}

std::string Csv(const fs::path& file) {
  std::string out;
  if (FILE* p = ::popen(("midicsv '" + file.string() + "' 2>/dev/null").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

// midicsv's lines without the header's track count and the end-of-track times, which a rewrite
// may legitimately change (the end goes right after the last event).
std::string EventLines(const std::string& csv) {
  std::string out;
  size_t pos = 0;
  while (pos < csv.size()) {
    size_t nl = csv.find('\n', pos);
    if (nl == std::string::npos) nl = csv.size();
    const std::string line = csv.substr(pos, nl - pos);
    if (line.find(", Header,") == std::string::npos && line.find(", End_track") == std::string::npos)
      out += line + "\n";
    pos = nl + 1;
  }
  return out;
}

}  // namespace

TEST(RedPatternMidi, ReadsEveryEventAsItsBytesAndRoundTripsWithoutLoss) {
  RedPattern p;
  ASSERT_TRUE(ReadRedPatternBytes(Header(1, 2, 96) + Chunk(kTrack1) + Chunk(kTrack2), p));
  EXPECT_TRUE(p.loaded);
  EXPECT_EQ(p.format, 1);
  EXPECT_EQ(p.division, 96);
  ASSERT_EQ(p.tracks.size(), 2u);
  EXPECT_EQ(p.tracks[0].port, 1);
  EXPECT_EQ(p.tracks[1].port, 0);
  // name, note, port, running-status note (stored with its status), note off, SysEx, program.
  EXPECT_EQ(Events(p.tracks[0]), (std::vector<std::string>{"0:5", "0:3", "0:4", "0:3", "128:3", "128:5", "128:2"}));
  EXPECT_EQ(p.tracks[0].events[3].bytes, Bytes({0x99, 42, 90}));
  EXPECT_EQ(p.tracks[1].events[1].tick, 480u);
  // One numbering across the file.
  EXPECT_EQ(p.tracks[1].events[0].seq, 7);

  const auto bytes = BuildRedPatternBytes(p);
  ASSERT_TRUE(bytes);
  RedPattern again;
  ASSERT_TRUE(ReadRedPatternBytes(*bytes, again));
  EXPECT_TRUE(RedPatternsEqual(p, again));
  // Events of one tick keep their order; the port meta stays where it was.
  EXPECT_EQ(again.tracks[0].events[2].bytes, Bytes({0xFF, 0x21, 0x01, 0x01}));
  EXPECT_EQ(again.tracks[0].events[3].bytes, Bytes({0x99, 42, 90}));
  // One end of track per track, at its end.
  size_t ends = 0;
  for (size_t at = bytes->find("\xFF\x2F"); at != std::string::npos; at = bytes->find("\xFF\x2F", at + 1)) ++ends;
  EXPECT_EQ(ends, 2u);
  EXPECT_EQ(bytes->substr(bytes->size() - 4), Bytes({0x00, 0xFF, 0x2F, 0x00}));
  // The header carries the real track count.
  EXPECT_EQ(bytes->substr(10, 2), Be(2, 2));
}

TEST(RedPatternMidi, HeaderAndTrackRules) {
  struct Case {
    const char* what;
    std::string file;
    bool ok;
    size_t tracks;
  } cases[] = {
      {"long header, wrong track count", Header(0, 9, 120, "xyz") + Chunk(kTrack2) + Chunk(kTrack2), true, 2},
      {"division 0", Header(1, 1, 0) + Chunk(kTrack2), false, 0},
      {"13 bytes", Header(1, 1, 96).substr(0, 13), false, 0},
      {"no MThd", "MThx" + Header(1, 1, 96).substr(4) + Chunk(kTrack2), false, 0},
      {"header only", Header(1, 1, 96), false, 0},
      {"header length past the file", "MThd" + Be(0xFFFFFFF0, 4) + Be(1, 2) + Be(1, 2) + Be(96, 2) + Chunk(kTrack2), false, 0},
      {"empty track counts", Header(1, 2, 96) + Chunk("") + Chunk(kTrack2), true, 2},
      {"reading stops at a foreign chunk", Header(1, 2, 96) + Chunk(kTrack2) + "XTrk" + Be(0, 4) + Chunk(kTrack2), true, 1},
      {"chunk longer than the file", Header(1, 1, 96) + "MTrk" + Be(1000, 4) + kTrack2, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RedPattern p;
    EXPECT_EQ(ReadRedPatternBytes(c.file, p), c.ok);
    EXPECT_EQ(p.tracks.size(), c.tracks);
    EXPECT_EQ(p.loaded, c.ok);
    if (!c.ok) {
      EXPECT_EQ(p.division, 120);  // reset to the initial pattern
    }
  }
}

TEST(RedPatternMidi, ADataByteBeforeAnyChannelStatusEndsItsTrackOnly) {
  // A meta and a SysEx first (they set no running status), then a bare data byte.
  const std::string broken = Bytes({0x00, 0xFF, 0x03, 0x01, 'x', 0x00, 0xF0, 0x01, 0xF7, 0x00, 0x40, 0x40, 0x00, 0x99, 36, 1});
  RedPattern p;
  ASSERT_TRUE(ReadRedPatternBytes(Header(1, 2, 96) + Chunk(broken) + Chunk(kTrack2), p));
  ASSERT_EQ(p.tracks.size(), 2u);
  EXPECT_EQ(p.tracks[0].events.size(), 2u);
  EXPECT_EQ(p.tracks[1].events.size(), 2u);
  // Events cut by the chunk's end are not read.
  ASSERT_TRUE(ReadRedPatternBytes(Header(1, 1, 96) + Chunk(Bytes({0x00, 0x90, 60, 100, 0x00, 0x80, 60})), p));
  EXPECT_EQ(p.tracks[0].events.size(), 1u);
}

TEST(RedPatternMidi, TheWriterRefusesADeltaTimeAboveFourVariableLengthBytes) {
  RedPattern p;
  p.tracks.resize(1);
  p.tracks[0].events = {{0, 0, Bytes({0x99, 36, 100})}, {0x0FFFFFFF, 1, Bytes({0x89, 36, 0})}};
  ASSERT_TRUE(BuildRedPatternBytes(p));
  p.tracks[0].events[1].tick = 0x10000000;
  EXPECT_FALSE(BuildRedPatternBytes(p));
  TempRoot root;
  const fs::path file = root.path() / "P1.MID";
  ASSERT_TRUE(plat::WriteFileAtomic(file, "old"));
  EXPECT_FALSE(WriteRedPatternMidi(file, p));
  EXPECT_EQ(plat::ReadFileBytes(file).value_or(""), "old");  // nothing written
}

// MIDI files that nobody here wrote: each reads, writes and reads back equal, and Debian's midicsv
// reads the written file as the same events as the original.
TEST(RedPatternMidi, RealFilesRoundTripAndAnIndependentReaderAgrees) {
  std::vector<fs::path> files;
  for (const fs::path& dir : {fs::path(TAVELO_SOURCE_DIR) / "tests/fixtures/midi", fs::path("/usr/share/planetblupi/music")}) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
      if (entry.path().extension() == ".mid") files.push_back(entry.path());
  }
  ASSERT_FALSE(files.empty());
  ASSERT_FALSE(Csv(files.front()).empty()) << "midicsv (Debian package midicsv) is needed";
  TempRoot root;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    RedPattern original, again;
    ASSERT_TRUE(ReadRedPatternMidi(file, original));
    const fs::path written = root.path() / file.filename();
    ASSERT_TRUE(WriteRedPatternMidi(written, original));
    ASSERT_TRUE(ReadRedPatternMidi(written, again));
    EXPECT_TRUE(RedPatternsEqual(original, again));
    EXPECT_EQ(EventLines(Csv(written)), EventLines(Csv(file)));
  }
}

TEST(RedPatternMidi, ComparisonLooksAtTicksAndBytesNotNumbersOrPorts) {
  RedPattern a;
  a.tracks.resize(1);
  a.tracks[0].events = {{10, 5, "x"}, {0, 9, "y"}};
  RedPattern b = a;
  b.tracks[0].port = 3;
  b.tracks[0].events = {{0, 1, "y"}, {10, 2, "x"}};
  EXPECT_TRUE(RedPatternsEqual(a, b));
  b.tracks[0].events[1].bytes = "z";
  EXPECT_FALSE(RedPatternsEqual(a, b));
  b = a;
  b.division = 96;
  EXPECT_FALSE(RedPatternsEqual(a, b));
  b = a;
  b.tracks.emplace_back();
  EXPECT_FALSE(RedPatternsEqual(a, b));
}
