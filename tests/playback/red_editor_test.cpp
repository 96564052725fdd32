// The rhythm-pattern editor: rows, hits and their edits, the page payload, and the save with its
// backup, read-back check and roll-back (failures injected at each step), the restores, the tempo
// and hit clamps and the preview generation.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/settings/app_settings.h"
#include "common/temp_root.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "playback/red_editor.h"
#include "playback/rhythm_sender.h"
#include "sound/mixer_state.h"

namespace fs = std::filesystem;

namespace {

std::string Msg(std::initializer_list<int> b) {
  std::string s;
  for (int x : b) s.push_back(char(x));
  return s;
}

// A pattern at division 120: a port-0 track with kick (row 9, program 0 and bank selects) and
// snare (row 10); no bass.
RedPattern Drums(int division = 120) {
  RedPattern p;
  p.division = division;
  p.loaded = true;
  RedTrack t;
  int seq = 0;
  auto add = [&](uint32_t tick, std::string bytes) { t.events.push_back({tick, seq++, std::move(bytes)}); };
  add(0, Msg({0xFF, 0x21, 0x01, 0x00}));
  add(0, Msg({0xB9, 0, 1}));
  add(0, Msg({0xB9, 32, 2}));
  add(0, Msg({0xC9, 16}));
  add(0, Msg({0x99, 36, 100}));
  add(10, Msg({0x89, 36, 0}));
  add(240, Msg({0x9A, 38, 90}));
  add(250, Msg({0x9A, 38, 0}));
  add(361, Msg({0x9A, 40, 80}));  // off the grid (step is 30 ticks)
  p.tracks.push_back(std::move(t));
  return p;
}

struct Captured {
  std::vector<std::wstring> posts;
  int reloads = 0;
  std::vector<std::vector<int>> hits;  // row, note, velocity
};
Captured* g_cap = nullptr;
std::atomic<int> g_fail{0};  // 1 backup, 2 write, 3 read back
bool g_corruptRead = false;

bool DefaultCopyThrough(std::wstring_view from, std::wstring_view to) {
  const auto bytes = plat::ReadFileBytes(plat::RealPath(from));
  return bytes && plat::WriteFileAtomic(plat::RealPath(to), *bytes);
}

class RedEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_cap = &cap;
    g_fail = 0;
    g_corruptRead = false;
    RedFileOps ops;
    ops.copy = [](std::wstring_view from, std::wstring_view to) {
      if (g_fail == 1 && to.find(L"_bak") != std::wstring_view::npos) return false;
      return DefaultCopyThrough(from, to);
    };
    ops.write = [](std::wstring_view path, const RedPattern& p) {
      return g_fail != 2 && WriteRedPatternMidi(plat::RealPath(path), p);
    };
    ops.read = [](std::wstring_view path, RedPattern& p) {
      if (g_fail == 3) return false;
      const bool ok = ReadRedPatternMidi(plat::RealPath(path), p);
      if (ok && g_corruptRead && !p.tracks.empty()) p.tracks[0].events.push_back({5, 99999, Msg({0xFF, 0x01, 0x01, 'x'})});
      return ok;
    };
    ops.reload = [](std::wstring, int) { ++g_cap->reloads; };
    ops.hit = [](RedPattern, int row, int note, int velocity) { g_cap->hits.push_back({row, note, velocity}); };
    ops.post = [](std::wstring_view s) { g_cap->posts.emplace_back(s); };
    SetRedFileOps(ops);
    fs::create_directories(root.path() / "pxr");
    ASSERT_TRUE(WriteRedPatternMidi(Part(L"P1"), Drums()));
    RedPattern p2 = Drums(96);
    ASSERT_TRUE(WriteRedPatternMidi(Part(L"P2"), p2));
    RedPattern f1;  // a bass track on port 0 channel 8, program 33
    f1.tracks.push_back({0, {{0, 0, Msg({0xFF, 0x21, 0x01, 0x00})}, {0, 1, Msg({0xC8, 33})}, {0, 2, Msg({0x98, 40, 100})},
                             {20, 3, Msg({0x88, 40, 0})}}});
    ASSERT_TRUE(WriteRedPatternMidi(Part(L"F1"), f1));
  }
  void TearDown() override {
    SetRedFileOps({});
    g_cap = nullptr;
  }
  fs::path Part(std::wstring_view part) { return plat::RealPath(StylePartPath(L"DS7", part)); }
  std::string Bytes(std::wstring_view part) { return plat::ReadFileBytes(Part(part)).value_or("<none>"); }
  std::wstring LastPost() { return cap.posts.empty() ? L"" : cap.posts.back(); }

  TempRoot root;
  Captured cap;
};

}  // namespace

TEST(RedRows, ChannelsOfPortsBecomeRows) {
  struct Case {
    uint8_t port;
    int channel, row;
  } cases[] = {{0, 7, -1}, {0, 8, 8}, {0, 13, 13}, {0, 14, -1}, {1, 0, 6}, {1, 13, 13},
               {1, 14, 14}, {1, 9, -1}, {2, 9, -1}};
  for (const Case& c : cases) EXPECT_EQ(RedEditorRow(c.port, c.channel), c.row) << int(c.port) << "/" << c.channel;
}

TEST(RedRows, HitsProgramsBarsAndFileNames) {
  const RedPattern p = Drums();
  EXPECT_EQ(CollectRedRowHits(p, 9), (std::vector<RedHit>{{0, 36, 100, 10}}));
  EXPECT_EQ(CollectRedRowHits(p, 10), (std::vector<RedHit>{{240, 38, 90, 10}, {361, 40, 80, 15}}));
  EXPECT_EQ(FindRedRowProgram(p, 9), 16);
  EXPECT_EQ(FindRedRowProgram(p, 10), -1);
  EXPECT_EQ(CountRedRowHits(p, 10), 2);
  EXPECT_EQ(CountRedPatternBars(p), 1);
  EXPECT_EQ(RedPatternFileName(L"C:/tavelo/pxr/DS1-P1.MID"), L"DS1-P1.MID");
  EXPECT_EQ(RedPatternFileName(L"a\\b.MID"), L"b.MID");
  EXPECT_EQ(RedPatternFileName(L"x"), L"x");
}

TEST(RedEdits, FieldsClampsAndStepTicks) {
  struct Case {
    const char* name;
    int division;
    std::vector<std::wstring> fields;
    std::vector<RedRowEdit> edits;
    int row;
    std::vector<RedHit> hits;  // as read back
  } cases[] = {
      {"division 96: step 3 is tick 72", 96, {L"0", L"10=3.38.90.10"}, {{10, 1}}, 10, {{72, 38, 90, 10}}},
      {"division 2: step 3 is tick 3", 2, {L"0", L"10=3.38.90.1"}, {{10, 1}}, 10, {{3, 38, 90, 1}}},
      {"note and velocity clamped, length at least 1", 120, {L"0", L"9=0.200.0.0|1.-5.300.4"}, {{9, 2}}, 9,
       {{0, 127, 1, 1}, {30, 0, 127, 4}}},
      {"short and empty hits skipped", 120, {L"0", L"9=1.36.90.15||2.36|1.36"}, {{9, 1}}, 9, {{30, 36, 90, 15}}},
      {"rows above 15 and bad rows skipped", 120, {L"0", L"16=1.36.90.5", L"x=1.1.1.1", L"-1=1.1.1.1"}, {}, 9,
       {{0, 36, 100, 10}}},
      {"an empty row removes its notes", 120, {L"0", L"10="}, {{10, 0}}, 10, {}},
  };
  for (const Case& c : cases) {
    RedPattern p = Drums(c.division);
    EXPECT_EQ(ApplyRedEdits(p, c.fields, {}), c.edits) << c.name;
    EXPECT_EQ(CollectRedRowHits(p, c.row), c.hits) << c.name;
  }
}

TEST(RedEdits, NewRowTrackTakesPortMetaProgramAndBanksFromTheSource) {
  RedPattern p = Drums();
  p.tracks.clear();
  const RedPattern source = Drums();
  ASSERT_EQ(ApplyRedEdits(p, {L"0", L"9=2.36.100.5"}, {&source}), (std::vector<RedRowEdit>{{9, 1}}));
  ASSERT_EQ(p.tracks.size(), 1u);
  const auto& ev = p.tracks[0].events;
  ASSERT_EQ(ev.size(), 6u);
  EXPECT_EQ(ev[0].bytes, Msg({0xFF, 0x21, 0x01, 0x00}));
  EXPECT_EQ(ev[0].seq, 1009000);
  EXPECT_EQ(ev[1].bytes, Msg({0xB9, 0, 1}));
  EXPECT_EQ(ev[2].bytes, Msg({0xB9, 32, 2}));
  EXPECT_EQ(ev[3].bytes, Msg({0xC9, 16}));
  EXPECT_EQ(ev[4].bytes, Msg({0x99, 36, 100}));
  EXPECT_EQ(ev[4].tick, 60u);
  // Row 14 goes to port 1, channel 14.
  RedPattern q;
  EXPECT_EQ(AddRedRowTrack(q, 14, nullptr), 0);
  EXPECT_EQ(q.tracks[0].port, 1);
  EXPECT_EQ(q.tracks[0].events[0].bytes, Msg({0xFF, 0x21, 0x01, 0x01}));
}

TEST_F(RedEditorTest, OpenPostsThePayloadWithOwnNotesPaletteAndOffCount) {
  RedOpen(L"DS7");
  ASSERT_EQ(cap.posts.size(), 1u);
  const std::wstring& s = cap.posts[0];
  EXPECT_EQ(s.rfind(L"try{ setRedData('DS7',[{pat:'P1',ok:1,bars:1,tpq:120,rows:[", 0), 0u) << s;
  EXPECT_NE(s.find(L"{ch:9,prog:16,mine:1,dd:10,pal:[35,36],own:[36],n:[[0,36,100,10]],off:0}"), std::wstring::npos) << s;
  EXPECT_NE(s.find(L"{ch:10,prog:-1,mine:1,dd:10,pal:[37,38,39,40,41,43,45,47,48,50],own:[38,40],n:[[8,38,90,10],[12,40,80,15]],off:1}"),
            std::wstring::npos) << s;
  // No bass in P1: the notes and program come from F1.
  EXPECT_NE(s.find(L"{ch:8,prog:33,mine:0,dd:15,pal:[40],own:[40],n:[],off:0}"), std::wstring::npos) << s;
  EXPECT_NE(s.find(L"{pat:'F2',ok:0,rows:[]}"), std::wstring::npos);
  EXPECT_NE(s.find(L"{k:7,st:'DS7',ok:1}"), std::wstring::npos);
  EXPECT_NE(s.find(L"{k:1,st:'DS1',ok:0}"), std::wstring::npos);
  EXPECT_TRUE(fs::exists(root.path() / "pxr/_orig/DS7-P1.MID"));
}

TEST_F(RedEditorTest, BadStyleNamesOpenNothing) {
  for (const std::wstring name : {L"../DS7", L"DS7'", L"D S7"}) {
    cap.posts.clear();
    RedOpen(name);
    ASSERT_EQ(cap.posts.size(), 1u);
    EXPECT_NE(cap.posts[0].find(L"{pat:'P1',ok:0,rows:[]}"), std::wstring::npos) << name;
  }
  EXPECT_NE(cap.posts[0].find(L"setRedData('D S7',"), std::wstring::npos);
  EXPECT_FALSE(fs::exists(root.path() / "pxr/_orig"));
  cap.posts.clear();
  RedOpen(L"");
  EXPECT_EQ(cap.posts[0].rfind(L"try{ setRedData('DS1',", 0), 0u);
}

TEST_F(RedEditorTest, SaveWritesHitsKeepsBackupAndFailuresLeaveThePartFile) {
  RedOpen(L"DS7");
  const std::string before = Bytes(L"P1");
  const std::wstring edit = L"0\t10=0.38.90.10|4.38.90.10|8.38.90.10|12.38.90.10|14.40.70.5";
  struct Case {
    const char* name;
    int fail;
    bool corrupt;
    std::wstring reply;
  } cases[] = {
      {"backup fails", 1, false, L"try{ setRedResult(0,'백업을 만들지 못해 저장하지 않았습니다'); }catch(e){}"},
      {"write fails", 2, false, L"try{ setRedResult(0,'파일을 쓰지 못했습니다'); }catch(e){}"},
      {"read back fails", 3, false, L"try{ setRedResult(0,'저장에 문제가 있어 되돌렸습니다 - 다시 읽지 못했습니다'); }catch(e){}"},
      {"read back differs", 0, true, L"try{ setRedResult(0,'저장에 문제가 있어 되돌렸습니다 - 쓴 내용과 읽은 내용이 다릅니다'); }catch(e){}"},
  };
  for (const Case& c : cases) {
    g_fail = c.fail;
    g_corruptRead = c.corrupt;
    cap.posts.clear();
    RedSave(edit);
    EXPECT_EQ(LastPost(), c.reply) << c.name;
    EXPECT_EQ(Bytes(L"P1"), before) << c.name;
    EXPECT_FALSE(fs::exists(root.path() / "pxr/DS7-P1.MID.new")) << c.name;
    EXPECT_EQ(cap.reloads, 0);
  }
  g_fail = 0;
  g_corruptRead = false;
  cap.posts.clear();
  RedSave(edit);
  ASSERT_EQ(cap.posts.size(), 1u);
  EXPECT_EQ(cap.posts[0].rfind(L"try{ setRedResult(1,'DS7-P1.MID 저장했습니다'); }catch(e){}try{ setRedData('DS7',", 0), 0u);
  RedPattern saved;
  ASSERT_TRUE(ReadRedPatternMidi(Part(L"P1"), saved));
  int ons = 0, offs = 0;
  for (const RedEvent& e : saved.tracks[0].events) {
    if (e.bytes.size() == 3 && uint8_t(e.bytes[0]) == 0x9A) ++ons;
    if (e.bytes.size() == 3 && uint8_t(e.bytes[0]) == 0x8A) ++offs;
  }
  EXPECT_EQ(CollectRedRowHits(saved, 10).size(), 5u);
  // A row whose track held only notes keeps that track.
  ASSERT_EQ(saved.tracks.size(), 1u);
  EXPECT_EQ(ons, 5);
  EXPECT_EQ(offs, 5);
  EXPECT_EQ(CollectRedRowHits(saved, 9), CollectRedRowHits(Drums(), 9));  // other rows untouched
  EXPECT_EQ(plat::ReadFileBytes(root.path() / "pxr/_bak/DS7-P1.MID").value_or(""), before);
  // Restores: "_bak" gives the state before the save, "_orig" the file as first opened.
  cap.posts.clear();
  RedRestore(L"0\t1");
  EXPECT_EQ(Bytes(L"P1"), before);
  EXPECT_EQ(cap.posts[0].rfind(L"try{ setRedResult(1,'직전 저장분으로 되돌렸습니다'); }catch(e){}try{ setRedData(", 0), 0u);
}

TEST_F(RedEditorTest, RepliesForNothingToSaveAndMissingCopies) {
  RedOpen(L"DS7");
  const std::string before = Bytes(L"P1");
  struct Case {
    void (*op)(std::wstring_view);
    std::wstring arg, reply;
  } cases[] = {
      {RedSave, L"0\t16=1.36.90.5\t99=1.1.1.1", L"try{ setRedResult(0,'고친 것이 없습니다'); }catch(e){}"},
      {RedSave, L"3\t9=1.36.90.5", L"try{ setRedResult(0,'그 패턴 파일이 없습니다'); }catch(e){}"},
      {RedSave, L"", L"try{ setRedResult(0,'그 패턴 파일이 없습니다'); }catch(e){}"},
      {RedRestore, L"0\t1", L"try{ setRedResult(0,'직전 저장분이 없습니다'); }catch(e){}"},
      {RedRestore, L"3\t0", L"try{ setRedResult(0,'원본이 없습니다'); }catch(e){}"},
      {RedRestore, L"6\t0", L""},
  };
  for (const Case& c : cases) {
    cap.posts.clear();
    c.op(c.arg);
    EXPECT_EQ(LastPost(), c.reply) << c.arg;
  }
  EXPECT_EQ(Bytes(L"P1"), before);
  EXPECT_FALSE(fs::exists(root.path() / "pxr/_bak"));
  // "_orig" restore before any save: the copy made when the style opened.
  ASSERT_TRUE(plat::WriteFileAtomic(Part(L"P1"), "junk"));
  cap.posts.clear();
  RedRestore(L"0\t0");
  EXPECT_EQ(Bytes(L"P1"), before);
  EXPECT_EQ(cap.posts[0].rfind(L"try{ setRedResult(1,'원본으로 되돌렸습니다'); }catch(e){}", 0), 0u);
}

TEST_F(RedEditorTest, TempoAndHitClamps) {
  struct Bpm {
    std::wstring arg;
    int bpm;
  } bpms[] = {{L"10", 40}, {L"500", 220}, {L"300", 220}, {L"96", 96}, {L"x", 40}};
  for (const Bpm& b : bpms) {
    RedSetBpm(b.arg);
    EXPECT_EQ(RedEditor.RedBpm.load(), b.bpm) << b.arg;
  }
  RedSetBpm(L"120");
  RedOpen(L"DS7");
  for (const std::wstring arg : {L"0\t10\t38\t0", L"0\t10\t38\t300", L"0\t10\t38", L"0\t16\t38\t9", L"0\t10\t128\t9",
                                 L"3\t10\t38\t9", L"2\t8\t40\t50"})
    RedHitCommand(arg);
  EXPECT_EQ(cap.hits, (std::vector<std::vector<int>>{{10, 38, 1}, {10, 38, 127}, {8, 40, 50}}));
  RedMute(L"10\t1");
  EXPECT_EQ(RedEditor.RedMuted[10].load(), 1);
  RedMute(L"10\t0");
  RedMute(L"16\t1");
  EXPECT_EQ(RedEditor.RedMuted[10].load(), 0);
}

namespace {
std::atomic<int> g_sent{0};
}

TEST(RedPreviewRun, ASecondGenerationEndsARunningPreview) {
  SetCvtOutput([](MidiOutHandle, uint32_t) { ++g_sent; });
  RedFileOps ops;
  ops.post = [](std::wstring_view) {};
  SetRedFileOps(ops);
  RedSetBpm(L"40");
  // Events over 4 bars: played four times this would take long; a new generation ends it.
  std::vector<StyleEvent> events;
  for (uint32_t t = 0; t < 1920; t += 120) events.push_back({t, 9, kStyleNoteOn, 36, 100, 0});
  const uint64_t generation = ++RedEditor.RedPreviewGeneration;
  std::thread run(RunRedPreview, MidiOutHandle{1}, events, 120, 4, generation);
  while (g_sent.load() == 0) std::this_thread::yield();
  ++RedEditor.RedPreviewGeneration;
  run.join();
  EXPECT_EQ(RedEditor.RedPreviewRunning.load(), 0);
  EXPECT_LT(g_sent.load(), 64 + 32);
  SetCvtOutput(nullptr);
  SetRedFileOps({});
  RedSetBpm(L"120");
}

TEST_F(RedEditorTest, ASaveReloadsOnlyTheStyleTheEngineHasAndAnEmptyPreviewIsRefused) {
  struct Case {
    std::wstring active;
    int reloads;
  } cases[] = {{L"DS1", 0}, {L"DS7", 1}};
  for (const Case& c : cases) {
    {
      std::lock_guard lock(RhythmStyles.NameMutex);
      RhythmStyles.activeName = c.active;
    }
    cap.reloads = 0;
    RedOpen(L"DS7");
    RedSave(L"0\t11=1.42.80.5");
    EXPECT_EQ(cap.reloads, c.reloads) << c.active;
  }
  {
    std::lock_guard lock(RhythmStyles.NameMutex);
    RhythmStyles.activeName = L"DS1";
  }
  RedPattern f4;  // notes only, on row 10
  f4.tracks.push_back({0, {{0, 0, Msg({0x9A, 38, 100})}, {20, 1, Msg({0x8A, 38, 0})}}});
  ASSERT_TRUE(WriteRedPatternMidi(Part(L"F4"), f4));
  RedOpen(L"DS7");
  cap.posts.clear();
  RedPreview(L"5\t10=");  // its only notes removed in the copy
  EXPECT_EQ(LastPost(), L"try{ setRedResult(0,'울릴 타점이 없습니다'); }catch(e){}");
  RedPattern again;
  ASSERT_TRUE(ReadRedPatternMidi(Part(L"F4"), again));
  EXPECT_EQ(CountRedRowHits(again, 10), 1);  // a preview does not touch the file
  const uint64_t generation = RedEditor.RedPreviewGeneration.load();
  RedPreview(L"4");  // not loaded: nothing
  EXPECT_EQ(RedEditor.RedPreviewGeneration.load(), generation);
}

TEST(RedPreviewRun, EventsPastTheLoopAreLeftOut) {
  static std::vector<uint32_t> sent;
  sent.clear();
  SetCvtOutput([](MidiOutHandle, uint32_t m) {
    if ((m & 0xF0) == 0x90) sent.push_back(m);
  });
  RedFileOps ops;
  ops.post = [](std::wstring_view) {};
  SetRedFileOps(ops);
  RedSetBpm(L"220");
  // One bar at division 4 (16 ticks): a note at 0 and one at a far tick that would take days.
  const std::vector<StyleEvent> events = {{0, 9, kStyleNoteOn, 36, 100, 0}, {0x0FFFFFFF, 9, kStyleNoteOn, 38, 100, 0}};
  RunRedPreview(MidiOutHandle{1}, events, 4, 1, RedEditor.RedPreviewGeneration.load());
  EXPECT_EQ(sent.size(), 4u);  // the first note, four times
  SetCvtOutput(nullptr);
  SetRedFileOps({});
  RedSetBpm(L"120");
}

TEST(RedHitNote, EndsTheNoteTheSenderPlayed) {
  static std::vector<uint32_t> sent;
  sent.clear();
  SetCvtOutput([](MidiOutHandle, uint32_t m) { sent.push_back(m & 0xFFFF); });
  SetCvtChordSource([] { return CurrentChordValue{}; });  // C: the bass keeps its pitch class
  const int low = Settings.cvtBassLow, solo = Settings.cvtBassLowSolo, high = Settings.cvtBassHigh;
  Settings.cvtBassLow = 36;
  Settings.cvtBassLowSolo = 36;
  Settings.cvtBassHigh = 55;
  Mixer.EffectiveRhythmPercent[8] = 100;
  Mixer.EffectiveRhythmPercent[9] = 100;
  SoundRedHitNote(MidiOutHandle{1}, 8, 33, 100, 0);  // below the bass range: played an octave up
  SoundRedHitNote(MidiOutHandle{1}, 9, 36, 100, 0);  // drums never move
  EXPECT_EQ(sent, (std::vector<uint32_t>{0x2D98, 0x2D88, 0x2499, 0x2489}));
  Settings.cvtBassLow = low;
  Settings.cvtBassLowSolo = solo;
  Settings.cvtBassHigh = high;
  SetCvtChordSource(nullptr);
  SetCvtOutput(nullptr);
}
