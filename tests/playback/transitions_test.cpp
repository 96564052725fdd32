// The transitions' entry rules: the lyric-end transition only over a playing song and a running
// rhythm, a request with only the rhythm running plays a bare fill, one transition or jump at a
// time, and a fill request the engine drops or cannot answer leaves the old song playing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "playback/rhythm_engine.h"
#include "playback/services.h"
#include "playback/song_start.h"
#include "playback/transitions.h"

namespace {

class TransitionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallPlaybackSignals();
    Reset();
  }
  void TearDown() override { Reset(); }
  static void Reset() {
    CvtState.rhythm = 0;
    CvtState.FillRequested = 0;
    CvtState.FillStarted = 0;
    RhythmEngine.FillRequestPending = 0;
    PlaybackState.isPlaying = 0;
    PlaybackState.NaturalEndFlag = 0;
    PlaybackState.MedleyPlayMode = 0;
    CvtState.CvtCarryTempo.store({});
    CvtState.CvtTempoFactor = -1;
    PublishSongModel(std::make_shared<SongModel>());
  }
};

TEST_F(TransitionTest, LyricEndTransitionNeedsASongOverTheRhythm) {
  const struct {
    bool playing, rhythm;
  } cases[] = {{false, false}, {true, false}, {false, true}};
  for (const auto& c : cases) {
    PlaybackState.isPlaying = c.playing;
    CvtState.rhythm = c.rhythm;
    AutoNextWithFill(3);
    EXPECT_EQ(RhythmEngine.FillRequestPending.load(), 0) << c.playing << c.rhythm;
    EXPECT_EQ(CvtState.FillRequested.load(), 0) << c.playing << c.rhythm;
    EXPECT_EQ(PlaybackState.isPlaying.load(), c.playing ? 1 : 0);
  }
}

TEST_F(TransitionTest, RhythmAloneGetsABareFill) {
  CvtState.rhythm = 1;
  AttachNextSongOverCvt(4);
  EXPECT_EQ(RhythmEngine.FillRequestPending.load(), 1);
  EXPECT_EQ(CvtState.FillRequested.load(), 0);  // no song to silence or change
  EXPECT_EQ(PlaybackState.isPlaying.load(), 0);
}

TEST_F(TransitionTest, OneMoveAtATime) {
  CvtState.rhythm = 1;
  {
    std::unique_lock held = TryBeginMove();
    ASSERT_TRUE(held.owns_lock());
    AttachNextSongOverCvt(4);  // refused: nothing asked of the engine
    EXPECT_EQ(RhythmEngine.FillRequestPending.load(), 0);
    EXPECT_FALSE(JumpToTick(0, true, false, false));
  }
  AttachNextSongOverCvt(4);
  EXPECT_EQ(RhythmEngine.FillRequestPending.load(), 1);
}

// The engine answers the request in one of the ways it can fail; the transition withdraws its
// request and the old song keeps playing.
TEST_F(TransitionTest, UnansweredFillLeavesTheSongPlaying) {
  enum class Answer { kDropped, kEngineStopped };
  for (const Answer answer : {Answer::kDropped, Answer::kEngineStopped}) {
    for (const bool lyricEnd : {false, true}) {
      Reset();
      PlaybackState.isPlaying = 1;
      CvtState.rhythm = 1;
      std::thread engine([answer] {
        while (!RhythmEngine.FillRequestPending.load()) plat::SleepMs(1);
        if (answer == Answer::kDropped) RhythmEngine.FillRequestPending = 0;
        else CvtState.rhythm = 0;
      });
      if (lyricEnd) AutoNextWithFill(5);
      else AttachNextSongOverCvt(5);
      engine.join();
      EXPECT_EQ(CvtState.FillRequested.load(), 0);
      EXPECT_EQ(RhythmEngine.FillRequestPending.load(), 0);
      EXPECT_EQ(CvtState.FillStarted.load(), 0);
      EXPECT_EQ(PlaybackState.isPlaying.load(), 1);
      EXPECT_GT(CvtState.CvtCarryTempo.us(), 0);  // carried for the fill; the player's end clears it
    }
  }
}

// Requests from several threads at once (run under ThreadSanitizer too): each runs alone or is
// refused, and the rhythm-only request leaves a bare fill asked.
TEST_F(TransitionTest, ConcurrentRequestsFromManyThreads) {
  CvtState.rhythm = 1;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 6; ++i)
    threads.emplace_back([&go, i] {
      while (!go.load()) std::this_thread::yield();
      for (int k = 0; k < 50; ++k) {
        if (i % 2) AttachNextSongOverCvt(k);
        else AutoNextWithFill(k);  // no song: returns at once
      }
    });
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(RhythmEngine.FillRequestPending.load(), 1);
  EXPECT_EQ(CvtState.FillRequested.load(), 0);
}

}  // namespace
