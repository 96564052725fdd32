// MIDI files written by other programs, read by the song parse and checked against midicsv, an
// independent reader: every channel message, tempo and SysEx event at its tick. Then the same
// events are written again the ways real files get them wrong or odd (running status across meta
// events, padded delta times, a first track that claims the rest of the file, a stray byte where
// a track's first status is due, bytes after the end-of-track), and must read the same.
//
// Files: tests/fixtures/midi/*.mid (made here with abc2midi from the .abc beside them) and, when
// the Debian package planetblupi-music-midi is installed, its game music (GPL-3+, not copied).
// Without midicsv (Debian package midicsv) the test is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_paths.h"
#include "platform/process.h"
#include "songs/midi_parser.h"
#include "songs/song_model.h"
#include "temp_root.h"

namespace {

namespace fs = std::filesystem;

// One line of midicsv's output: track, tick, record type and its fields.
struct CsvRecord {
  int track = 0;
  uint32_t tick = 0;
  std::string type;
  std::vector<long> numbers;  // the numeric fields (text fields are left out)
};

std::vector<CsvRecord> ReadCsv(const fs::path& csv) {
  std::vector<CsvRecord> out;
  std::ifstream in(csv);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (char c : line) {
      if (c == '"') quoted = !quoted;
      if (c == ',' && !quoted) {
        fields.push_back(field);
        field.clear();
      } else {
        field += c;
      }
    }
    fields.push_back(field);
    if (fields.size() < 3) continue;
    CsvRecord r;
    r.track = std::stoi(fields[0]);
    r.tick = static_cast<uint32_t>(std::stoul(fields[1]));
    r.type = fields[2].substr(fields[2].find_first_not_of(' '));
    for (size_t i = 3; i < fields.size(); ++i) {
      const size_t at = fields[i].find_first_not_of(' ');
      if (at != std::string::npos && (std::isdigit(static_cast<unsigned char>(fields[i][at])) || fields[i][at] == '-'))
        r.numbers.push_back(std::stol(fields[i].substr(at)));
    }
    out.push_back(std::move(r));
  }
  return out;
}

// What the song keeps of an event, as both sides see it.
struct Kept {
  uint32_t tick;
  int kind, status, data1, data2, port;
  uint32_t tempo;
  size_t sysexBytes;
  bool operator==(const Kept&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Kept& k) {
  return os << "{tick " << k.tick << " kind " << k.kind << " status " << k.status << " " << k.data1 << " "
            << k.data2 << " port " << k.port << " tempo " << k.tempo << " sysex " << k.sysexBytes << "}";
}

int ChannelStatus(const CsvRecord& r) {
  static const std::pair<const char*, int> kinds[] = {
      {"Note_off_c", 0x80}, {"Note_on_c", 0x90}, {"Poly_aftertouch_c", 0xA0}, {"Control_c", 0xB0},
      {"Program_c", 0xC0}, {"Channel_aftertouch_c", 0xD0}, {"Pitch_bend_c", 0xE0}};
  for (const auto& [name, status] : kinds)
    if (r.type == name && !r.numbers.empty()) return status | static_cast<int>(r.numbers[0] & 0x0F);
  return -1;
}
void DataBytes(const CsvRecord& r, int status, int* d1, int* d2) {
  *d1 = *d2 = 0;
  if ((status & 0xF0) == 0xE0) {  // pitch bend: one 14-bit value
    *d1 = static_cast<int>(r.numbers.at(1) & 0x7F);
    *d2 = static_cast<int>((r.numbers.at(1) >> 7) & 0x7F);
  } else {
    *d1 = static_cast<int>(r.numbers.at(1));
    if (r.numbers.size() > 2) *d2 = static_cast<int>(r.numbers[2]);
  }
}

// midicsv's events as the song model keeps them: tracks one after another, stable-sorted by tick.
std::vector<Kept> ExpectedEvents(const std::vector<CsvRecord>& records) {
  std::vector<Kept> out;
  int track = -1, port = 0;
  for (const auto& r : records) {
    if (r.track != track) {
      track = r.track;
      port = 0;
    }
    if (r.type == "MIDI_port" && !r.numbers.empty()) {
      port = static_cast<int>(r.numbers[0]);
    } else if (r.type == "Tempo") {
      out.push_back({r.tick, kSongEventTempo, 0, 0, 0, port, static_cast<uint32_t>(r.numbers.at(0)), 0});
    } else if (r.type == "System_exclusive" || r.type == "System_exclusive_packet") {
      const size_t length = static_cast<size_t>(r.numbers.at(0)) + (r.type == "System_exclusive" ? 1 : 0);
      out.push_back({r.tick, kSongEventSysEx, 0, 0, 0, port, 0, length});
    } else if (int status = ChannelStatus(r); status >= 0 && port <= 1) {
      int d1, d2;
      DataBytes(r, status, &d1, &d2);
      out.push_back({r.tick, kSongEventChannel, status, d1, d2, port, 0, 0});
    }
  }
  std::stable_sort(out.begin(), out.end(), [](const Kept& a, const Kept& b) { return a.tick < b.tick; });
  return out;
}

std::vector<Kept> ParsedEvents(const SongModel& m) {
  std::vector<Kept> out;
  for (const auto& e : m.SongEventList)
    out.push_back({e.tick, e.kind, e.status, e.data1, e.data2, e.port, e.kind == kSongEventTempo ? e.tempo : 0,
                   m.SysExOf(e).size()});
  return out;
}

// The ways of writing the events again.
enum class Oddity { kNone, kRunningStatusAcrossMeta, kPaddedDeltas, kFirstTrackClaimsTheFile, kStrayLeadingByte,
                    kBytesAfterEnd };

void PutVarLen(std::string& out, uint32_t v, bool padded) {
  if (padded) {  // five bytes: a leading 80h and all four groups
    out += '\x80';
    for (int shift = 21; shift > 0; shift -= 7) out += static_cast<char>(0x80 | ((v >> shift) & 0x7F));
    out += static_cast<char>(v & 0x7F);
    return;
  }
  char buf[5];
  int n = 0;
  buf[n++] = static_cast<char>(v & 0x7F);
  while (v >>= 7) buf[n++] = static_cast<char>(0x80 | (v & 0x7F));
  while (n) out += buf[--n];
}

// A standard MIDI file of the records' tracks with the events the model reads, plus a text event
// before every channel message (where lyrics stand in karaoke files).
std::string WriteAgain(const std::vector<CsvRecord>& records, Oddity oddity) {
  std::vector<std::string> tracks;
  int division = 480;
  std::string body;
  uint32_t last = 0;
  int running = 0;
  bool firstEvent = true;
  auto event = [&](uint32_t tick, const std::string& bytes, int status) {
    if (firstEvent && oddity == Oddity::kStrayLeadingByte && tick == 0) body += std::string(2, '\0');
    firstEvent = false;
    PutVarLen(body, tick - last, oddity == Oddity::kPaddedDeltas);
    last = tick;
    const bool channel = status >= 0x80 && status < 0xF0;
    const bool keepRunning = oddity == Oddity::kRunningStatusAcrossMeta && channel && status == running;
    if (!keepRunning) body += static_cast<char>(status);
    if (channel) running = status;
    else if (oddity != Oddity::kRunningStatusAcrossMeta) running = 0;
    body += bytes;
  };
  auto meta = [&](uint32_t tick, int type, const std::string& data) {
    std::string bytes(1, static_cast<char>(type));
    PutVarLen(bytes, static_cast<uint32_t>(data.size()), false);
    event(tick, bytes + data, 0xFF);
  };
  for (const auto& r : records) {
    if (r.type == "Header") {
      division = static_cast<int>(r.numbers.at(2));
    } else if (r.type == "Start_track") {
      body.clear();
      last = 0;
      running = 0;
      firstEvent = true;
    } else if (r.type == "End_track") {
      meta(r.tick, 0x2F, "");
      if (oddity == Oddity::kBytesAfterEnd) body += std::string("\x00\x90\x40\x40\x00\xFF\x51\x03\x01\x02\x03", 11);
      tracks.push_back(body);
    } else if (r.type == "MIDI_port") {
      meta(r.tick, 0x21, std::string(1, static_cast<char>(r.numbers.at(0))));
    } else if (r.type == "Tempo") {
      const auto t = static_cast<uint32_t>(r.numbers.at(0));
      meta(r.tick, 0x51, {static_cast<char>(t >> 16), static_cast<char>(t >> 8), static_cast<char>(t)});
    } else if (r.type == "System_exclusive" || r.type == "System_exclusive_packet") {
      std::string bytes;
      PutVarLen(bytes, static_cast<uint32_t>(r.numbers.at(0)), false);
      for (size_t i = 1; i < r.numbers.size(); ++i) bytes += static_cast<char>(r.numbers[i]);
      event(r.tick, bytes, r.type == "System_exclusive" ? 0xF0 : 0xF7);
    } else if (int status = ChannelStatus(r); status >= 0) {
      int d1, d2;
      DataBytes(r, status, &d1, &d2);
      meta(r.tick, 0x01, "x");
      std::string bytes(1, static_cast<char>(d1));
      if ((status & 0xF0) != 0xC0 && (status & 0xF0) != 0xD0) bytes += static_cast<char>(d2);
      event(r.tick, bytes, status);
    }
  }
  auto be = [](uint32_t v, int n) {
    std::string s;
    for (int i = n - 1; i >= 0; --i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
  };
  std::string file = "MThd" + be(6, 4) + be(1, 2) + be(static_cast<uint32_t>(tracks.size()), 2) +
                     be(static_cast<uint32_t>(division), 2);
  size_t rest = 0;
  for (const auto& t : tracks) rest += 8 + t.size();
  for (size_t i = 0; i < tracks.size(); ++i) {
    const uint32_t length = i == 0 && oddity == Oddity::kFirstTrackClaimsTheFile
                                ? static_cast<uint32_t>(rest + 1000)
                                : static_cast<uint32_t>(tracks[i].size());
    file += "MTrk" + be(length, 4) + tracks[i];
  }
  return file;
}

std::vector<fs::path> RealMidiFiles() {
  std::vector<fs::path> files;
  for (const fs::path& dir : {fs::path(TAVELO_SOURCE_DIR) / "tests/fixtures/midi", fs::path("/usr/share/planetblupi/music")}) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
      if (it->path().extension() == ".mid") files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

TEST(RealMidiFiles, ReadAsAnIndependentReaderReadsThemAlsoWhenWrittenOddly) {
  TempRoot root;
  const auto files = RealMidiFiles();
  ASSERT_FALSE(files.empty());  // the fixtures at least
  int compared = 0;
  for (const auto& file : files) {
    const fs::path csv = root.root() / (file.stem().string() + ".csv");
    const int rc = plat::RunHiddenAndWait({"midicsv", file.string(), csv.string()}, 60000);
    if (rc == -1) GTEST_SKIP() << "midicsv is not installed";
    ASSERT_EQ(rc, 0) << file;
    const auto records = ReadCsv(csv);
    ASSERT_FALSE(records.empty()) << file;
    const auto want = ExpectedEvents(records);

    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SongModel m;
    ASSERT_TRUE(ParseSongMidiBytes(m, bytes)) << file;
    EXPECT_EQ(m.SongPpq, static_cast<int>(records.front().numbers.at(2))) << file;
    const auto got = ParsedEvents(m);
    ASSERT_EQ(got.size(), want.size()) << file;
    for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(got[i], want[i]) << file << " event " << i;

    for (Oddity oddity : {Oddity::kNone, Oddity::kRunningStatusAcrossMeta, Oddity::kPaddedDeltas,
                          Oddity::kFirstTrackClaimsTheFile, Oddity::kStrayLeadingByte, Oddity::kBytesAfterEnd}) {
      SongModel odd;
      ASSERT_TRUE(ParseSongMidiBytes(odd, WriteAgain(records, oddity))) << file;
      const auto oddGot = ParsedEvents(odd);
      ASSERT_EQ(oddGot.size(), want.size()) << file << " written oddly, way " << static_cast<int>(oddity);
      for (size_t i = 0; i < want.size(); ++i)
        ASSERT_EQ(oddGot[i], want[i]) << file << " written oddly, way " << static_cast<int>(oddity) << ", event " << i;
    }
    ++compared;
  }
  EXPECT_GE(compared, 1);
}
