#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <shared_mutex>

#include "base/page_script.h"
#include "base/text.h"
#include "online/page_messages.h"
#include "platform/paths.h"
#include "songs/song_catalog.h"
#include "songs/song_list.h"
#include "temp_root.h"

namespace {

std::string U8(std::wstring_view w) { return WideToUtf8(w); }

std::string Row(int id, std::string_view title, int extraFields = 0) {
  std::string row = std::to_string(id) + ",k,,C/C/A,32,100,G," + std::string(title) + ",,sub,,,S,L,,,,,,ch,sc";
  for (int i = 0; i < extraFields; ++i) row += ",x";
  return row;
}

class SongListTest : public ::testing::Test {
 protected:
  void Midi(std::initializer_list<const char*> names) {
    for (const char* n : names) root.Write(n, "MThd");
  }
  std::string Log() const { return root.Read("debug_log.txt"); }
  std::vector<int> Ids() {
    std::shared_lock lock(SongLibrary.SongListMutex);
    std::vector<int> ids;
    for (const auto& s : SongLibrary.SongList) ids.push_back(s.id);
    return ids;
  }
  static SongRecord Numbered(int id) {
    SongRecord song;
    song.id = id;
    return song;
  }
  void SetList(std::vector<SongRecord> songs) {
    std::unique_lock lock(SongLibrary.SongListMutex);
    SongLibrary.SongList = std::move(songs);
  }
  TempRoot root;
};

}  // namespace

TEST_F(SongListTest, LoadKeepsRowsWithMidiInFileOrder) {
  Midi({"P0012.MID", "p0007.mid", "P0013.MID"});
  root.Write("songs.csv", "\xEF\xBB\xBF" + std::string(kSongsCsvHeader) + "\r\n" + Row(12, "a") + "\r\n\r\n" +
                              Row(7, "b", 1) + "\r\n" + Row(12, "c") + "\r\n" + Row(14, "gone") + "\r\n" +
                              Row(13, "short").substr(0, Row(13, "short").rfind(',')) + "\r\n");
  LoadSongDb();
  EXPECT_EQ(Ids(), (std::vector<int>{12, 7, 12}));
  {
    std::shared_lock lock(SongLibrary.SongListMutex);
    const SongRecord want{12, L"k", L"C/C/A", L"G", L"a", L"sub", L"S", L"L", 100, L"ch", L"sc", L"", L""};
    EXPECT_EQ(SongLibrary.SongList[0], want);
    EXPECT_EQ(SongLibrary.SongList[2].title, L"c");
  }
  EXPECT_EQ(GetSongCount(), 3);
  EXPECT_NE(Log().find(U8(L"LoadSongDb: songs.csv 4행, 실제 MID 있는 곡 3개 -> 목록 반영 3곡 (MID 없어 제외 1)")),
            std::string::npos)
      << Log();
  EXPECT_NE(Log().find(U8(L"LoadSongDb: songs.csv 열이 모자라 뺀 줄 1개 - 줄 번호 7")), std::string::npos) << Log();
}

TEST_F(SongListTest, AHugeCatalogueIsRefusedWithANoticeNamingIt) {
  Midi({"P0012.MID"});
  SetList({Numbered(12)});
  root.Write("songs.csv", std::string(kSongsCsvHeader) + "\n" + Row(12, "a") + "\n");
  std::filesystem::resize_file(root.system("songs.csv"), 2ULL << 30);  // sparse: 2 GB of nothing
  PagePosts posts = PostsOf([] { LoadSongDb(); });
  EXPECT_EQ(GetSongCount(), 0);
  const std::wstring notice = L"곡 목록을 읽을 수 없습니다: " + plat::ShownPath(L"<root>/system/songs.csv") +
                              L" (파일이 너무 큽니다: 2048 MB, 최대 256 MB)";
  EXPECT_NE(posts.AllScripts().find(notice), std::wstring::npos);
  EXPECT_NE(Log().find(U8(notice)), std::string::npos);
  EXPECT_NE(StandingNoticesScript().find(notice), std::wstring::npos);  // a page that loads later sees it too
}

TEST_F(SongListTest, ALoadStoppedForClosingLeavesTheListAlone) {
  Midi({"P0012.MID"});
  SetList({Numbered(7)});
  root.Write("songs.csv", std::string(kSongsCsvHeader) + "\n" + Row(12, "a") + "\n");
  SongLibrary.StopLoading.store(true);
  LoadSongDb();
  SongLibrary.StopLoading.store(false);
  EXPECT_EQ(Ids(), std::vector<int>{7});
}

TEST_F(SongListTest, ByteOrderMarkAndCrLfLoadTheSame) {
  Midi({"P0001.MID", "P0002.MID"});
  const std::string body = std::string(kSongsCsvHeader) + "\n" + Row(1, "x") + "\n" + Row(2, "y") + "\n";
  root.Write("songs.csv", body);
  LoadSongDb();
  std::vector<SongRecord> plain;
  {
    std::shared_lock lock(SongLibrary.SongListMutex);
    plain = SongLibrary.SongList;
  }
  std::string crlf = "\xEF\xBB\xBF";
  for (char c : body) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  root.Write("songs.csv", crlf);
  LoadSongDb();
  std::shared_lock lock(SongLibrary.SongListMutex);
  EXPECT_EQ(SongLibrary.SongList, plain);
  EXPECT_EQ(SongLibrary.SongList.size(), 2u);
}

TEST_F(SongListTest, FirstLineIsAlwaysTheHeaderAndAMissingFileEmptiesTheList) {
  Midi({"P0001.MID", "P0002.MID"});
  root.Write("songs.csv", Row(1, "lost") + "\n" + Row(2, "kept") + "\n");
  LoadSongDb();
  EXPECT_EQ(Ids(), std::vector<int>{2});
  std::filesystem::remove(root.system("songs.csv"));
  const std::string logBefore = Log();
  LoadSongDb();
  EXPECT_TRUE(Ids().empty());
  EXPECT_EQ(Log(), logBefore);  // nothing logged
}

TEST_F(SongListTest, MidiFileNumbers) {
  Midi({"P12a3.MID", "P.MID", "P0000.MID", "p0044.Mid", "Q0005.MID", "P0006.MID.bak", "P99999999999.MID"});
  std::filesystem::create_directories(root.system("P0077.MID"));
  const std::unordered_set<int> want{12, 0, 44};
  EXPECT_EQ(CollectMidiSongNumbers(), want);
  std::unordered_set<int> numbers{5};
  CollectFileNumbers(L"C:/tavelo/system/Q*.MID", numbers);
  EXPECT_EQ(numbers, (std::unordered_set<int>{5}));
  CollectFileNumbers(L"C:/tavelo/nowhere/*.MID", numbers);
  EXPECT_EQ(numbers.size(), 1u);
}

TEST_F(SongListTest, UnlistedSongs) {
  Midi({"P0007.MID", "P0012.MID", "P0020.MID", "P0003.MID"});
  SetList({});
  EXPECT_TRUE(FindUnlistedSongNumbers().empty());
  SongRecord a, b;
  a.id = 7;
  b.id = 12;
  SetList({a, b});
  EXPECT_EQ(FindUnlistedSongNumbers(), (std::vector<int>{3, 20}));
}

TEST_F(SongListTest, Payloads) {
  SetList({});
  EXPECT_EQ(BuildSongListPayload(), "[]");
  EXPECT_EQ(PostSongListUpdate({}),
            "try{ initSongDb([]); if(typeof renderSearchResults==='function') renderSearchResults(); }catch(e){console.error('initSongDb',e)}");

  SongRecord dont{5, L"k", L"C", L"팝", L"Don't", L"", L"A\\B", L"line\tone\n", 0, L"", L"", L"", L""};
  SongRecord nine{9, L"p", L"", L"", L"T", L"s", L"S", L"", 120, L"ㅌ", L"ㅅ", L"", L"가수"};
  SongRecord five2 = dont;
  five2.koTitle = L"제목";
  SetList({nine, dont, five2});
  EXPECT_EQ(BuildSongListPayload(),
            U8(L"[{id:9,title:'T',subtitle:'s',singer:'S',tempo:120,genre:'',keys:'',chosung:'ㅌ',singerChosung:'ㅅ',"
            L"line1:'',koSinger:'가수'},"
            L"{id:5,title:'Don\\'t',subtitle:'',singer:'A\\\\B',tempo:0,genre:'팝',keys:'C',chosung:'',"
            L"singerChosung:'',line1:'lineone'},"
            L"{id:5,title:'Don\\'t',subtitle:'',singer:'A\\\\B',tempo:0,genre:'팝',keys:'C',chosung:'',"
            L"singerChosung:'',line1:'lineone',koTitle:'제목'}]"));
  const std::string justFive = BuildSongListPayloadFor({5, 77});
  EXPECT_EQ(justFive.find("{id:9"), std::string::npos);
  EXPECT_EQ(justFive.substr(0, 6), "[{id:5");
  EXPECT_NE(justFive.find("},{id:5"), std::string::npos);  // both records of 5

  const std::string partial = PostSongListUpdate({5, 5, 9});
  EXPECT_EQ(partial, "try{ mergeSongDb(" + BuildSongListPayloadFor({9, 5}) +
                         "); if(typeof renderSearchResults==='function') renderSearchResults(); }catch(e){console.error('mergeSongDb',e)}");
  EXPECT_EQ(partial.find("{id:9"), 18u);  // song-list order, not number order
  EXPECT_NE(root.Read("debug_log.txt").find(U8(L"새 곡 2곡만 반영(부분 갱신 - 빠름)")), std::string::npos);

  std::vector<int> many(3000);
  for (int i = 0; i < 3000; ++i) many[i] = i + 1;
  EXPECT_EQ(PostSongListUpdate(many).substr(0, 17), "try{ mergeSongDb(");
  many.push_back(4000);
  EXPECT_EQ(PostSongListUpdate(many).substr(0, 16), "try{ initSongDb(");
  EXPECT_NE(root.Read("debug_log.txt").find(U8(L"화면 곡목록 갱신: 전체 3곡 다시 심음")), std::string::npos);
}

TEST_F(SongListTest, RegeneratedCatalogueLoads) {
  root.Write("P0001.txt", U8(L"1\n아리랑\n\n\n민요\n"));
  Midi({"P0001.MID"});
  ASSERT_TRUE(RegenerateSongsCsv({}, true));
  LoadSongDb();
  std::shared_lock lock(SongLibrary.SongListMutex);
  ASSERT_EQ(SongLibrary.SongList.size(), 1u);
  EXPECT_EQ(SongLibrary.SongList[0].title, L"아리랑");
  EXPECT_EQ(SongLibrary.SongList[0].singer, L"민요");
  EXPECT_EQ(SongLibrary.SongList[0].chosung, L"ㅇㄹㄹ");
  EXPECT_TRUE(SongLibrary.SongList[0].koTitle.empty());
}

TEST_F(SongListTest, TableForThePage) {
  const std::string head =
      "{\"keys\":[\"id\",\"title\",\"subtitle\",\"singer\",\"tempo\",\"genre\",\"keys\",\"chosung\","
      "\"singerChosung\",\"line1\",\"koTitle\",\"koSinger\"],\"rows\":[";
  SetList({});
  EXPECT_EQ(BuildSongListTable(), head + "]}");

  // The same texts as the script array: control characters dropped; JSON escapes only " and \,
  // and a lone surrogate becomes U+FFFD so the frame stays valid UTF-8.
  SongRecord dont{5, L"k", L"C", L"팝", L"Don't \"x\"", L"", L"A\\B", L"line\tone\n", 0, L"", L"", L"", L""};
  SongRecord nine{9, L"p", L"", L"", L"T", L"s", L"S", L"", 120, L"ㅌ", L"ㅅ", L"", L"가수"};
  SongRecord both = dont;
  both.koTitle = L"제목";
  both.koSinger = std::wstring(L"a") + wchar_t(0xD800) + L"b";
  SongRecord titleOnly = dont;
  titleOnly.koTitle = L"제목";
  SetList({nine, dont, both, titleOnly});
  EXPECT_EQ(BuildSongListTable(),
            head + U8(L"[9,\"T\",\"s\",\"S\",120,\"\",\"\",\"ㅌ\",\"ㅅ\",\"\",null,\"가수\"],"
                      L"[5,\"Don't \\\"x\\\"\",\"\",\"A\\\\B\",0,\"팝\",\"C\",\"\",\"\",\"lineone\"],"
                      L"[5,\"Don't \\\"x\\\"\",\"\",\"A\\\\B\",0,\"팝\",\"C\",\"\",\"\",\"lineone\",\"제목\",\"a\xFFFD"
                      L"b\"],"
                      L"[5,\"Don't \\\"x\\\"\",\"\",\"A\\\\B\",0,\"팝\",\"C\",\"\",\"\",\"lineone\",\"제목\"]") +
                "]}");
}
