// Parses and analyses a large song: five minutes at 120 bpm, 32 channels on two ports with
// notes and dense controllers, plus the lyric and score tracks and a song text. Prints the best
// and the median time per song for the MIDI parse alone (from bytes) and for the whole rebuild of
// the song model (song text, MIDI file from the file cache, singer keys, bass part, publication).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "songs/song_load.h"
#include "songs/chords.h"
#include "songs/midi_parser.h"
#include "songs/song_model.h"

namespace {

constexpr int kDivision = 480;
constexpr uint32_t kSongTicks = 5 * 60 * 2 * kDivision;  // five minutes at 120 bpm

struct Writer {
  std::string body;
  uint32_t last = 0;
  void Delta(uint32_t tick) {
    uint32_t v = tick - last;
    last = tick;
    char buf[5];
    int n = 0;
    buf[n++] = static_cast<char>(v & 0x7F);
    while (v >>= 7) buf[n++] = static_cast<char>(0x80 | (v & 0x7F));
    while (n) body += buf[--n];
  }
  void Event(uint32_t tick, std::initializer_list<uint32_t> bytes) {
    Delta(tick);
    for (uint32_t b : bytes) body += static_cast<char>(b);
  }
  void Meta(uint32_t tick, int type, const std::string& data) {
    Delta(tick);
    body += '\xFF';
    body += static_cast<char>(type);
    body += static_cast<char>(data.size());
    body += data;
  }
  std::string Chunk() {
    Meta(last, 0x2F, "");
    uint32_t n = static_cast<uint32_t>(body.size());
    return std::string("MTrk") + static_cast<char>(n >> 24) + static_cast<char>(n >> 16) +
           static_cast<char>(n >> 8) + static_cast<char>(n) + body;
  }
};

std::string LargeSong(size_t* eventCount) {
  std::vector<std::string> chunks;
  size_t events = 0;
  Writer conductor;
  conductor.Meta(0, 0x58, std::string("\x04\x02\x18\x08", 4));
  for (uint32_t t = 0; t < kSongTicks; t += 16 * kDivision) {
    conductor.Meta(t, 0x51, std::string("\x07\xA1\x20", 3));
    ++events;
  }
  chunks.push_back(conductor.Chunk());
  for (int track = 0; track < 32; ++track) {
    Writer w;
    const uint32_t ch = track % 16;
    w.Meta(0, 0x21, std::string(1, static_cast<char>(track / 16)));
    w.Event(0, {0xB0u | ch, 0, 0});
    w.Event(0, {0xC0 | ch, static_cast<uint32_t>(track)});
    events += 2;
    // An eighth-note line with expression swells every 60 ticks (16 a second) and pitch bends on every note.
    for (uint32_t t = 0; t < kSongTicks; t += 60) {
      if (t % 240 == 0) {
        uint32_t note = 36 + (t / 240 + track * 5) % 48;
        w.Event(t, {0x90 | ch, note, 64 + (t / 240) % 60});
        w.Event(t, {0xE0 | ch, 0, 64});
        events += 2;
      }
      w.Event(t, {0xB0 | ch, 11, 60 + (t / 60) % 60});
      ++events;
      if (t % 240 == 180) {
        uint32_t note = 36 + (t / 240 + track * 5) % 48;
        w.Event(t + 40, {0x80 | ch, note, 0});
        ++events;
      }
    }
    chunks.push_back(w.Chunk());
  }
  Writer gasa, staff1, staff2;
  gasa.Meta(0, 0x03, "gasa");
  staff1.Meta(0, 0x03, "staff1");
  staff2.Meta(0, 0x03, "staff2");
  gasa.Event(0, {0xB0, 10, 0});
  ++events;
  for (uint32_t t = 1920; t < kSongTicks; t += 240) {
    gasa.Event(t, {0x90, 60, 1});
    gasa.Event(t + 200, {0x80, 60, 0});
    staff1.Event(t, {0x90, 60 + (t / 240) % 12, 90});
    staff1.Event(t + 200, {0x80, 60 + (t / 240) % 12, 0});
    staff2.Event(t, {0x90, 48, 90});
    staff2.Event(t, {0x90, 52, 90});
    staff2.Event(t + 200, {0x80, 48, 0});
    staff2.Event(t + 200, {0x80, 52, 0});
    events += 8;
  }
  chunks.push_back(gasa.Chunk());
  chunks.push_back(staff1.Chunk());
  chunks.push_back(staff2.Chunk());
  std::string file("MThd\0\0\0\x06\0\x01", 10);
  file += static_cast<char>(chunks.size() >> 8);
  file += static_cast<char>(chunks.size());
  file += static_cast<char>(kDivision >> 8);
  file += static_cast<char>(kDivision & 0xFF);
  for (const auto& c : chunks) file += c;
  *eventCount = events;
  return file;
}

std::string LargeSongText() {
  std::string text = "0001\n큰 노래\n\n\n가수\n\nAm/Em/Cm\n>\n";
  for (int line = 0; line < 200; ++line) {
    text += "아리랑 아리랑 아라리요 아리랑 고개로 넘어간다\n";
    text += "Am . . . | Dm . G7 . | C . . . | E7 . . . /\n";
  }
  return text + "<\n";
}

struct RunTimes {
  double bestMs = 0;
  double medianMs = 0;
};

// Best and median of `runs` timed runs: the best shows what the code costs, the median what a
// run typically costs on a machine that is doing other work too.
template <class Fn>
RunTimes TimeRuns(int runs, Fn fn) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    fn();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return {ms.front(), ms[ms.size() / 2]};
}

}  // namespace

int main() {
  auto root = std::filesystem::temp_directory_path() / "tavelo_bench_song_model";
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root / "system");
  plat::SetRootDir(root);

  size_t events = 0;
  const std::string midi = LargeSong(&events);
  plat::WriteFileAtomic(root / "system" / "P0001.MID", midi);
  plat::WriteFileAtomic(root / "system" / "P0001.txt", LargeSongText());

  SongModel model;
  const RunTimes parse = TimeRuns(41, [&] { ParseSongMidiBytes(model, midi); });
  const RunTimes rebuild = TimeRuns(41, [&] {
    auto song = RebuildSongModel(L"<root>/system/P0001.MID", L"<root>/system/P0001.txt");
    BuildChordTimeline(*song);
  });
  auto song = LoadedSong();
  std::printf("song: %zu bytes, %zu events (%zu written), %zu bars, %zu lyric ticks, loudness %d\n",
              midi.size(), song->SongEventList.size(), events, song->BarTicks.size(),
              song->LyricSyncTicks.size(), song->SongLoudness);
  std::printf("ParseSongMidi (bytes):         %8.3f ms per song (median %.3f ms)\n", parse.bestMs, parse.medianMs);
  std::printf("RebuildSongModel (text+MIDI):  %8.3f ms per song (median %.3f ms; goal: under 5 ms)\n",
              rebuild.bestMs, rebuild.medianMs);
  std::filesystem::remove_all(root);
  return 0;
}
