#include "sound_fixture.h"

#include "base/player_signals.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "sound/channel_tones.h"
#include "sound/rhythm_parts.h"
#include "sound/tone_table.h"

namespace {

class ToneTest : public SoundTest {
 protected:
  void SetUp() override {
    SoundTest::SetUp();
    ClearCvtToneSlots();
    ResetToneSettings();
    ClearInitialTones(0);
    ClearInitialTones(1);
    Tones.DrumKitChosen[0] = Tones.DrumKitChosen[1] = 0;
    ResetMixerDefaults();
    for (int p = 0; p < 2; ++p)
      for (int c = 0; c < 16; ++c) {
        Mixer.ChannelVolumeOverride[p][c] = 0;
        Mixer.SongChannelVolume[p][c] = 0;
        Mixer.SongReverbSend[p][c] = 0;
        Mixer.SongChorusSend[p][c] = 0;
      }
    RecomputeAllLevels();
    Settings.outTrim = 100;
    Settings.dryDrumBass = 0;
    Devices({L"SC-8850", L"SC-88Pro"});
    Settings.port1Device = L"SC-8850";
    Settings.port2Device = L"SC-88Pro";
    ASSERT_TRUE(OpenMidiPort1());
    ASSERT_TRUE(OpenMidiPort2());
  }
  void TearDown() override {
    ClearCvtToneSlots();
    ResetToneSettings();
    SoundTest::TearDown();
  }
  void WriteTable(const std::string& text) {
    std::filesystem::create_directories(root_.path() / "system");
    ASSERT_TRUE(plat::WriteFileAtomic(root_.path() / "system" / "SOUNDTBL.CFG", text));
    LoadSoundTable();
  }
  // Recorded messages of a port since the last call.
  std::vector<std::string> Take(int port) {
    std::vector<std::string> all = Lines(std::to_string(port));
    size_t& seen = seen_[port];
    std::vector<std::string> out(all.begin() + static_cast<long>(std::min(seen, all.size())), all.end());
    seen = all.size();
    return out;
  }
  size_t seen_[2] = {0, 0};
};

using Msgs = std::vector<std::string>;

}  // namespace

TEST_F(ToneTest, SoundTableLinesAndPayload) {
  const std::string cp949Name = "\xB1\xE2\xC5\xB8";  // "기타" in the ANSI code page
  auto table = ParseSoundTable(
      "; comment\r\n"
      "\n"
      "   \t \n"
      "Default 2 0 0 0 0 0 0\r\n"
      "  Fretless 2 0 0 0 35 0 0\n"
      "Short 2 0 0 0 35 0\n"                      // six numbers: skipped
      "Bad 2 0 x 0 35 0 0\n"                      // not a number: skipped
      "Kit 0 0 0 0 24 36 9 extra words\n"
      "O'Brien 7 0 1 8 65 0 0\n"
      "\xEC\x83\x89\xEC\x86\x8C\xED\x8F\xB0 7 0 0 0 65 0 0\n"  // UTF-8 "색소폰"
      + cp949Name + " 3 0 0 0 25 0 0");
  ASSERT_EQ(table.size(), 6u);
  EXPECT_EQ(table[0].name, L"Default");
  EXPECT_EQ(table[1].name, L"Fretless");
  EXPECT_EQ(table[1].program, 35);
  EXPECT_EQ(table[2].name, L"Kit");
  EXPECT_EQ(table[2].note, 36);
  EXPECT_EQ(table[2].reserved2, 9);
  EXPECT_EQ(table[3].bank32, 1);
  EXPECT_EQ(table[3].bank0, 8);
  EXPECT_EQ(table[4].name, L"색소폰");
  EXPECT_EQ(table[5].name, L"기타");

  WriteTable("O'Brien 7 0 1 8 65 0 0\nA\\b 2 0 0 0 33 40 0\n");
  EXPECT_FALSE(SoundTableIsEmpty());
  EXPECT_EQ(BuildSoundTablePayload(),
            L"[{name:'O\\'Brien',type:7,bank32:1,bank0:8,patch:65,note:0},"
            L"{name:'A\\\\b',type:2,bank32:0,bank0:0,patch:33,note:40}]");
  WriteTable("");
  EXPECT_TRUE(SoundTableIsEmpty());
  EXPECT_EQ(BuildSoundTablePayload(), L"[]");
}

TEST_F(ToneTest, PartToneSendsAndDefaultRules) {
  struct Case {
    const char* what;
    int part;
    bool rhythm;
    SoundTableEntry entry;
    int port;
    Msgs sent;
  } cases[] = {
      {"own tone", 2, false, {L"Fretless", 2, 0, 3, 8, 35, 0, 0}, 0, {"1 B8 00 08", "1 B8 20 03", "1 C8 23"}},
      {"bank values masked", 4, false, {L"Hat", 4, 0, 130, 129, 200, 0, 0}, 0, {"1 BB 00 01", "1 BB 20 02", "1 CB 48"}},
      {"default with numbers", 0, false, {L"Default", 0, 0, 0, 1, 16, 0, 0}, 0, {"1 B9 00 01", "1 B9 20 00", "1 C9 10"}},
      {"default bass, song without one", 2, false, {L"Default", 2, 0, 0, 0, 0, 0, 0}, 0, {"1 B8 00 00", "1 B8 20 03", "1 C8 21"}},
      {"default other, song without one", 7, false, {L"Default", 7, 0, 0, 0, 0, 0, 0}, 0, {"1 B0 00 00", "1 B0 20 00", "1 C0 00"}},
      {"second guitar, song context", 3, false, {L"Nylon", 3, 0, 0, 0, 24, 0, 0}, 1, {"2 B0 00 00", "2 B0 20 00", "2 C0 18"}},
      {"second guitar, rhythm context", 3, true, {L"Nylon", 3, 0, 0, 0, 24, 0, 0}, 0, {"1 B6 00 00", "1 B6 20 00", "1 C6 18"}},
      {"part 5 sends nothing", 5, false, {L"X", 5, 0, 0, 0, 24, 0, 0}, 0, {}},
  };
  for (const auto& c : cases) {
    Take(0);
    Take(1);
    SendCvtPartTone(c.part, c.rhythm, c.entry, false);
    EXPECT_EQ(Take(c.port), c.sent) << c.what;
    EXPECT_TRUE(Take(1 - c.port).empty()) << c.what;
  }
  // "Default" with all zeros takes the song's first tone of the channel, or the style's.
  SetInitialTone(0, 0, 8, true, 8, 2, 38);
  SetInitialTone(1, 0, 6, false, 0, 0, 27);
  SendCvtPartTone(2, false, {L"Default", 2}, false);
  EXPECT_EQ(Take(0), (Msgs{"1 B8 00 08", "1 B8 20 02", "1 C8 26"}));
  SendCvtPartTone(3, true, {L"Default", 3}, false);
  EXPECT_EQ(Take(0), (Msgs{"1 C6 1B"}));
  // Drum parts set the kit note the player plays instead.
  SendCvtPartTone(0, false, {L"Kit", 0, 0, 0, 0, 24, 36}, false);
  EXPECT_EQ(DrumNoteOverride(0, 9, 38), 36);
  EXPECT_EQ(DrumNoteOverride(1, 9, 38), 38);
  SendCvtPartTone(1, false, {L"Snare", 1, 0, 0, 0, 24, 40}, false);
  EXPECT_EQ(DrumNoteOverride(0, 10, 38), 40);
  EXPECT_EQ(DrumNoteOverride(0, 10, 45), 45);  // toms stay
  SendCvtPartTone(0, false, {L"Default", 0}, false);
  EXPECT_EQ(DrumNoteOverride(0, 9, 38), 38);
}

TEST_F(ToneTest, ApplySelectionSlotsAndQueries) {
  WriteTable("Default 2 0 0 0 0 0 0\nFretless 2 0 0 0 35 0 0\nNylon 3 0 0 0 24 0 0\nAlto 7 0 0 0 65 0 0\n"
             "Tenor 7 0 0 0 66 0 0\nDefault 2 0 0 0 38 0 0\n");
  EXPECT_EQ(GetCvtBassProgram(), 33);
  EXPECT_FALSE(ApplySoundSelection(2, false, -1));
  EXPECT_FALSE(ApplySoundSelection(2, false, 6));
  EXPECT_FALSE(GetCvtToneSlot(2, 0).chosen);

  EXPECT_TRUE(ApplySoundSelection(2, true, 1));  // bass with the rhythm context: slot [2][0]
  CvtToneSlotValues bass = GetCvtToneSlot(2, 0);
  EXPECT_TRUE(bass.chosen);
  EXPECT_FALSE(bass.useDefault);
  EXPECT_EQ(bass.name, L"Fretless");
  EXPECT_FALSE(GetCvtToneSlot(2, 1).chosen);
  EXPECT_TRUE(IsUserBassToneSet());
  EXPECT_EQ(GetCvtBassProgram(), 35);

  EXPECT_TRUE(ApplySoundSelection(3, true, 2));
  EXPECT_TRUE(GetCvtToneSlot(3, 1).chosen);
  EXPECT_FALSE(GetCvtToneSlot(3, 0).chosen);

  EXPECT_TRUE(ApplySoundSelection(7, false, 4));
  EXPECT_TRUE(IsUserSaxToneSet());
  EXPECT_EQ(UserSaxProgram(), 66);

  EXPECT_TRUE(ApplySoundSelection(2, false, 0));  // "Default", program 0: 33
  EXPECT_FALSE(IsUserBassToneSet());
  EXPECT_EQ(GetCvtBassProgram(), 33);
  EXPECT_TRUE(ApplySoundSelection(2, false, 5));  // "Default" with program 38
  EXPECT_EQ(GetCvtBassProgram(), 38);

  // A changed tone record of the channel is sent after the tone.
  Tones.ChannelToneSettings[0][0][kToneFilter] = 80;
  Take(0);
  EXPECT_TRUE(ApplySoundSelection(7, false, 3));
  Msgs sent = Take(0);
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(sent[2], "1 C0 41");
  EXPECT_EQ(sent[3].substr(0, 7), "1 B0 07");
}

TEST_F(ToneTest, ChannelToneSettingSequences) {
  struct Case {
    const char* what;
    int port, channel, pitch, filterLow;
    Msgs sent;
  } cases[] = {
      {"pitch 0 on a melodic channel still tunes", 0, 1, 0, 64,
       {"1 B1 07 00", "1 B1 65 00", "1 B1 64 02", "1 B1 06 40", "1 B1 26 00", "1 B1 65 7F", "1 B1 64 7F", "1 B1 4A 40",
        "1 B1 5B 28"}},
      {"hi-hat pitch 0: no drum pitch", 0, 11, 0, 64, {"1 BB 07 00", "1 BB 4A 40", "1 BB 5B 28"}},
      {"tom pitch 0: no drum pitch", 0, 12, 0, 64, {"1 BC 07 00", "1 BC 4A 40", "1 BC 5B 28"}},
      {"hi-hat pitch -3", 0, 11, -3, 64,
       {"1 BB 07 00", "1 BB 63 18", "1 BB 62 2A", "1 BB 06 3D", "1 BB 63 7F", "1 BB 62 7F", "1 BB 63 18", "1 BB 62 2C",
        "1 BB 06 3D", "1 BB 63 7F", "1 BB 62 7F", "1 BB 63 18", "1 BB 62 2E", "1 BB 06 3D", "1 BB 63 7F", "1 BB 62 7F",
        "1 BB 4A 40", "1 BB 5B 28"}},
      {"filterLow 200 sends 127", 1, 0, 2, 200,
       {"2 B0 07 00", "2 B0 65 00", "2 B0 64 02", "2 B0 06 42", "2 B0 26 00", "2 B0 65 7F", "2 B0 64 7F", "2 B0 4A 40",
        "2 B0 5B 28", "2 B0 63 01", "2 B0 62 21", "2 B0 06 7F", "2 B0 63 7F", "2 B0 62 7F"}},
  };
  for (const auto& c : cases) {
    Take(0);
    Take(1);
    Tones.ChannelToneSettings[c.port][c.channel][kTonePitch] = c.pitch;
    Tones.ChannelToneSettings[c.port][c.channel][kToneFilterLow] = c.filterLow;
    SendChannelToneSettings(c.port, c.channel);
    EXPECT_EQ(Take(c.port), c.sent) << c.what;
  }
  // With dryDrumBass on, the bass channel's reverb is 0.
  Settings.dryDrumBass = 1;
  SendChannelToneSettings(0, 8);
  Msgs sent = Take(0);
  EXPECT_EQ(sent.back(), "1 B8 5B 00");
  // The user kit's note gets the drum pitch on channel 9.
  SendCvtPartTone(0, false, {L"Kit", 0, 0, 0, 0, 24, 36}, false);
  Take(0);
  Tones.ChannelToneSettings[0][9][kTonePitch] = 1;
  Settings.dryDrumBass = 0;
  SendChannelToneSettings(0, 9);
  EXPECT_EQ(Take(0), (Msgs{"1 B9 07 00", "1 B9 63 18", "1 B9 62 24", "1 B9 06 41", "1 B9 63 7F", "1 B9 62 7F",
                           "1 B9 4A 40", "1 B9 5B 28"}));
}

TEST_F(ToneTest, EffectSendsAndDryDrumBass) {
  Mixer.SongReverbSend[0][9] = 50;
  Mixer.ReverbSendOffset[0][9] = 20;
  Mixer.SongReverbSend[1][9] = 50;
  Mixer.ReverbSendOffset[1][9] = 20;
  Mixer.SongChorusSend[1][9] = 10;
  Settings.dryDrumBass = 1;
  SendChannelEffectSends(0, 9);
  EXPECT_EQ(Take(0), (Msgs{"1 B9 5B 00", "1 B9 5D 00"}));
  SendChannelEffectSends(1, 9);
  EXPECT_EQ(Take(1), (Msgs{"2 B9 5B 46", "2 B9 5D 0A"}));
  // The second drum kit keeps the tone editor's reverb.
  Tones.ChannelToneSettings[0][10][kToneReverb] = 60;
  Mixer.SongChorusSend[0][10] = 5;
  SendChannelEffectSends(0, 10);
  EXPECT_EQ(Take(0), (Msgs{"1 BA 5D 05"}));
  SendDryDrumBassSends();
  EXPECT_EQ(Take(0).size(), 8u);
  Settings.rawSound = 1;
  SendDryDrumBassSends();
  EXPECT_TRUE(Take(0).empty());
  Mixer.ReverbSendOffset[0][9] = 0;
  Mixer.ReverbSendOffset[1][9] = 0;
}

TEST_F(ToneTest, SoundSelReadAndWrite) {
  ParseSoundSel(
      "SEL 2 0 0 3 8 35 0 Fretless\r\n"
      "SEL 3 1 0 0 0 24 0 \xEB\x82\x98\xEC\x9D\xBC\xEB\xA1\xA0\n"  // UTF-8 "나일론"
      "SEL 5 0 0 0 0 24 0 Nope\n"       // part 5: skipped
      "SEL 8 0 0 0 0 24 0 Nope\n"       // no such part
      "SEL 4 0 0 0 0 24 0\n"            // no name
      "SEL 0 2 0 0 0 24 0 Nope\n"       // no such context
      "SELX 1 0 0 0 0 24 0 Nope\n"
      "TONE 0 12 90 0 64 40\n"          // port 1 channel 12: skipped
      "TONE 1 12 90 0 64 40\n"          // six numbers: the rest defaults
      "TONE 0 0 300 -99 70 40 999 5 7\n"  // clamped to the editor's ranges
      "TONE 0 1 90 0 64\n"              // too short
      "TONE 2 1 90 0 64 40\n");
  EXPECT_EQ(GetCvtToneSlot(2, 0).program, 35);
  EXPECT_EQ(GetCvtToneSlot(2, 0).bank0, 8);
  EXPECT_EQ(GetCvtToneSlot(3, 1).name, L"나일론");
  for (int part : {0, 1, 4, 5, 6, 7}) EXPECT_FALSE(GetCvtToneSlot(part, 0).chosen) << part;
  EXPECT_EQ(Tones.ChannelToneSettings[0][12][kToneVolume].load(), 100);
  EXPECT_EQ(Tones.ChannelToneSettings[1][12][kToneVolume].load(), 90);
  EXPECT_EQ(Tones.ChannelToneSettings[1][12][kToneFilterLow].load(), 64);
  const int expected[kToneFieldCount] = {127, -24, 70, 40, 64, 1, 1};
  for (int f = 0; f < kToneFieldCount; ++f) EXPECT_EQ(Tones.ChannelToneSettings[0][0][f].load(), expected[f]) << f;
  EXPECT_FALSE(ToneSettingsDifferAll(0, 1));

  const std::string text = FormatSoundSel();
  EXPECT_EQ(text,
            "SEL 2 0 0 3 8 35 0 Fretless\n"
            "SEL 3 1 0 0 0 24 0 \xEB\x82\x98\xEC\x9D\xBC\xEB\xA1\xA0\n"
            "TONE 0 0 127 -24 70 40 64 1 1\n"
            "TONE 1 12 90 0 64 40 64 0 0\n");
  SaveSoundSel();
  EXPECT_EQ(plat::ReadFileBytes(plat::RealPath(L"C:/tavelo/system/soundsel.cfg")).value_or(""), text);
  ClearCvtToneSlots();
  ResetToneSettings();
  LoadSoundSel();
  EXPECT_EQ(FormatSoundSel(), text);
  // A missing file clears the slots and keeps the records.
  std::filesystem::remove(plat::RealPath(L"C:/tavelo/system/soundsel.cfg"));
  LoadSoundSel();
  EXPECT_FALSE(GetCvtToneSlot(2, 0).chosen);
  EXPECT_EQ(Tones.ChannelToneSettings[1][12][kToneVolume].load(), 90);
}

TEST_F(ToneTest, ToneAdjustTargetsAndRefusals) {
  struct Case {
    const char* argument;
    int parameter, delta;
    int port;
    Msgs sent;
    const char* reply;  // empty: refused
  } cases[] = {
      {"3:0", kParamVolume, 5, 1, {"2 B0 07 69"}, "updateSoundToneDisplay(3,0,105,0,64,40,64,0,0)"},
      {"3:1", kParamVolume, 5, 0, {"1 B6 07 69"}, "updateSoundToneDisplay(3,1,105,0,64,40,64,0,0)"},
      {"2:0", kParamPitch, 1, 0, {}, ""},
      {"3:0", kParamPitch, 1, 0, {}, ""},
      {"7:0", kParamPitch, 1, 0, {}, ""},
      {"4:0", kParamOctave, 1, 0, {}, ""},
      {"7:0", kParamComp, 1, 0, {}, ""},
      {"5:0", kParamVolume, 5, 0, {}, ""},
      {"8:0", kParamVolume, 5, 0, {}, ""},
      {"7", kParamVolume, 5, 0, {}, ""},
      {"4:0:10", kParamPitch, -1, 0,
       {"1 BB 63 18", "1 BB 62 2A", "1 BB 06 36", "1 BB 63 7F", "1 BB 62 7F", "1 BB 63 18", "1 BB 62 2C", "1 BB 06 36",
        "1 BB 63 7F", "1 BB 62 7F", "1 BB 63 18", "1 BB 62 2E", "1 BB 06 36", "1 BB 63 7F", "1 BB 62 7F"},
       "updateSoundToneDisplay(4,0,100,-10,64,40,64,0,0)"},
      {"0:0:0", kParamFilter, 5, 0, {"1 B9 4A 45"}, "updateSoundToneDisplay(0,0,100,0,69,40,64,0,0)"},
      {"0:0:65", kParamReverb, -5, 0, {"1 B9 5B 23"}, "updateSoundToneDisplay(0,0,100,0,69,35,64,0,0)"},
      {"1:0", kParamFilterLow, 5, 0, {"1 BA 63 01", "1 BA 62 21", "1 BA 06 45", "1 BA 63 7F", "1 BA 62 7F"},
       "updateSoundToneDisplay(1,0,100,0,64,40,69,0,0)"},
      {"1:0", kParamPitch, 1, 0,
       {"1 BA 65 00", "1 BA 64 02", "1 BA 06 41", "1 BA 26 00", "1 BA 65 7F", "1 BA 64 7F"},
       "updateSoundToneDisplay(1,0,100,1,64,40,69,0,0)"},
      {"7:0", kParamOctave, 1, 0, {}, "updateSoundToneDisplay(7,0,100,0,64,40,64,0,1)"},
      {"7:0", kParamOctave, 1, 0, {}, "updateSoundToneDisplay(7,0,100,0,64,40,64,0,1)"},
      {"7:0:64", kParamVolume, 5, 0, {"1 B0 07 76"}  /* the volume ceiling of the senders */, "updateSoundToneDisplay(7,0,127,0,64,40,64,0,1)"},
  };
  for (const auto& c : cases) {
    Take(0);
    Take(1);
    std::wstring reply = AdjustChannelTone(Utf8ToWide(c.argument), c.parameter, c.delta);
    std::string expected = c.reply;
    EXPECT_EQ(reply, expected.empty() ? L"" : L"try{ " + Utf8ToWide(expected) + L"; }catch(e){console.error('updateSoundToneDisplay',e)}") << c.argument;
    EXPECT_EQ(Take(c.port), c.sent) << c.argument << " " << c.parameter;
  }
  EXPECT_EQ(MelodyOctaveShift(), 1);
  EXPECT_EQ(Mixer.ChannelVolumeOverride[0][0].load(), 127);
  // A closed port changes nothing.
  CloseMidiPorts();
  EXPECT_EQ(AdjustChannelTone(L"0:0", kParamFilter, 5), L"");
  EXPECT_EQ(Tones.ChannelToneSettings[0][9][kToneFilter].load(), 69);
}

TEST_F(ToneTest, DebouncedSaveWritesOnceOnAVirtualClock) {
  // Twenty steps 15 ms apart: the saver waits for a 500 ms pause, then writes once.
  unsigned now = 0;
  std::vector<unsigned> writes;
  std::vector<unsigned> steps;
  for (unsigned i = 1; i < 20; ++i) steps.push_back(i * 15);
  DeferredSave* self = nullptr;
  DeferredSave saver([&] { writes.push_back(now); },
                     [&](unsigned ms) {
                       const unsigned until = now + ms;
                       while (!steps.empty() && steps.front() <= until) {
                         now = steps.front();
                         steps.erase(steps.begin());
                         self->Request();
                       }
                       now = until;
                     },
                     [](std::function<void()> fn) { fn(); });
  self = &saver;
  saver.Request();  // step 1 at 0 ms
  EXPECT_EQ(writes, std::vector<unsigned>{1000});
  EXPECT_FALSE(saver.Pending());
  // A request during the write starts one more save.
  int saves = 0;
  DeferredSave* again = nullptr;
  DeferredSave second([&] {
    if (++saves == 1) again->Request();
  }, [](unsigned) {}, [](std::function<void()> fn) { fn(); });
  again = &second;
  second.Request();
  EXPECT_EQ(saves, 2);
  // Flush writes a pending save at once.
  int flushed = 0;
  DeferredSave held([&] { ++flushed; }, [](unsigned) {}, [](std::function<void()>) {});
  held.Flush();
  EXPECT_EQ(flushed, 0);
  held.Request();
  held.Flush();
  EXPECT_EQ(flushed, 1);
}

TEST_F(ToneTest, InitSoundStateScript) {
  EXPECT_EQ(BuildInitSoundStateScript(), L"initSoundState([],[])");
  SetCvtToneSlot(3, 1, {true, false, 0, 0, 24, 0, L"O'Nylon"});
  SetCvtToneSlot(2, 0, {true, true, 0, 0, 0, 0, L"Whatever"});
  Tones.ChannelToneSettings[1][0][kToneFilter] = 70;
  Tones.ChannelToneSettings[0][9][kToneOctave] = 1;  // any field counts here
  EXPECT_EQ(BuildInitSoundStateScript(),
            L"initSoundState([['2','Default'],['3_1','O\\'Nylon']],"
            L"[['0_0',100,0,64,40,64,0,1],['3_0',100,0,70,40,64,0,0]])");
}

TEST_F(ToneTest, SongInitialTonesFeedTheDefaultChoice) {
  struct Ev {
    uint8_t kind, status, data1, data2, port;
  };
  const std::vector<Ev> events = {
      {0, 0xB8, 0, 8, 0},  {0, 0xB8, 32, 2, 0}, {0, 0xC8, 38, 0, 0},  // bass: bank 8/2, program 38
      {0, 0xC8, 40, 0, 0},                                            // a later change does not count
      {0, 0xC0, 65, 0, 1},                                            // port 2 channel 0, no bank
      {1, 0xF0, 0, 0, 0},
  };
  SetSongInitialTones(events);
  SendCvtPartTone(2, false, {L"Default", 2}, false);
  EXPECT_EQ(Take(0), (Msgs{"1 B8 00 08", "1 B8 20 02", "1 C8 26"}));
  SendCvtPartTone(3, false, {L"Default", 3}, false);
  EXPECT_EQ(Take(1), (Msgs{"2 C0 41"}));
  SendCvtPartTone(7, false, {L"Default", 7}, false);  // port 1 channel 0 has no program change
  EXPECT_EQ(Take(0), (Msgs{"1 B0 00 00", "1 B0 20 00", "1 C0 00"}));
}

namespace {
bool Yes() { return true; }
bool No() { return false; }
}  // namespace

TEST_F(ToneTest, RhythmChannelsAreHeldBackOnlyDuringASetup) {
  Mixer.SongReverbSend[0][9] = 30;
  PlayerSignals s{};
  s.rhythmRunning = Yes;
  s.waitingForDownbeat = No;
  InstallPlayerSignals(s);
  SendChannelEffectSends(0, 9);  // the rhythm runs, no setup: sent
  EXPECT_EQ(Take(0), (Msgs{"1 B9 5B 1E", "1 B9 5D 00"}));
  s.waitingForDownbeat = Yes;
  InstallPlayerSignals(s);
  SendChannelEffectSends(0, 9);   // a song waits for its downbeat under the rhythm: held back
  SendChannelEffectSends(1, 9);   // port 2 is never held back
  SendCvtPartTone(2, false, {L"Fretless", 2, 0, 0, 0, 35}, false);
  SendCvtPartTone(2, false, {L"Fretless", 2, 0, 0, 0, 35}, true);  // forced
  EXPECT_EQ(Take(0), (Msgs{"1 B8 00 00", "1 B8 20 00", "1 C8 23"}));
  EXPECT_EQ(Take(1), (Msgs{"2 B9 5B 00", "2 B9 5D 00"}));
  InstallPlayerSignals(PlayerSignals{});
  Mixer.SongReverbSend[0][9] = 0;
}

TEST_F(ToneTest, SecondKitComesBackWithTheOperatorsKit) {
  struct Case {
    const char* what;
    CvtToneSlotValues slot;
    int reverb;
    Msgs sent;
  };
  const std::vector<Case> cases = {
      {"no kit chosen: the style's kit and the default reverb", {}, 40, {"1 BA 00 00", "1 BA 20 00", "1 CA 1A", "1 BA 5B 28"}},
      {"the operator's kit on top, bank bytes as chosen",
       {true, false, 131, 16, 176, 38, L"Brush"},
       70,
       {"1 BA 00 00", "1 BA 20 00", "1 CA 1A", "1 BA 5B 46", "1 BA 00 10", "1 BA 20 03", "1 CA 30"}},
      {"a \"Default\" kit is the style's", {true, true, 0, 0, 0, 0, L"Default"}, -3, {"1 BA 00 00", "1 BA 20 00", "1 CA 1A", "1 BA 5B 28"}},
  };
  Tones.StyleDrumKit2Program = 26;
  for (const auto& c : cases) {
    SetCvtToneSlot(1, 0, c.slot);
    Tones.ChannelToneSettings[0][10][kToneReverb] = c.reverb;
    Take(0);
    RestoreSecondDrumKit();
    EXPECT_EQ(Take(0), c.sent) << c.what;
  }
  Tones.StyleDrumKit2Program = 0;
}
