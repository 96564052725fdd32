// Start, stop, jump and key change hammered from several threads while a song plays: every run
// ends, the player ends idle, and (under ThreadSanitizer, tools/checks/tsan-player.sh) no race.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/settings/app_settings.h"
#include "common/temp_root.h"
#include "platform/clock.h"
#include "platform/midi_out.h"
#include "playback/player.h"
#include "playback/services.h"
#include "playback/song_start.h"
#include "sound/services.h"

namespace {

std::shared_ptr<SongModel> DenseSong() {
  auto s = std::make_shared<SongModel>();
  s->SongPpq = 480;
  for (uint32_t bar = 0; bar < 8; ++bar) s->BarTicks.push_back(bar * 1920);
  SongEvent tempo;
  tempo.kind = kSongEventTempo;
  tempo.tempo = 250000;
  s->SongEventList.push_back(tempo);
  for (uint32_t t = 0; t < 8 * 1920; t += 60)
    for (int c = 0; c < 16; ++c) {
      SongEvent on;
      on.tick = t;
      on.status = static_cast<uint8_t>(0x90 | c);
      on.data1 = static_cast<uint8_t>(40 + c);
      on.data2 = 90;
      on.port = static_cast<uint8_t>(c & 1);
      s->SongEventList.push_back(on);
      SongEvent cc = on;
      cc.status = static_cast<uint8_t>(0xB0 | c);
      cc.data1 = 11;
      cc.data2 = static_cast<uint8_t>(t & 0x7F);
      s->SongEventList.push_back(cc);
    }
  return s;
}

TEST(PlayerStress, StartStopJumpAndKeyFromManyThreads) {
  TempRoot root;
  Settings = AppSettings{};
  Settings.port1Device = L"P1";
  Settings.port2Device = L"P2";
  CloseMidiPorts();
  plat::SetFakeMidiOutDevices({{L"P1", {}, 0, false, false}, {L"P2", {}, 0, false, false}});
  PublishSongModel(DenseSong());

  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    while (!stop) {
      StartPlayMidiThread();
      plat::SleepMs(3);
    }
  });
  threads.emplace_back([&] {
    while (!stop) {
      StopPlayer(50);
      plat::SleepMs(7);
    }
  });
  threads.emplace_back([&] {
    uint32_t t = 0;
    while (!stop) {
      JumpToTick(t, (t / 480) % 2 == 0, false, false);
      t = (t + 1920) % (8 * 1920);
      plat::SleepMs(5);
    }
  });
  threads.emplace_back([&] {
    int k = 0;
    while (!stop) {
      PlaybackState.CurrentKey = (k++ % 7) - 3;
      PlaybackState.paused = (k % 11) == 0;
      plat::SleepMs(1);
    }
  });
  plat::SleepMs(1500);
  stop = true;
  for (auto& t : threads) t.join();
  PlaybackState.paused = 0;
  EXPECT_TRUE(StopPlayer(3000));
  EXPECT_EQ(PlaybackState.isPlaying.load(), 0);
  EXPECT_EQ(PlaybackState.PlayerThreadAlive.load(), 0);

  // Idle again: a new run starts and plays.
  ASSERT_TRUE(StartPlayMidiThread());
  for (int i = 0; i < 2000 && !PlaybackState.isPlaying.load(); ++i) plat::SleepMs(1);
  EXPECT_EQ(PlaybackState.isPlaying.load(), 1);
  EXPECT_FALSE(StartPlayMidiThread());  // a second live run is refused
  EXPECT_TRUE(StopPlayer(3000));

  PlaybackState.CurrentKey = 0;
  CloseMidiPorts();
  plat::SetFakeMidiOutDevices({});
  PublishSongModel(nullptr);
  Settings = AppSettings{};
}

}  // namespace
