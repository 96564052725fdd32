// The rhythm sender: chord following and ranges, the tone cache, the drum switches G/H/J, the
// sounding-note table, and a window's firing with catch-up spacing on a virtual clock.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "base/settings/app_settings.h"
#include "base/trace_lines.h"
#include "common/temp_root.h"
#include "platform/midi_out.h"
#include "playback/rhythm_sender.h"
#include "playback/services.h"
#include "sound/midi_send.h"
#include "sound/mixer_state.h"
#include "sound/rhythm_parts.h"
#include "sound/send_trace.h"
#include "sound/services.h"
#include "sound/tone_table.h"

namespace {

struct Sent {
  uint32_t message;
  double at;
};
std::vector<Sent> g_sent;
VirtualRhythmClock* g_clock = nullptr;
CurrentChordValue g_chord;

void Record(MidiOutHandle, uint32_t m) { g_sent.push_back({m, g_clock ? g_clock->NowMs() : 0}); }
CurrentChordValue Chord() { return g_chord; }

StyleEvent On(uint32_t t, int ch, int note, int vel, int follow = 0) {
  return {t, uint8_t(ch), kStyleNoteOn, uint8_t(note), uint8_t(vel), uint8_t(follow)};
}
StyleEvent Off(uint32_t t, int ch, int note, int follow = 0) {
  return {t, uint8_t(ch), kStyleNoteOff, uint8_t(note), 0, uint8_t(follow)};
}

class SenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = AppSettings{};
    g_sent.clear();
    g_chord = {};
    g_clock = &clock_;
    SetCvtOutput(Record);
    SetCvtChordSource(Chord);
    for (auto& p : Mixer.EffectiveRhythmPercent) p = 100;
    RhythmParts.SnareSubKitOn = RhythmParts.SnareSubClapOn = RhythmParts.SnareSubShakerOn = 0;
    RhythmParts.BassOctaveShift = 0;
    for (auto& row : RhythmParts.CvtSoundingNotes) row.fill({});
    RhythmParts.CvtToneCache.valid = false;
    CvtState.FillDrumMute = CvtState.EnterFillMute = 0;
    CvtState.CvtDrumHoldUntil = 0;
    ClearCvtToneSlots();
  }
  void TearDown() override {
    ClearCvtToneSlots();
    SetCvtOutput(nullptr);
    SetCvtChordSource(nullptr);
    g_clock = nullptr;
    Settings = AppSettings{};
  }
  static std::vector<uint32_t> Messages() {
    std::vector<uint32_t> out;
    for (const Sent& s : g_sent) out.push_back(s.message);
    return out;
  }
  VirtualRhythmClock clock_;
};

TEST(ChordFollow, TableOfChordsAndRanges) {
  struct Case {
    const char* name;
    int note, channel;
    CurrentChordValue chord;
    ChordFollowRange range;
    int expected;
  };
  const ChordFollowRange wide{0, 0, 127, 0};
  const std::vector<Case> cases = {
      {"C over A minor: A", 36, 8, {9, 9, false, false}, wide, 33},
      {"E over A minor: C (third to minor, then down three)", 40, 8, {9, 9, true, false}, wide, 36},
      {"G over A minor: E", 43, 8, {9, 9, true, false}, wide, 40},
      {"C over G: a fourth lower", 36, 8, {7, 7, false, false}, wide, 31},
      {"E over G: B", 40, 8, {7, 7, false, false}, wide, 35},
      {"C over F sharp: six up", 36, 8, {6, 6, false, false}, wide, 42},
      {"minor third over major becomes major", 39, 6, {0, 0, false, false}, wide, 40},
      {"slash chord C/E: bass to E", 36, 8, {0, 4, false, false}, wide, 40},
      {"slash chord C/E: guitar stays on C", 48, 6, {0, 4, false, false}, wide, 48},
      {"bass below the floor rises by octaves", 30, 8, {0, 0, false, false}, {0, 36, 55, 0}, 42},
      {"bass above the ceiling falls by octaves", 60, 8, {0, 0, false, false}, {0, 36, 55, 0}, 48},
      {"narrow bass range: no folding", 60, 8, {0, 0, false, false}, {0, 36, 45, 0}, 60},
      {"bass octave shift", 36, 8, {0, 0, false, false}, {12, 0, 127, 0}, 48},
      {"guitar above 96 folds into 85..96", 100, 6, {0, 0, false, false}, {0, 36, 55, 48}, 88},
      {"guitar fold off", 100, 6, {0, 0, false, false}, {0, 36, 55, 0}, 100},
      {"guitar below its floor rises", 30, 6, {0, 0, false, false}, {0, 36, 55, 48}, 54},
      {"far below 0 comes up by whole octaves", 2, 8, {0, 0, false, false}, {-48, 0, 5, 0}, 2},
      {"far above 127 comes down by whole octaves", 125, 8, {6, 6, false, false}, {36, 0, 5, 0}, 119},
      {"negative bass root wraps", 36, 8, {0, -3, false, false}, wide, 33},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int n = FollowChordNote(c.note, c.channel, c.chord, c.range);
    EXPECT_EQ(n, c.expected);
    EXPECT_GE(n, 0);
    EXPECT_LE(n, 127);
  }
}

TEST_F(SenderTest, FollowedNoteEndsWithTheNoteSent) {
  Settings.cvtBassLow = 28;
  Settings.cvtBassLowSolo = 28;
  Settings.cvtBassHigh = 60;
  g_chord = {7, 7, false, false};
  SendCvtEvent(1, On(0, 8, 36, 100, 1));
  g_chord = {2, 2, false, false};  // the chord changes while the note sounds
  SendCvtEvent(1, Off(10, 8, 36, 1));
  EXPECT_EQ(Messages(), (std::vector<uint32_t>{PackMidi(0x98, 31, 100), PackMidi(0x88, 31, 0)}));
}

TEST_F(SenderTest, RetriggerOnAnotherNoteEndsTheOldOne) {
  Settings.cvtBassLow = 28;
  Settings.cvtBassLowSolo = 28;
  g_chord = {0, 0, false, false};
  SendCvtEvent(1, On(0, 8, 36, 100, 1));
  g_chord = {2, 2, false, false};
  SendCvtEvent(1, On(0, 8, 36, 90, 1));
  EXPECT_EQ(Messages(), (std::vector<uint32_t>{PackMidi(0x98, 36, 100), PackMidi(0x88, 36, 0), PackMidi(0x98, 38, 90)}));
}

TEST_F(SenderTest, ToneCacheSendsRepeatsOnce) {
  const StyleEvent prog{0, 11, kStyleProgram, 5, 0, 0};
  const StyleEvent bassProg{0, 8, kStyleProgram, 5, 0, 0};
  const StyleEvent bassMsb{0, 8, kStyleController, 0, 7, 0};
  const StyleEvent vol{0, 11, kStyleController, 7, 90, 0};
  for (int i = 0; i < 2; ++i) {
    SendCvtEvent(1, prog);
    SendCvtEvent(1, bassProg);
    SendCvtEvent(1, bassMsb);
    SendCvtEvent(1, vol);
  }
  EXPECT_EQ(Messages(), (std::vector<uint32_t>{PackMidi(0xCB, 5), PackMidi(0xC8, 33), PackMidi(0xB8, 0, 0),
                                               PackMidi(0xBB, 7, 90), PackMidi(0xBB, 7, 90)}));
  MarkCvtToneCachesEmpty();
  g_sent.clear();
  SendCvtEvent(1, prog);
  EXPECT_EQ(Messages(), (std::vector<uint32_t>{PackMidi(0xCB, 5)}));
}

TEST_F(SenderTest, DrumSwitchesAndLevels) {
  struct Case {
    const char* name;
    bool g, h;
    int level15, percent10;
    std::vector<uint32_t> expected;
  };
  const std::vector<Case> cases = {
      {"plain snare", false, false, 100, 100, {PackMidi(0x9A, 38, 100)}},
      {"G: electronic kit snare", true, false, 100, 100, {PackMidi(0x9A, 50, 100)}},
      {"G and H: note 50 plus a clap, raised", true, true, 100, 100, {PackMidi(0x9A, 50, 127), PackMidi(0x9A, 39, 127)}},
      {"H: clap at 135 percent times the level", false, true, 50, 100, {PackMidi(0x9A, 39, 67)}},
      {"substitution level 0 silences", true, false, 0, 100, {PackMidi(0x9A, 50, 0)}},
      {"channel level 50", false, false, 100, 50, {PackMidi(0x9A, 38, 50)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_sent.clear();
    for (auto& row : RhythmParts.CvtSoundingNotes) row.fill({});
    RhythmParts.SnareSubKitOn = c.g;
    RhythmParts.SnareSubClapOn = c.h;
    Mixer.EffectiveRhythmPercent[15] = c.level15;
    Mixer.EffectiveRhythmPercent[10] = c.percent10;
    SendCvtEvent(1, On(0, 10, 38, 100));
    EXPECT_EQ(Messages(), c.expected);
  }
  // The plain snare still sounds; switching G on ends it before the kit's note.
  g_sent.clear();
  RhythmParts.SnareSubKitOn = 1;
  Mixer.EffectiveRhythmPercent[10] = 100;
  SendCvtEvent(1, On(0, 10, 38, 100));
  EXPECT_EQ(Messages(), (std::vector<uint32_t>{PackMidi(0x8A, 38, 0), PackMidi(0x9A, 50, 100)}));
}

TEST_F(SenderTest, MutesAndVelocityRules) {
  CvtState.FillDrumMute = 1;
  SendCvtEvent(1, On(0, 10, 38, 100));  // dropped
  SendCvtEvent(1, On(0, 9, 36, 100));   // kept: the main kit goes on
  CvtState.FillDrumMute = 0;
  CvtState.EnterFillMute = 1;
  SendCvtEvent(1, On(0, 9, 36, 100));  // dropped
  CvtState.EnterFillMute = 0;
  Settings.cvtGuitarLow = 0;
  SendCvtEvent(1, On(0, 6, 60, 100));  // guitar at 70 percent plus 1.5
  SendCvtEvent(1, On(0, 12, 60, 0));   // at least 1
  EXPECT_EQ(Messages(), (std::vector<uint32_t>{PackMidi(0x99, 36, 100), PackMidi(0x96, 60, 71), PackMidi(0x9C, 60, 1)}));
}

TEST_F(SenderTest, HalfBeatPulses) {
  RhythmParts.SnareSubShakerOn = 1;
  Mixer.EffectiveRhythmPercent[15] = 50;
  PlayHalfBeatPulse(1, 0, 96, 96);
  EXPECT_EQ(Messages(), (std::vector<uint32_t>{PackMidi(0x8C, 54, 0), PackMidi(0x9C, 54, 43), PackMidi(0x8C, 54, 0),
                                               PackMidi(0x9C, 54, 54)}));
  g_sent.clear();
  PlayHalfBeatPulse(1, -1, 0, 96);  // from the pattern start: a pulse at 0
  EXPECT_EQ(g_sent.size(), 2u);
  RhythmParts.SnareSubShakerOn = 0;
  g_sent.clear();
  PlayHalfBeatPulse(1, 0, 960, 96);
  EXPECT_TRUE(g_sent.empty());
}

TEST_F(SenderTest, WindowsWrapAndCatchUpSpacing) {
  const std::vector<StyleEvent> pattern = {On(0, 11, 42, 80), On(0, 9, 36, 100), Off(5, 11, 42), On(10, 11, 42, 80),
                                           On(20, 11, 42, 80), On(470, 12, 60, 70)};
  FireStyleEvents(1, pattern, {460, 10, false, 480, 120}, clock_);
  EXPECT_EQ(Messages(), (std::vector<uint32_t>{PackMidi(0x9C, 60, 70), PackMidi(0x9B, 42, 80), PackMidi(0x99, 36, 100),
                                               PackMidi(0x8B, 42, 0), PackMidi(0x9B, 42, 80)}));
  // Catch-up: three hi-hats of one channel 12 ms apart; the kick beside them at once.
  g_sent.clear();
  const double start = clock_.NowMs();
  FireStyleEvents(1, pattern, {479, 20, true, 480, 120}, clock_);
  std::vector<double> hats;
  for (const Sent& s : g_sent)
    if (s.message == PackMidi(0x9B, 42, 80)) hats.push_back(s.at - start);
  EXPECT_EQ(hats, (std::vector<double>{0, 12, 24}));
  EXPECT_EQ(g_sent[1].message, PackMidi(0x99, 36, 100));
  EXPECT_EQ(g_sent[1].at, start);
}

}  // namespace

namespace {
struct SlotChoice {
  int part, context;
  CvtToneSlotValues values;
};
}  // namespace

TEST_F(SenderTest, OperatorTonesReachTheEngineChannels) {
  // Every case sends the style's bank MSB 1, LSB 2 and program 20 + channel on the engine's tone
  // channels; `tones` is what goes out per channel: bank MSB, bank LSB, program.
  struct Tone {
    int msb, lsb, program;
  };
  struct Case {
    const char* name;
    std::vector<SlotChoice> slots;
    bool kit;
    std::map<int, Tone> tones;
  };
  const CvtToneSlotValues def{true, true, 0, 0, 0, 0, L"Default"};
  const std::vector<Case> cases = {
      {"empty slots: the style's tones, the bass on the fixed slap tone",
       {},
       false,
       {{6, {1, 2, 26}}, {8, {0, 3, 33}}, {9, {1, 2, 29}}, {10, {1, 2, 30}}, {11, {1, 2, 31}}, {12, {1, 2, 32}}}},
      {"chosen slots: their bank and program",
       {{0, 0, {true, false, 4, 8, 26, 36, L"Jazz"}},
        {1, 0, {true, false, 3, 16, 176, 38, L"Brush"}},
        {2, 0, {true, false, 1, 0, 35, 0, L"Fretless"}},
        {3, 1, {true, false, 0, 9, 29, 0, L"Nylon"}},
        {4, 0, {true, false, 2, 0, 8, 0, L"Room"}}},
       false,
       {{6, {9, 0, 29}}, {8, {0, 1, 35}}, {9, {8, 4, 26}}, {10, {16, 3, 48}}, {11, {0, 2, 8}}, {12, {1, 2, 32}}}},
      {"\"Default\" slots keep the style's own tones",
       {{0, 0, def}, {1, 0, def}, {2, 0, def}, {3, 1, def}, {4, 0, def}},
       false,
       {{6, {1, 2, 26}}, {8, {0, 3, 33}}, {9, {1, 2, 29}}, {10, {1, 2, 30}}, {11, {1, 2, 31}}}},
      {"the song's guitar slot is not the rhythm guitar's",
       {{3, 0, {true, false, 0, 9, 29, 0, L"Nylon"}}},
       false,
       {{6, {1, 2, 26}}}},
      {"G's electronic kit stands over the operator's second kit",
       {{1, 0, {true, false, 3, 16, 48, 38, L"Brush"}}},
       true,
       {{10, {0, 2, 24}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearCvtToneSlots();
    for (const SlotChoice& slot : c.slots) SetCvtToneSlot(slot.part, slot.context, slot.values);
    RhythmParts.SnareSubKitOn = c.kit;
    MarkCvtToneCachesEmpty();
    Tones.StyleDrumKit2Program = 0;
    std::vector<uint32_t> expected;
    g_sent.clear();
    for (const auto& [ch, tone] : c.tones) {
      const uint8_t program = static_cast<uint8_t>(20 + ch);
      SendCvtEvent(1, {0, uint8_t(ch), kStyleController, 0, 1, 0});
      SendCvtEvent(1, {0, uint8_t(ch), kStyleController, 32, 2, 0});
      SendCvtEvent(1, {0, uint8_t(ch), kStyleProgram, program, 0, 0});
      expected.push_back(PackMidi(0xB0 | ch, 0, tone.msb));
      expected.push_back(PackMidi(0xB0 | ch, 32, tone.lsb));
      expected.push_back(PackMidi(0xC0 | ch, tone.program));
    }
    EXPECT_EQ(Messages(), expected);
    // The style's own second kit is kept to come back to, whatever was sent in its place.
    if (c.tones.count(10)) EXPECT_EQ(Tones.StyleDrumKit2Program.load(), 30);
  }
}

namespace {
// The tone setup on a recording port 1: the short messages it records, as "B6 00 08".
class ToneSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = AppSettings{};
    Settings.port1Device = L"P1";
    Settings.port2Device = L"none";
    CloseMidiPorts();
    plat::SetFakeMidiOutDevices({{L"P1", root_.path() / "p1.rec", 0, false, false}});
    ASSERT_TRUE(OpenMidiPort1());
    ClearCvtToneSlots();
    ClearInitialTones(1);
    RhythmParts.SnareSubKitOn = 0;
  }
  void TearDown() override {
    CloseMidiPorts();
    plat::SetFakeMidiOutDevices({});
    ClearCvtToneSlots();
    ClearInitialTones(1);
    std::lock_guard lock(RhythmStyles.SetMutex);
    RhythmStyles.active.main.events.clear();
    Settings = AppSettings{};
  }
  std::vector<std::string> Recorded() const {
    std::vector<std::string> out;
    std::ifstream in(root_.path() / "p1.rec");
    std::string line;
    while (std::getline(in, line)) {
      const size_t tag = line.find(' '), bytes = line.find(' ', tag + 1);
      if (bytes != std::string::npos && line.compare(bytes + 1, 2, "F0") != 0) out.push_back(line.substr(bytes + 1));
    }
    return out;
  }
  TempRoot root_;
};
}  // namespace

TEST_F(ToneSetupTest, StyleTonesThenTheOperatorsRhythmPartTones) {
  {
    std::lock_guard lock(RhythmStyles.SetMutex);
    RhythmStyles.active.main.events = {{0, 6, kStyleProgram, 27, 0, 0},
                                       {0, 11, kStyleProgram, 3, 0, 0},
                                       {0, 11, kStyleController, 7, 90, 0},
                                       {5, 11, kStyleController, 7, 80, 0},  // not the first: stays
                                       {5, 11, kStyleProgram, 4, 0, 0}};
  }
  SetInitialTone(1, 0, 11, false, 0, 0, 3);
  SetCvtToneSlot(3, 1, {true, false, 0, 8, 26, 0, L"Nylon"});
  SetCvtToneSlot(4, 0, {true, true, 0, 0, 0, 0, L"Default"});  // the style's first hi-hat tone
  SetCvtToneSlot(7, 0, {true, false, 0, 0, 66, 0, L"Sax"});    // the song's melody: not the engine's
  SendCvtToneSetup();
  EXPECT_EQ(Recorded(), (std::vector<std::string>{"C6 1A", "CB 03", "BB 07 5A", "B6 00 08", "B6 20 00", "C6 1A", "CB 03"}));
}

namespace {

class BassTraceTest : public TraceLogTest {
 protected:
  void SetUp() override {
    TraceLogTest::SetUp();
    InstallPlaybackSignals();
    Settings = AppSettings{};
    Settings.cvtBassLow = 28;
    Settings.cvtBassLowSolo = 36;
    SetCvtOutput(Record);
    for (auto& p : Mixer.EffectiveRhythmPercent) p = 100;
    for (auto& row : RhythmParts.CvtSoundingNotes) row.fill({});
    RhythmParts.bassNotesOn = 0;
    CvtState.CvtTempoFactor = -1;
  }
  void TearDown() override {
    SetCvtOutput(nullptr);
    PlaybackState.isPlaying = 0;
    Sound.VolumeTraceUntil = 0;
    Settings = AppSettings{};
    TraceLogTest::TearDown();
  }
  std::vector<std::string> BassLines() {
    std::vector<std::string> out;
    for (const std::string& line : Lines())
      if (line.rfind("[BASS]", 0) == 0) out.push_back(line);
    return out;
  }
};

}  // namespace

// While the volume watch is open every bass note on and off is traced; once it closes, a song's
// bass is not, and the rhythm alone is sampled at most every 500 ms.
TEST_F(BassTraceTest, BassNotesAreTracedWhileTheVolumeWatchIsOpen) {
  PlaybackState.isPlaying = 1;
  OpenVolumeTrace(15000);
  SendCvtEvent(1, On(0, 8, 40, 100));
  SendCvtEvent(1, Off(0, 8, 40));
  Sound.VolumeTraceUntil = 0;
  SendCvtEvent(1, On(0, 8, 36, 90));
  SendCvtEvent(1, Off(0, 8, 36));
  PlaybackState.isPlaying = 0;
  SendCvtEvent(1, On(0, 8, 36, 90));  // alone, but the last line is less than 500 ms old
  const auto lines = BassLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("\xEA\xB3\xA1\xED\x95\xA9\xEB\xA5\x98 ON  note=40(E2) vel=100  songRef=-1 "), std::string::npos)  // 곡합류
      << lines[0];
  EXPECT_NE(lines[0].find("=36  "), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("=1 mult=1.00"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(" OFF note=40  "), std::string::npos) << lines[1];
  EXPECT_EQ(lines[1].substr(lines[1].size() - 2), "=0");
}
