#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "common/temp_root.h"
#include "base/text.h"
#include "platform/files.h"
#include "playback/services.h"
#include "ui/page_commands.h"

namespace {

std::vector<std::wstring> LoggedTexts(const TempRoot& root) {
  std::string bytes = plat::ReadFileBytes(root.path() / "system" / "debug_log.txt").value_or("");
  std::vector<std::wstring> out;
  size_t start = 0;
  for (size_t crlf; (crlf = bytes.find("\r\n", start)) != std::string::npos; start = crlf + 2) {
    std::string line = bytes.substr(start, crlf - start);
    // Drop the "[hh:mm:ss.mmm] " stamp.
    out.push_back(Utf8ToWide(line.size() > 15 ? line.substr(15) : ""));
  }
  return out;
}

// Recording handlers for a made-up set of stages.
std::vector<std::wstring> calls;
void One(const std::wstring& m) { calls.push_back(L"1 " + m); }
void Two(const std::wstring& m) { calls.push_back(L"2 " + m); }
void Three(const std::wstring& m) { calls.push_back(L"3 " + m); }

const PageCommand kOne[] = {{L"EXT_LIST", One, PageCommandMatch::kWhole},
                            {L"MEDLEY_SET:", One, PageCommandMatch::kPrefix},
                            {L"NOT_BUILT", nullptr, PageCommandMatch::kWhole}};
const PageCommand kTwo[] = {{L"TOGGLE_PAUSE", Two, PageCommandMatch::kWhole},
                            {L"RHYTHM_OFF", Two, PageCommandMatch::kPrefix},
                            {L"RHYTHM_ON", Two, PageCommandMatch::kWhole},
                            {L"JUMP_CC:", Two, PageCommandMatch::kPrefix},
                            {L"JUMP_NEXT_MEASURE", Two, PageCommandMatch::kWhole},
                            {L"START_SONG_ID:", Two, PageCommandMatch::kPrefix}};
const PageCommand kThree[] = {{L"SAVE_ENV:", Three, PageCommandMatch::kPrefix},
                              {L"DBG:KEY_ENTER", Three, PageCommandMatch::kWhole},
                              {L"LIST_FONTS", Three, PageCommandMatch::kWhole}};

PageCommandStages TestStages() {
  return {{std::begin(kOne), std::end(kOne)},
          {std::begin(kTwo), std::end(kTwo)},
          {std::begin(kThree), std::end(kThree)}};
}

}  // namespace

TEST(PageCommandEntry, LogLineRules) {
  TempRoot root;
  std::wstring longSave = L"SAVE_ENV:{\"a\":\"" + std::wstring(183, L'x') + L"\"}";  // 200 characters
  struct Case {
    std::wstring message;
    std::wstring logged;  // empty: no line
  } cases[] = {
      {L"TOGGLE_PAUSE", L""},
      {L"TOGGLE_PAUSEX", L"[WM] TOGGLE_PAUSEX"},
      {L"JUMP_NEXT_MEASURE", L""},
      {L"SET_LYRIC_FONTSIZE:80", L""},
      {L"DBG:KEY_ENTER", L"[WM] DBG:KEY_ENTER"},
      {L"DB_READY:120", L"[WM] DB_READY:120"},
      {L"UNKNOWN_THING", L"[WM] UNKNOWN_THING"},
      {L"", L"[WM] "},
      {L"곡번호:1234", L"[WM] 곡번호:1234"},
      {std::wstring(90, L'A'), L"[WM] " + std::wstring(90, L'A')},
      {longSave, L"[WM] " + longSave.substr(0, 90) + L"..."},
  };
  std::vector<std::wstring> expected;
  for (const auto& c : cases) {
    OnMainWebMessage(&c.message);
    if (!c.logged.empty()) expected.push_back(c.logged);
  }
  OnMainWebMessage(nullptr);  // not a string: nothing at all
  EXPECT_EQ(LoggedTexts(root), expected);
  ASSERT_EQ(expected.back().size(), 5u + 93u);
}

TEST(PageCommandEntry, StagesAndDropRules) {
  PlaybackState.isPlaying = 0;
  struct Case {
    std::wstring message;
    bool playing;
    std::vector<std::wstring> calls;
  } cases[] = {
      {L"EXT_LIST", false, {L"1 EXT_LIST"}},
      {L"MEDLEY_SET:3", false, {L"1 MEDLEY_SET:3"}},
      {L"NOT_BUILT", false, {}},  // stage one without a handler falls through, unknown later
      {L"RHYTHM_OFF", false, {L"2 RHYTHM_OFF"}},
      {L"RHYTHM_OFF:1", false, {L"2 RHYTHM_OFF:1"}},
      {L"RHYTHM_ON:1", false, {}},  // bare names match whole
      {L"TOGGLE_PAUSE", false, {L"2 TOGGLE_PAUSE"}},
      {L"TOGGLE_PAUSEX", false, {}},
      {L"JUMP_NEXT_MEASURE", false, {}},  // no song plays: dropped
      {L"JUMP_NEXT_MEASURE", true, {L"2 JUMP_NEXT_MEASURE"}},
      {L"JUMP_CC:33", true, {L"2 JUMP_CC:33"}},
      {L"DBG:KEY_ENTER", false, {}},  // dropped before stage two and three
      {L"DB_READY:5", true, {}},
      {L"START_SONG_ID:", false, {L"2 START_SONG_ID:"}},
      {L"SAVE_ENV:{\"a\":1}", false, {L"3 SAVE_ENV:{\"a\":1}"}},
      {L"LIST_FONTS", false, {L"3 LIST_FONTS"}},
      {L"LIST_FONTS ", false, {}},
  };
  for (const auto& c : cases) {
    calls.clear();
    PlaybackState.isPlaying = c.playing ? 1 : 0;
    DispatchPageCommand(c.message, TestStages());
    EXPECT_EQ(calls, c.calls) << WideToUtf8(c.message);
  }
  PlaybackState.isPlaying = 0;
}

TEST(PageCommandEntry, HandlerGetsTheWholeLongMessage) {
  TempRoot root;
  calls.clear();
  std::wstring message = L"SAVE_ENV:" + std::wstring(500, L'z');
  DispatchPageCommand(message, TestStages());
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], L"3 " + message);
}

TEST(PageCommandEntry, IndexHasEveryNameOnceAndMatchesByItsRule) {
  std::set<std::wstring> names;
  size_t count = 0;
  for (PageCommandTable t : {StageOneCommands(), StageTwoCommands(), StageThreeCommands()}) {
    for (const PageCommand* c = t.begin; c != t.end; ++c) {
      ++count;
      names.insert(std::wstring(c->name));
      bool colon = !c->name.empty() && c->name.back() == L':';
      bool prefix = colon || c->name == L"RHYTHM_OFF";
      EXPECT_EQ(c->match == PageCommandMatch::kPrefix, prefix) << WideToUtf8(c->name);
    }
  }
  EXPECT_EQ(names.size(), count);
  EXPECT_EQ(count, 191u);

  struct Case {
    std::wstring message;
    std::wstring found;  // empty: none in any stage
  } cases[] = {
      {L"RHYTHM_OFF:1", L"RHYTHM_OFF"},
      {L"RHYTHM_ON:1", L""},
      {L"JUMP_CC:33", L"JUMP_CC:"},
      {L"SET_CUSTOMER_VIDEO_SRC:a.mp4", L"SET_CUSTOMER_VIDEO_SRC:"},
      {L"SET_CUSTOMER_VIDEO:1", L"SET_CUSTOMER_VIDEO:"},
      {L"SONG_END_NO_NEXT_STOP", L"SONG_END_NO_NEXT_STOP"},
      {L"QUIT_APP", L"QUIT_APP"},
      {L"REMOTE_SUPPORT_STOP", L"REMOTE_SUPPORT_STOP"},
      {L"TOGGLE_PAUSEX", L""},
  };
  for (const auto& c : cases) {
    const PageCommand* hit = nullptr;
    for (PageCommandTable t : {StageOneCommands(), StageTwoCommands(), StageThreeCommands()}) {
      if (!hit) hit = FindPageCommand(t, c.message);
    }
    EXPECT_EQ(hit ? std::wstring(hit->name) : L"", c.found) << WideToUtf8(c.message);
  }
}

TEST(PageCommandEntry, ArgumentHelpers) {
  struct Case {
    std::wstring text;
    int value;
  } cases[] = {{L"1234", 1234},      {L"  -7x", -7},          {L"+5", 5},
               {L"", 0},             {L"abc", 0},             {L"12:34", 12},
               {L"99999999999", 2147483647}, {L"-99999999999", -2147483647 - 1}};
  for (const auto& c : cases) EXPECT_EQ(LeadingInt(c.text), c.value) << WideToUtf8(c.text);
  EXPECT_EQ(ClampInt(-3, 0, 10), 0);
  EXPECT_EQ(ClampInt(11, 0, 10), 10);
  EXPECT_EQ(ClampInt(4, 0, 10), 4);
}
