// The sax melody's articulation on a virtual clock: the scoop from below, the vibrato, the breath
// swell, the gate and the three-voice layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/settings/app_settings.h"
#include "playback/sax_melody.h"
#include "sound/services.h"

namespace {

constexpr MidiOutHandle kPort1 = 0x1001, kPort2 = 0x1002;

class SaxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = AppSettings{};
    Settings.saxExpr = 1;
    Settings.saxBend = 1;
    Settings.saxBreath = 1;
    Settings.saxGate = 100;
    Sound.MidiOutPort1 = kPort1;
    Sound.MidiOutPort2 = kPort2;
  }
  void TearDown() override {
    Sound.MidiOutPort1 = 0;
    Sound.MidiOutPort2 = 0;
    Settings = AppSettings{};
  }
  // "<port> <hex bytes>" of every message sent since the last call.
  std::vector<std::string> Take() {
    std::vector<std::string> out;
    out.swap(sent_);
    return out;
  }
  SaxExpression sax_{[this](MidiOutHandle h, uint32_t m) {
    char text[32];
    std::snprintf(text, sizeof text, "%d %02X %02X %02X", h == kPort1 ? 1 : 2, m & 0xFF, (m >> 8) & 0x7F, (m >> 16) & 0x7F);
    sent_.push_back(text);
  }};
  std::vector<std::string> sent_;
};

int Bend(const std::string& line) {
  unsigned port, status, lsb, msb;
  std::sscanf(line.c_str(), "%u %X %X %X", &port, &status, &lsb, &msb);
  return static_cast<int>(lsb | (msb << 7));
}

}  // namespace

TEST_F(SaxTest, ScoopRisesFromBelowInSixSteps) {
  MelodyArticulationEntry e{100, 0, 100, 0, 0};
  EXPECT_EQ(sax_.NoteOn(e, 60, 1.0, 1000), 100);
  auto first = Take();
  ASSERT_EQ(first.size(), 4u);  // the bend, then the run's sends on the melody
  EXPECT_EQ(Bend(first[0]), 4096);
  EXPECT_EQ(first[1], "1 B0 5B 5F");
  EXPECT_EQ(first[2], "1 B0 5E 2D");
  EXPECT_EQ(first[3], "1 B0 5D 14");
  sax_.Step(1014);
  EXPECT_TRUE(Take().empty());
  std::vector<int> bends;
  for (uint32_t t = 1015; t <= 1200; t += 15) {
    sax_.Step(t);
    for (const auto& l : Take()) bends.push_back(Bend(l));
  }
  ASSERT_EQ(bends.size(), 6u);
  EXPECT_EQ(bends.front(), 5448);
  EXPECT_EQ(bends.back(), 8192);
  for (size_t i = 1; i < bends.size(); ++i) EXPECT_GT(bends[i], bends[i - 1]);
  EXPECT_GT(bends[1] - bends[0], bends[5] - bends[4]);  // fast at first
  // A second note does not send the run's set-up again; without the bend setting no scoop.
  Settings.saxBend = 0;
  sax_.NoteOn(e, 62, 1.0, 2000);
  EXPECT_TRUE(Take().empty());
}

TEST_F(SaxTest, BreathSwellAndGateSeries) {
  struct Case {
    uint8_t base;
    std::vector<int> swell;  // the expression values after the first
  } cases[] = {{45, {40, 41, 54, 47}}, {120, {110, 116, 127, 122}}, {90, {80, 86, 99, 92}}};
  uint32_t now = 10000;
  for (const auto& c : cases) {
    MelodyArticulationEntry e{90, 0, 0, c.base, 400};
    sax_.NoteOn(e, 67, 1.0, now);
    auto on = Take();
    ASSERT_FALSE(on.empty());
    char first[16];
    std::snprintf(first, sizeof first, "1 B0 0B %02X", c.base);
    EXPECT_EQ(on[0], first);
    std::vector<int> values;
    for (uint32_t t = now; t <= now + 400; ++t) {
      sax_.Step(t);
      for (const auto& l : Take()) {
        unsigned port, status, cc, v;
        std::sscanf(l.c_str(), "%u %X %X %X", &port, &status, &cc, &v);
        if (status == 0xB0 && cc == 11) values.push_back(static_cast<int>(v));
      }
    }
    EXPECT_EQ(values, c.swell) << static_cast<int>(c.base);
    sax_.NoteOff(67);
    Take();
    now += 1000;
  }
  // Gate 50 on a 400 ms note: the melody and the layer are cut after 200 ms.
  Settings.saxGate = 50;
  Settings.saxLayer = 1;
  Settings.saxBreath = 0;
  MelodyArticulationEntry e{90, 0, 0, 0, 400};
  sax_.NoteOn(e, 5, 1.0, now);
  sax_.LayerNoteOn(5, 90);
  auto layer = Take();
  EXPECT_EQ(std::count(layer.begin(), layer.end(), "2 94 05 5A"), 1);
  EXPECT_EQ(std::count(layer.begin(), layer.end(), "2 9F 05 5A"), 1);
  for (const auto& l : layer) EXPECT_NE(l.substr(0, 4), "2 96") << "note 5 has no octave-down voice";
  sax_.Step(now + 199);
  EXPECT_TRUE(Take().empty());
  sax_.Step(now + 200);
  EXPECT_EQ(Take(), (std::vector<std::string>{"1 80 05 00", "2 84 05 00", "2 8F 05 00"}));
  sax_.Step(now + 300);
  EXPECT_TRUE(Take().empty());
}

TEST_F(SaxTest, LayerSetupVibratoAndSettingChanges) {
  Settings.saxLayer = 1;
  MelodyArticulationEntry e{100, 40, 0, 0, 600};
  sax_.NoteOn(e, 70, 1.0, 0);
  auto setup = Take();
  // Melody sends, then three voices of 7 controllers and a program, two with a fine tune.
  ASSERT_EQ(setup.size(), 3u + 3 * 8 + 2 * 5);
  EXPECT_EQ(setup[3], "2 B4 00 00");
  EXPECT_EQ(setup[5], "2 C4 41 00");  // sax program 65
  EXPECT_EQ(setup[6], "2 B4 07 76");
  sax_.LayerNoteOn(70, 100);
  auto notes = Take();
  EXPECT_EQ(notes, (std::vector<std::string>{"2 94 46 64", "2 96 3A 58", "2 9F 46 64"}));
  // Vibrato: first step at max(180, 0.35 L) = 210 ms, values rising to the amount.
  std::vector<std::string> cc1;
  for (uint32_t t = 0; t < 1000; ++t) {
    sax_.Step(t);
    for (const auto& l : Take())
      if (l.substr(0, 7) == "1 B0 01") cc1.push_back(l.substr(8));
  }
  EXPECT_EQ(cc1, (std::vector<std::string>{"06", "0D", "14", "1A", "21", "28"}));
  sax_.NoteOff(70);
  auto off = Take();
  EXPECT_EQ(off[0], "2 84 46 00");
  EXPECT_EQ(off[1], "2 86 3A 00");
  EXPECT_EQ(off[2], "2 8F 46 00");
  EXPECT_EQ(off[3], "1 B0 01 00");  // the vibrato is taken back
  // Turning the expression off silences the layer and gives the melody its song sends back.
  sax_.WatchSettings();
  Take();
  Settings.saxExpr = 0;
  Mixer.SongReverbSend[0][0] = 33;
  sax_.WatchSettings();
  auto stop = Take();
  EXPECT_EQ(stop[0], "2 B4 7B 00");
  EXPECT_EQ(stop.back(), "1 B0 5E 00");
  Mixer.SongReverbSend[0][0] = 0;
  EXPECT_EQ(SaxExpression::MelodyControllerValue(91, 10), 95);
  EXPECT_EQ(SaxExpression::MelodyControllerValue(7, 10), 10);
}

TEST_F(SaxTest, BoostPercentOfTheAccompaniment) {
  struct Case {
    int boost, percent;
  } cases[] = {{100, 100}, {50, 100}, {200, 65}, {300, 50}, {150, 83}};
  for (const auto& c : cases) {
    Settings.saxBoost = c.boost;
    EXPECT_EQ(SaxBoostPercent(), c.percent) << c.boost;
  }
}
