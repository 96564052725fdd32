// Medleys: the name rules, the file format and its reader, the panel edits, the page script and
// the section-by-section progression.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/temp_root.h"
#include "platform/files.h"
#include "playback/medley.h"
#include "playback/services.h"

namespace {

class MedleyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Medley = MedleyState{};
    PlaybackState.MedleyItemIndex = -1;
  }
  void TearDown() override {
    Medley = MedleyState{};
    PlaybackState.MedleyItemIndex = -1;
    PlaybackState.NextSongStartBar = -1;
    PlaybackState.NextSongEndBar = -1;
    PlaybackState.NextSongKeyMode = -1;
  }
  TempRoot root_;
};

MedleyItem Item(int id, int s, int e, std::wstring name = L"x") { return MedleyItem{id, s, e, 0, 0, 0, 1, std::move(name)}; }

}  // namespace

TEST_F(MedleyTest, NamesAreCleanedForTheFileSystem) {
  const struct {
    std::wstring in, out;
  } cases[] = {
      {L"My:Set?. ", L"MySet"},
      {L"  앞 공백", L"  앞 공백"},
      {L"a/b\\c|d\"e*f<g>h", L"abcdefgh"},
      {L"tab\tline\n", L"tabline"},
      {L"..", L""},
      {L"it's", L"its"},
      {std::wstring(70, L'가'), std::wstring(60, L'가')},
  };
  for (const auto& c : cases) EXPECT_EQ(SanitizeMedleyName(c.in), c.out);
}

TEST_F(MedleyTest, FileLinesAreReadAsThePanelWroteThem) {
  const std::string file =
      "\xEF\xBB\xBF#MDL1\r\n"
      "item=12|4|2|0|0|0|1|X\r\n"               // end before start: skipped
      "item=0|0|1|0|0|0|1|X\r\n"                // id 0: skipped
      "item=12|0|8|1|2|-5|1\r\n"                // seven fields: no name
      "item=7|1|3|2|-3|10|5|이름|뒤\r\n"        // fill any non-zero; the name ends at "|"
      "item=9|1|2\r\n"                          // too few fields
      "other=1|2|3|4|5|6|7|8\n"
      "item=31|2|2|0|0|0|0|끝";                 // no line end
  const auto items = ParseMedleyFile(file);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], (MedleyItem{12, 0, 8, 1, 2, -5, 1, L""}));
  EXPECT_EQ(items[1], (MedleyItem{7, 1, 3, 2, -3, 10, 1, L"이름"}));
  EXPECT_EQ(items[2], (MedleyItem{31, 2, 2, 0, 0, 0, 0, L"끝"}));
  EXPECT_EQ(ParseMedleyFile(FormatMedleyFile(items)), items);
  EXPECT_EQ(FormatMedleyFile({items[1]}), "\xEF\xBB\xBF#MDL1\r\nitem=7|1|3|2|-3|10|1|이름\r\n");
}

TEST_F(MedleyTest, SaveLoadListAndDelete) {
  EXPECT_FALSE(SaveMedleyFile(L"empty list"));
  Medley.MedleyList = {Item(1001, 0, 3, L"아리랑"), Item(1002, 2, 5, L"it's")};
  EXPECT_FALSE(SaveMedleyFile(L"?:"));  // nothing left of the name
  ASSERT_TRUE(SaveMedleyFile(L"Set:1. "));
  EXPECT_EQ(Medley.MedleyName, L"Set1");
  EXPECT_TRUE(std::filesystem::exists(root_.path() / "medley" / "Set1.mdl"));
  std::filesystem::create_directories(root_.path() / "medley" / "folder.mdl");
  plat::WriteFileAtomic(root_.path() / "medley" / "b.MDL", FormatMedleyFile({Item(5, 0, 0)}));
  EXPECT_EQ(ListMedleyFiles(), (std::vector<std::wstring>{L"Set1", L"b"}));

  const auto saved = Medley.MedleyList;
  Medley = MedleyState{};
  EXPECT_FALSE(LoadMedleyFile(L"missing"));
  plat::WriteFileAtomic(root_.path() / "medley" / "bad.mdl", "#MDL1\r\nitem=0|0|0|0|0|0|0|x\r\n");
  Medley.MedleyList = {Item(3, 0, 0)};
  EXPECT_FALSE(LoadMedleyFile(L"bad"));
  EXPECT_EQ(Medley.MedleyList.size(), 1u);  // a failed load keeps the list
  ASSERT_TRUE(LoadMedleyFile(L"Set1"));
  EXPECT_EQ(Medley.MedleyList, saved);
  EXPECT_EQ(DeleteMedleyFile(L"Set:1"), L"Set1");
  EXPECT_FALSE(std::filesystem::exists(root_.path() / "medley" / "Set1.mdl"));
}

TEST_F(MedleyTest, PanelEditsClampAndIgnoreBadIndexes) {
  Medley.MedleyList = {Item(1, 3, 4), Item(2, 5, 9), Item(3, 0, 0)};
  SetMedleyItemField(0, L's', -5);
  EXPECT_EQ(Medley.MedleyList[0].start, 0);
  SetMedleyItemField(0, L's', 7);
  EXPECT_EQ(Medley.MedleyList[0].end, 7);  // raised to the start
  SetMedleyItemField(1, L'e', 2);
  EXPECT_EQ(Medley.MedleyList[1].end, 5);
  SetMedleyItemField(1, L'k', 7);
  EXPECT_EQ(Medley.MedleyList[1].keyMode, 0);
  SetMedleyItemField(1, L'k', 2);
  EXPECT_EQ(Medley.MedleyList[1].keyMode, 2);
  SetMedleyItemField(1, L'p', 30);
  EXPECT_EQ(Medley.MedleyList[1].keyOffset, 12);
  SetMedleyItemField(1, L't', -99);
  EXPECT_EQ(Medley.MedleyList[1].tempo, -60);
  SetMedleyItemField(1, L'f', 0);
  EXPECT_EQ(Medley.MedleyList[1].fill, 0);
  const auto before = Medley.MedleyList;
  SetMedleyItemField(1, L'x', 1);
  SetMedleyItemField(3, L's', 1);
  SetMedleyItemField(-1, L's', 1);
  MoveMedleyItem(0, -1);
  MoveMedleyItem(0, 2147483647);  // no overflow into a valid index
  DeleteMedleyItem(3);
  EXPECT_EQ(Medley.MedleyList, before);
  MoveMedleyItem(2, -2);
  EXPECT_EQ(Medley.MedleyList[0].id, 3);
  EXPECT_EQ(Medley.MedleyList[2].id, 1);
  DeleteMedleyItem(1);
  EXPECT_EQ(Medley.MedleyList.size(), 2u);
}

TEST_F(MedleyTest, ThePageScriptKeepsNamesInsideTheirLiterals) {
  Medley.MedleyList = {Item(1001, 0, 3, L"it's </script>\\")};
  Medley.MedleyName = L"a'b";
  Medley.MedleyMarkBar = 4;
  const std::wstring js = BuildInitMedleyScript();
  EXPECT_EQ(js.rfind(L"try{ initMedley([{id:1001,s:0,e:3,k:0,p:0,t:0,f:1,n:'it", 0), 0u) << js;
  EXPECT_EQ(js.find(L"it's"), std::wstring::npos);
  EXPECT_NE(js.find(L",4); }catch(e){console.error('initMedley',e)}"), std::wstring::npos);
}

TEST_F(MedleyTest, TheMedleyProgressesItemByItemAndEndsOnAnotherSong) {
  EXPECT_FALSE(StartMedley());  // empty
  Medley.RunningMedleyList = {Item(1, 0, 3), {2, 4, 6, 1, 2, -5, 1, L"b"}, Item(3, 8, 9)};
  PlaybackState.MedleyItemIndex = 0;
  CheckMedleyNextSong(2);
  EXPECT_EQ(PlaybackState.MedleyItemIndex.load(), 1);
  EXPECT_EQ(PlaybackState.NextSongStartBar.load(), 4);
  EXPECT_EQ(PlaybackState.NextSongEndBar.load(), 6);  // another item follows
  EXPECT_EQ(PlaybackState.NextSongKeyMode.load(), 1);
  EXPECT_EQ(PlaybackState.NextSongKeyOffset.load(), 2);
  EXPECT_EQ(PlaybackState.NextSongTempoOffset.load(), -5);
  CheckMedleyNextSong(3);
  EXPECT_EQ(PlaybackState.MedleyItemIndex.load(), 2);
  EXPECT_EQ(PlaybackState.NextSongEndBar.load(), -1);  // the last plays to the end
  CheckMedleyNextSong(4);
  EXPECT_EQ(PlaybackState.MedleyItemIndex.load(), -1);  // past the last item

  PlaybackState.MedleyItemIndex = 0;
  CheckMedleyNextSong(3);  // not the next item
  EXPECT_EQ(PlaybackState.MedleyItemIndex.load(), -1);
  CheckMedleyNextSong(2);  // no medley: nothing
  EXPECT_EQ(PlaybackState.MedleyItemIndex.load(), -1);

  PlaybackState.MedleyItemIndex = 1;
  PlaybackState.MedleySegmentEndTick = 960;
  StopMedleyMode();
  EXPECT_EQ(PlaybackState.MedleyItemIndex.load(), -1);
  EXPECT_EQ(PlaybackState.MedleySegmentEndTick.load(), 0u);
}
