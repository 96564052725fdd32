// The history, favourites and song-check commands through the main page's dispatch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "common/temp_root.h"
#include "platform/files.h"
#include "songs/song_list.h"
#include "ui/page_commands.h"

namespace {

std::string SystemFile(const TempRoot& root, const char* name) {
  return plat::ReadFileBytes(root.path() / "system" / name).value_or("<missing>");
}

std::wstring Log(const TempRoot& root) { return Utf8ToWide(SystemFile(root, "debug_log.txt")); }

TEST(SearchCommands, SavesWriteTheWholeTextExactly) {
  TempRoot root;
  struct Case {
    std::wstring message;
    const char* file;
    std::string want;
  };
  const std::vector<Case> cases = {
      {L"HISTORY_SAVE:12\t사랑\t2024-05-01 20:15\t철수;영희\t1\n13\tB\t2024-05-01 20:19\t\t0", "history.log",
       "12\t사랑\t2024-05-01 20:15\t철수;영희\t1\n13\tB\t2024-05-01 20:19\t\t0"},
      {L"HISTORY_SAVE:", "history.log", ""},
      {L"FAV_SAVE:철수\t12\t사랑 (live)\t2\t0\t-1", "favorites.log", "철수\t12\t사랑 (live)\t2\t0\t-1"},
      {L"FAV_SAVE:a:b\t1\tT\t0\t0\t1", "favorites.log", "a:b\t1\tT\t0\t0\t1"},
  };
  for (const Case& c : cases) {
    DispatchPageCommand(c.message, MainPageCommandStages());
    EXPECT_EQ(SystemFile(root, c.file), c.want) << WideToUtf8(c.message);
  }
}

TEST(SearchCommands, DumpSongLogsWhatIsKnown) {
  TempRoot root;
  plat::WriteFileAtomic(root.path() / "system" / "popko.idx",
                        "#POPKO2\n\n# note\nx\tno\tno\tno\n7\t러브\t비틀즈\t첫 줄\r\n7\t둘째\t가수\tz\n");
  {
    std::unique_lock lock(SongLibrary.SongListMutex);
    SongRecord s;
    s.id = 7;
    s.nat = L"p";
    s.title = L"Love";
    s.singer = L"Beatles";
    s.chosung = L"ㄹㅂ";
    s.line1 = L"12345678901234567890";
    SongLibrary.SongList = {s};
  }
  DispatchPageCommand(L"DUMP_SONG:7", MainPageCommandStages());
  DispatchPageCommand(L"DUMP_SONG:8", MainPageCommandStages());
  DispatchPageCommand(L"DUMP_SONG:0", MainPageCommandStages());
  DispatchPageCommand(L"DUMP_SONG:x", MainPageCommandStages());
  std::wstring log = Log(root);
  EXPECT_NE(log.find(L"[곡점검 7] E파일 없음/못읽음 제목=[] 가수=[] 첫가사=[] -> 제목초성=[]"), std::wstring::npos);
  EXPECT_NE(log.find(L"[곡점검 7] 색인 있음 제목=[러브] 가수=[비틀즈]"), std::wstring::npos);
  EXPECT_NE(log.find(L"[곡점검 7] 목록 nat=[p] 제목=[Love] 가수=[Beatles] 제목초성=[ㄹㅂ] 가수초성=[] 첫가사=[1234567890123456]"),
            std::wstring::npos);
  EXPECT_NE(log.find(L"[곡점검 8] 색인 없음 제목=[] 가수=[]"), std::wstring::npos);
  EXPECT_NE(log.find(L"[곡점검 8] 목록에 없는 곡입니다"), std::wstring::npos);
  EXPECT_EQ(log.find(L"[곡점검 0]"), std::wstring::npos);
  {
    std::unique_lock lock(SongLibrary.SongListMutex);
    SongLibrary.SongList.clear();
  }
}

TEST(SearchCommands, KoreanInputSwitchIsLogged) {
  TempRoot root;
  DispatchPageCommand(L"SWITCH_TO_KOREAN_IME", MainPageCommandStages());
  EXPECT_NE(Log(root).find(L"[IME]"), std::wstring::npos);
}

}  // namespace
