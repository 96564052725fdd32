// Next-song requests, lyric-end transitions, jumps and medley commands hammered from several
// threads while songs play over the running rhythm engine: one move at a time, every thread ends,
// the player and the engine end idle and consistent, a new song starts afterwards and (under
// ThreadSanitizer, tools/checks/tsan-player.sh) no race.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "base/settings/app_settings.h"
#include "common/temp_root.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/midi_out.h"
#include "platform/paths.h"
#include "playback/medley.h"
#include "playback/player.h"
#include "playback/rhythm_attach.h"
#include "playback/rhythm_engine.h"
#include "playback/services.h"
#include "playback/song_prep.h"
#include "playback/song_start.h"
#include "playback/transitions.h"
#include "songs/midi_writer.h"
#include "sound/services.h"

namespace {

bool WaitFor(const std::function<bool()>& done, int ms) {
  for (int i = 0; i < ms; ++i) {
    if (done()) return true;
    plat::SleepMs(1);
  }
  return done();
}

// Four bars at 240 bpm (a bar is a second), three-four or four-four, a pick-up in some.
std::string SongFile(int beats, uint32_t pickup) {
  TestTrack t;
  t.Tempo(0, 250000).TimeSig(0, beats, 2).Program(0, 0, 1);
  const uint32_t bar = uint32_t(beats) * 120;
  for (uint32_t tick = bar - pickup; tick < 5 * bar; tick += 60) t.Note(tick, 0, 60 + (tick / 60) % 12, 90, 50);
  return MakeMidiFile(120, {t});
}

TEST(TransitionStress, NextSongsJumpsAndMedleyFromManyThreads) {
  TempRoot root;
  Settings = AppSettings{};
  Settings.port1Device = L"P1";
  Settings.port2Device = L"P2";
  CloseMidiPorts();
  plat::SetFakeMidiOutDevices({{L"P1", {}, 0, false, false}, {L"P2", {}, 0, false, false}});
  std::filesystem::create_directories(root.path() / "pxr");
  const std::string pattern = MakeMidiFile(120, {TestTrack().Note(0, 9, 36, 100, 10).Note(240, 9, 38, 100, 10)});
  const std::string fill = MakeMidiFile(120, {TestTrack().Note(0, 9, 38, 100, 10).Note(240, 9, 38, 100, 10)});
  for (const char* style : {"DS1", "SG1"}) {
    ASSERT_TRUE(plat::WriteFileAtomic(root.path() / "pxr" / (std::string(style) + "-P1.MID"), pattern));
    ASSERT_TRUE(plat::WriteFileAtomic(root.path() / "pxr" / (std::string(style) + "-F1.MID"), fill));
  }
  const std::vector<int> songs = {1001, 1002, 1003};
  for (size_t i = 0; i < songs.size(); ++i)
    ASSERT_TRUE(plat::WriteFileAtomic(plat::RealPath(SongMidiPath(songs[i])), SongFile(i == 1 ? 3 : 4, i == 2 ? 60 : 0)));
  PublishSongModel(std::make_shared<SongModel>());
  ASSERT_TRUE(LoadAndCommitStyle(L"DS1", 1));
  InstallPlaybackSignals();

  LoadAndPlay(SongMidiPath(songs[0]), SongTextPath(songs[0]));
  ASSERT_TRUE(WaitFor([] { return PlaybackState.isPlaying.load() != 0; }, 3000));
  StartCvtRhythm();
  ASSERT_TRUE(WaitFor([] { return CvtState.rhythm.load() != 0; }, 3000));

  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  // Next-song requests of the page, as fast as two operators could press.
  for (int k = 0; k < 2; ++k)
    threads.emplace_back([&, k] {
      int i = k;
      while (!stop) {
        AttachNextSongOverCvt(i % 4 == 3 ? -1 : songs[size_t(i) % songs.size()]);
        ++i;
        plat::SleepMs(3);
      }
    });
  // Lyric-end transitions.
  threads.emplace_back([&] {
    int i = 0;
    while (!stop) {
      AutoNextWithFill(songs[size_t(i++) % songs.size()]);
      plat::SleepMs(5);
    }
  });
  // Bar jumps and jumps to the first note.
  threads.emplace_back([&] {
    uint32_t t = 0;
    while (!stop) {
      JumpToTick(t, t % 960 == 0, t % 3 == 0, t % 2 == 0);
      t = (t + 480) % 1920;
      plat::SleepMs(7);
    }
  });
  // Medley mode and the medley panel.
  threads.emplace_back([&] {
    int i = 0;
    while (!stop) {
      PlaybackState.MedleyPlayMode = i % 2;
      Medley.MedleyList = {MedleyItem{songs[0], 0, 1, 0, 0, 0, 1, L"a"}, MedleyItem{songs[1], 1, 2, 0, 0, 0, 1, L"b"}};
      MoveMedleyItem(i % 2, 1);
      SetMedleyItemField(0, L's', i % 3);
      if (i % 2 == 0) {
        Medley.RunningMedleyList = Medley.MedleyList;
        PlaybackState.MedleyItemIndex = 0;
      }
      CheckMedleyNextSong(songs[size_t(i) % songs.size()]);
      if (i % 5 == 0) StopMedleyMode();
      ++i;
      plat::SleepMs(4);
    }
  });
  // The transitions do run: fills start over the rhythm and songs play after them.
  std::atomic<int> fills{0}, plays{0};
  threads.emplace_back([&] {
    bool fill = false, playing = false;
    while (!stop) {
      const bool f = RhythmEngine.FillOverlayActive.load() != 0, p = PlaybackState.isPlaying.load() != 0;
      fills += f && !fill;
      plays += p && !playing;
      fill = f;
      playing = p;
      plat::SleepMs(1);
    }
  });
  plat::SleepMs(3000);
  stop = true;
  for (auto& t : threads) t.join();
  EXPECT_GT(fills.load(), 0);
  EXPECT_GT(plays.load(), 0);

  // Everything settles: no move left half done, no waiting start, one player run at most.
  {
    std::unique_lock move = TryBeginMove();
    EXPECT_TRUE(move.owns_lock());
  }
  EXPECT_TRUE(WaitFor([] { return RhythmEngine.FillRequestPending.load() == 0 && CvtState.FillRequested.load() == 0; }, 5000));
  ClearPendingAttach();
  EXPECT_TRUE(StopPlayer(3000));
  EXPECT_TRUE(WaitFor([] { return AttachState.AttachPending.load() == 0; }, 3000));
  EXPECT_EQ(PlaybackState.PlayerThreadAlive.load(), 0);
  StopCvtRhythm();
  EXPECT_TRUE(WaitRhythmThreadGone(3000));

  // Idle again: a new song starts and plays.
  PlaybackState.SongStartGuardTime = 0;
  PlaybackState.MedleyPlayMode = 0;
  LoadAndPlay(SongMidiPath(songs[1]), SongTextPath(songs[1]));
  EXPECT_TRUE(WaitFor([] { return PlaybackState.isPlaying.load() != 0; }, 3000));
  EXPECT_TRUE(StopPlayer(3000));

  Medley = MedleyState{};
  PlaybackState.MedleyItemIndex = -1;
  CvtState.FillStarted = 0;
  std::lock_guard wait(RhythmStyles.LoadMutex);
  CloseMidiPorts();
  plat::SetFakeMidiOutDevices({});
  PublishSongModel(nullptr);
  Settings = AppSettings{};
}

}  // namespace
