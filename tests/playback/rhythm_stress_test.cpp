// Rhythm on and off hammered while the engine thread starts and stops, style loads beside it,
// and scheduled song starts cancelled at every moment: no start is lost, no cancelled song plays,
// and (under ThreadSanitizer, tools/checks/tsan-player.sh) no race.
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
#include "playback/player.h"
#include "playback/rhythm_attach.h"
#include "playback/rhythm_engine.h"
#include "playback/services.h"
#include "songs/midi_writer.h"
#include "sound/services.h"

namespace {

std::shared_ptr<SongModel> ShortSong() {
  auto s = std::make_shared<SongModel>();
  s->SongPpq = 120;
  for (uint32_t bar = 0; bar < 4; ++bar) s->BarTicks.push_back(bar * 480);
  for (uint32_t t = 0; t < 4 * 480; t += 120) {
    SongEvent on;
    on.tick = t;
    on.status = 0x90;
    on.data1 = 60;
    on.data2 = 90;
    s->SongEventList.push_back(on);
  }
  return s;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  for (int i = 0; i < ms; ++i) {
    if (done()) return true;
    plat::SleepMs(1);
  }
  return done();
}

TEST(RhythmStress, OnOffStylesAndCancelledStarts) {
  TempRoot root;
  Settings = AppSettings{};
  Settings.port1Device = L"P1";
  Settings.port2Device = L"P2";
  CloseMidiPorts();
  plat::SetFakeMidiOutDevices({{L"P1", {}, 0, false, false}, {L"P2", {}, 0, false, false}});
  std::filesystem::create_directories(root.path() / "pxr");
  for (const char* name : {"DS1-P1.MID", "DS1-P2.MID", "DS2-P1.MID"})
    ASSERT_TRUE(plat::WriteFileAtomic(root.path() / "pxr" / name,
                                      MakeMidiFile(120, {TestTrack().Note(0, 9, 36, 100, 10).Note(240, 9, 38, 100, 10)})));
  PublishSongModel(ShortSong());
  ASSERT_TRUE(LoadAndCommitStyle(L"DS1", 1));

  std::atomic<bool> stop{false};
  std::atomic<int> lostStarts{0}, cancelledPlays{0};
  std::vector<std::thread> threads;
  // On and off as fast as the page could send them.
  threads.emplace_back([&] {
    int i = 0;
    while (!stop) {
      StartCvtRhythm();
      plat::SleepMs(i++ % 3);
      StopCvtRhythm();
      plat::SleepMs(i % 2);
    }
  });
  // Style loads and swaps beside the engine.
  threads.emplace_back([&] {
    int i = 0;
    while (!stop) {
      ++i;
      LoadStyleSet(i % 2 ? L"DS2" : L"DS1", 1 + (i / 2) % 2);
      plat::SleepMs(2);
    }
  });
  // Scheduled song starts, each cancelled at a different moment; once cancelled, none may play.
  threads.emplace_back([&] {
    int i = 0;
    while (!stop) {
      PlaybackState.startAt = plat::TimeGetTime() + 4;
      StartAttachThread(static_cast<uint32_t>(i % 5));
      plat::SleepMs(i++ % 6);
      ClearPendingAttach();
      for (int k = 0; k < 10; ++k) {
        if (PlaybackState.isPlaying.load()) ++cancelledPlays;
        plat::SleepMs(1);
      }
      StopPlayer(500);
    }
  });
  plat::SleepMs(1200);
  stop = true;
  for (auto& t : threads) t.join();

  EXPECT_EQ(cancelledPlays.load(), 0);
  // Every start asked now is served, however the thread was leaving.
  for (int i = 0; i < 20; ++i) {
    StopCvtRhythm();
    plat::SleepMs(i % 3);
    StartCvtRhythm();
    if (!WaitFor([] { return CvtState.rhythm.load() != 0; }, 3000)) ++lostStarts;
  }
  EXPECT_EQ(lostStarts.load(), 0);
  StopCvtRhythm();
  EXPECT_TRUE(WaitRhythmThreadGone(3000) || CvtState.RhythmStartPending.load() == 0);
  EXPECT_TRUE(StopPlayer(3000));
  EXPECT_TRUE(WaitFor([] { return AttachState.AttachPending.load() == 0; }, 3000));
  EXPECT_TRUE(WaitRhythmThreadGone(3000));
  std::lock_guard wait(RhythmStyles.LoadMutex);
  CloseMidiPorts();
  plat::SetFakeMidiOutDevices({});
  PublishSongModel(nullptr);
  Settings = AppSettings{};
}

}  // namespace
