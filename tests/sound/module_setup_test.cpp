#include "sound_fixture.h"

#include <algorithm>
#include <tuple>

#include "platform/files.h"
#include "platform/paths.h"
#include "songs/song_model.h"

namespace {

struct Ev {  // a song event with the fields the sound code reads
  uint32_t tick = 0;
  uint8_t kind = 0, status = 0, data1 = 0, data2 = 0;
  std::vector<uint8_t> sysex;
  uint32_t tempo = 0;
  uint8_t port = 0;
};
Ev Msg(uint8_t status, uint8_t d1, uint8_t d2 = 0, uint8_t port = 0) { return {0, 0, status, d1, d2, {}, 0, port}; }
Ev Sx(std::vector<uint8_t> bytes) { return {0, 1, 0, 0, 0, std::move(bytes), 0, 0}; }

std::string Dt1(uint8_t a2, uint8_t a3, uint8_t v) { return "1 " + Hex(BuildGsDt1(0x40, a2, a3, {v})); }

}  // namespace

TEST(GsMessages, Dt1ChecksumsAndPartAssignments) {
  EXPECT_EQ(Hex(BuildGsDt1(0x40, 0x01, 0x30, {0x04})), "F0 41 10 42 12 40 01 30 04 0B F7");
  EXPECT_EQ(Hex(BuildGsDt1(0x40, 0x00, 0x7F, {0x00})), "F0 41 10 42 12 40 00 7F 00 41 F7");
  EXPECT_EQ(Hex(BuildGsDt1(0x40, 0x01, 0x33, {0xFF})), "F0 41 10 42 12 40 01 33 7F 0D F7");  // masked
  struct Case {
    int part;
    uint8_t a2;
  } parts[] = {{10, 0x40}, {1, 0x41}, {9, 0x49}, {11, 0x4A}, {16, 0x4F}};
  for (const auto& c : parts) EXPECT_EQ(BuildPartEfxAssign(c.part)[6], c.a2) << c.part;
  EXPECT_EQ(BuildEfxLevelSysEx(0x90)[8], 127);
  EXPECT_EQ(BuildEfxLevelSysEx(90)[8], 90);
}

TEST_F(SoundTest, ReverbChorusAndEqRules) {
  Devices({L"SC-8850"});
  ASSERT_TRUE(OpenMidiPort1());
  Settings.reverbShapeOn = 0;
  Settings.reverbLevel = 80;
  SendReverbSetup();
  EXPECT_EQ(Lines("0"), std::vector<std::string>{Dt1(0x01, 0x33, 80)});

  struct Case {
    std::wstring model;
    int level, depth;
  } models[] = {{L"SC8820", 32, 64}, {L"CS88Pro", 40, 72}, {L"SC8850", 30, 64}};
  for (const auto& c : models) {
    Devices({L"SC-8850"}, "c" + std::to_string(c.level));
    CloseMidiPorts();
    ASSERT_TRUE(OpenMidiPort1());
    SendChorusSetup(0, c.model);
    EXPECT_EQ(Lines("c" + std::to_string(c.level) + "0"),
              (std::vector<std::string>{Dt1(0x01, 0x38, 2), Dt1(0x01, 0x3A, static_cast<uint8_t>(c.level)),
                                        Dt1(0x01, 0x3C, static_cast<uint8_t>(c.depth))}));
  }

  Devices({L"SC-8850"}, "eq");
  CloseMidiPorts();
  ASSERT_TRUE(OpenMidiPort1());
  SendEqSetup(false);  // flat: nothing
  EXPECT_TRUE(Lines("eq0").empty());
  SetEqFromPage(1, 90, 0, 10);
  EXPECT_EQ(Lines("eq0"), (std::vector<std::string>{Dt1(0x02, 0x00, 1), Dt1(0x02, 0x01, 76),
                                                     Dt1(0x02, 0x02, 0), Dt1(0x02, 0x03, 52)}));
  EXPECT_EQ(plat::ReadFileBytes(plat::RealPath(L"C:/tavelo/system/eq.cfg")).value_or(""), "EQ 1 76 0 52\n");

  plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/system/eq.cfg"), "EQ 3 90 0 10\n");
  EqSettings = {};
  LoadEqConfig();
  EXPECT_EQ(EqSettings.lowFreq, 1);
  EXPECT_EQ(EqSettings.lowGain, 76);
  EXPECT_EQ(EqSettings.highFreq, 0);
  EXPECT_EQ(EqSettings.highGain, 52);
  for (const char* bad : {"XQ 1 60 1 60\n", "EQ 1 60\n", ""}) {
    plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/system/eq.cfg"), bad);
    LoadEqConfig();
    EXPECT_EQ(EqSettings.lowGain, 76) << bad;
  }
}

TEST_F(SoundTest, NativeMapAndModuleModels) {
  Devices({L"SC-8850", L"loopMIDI Port 1"});
  Settings.use8850NativeMap = 1;
  Settings.port1Module = L"CS88Pro";
  Settings.port2Module = L"SC8850";
  SendNativeMapBank();
  EXPECT_TRUE(Lines("0").empty());
  EXPECT_EQ(Lines("1").size(), 16u);
  EXPECT_TRUE(IsSc8850Port(1, 9));
  EXPECT_FALSE(IsSc8850Port(0, 1));
  EXPECT_TRUE(IsKnownModuleModel(L"SC8820"));
  EXPECT_FALSE(IsKnownModuleModel(L"../x"));
  // Preset files that a name which is no model would reach: a file beside the real presets, and
  // one that "Module_Port1_../../evil.syx" resolves to once its folder exists.
  const std::vector<uint8_t> preset = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
  WriteSyx("Module_Port1_SC8820.syx", {preset});
  WriteSyx("Module_Port1_evil.syx", {preset});
  WriteSyx("evil.syx", {preset});
  std::filesystem::create_directories(root_.path() / "system" / "system-exclive" / "Module_Port1_..");
  SendModulePreset(0, L"evil");        // refused: not a model
  SendModulePreset(0, L"../../evil");  // refused: not a model
  SendSyxFileToPort(L"Module_Port1_../../evil.syx", 0);  // refused: not a file name of the folder
  EXPECT_TRUE(Lines("0").empty());
  SendModulePreset(0, L"SC8820");  // a model's preset does go out
  EXPECT_EQ(Lines("0"), std::vector<std::string>{"1 " + Hex(preset)});
}

// A setup message the device refuses is logged and skipped; the rest of the file still goes.
TEST_F(SoundTest, SyxFileGoesOnPastARefusedMessage) {
  const std::vector<uint8_t> first = BuildGsDt1(0x40, 0x01, 0x30, {4}), refused = BuildGsDt1(0x40, 0x01, 0x34, {56}),
                             last = BuildGsDt1(0x40, 0x01, 0x38, {2});
  plat::SetFakeMidiOutDevices(
      {{L"SC-8850", Rec("0"), 0, false, false, plat::kMidiError, std::string(refused.begin(), refused.end())}});
  WriteSyx("Module_Port1_SC8850.syx", {first, refused, last});
  SendModulePreset(0, L"SC8850");
  EXPECT_EQ(Lines("0"), (std::vector<std::string>{"1 " + Hex(first), "1 " + Hex(last)}));
}

// Three songs through the whole setup, recorded on port 1.
TEST_F(SoundTest, SongModuleSetupOrder) {
  Devices({L"SC-8850"});
  std::vector<uint8_t> proSet = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  std::vector<uint8_t> insSet = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
  std::vector<uint8_t> acGt = BuildGsDt1(0x40, 0x03, 0x16, {90});
  std::vector<uint8_t> d03 = BuildGsDt1(0x40, 0x43, 0x22, {1});
  std::vector<uint8_t> d16 = BuildGsDt1(0x40, 0x4F, 0x22, {1});
  std::vector<uint8_t> d16off = BuildGsDt1(0x40, 0x4F, 0x22, {0});
  WriteSyx("A-ProSet.syx", {proSet});
  WriteSyx("C-InsSet.syx", {insSet});
  WriteSyx("B-AcGt.syx", {acGt});
  WriteSyx("D03-0n.syx", {d03});
  WriteSyx("D16-0n.syx", {d16});
  WriteSyx("D16-Off.syx", {d16off});
  Settings.reverbShapeOn = 1;
  Settings.reverbMacro = 4;
  Settings.reverbTime = 56;
  Mixer.MixerChannelPercent[0][15] = 50;
  UpdateChannelLevel(0, 15);
  ASSERT_TRUE(OpenMidiPort1());

  auto off = [](std::initializer_list<int> parts) {
    std::vector<std::string> v;
    for (int p : parts) v.push_back("1 " + Hex(BuildPartEfxAssign(p)));
    return v;
  };
  std::vector<std::string> reverb = {Dt1(0x01, 0x30, 4), Dt1(0x01, 0x32, 0), Dt1(0x01, 0x34, 56)};

  // Song 1: acoustic guitar on channel 2 with notes; the pro set goes first, once.
  std::vector<Ev> song1 = {Msg(0xB2, 0, 8), Msg(0xC2, 24), Msg(0x92, 60, 100)};
  SendSongModuleSetupFor(ScanSongForEfx(song1));
  std::vector<std::string> want = {"1 " + Hex(proSet), "1 " + Hex(insSet), "1 " + Hex(acGt), "1 " + Hex(d03),
                                   "1 " + Hex(BuildEfxLevelSysEx(45)), "1 " + Hex(d16off)};
  for (auto& s : off({6, 9, 10, 12, 13})) want.push_back(s);
  for (auto& s : reverb) want.push_back(s);
  EXPECT_EQ(Lines("0"), want);
  EXPECT_EQ(Sound.SongEfxLevel.load(), 90);
  {
    std::lock_guard lock(ModuleReplayList.mu);
    EXPECT_EQ(ModuleReplayList.list.size(), 3u);
    EXPECT_EQ(ModuleReplayList.base, 1u);
  }

  // Song 2: notes on channel 15 without a program: distortion on part 16 (file has no level: 50).
  std::vector<Ev> song2 = {Msg(0x9F, 40, 90)};
  size_t before = Lines("0").size();
  SendSongModuleSetupFor(ScanSongForEfx(song2));
  std::vector<std::string> all = Lines("0");
  std::vector<std::string> got(all.begin() + static_cast<long>(before), all.end());
  want = {"1 " + Hex(insSet), "1 " + Hex(d16), "1 " + Hex(BuildEfxLevelSysEx(25))};
  for (auto& s : off({3, 6, 9, 10, 12, 13})) want.push_back(s);
  for (auto& s : reverb) want.push_back(s);
  EXPECT_EQ(got, want);

  // Song 3: its own insertion effect; nothing chosen, the switches still go out.
  std::vector<Ev> song3 = {Sx(BuildGsDt1(0x40, 0x03, 0x00, {0x01, 0x10})), Msg(0x9F, 40, 90),
                           Msg(0xC2, 27), Msg(0xB2, 0, 8), Msg(0x92, 1, 1)};
  before = Lines("0").size();
  SendSongModuleSetupFor(ScanSongForEfx(song3));
  all = Lines("0");
  got.assign(all.begin() + static_cast<long>(before), all.end());
  want = {"1 " + Hex(insSet), "1 " + Hex(d16off)};
  for (auto& s : off({3, 6, 9, 10, 12, 13})) want.push_back(s);
  for (auto& s : reverb) want.push_back(s);
  EXPECT_EQ(got, want);
  EXPECT_EQ(Sound.SongEfxLevel.load(), -1);
  EXPECT_EQ(ScaledEfxLevel(), -1);

  // Raw sound: nothing at all, the replay list emptied.
  Settings.rawSound = 1;
  before = Lines("0").size();
  SendSongModuleSetupFor(ScanSongForEfx(song1));
  EXPECT_EQ(Lines("0").size(), before);
  std::lock_guard lock(ModuleReplayList.mu);
  EXPECT_TRUE(ModuleReplayList.list.empty());
}

TEST(InsertionEffectScan, Rules) {
  struct Case {
    std::vector<Ev> song;
    int program16, program3, bank3;
    bool notes16;
  } cases[] = {
      {{Msg(0xCF, 29), Msg(0x9F, 1, 1)}, 29, -1, 0, true},
      {{Msg(0xCF, 40), Msg(0x9F, 1, 0)}, 40, -1, 0, false},
      {{Msg(0xB2, 0, 8), Msg(0xB2, 0, 3), Msg(0xC2, 27), Msg(0xC2, 5)}, -1, 27, 8, false},
      {{Msg(0xCF, 29, 0, 1), Msg(0x9F, 1, 1, 1)}, -1, -1, 0, false},  // port 2 does not count
  };
  for (const auto& c : cases) {
    SongEfxScan s = ScanSongForEfx(c.song);
    EXPECT_EQ(s.program16, c.program16);
    EXPECT_EQ(s.program3, c.program3);
    EXPECT_EQ(s.bank3, c.bank3);
    EXPECT_EQ(s.notes16, c.notes16);
  }
}

TEST_F(SoundTest, SongModuleSetupLooksAtTheLoadedSong) {
  Devices({L"SC-8850"});
  std::vector<uint8_t> rhodes = BuildGsDt1(0x40, 0x03, 0x00, {0x01, 0x40});
  WriteSyx("B-Rhodes.syx", {rhodes});
  ASSERT_TRUE(OpenMidiPort1());
  auto model = std::make_shared<SongModel>();
  for (auto [status, d1, d2] : {std::tuple{0xB5, 0, 0}, {0xC5, 4, 0}, {0x95, 60, 90}}) {
    SongEvent e;
    e.status = static_cast<uint8_t>(status);
    e.data1 = static_cast<uint8_t>(d1);
    e.data2 = static_cast<uint8_t>(d2);
    model->SongEventList.push_back(e);
  }
  PublishSongModel(model);
  SendSongModuleSetup();
  std::vector<std::string> lines = Lines("0");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "1 " + Hex(rhodes)), lines.end());
  EXPECT_EQ(Sound.SongEfxLevel.load(), 70);  // no level in the file: the Rhodes default
  EXPECT_TRUE(SongHasNoteOn(0, 5));
  EXPECT_FALSE(SongHasNoteOn(0, 6));
  PublishSongModel(std::make_shared<SongModel>());
}

// The note test answers for the song that is loaded now, also when no module setup was sent for
// it (raw sound mode, a song loaded while another plays).
TEST_F(SoundTest, SongHasNoteOnAnswersForTheLoadedSong) {
  Devices({L"SC-8850"});
  ASSERT_TRUE(OpenMidiPort1());
  auto songWithNotesOn = [](std::initializer_list<std::pair<int, int>> notes) {
    auto model = std::make_shared<SongModel>();
    for (auto [status, velocity] : notes) {
      SongEvent e;
      e.status = static_cast<uint8_t>(status);
      e.data1 = 60;
      e.data2 = static_cast<uint8_t>(velocity);
      model->SongEventList.push_back(e);
    }
    return model;
  };
  PublishSongModel(songWithNotesOn({{0x93, 90}}));
  SendSongModuleSetup();
  EXPECT_TRUE(SongHasNoteOn(0, 3));
  PublishSongModel(songWithNotesOn({{0x97, 90}, {0x93, 0}}));  // loaded, no setup sent for it
  EXPECT_FALSE(SongHasNoteOn(0, 3));
  EXPECT_TRUE(SongHasNoteOn(0, 7));
  Settings.rawSound = 1;
  PublishSongModel(songWithNotesOn({{0x91, 1}}));
  SendSongModuleSetup();
  EXPECT_TRUE(SongHasNoteOn(0, 1));
  EXPECT_FALSE(SongHasNoteOn(0, 7));
  EXPECT_FALSE(SongHasNoteOn(2, 1));
  PublishSongModel(std::make_shared<SongModel>());
}
