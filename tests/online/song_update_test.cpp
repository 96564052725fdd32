#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "base/debug_log.h"
#include "base/text.h"
#include "common/temp_root.h"
#include "online/account.h"
#include "online/board.h"
#include "online/package.h"
#include "online/song_commands.h"
#include "online/song_update.h"
#include "page_messages.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "songs/song_catalog.h"
#include "stand_in_board.h"

namespace {

std::string Encrypt(const std::string& zip) { return plat::Aes256CbcEncrypt(PackageKey(), PackageIv(), zip); }

std::string SystemFile(const std::wstring& name) {
  return plat::ReadFileBytes(plat::RealPath(L"C:/tavelo/system/" + name)).value_or("<missing>");
}

void WriteAccount(const std::string& text) {
  plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/license.cfg"), text);
  LoadMemberAccount();
}

std::string CsvRow(int id, const std::string& title) {
  return std::to_string(id) + ",KR,M,C,1,120,가요," + title + ",,,,,가수,첫줄,,,,,,,";
}

// Processes of this machine whose command line mentions `needle`.
int ProcessesMentioning(const std::string& needle) {
  int n = 0;
  for (const auto& e : fs::directory_iterator("/proc")) {
    std::ifstream in(e.path() / "cmdline", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    if (s.str().find(needle) != std::string::npos) ++n;
  }
  return n;
}

}  // namespace

TEST(AccountFile, ReadsKeysExactlyAndMigratesTheOlderFile) {
  struct Case {
    const char* main;   // nullptr: no file
    const char* older;  // nullptr: no file
    const wchar_t* id;
    const wchar_t* password;
    const char* mainAfter;
  } cases[] = {
      {"mb_id=kim\r\nmb_pw=a=b=c\r\n", nullptr, L"kim", L"a=b=c", "mb_id=kim\r\nmb_pw=a=b=c\r\n"},
      {"mb_id=lee\nmb_pw=pw\n", "mb_id=old\nmb_pw=x\n", L"lee", L"pw", "mb_id=lee\nmb_pw=pw\n"},
      {"mb_pw=only\n", "mb_id=old\r\nmb_pw=oldpw\r\n", L"old", L"oldpw", "mb_id=old\r\nmb_pw=oldpw\r\n"},
      {"MB_ID=x\nmb_id =y\nmb_pw=z\n", nullptr, L"", L"z", "MB_ID=x\nmb_id =y\nmb_pw=z\n"},
      {"\xEF\xBB\xBFmb_id=bom\nmb_pw=p\n", nullptr, L"", L"p", "\xEF\xBB\xBFmb_id=bom\nmb_pw=p\n"},
      {"mb_id=a\nmb_id=한글\nmb_pw= sp \n", nullptr, L"한글", L" sp ", "mb_id=a\nmb_id=한글\nmb_pw= sp \n"},
      {nullptr, nullptr, L"", L"", "<missing>"},
  };
  for (const auto& c : cases) {
    TempRoot root;
    if (c.main) plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/license.cfg"), c.main);
    if (c.older) plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/system/license.cfg"), c.older);
    std::wstring id, pw;
    LoadAccount(id, pw);
    EXPECT_EQ(id, c.id) << (c.main ? c.main : "-");
    if (*c.id) {
      EXPECT_EQ(pw, c.password) << (c.main ? c.main : "-");
    }
    EXPECT_EQ(plat::ReadFileBytes(plat::RealPath(L"C:/tavelo/license.cfg")).value_or("<missing>"), c.mainAfter);
  }
}

TEST(WebLogin, TheBrowserSubmitsTheFormAndReturnsTheSiteCookiesHttpOnlyToo) {
  TempRoot root;
  StandInBoard board({});
  WriteAccount("mb_id=o'ne\\\nmb_pw=p\"w\n");
  std::wstring diagnostics;
  std::wstring cookies = GnuboardLoginViaWebView2(diagnostics);
  EXPECT_NE(cookies.find(L"PHPSESSID=abc"), std::wstring::npos) << WideToUtf8(diagnostics);
  EXPECT_NE(cookies.find(L"mb_auth=ok"), std::wstring::npos);
  EXPECT_NE(diagnostics.find(L"폼 제출 스크립트 결과=\"SUBMITTED\""), std::wstring::npos);
  EXPECT_NE(diagnostics.find(L"수집된 쿠키 개수=2"), std::wstring::npos);
  // The id with an apostrophe and a backslash reached the form unchanged.
  EXPECT_NE(board.Read("last_login.txt").find("mb_id=o%27ne%5C"), std::string::npos) << board.Read("last_login.txt");
  EXPECT_EQ(ProcessesMentioning(root.path().string()), 0);
}

TEST(WebLogin, APageWithoutTheFormEndsAtTheLimitWithNoBrowserLeft) {
  TempRoot root;
  StandInBoard board({}, /*form=*/false);
  WriteAccount("mb_id=a\nmb_pw=b\n");
  // The time-out is what this test waits for: a shorter one than the other login tests run with.
  const std::string raised = std::getenv("TAVELO_LOGIN_TIMEOUT_S") ? std::getenv("TAVELO_LOGIN_TIMEOUT_S") : "";
  ::setenv("TAVELO_LOGIN_TIMEOUT_S", "30", 1);
  std::wstring diagnostics;
  std::wstring cookies = GnuboardLoginViaWebView2(diagnostics);
  if (raised.empty()) ::unsetenv("TAVELO_LOGIN_TIMEOUT_S");
  else ::setenv("TAVELO_LOGIN_TIMEOUT_S", raised.c_str(), 1);
  EXPECT_EQ(cookies, L"");
  EXPECT_NE(diagnostics.find(L"\"NO_FORM\""), std::wstring::npos) << WideToUtf8(diagnostics);
  EXPECT_NE(diagnostics.find(L"타임아웃(20초)"), std::wstring::npos);
  EXPECT_EQ(ProcessesMentioning(root.path().string()), 0);
}

TEST(SongUpdate, AppliesOnlyTheGoodNewPostAndFetchesNothingTheSecondTime) {
  TempRoot root;
  std::string header(kSongsCsvHeader);
  plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/system/songs.csv"), header + "\n" + CsvRow(100, "old") + "\n");
  plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/system/applied_wrids.cfg"), "1\n");
  std::string good = Encrypt(MakeZip({{"P0501.MID", "MThd-501"},
                                      {"P0501.txt", "text"},
                                      {"songs.csv", header + "\r\n" + CsvRow(501, "new") + "\r\n"},
                                      {"../evil.mid", "x"},
                                      {"..\\evil2.mid", "x"},
                                      {"C:evil3.mid", "x"},
                                      {"/evil4", "x"}}));
  StandInBoard board({{1, "2026-01-01", "file", good},   // A: applied already
                      {2, "", "file", good},             // B: no list date
                      {3, "2026-01-03", "html", good},   // C: the attachment is a server page
                      {4, "2026-01-04", "file", good}}); // D: good
  WriteAccount("mb_id=a\nmb_pw=b\n");
  auto posts = PostsOf([] { CheckAndApplySongUpdate(false); });
  std::wstring result = SongUpdateResultText();
  EXPECT_EQ(result.substr(0, result.find(L'\n')),
            L"[신곡 업데이트 완료] 1건 받음(파일 2개, songs.csv 1곡). 마지막 받은 등록일: 2026-01-04")
      << WideToUtf8(result);
  EXPECT_NE(result.find(L"wr_id=3: download.php가 파일 대신 HTML 페이지를 반환함"), std::wstring::npos);
  EXPECT_EQ(SystemFile(L"P0501.MID"), "MThd-501");
  EXPECT_EQ(SystemFile(L"songs.csv"), header + "\n" + CsvRow(100, "old") + "\n" + CsvRow(501, "new") + "\n");
  EXPECT_EQ(SystemFile(L"song_new.csv"), "\xEF\xBB\xBF" + header + "\r\n" + CsvRow(501, "new") + "\r\n");
  EXPECT_EQ(LoadAppliedPostIds(), (AppliedPostSet{1, 4}));
  EXPECT_EQ(LoadSongLastDate(), L"2026-01-04");
  EXPECT_EQ(SystemFile(L"song_update.cfg"), "4");
  for (const char* evil : {"evil.mid", "evil2.mid", "system/..\\evil2.mid", "evil4", "system/C:evil3.mid"})
    EXPECT_FALSE(fs::exists(root.path() / evil)) << evil;
  EXPECT_FALSE(fs::exists(fs::path("/evil4")));
  FlushDebugLogQueue();
  std::string log = SystemFile(L"debug_log.txt");
  for (const char* name : {"../evil.mid", "..\\evil2.mid", "C:evil3.mid", "/evil4"})
    EXPECT_NE(log.find(std::string("위험한 파일 이름이라 쓰지 않음: ") + name), std::string::npos) << name;
  EXPECT_FALSE(SongUpdateState.SongUpdateRunningFlag.load());
  EXPECT_FALSE(TakePendingPageScript().empty());  // the manual run leaves the song list script

  board.ClearRequests();
  PostsOf([] { CheckAndApplySongUpdate(false); });
  // Only the failed post C is tried again; A and D are not fetched.
  for (const auto& line : board.Requests()) {
    if (line.find("wr_id=") == std::string::npos) continue;
    EXPECT_NE(line.find("wr_id=3"), std::string::npos) << line;
  }
  result = SongUpdateResultText();
  EXPECT_EQ(result, L"게시판 글 4개, 마지막 받은 등록일 2026-01-04, 새로 받을 글 1개\n  wr_id=3: download.php가 파일 대신 HTML "
                    L"페이지를 반환함(첨부파일이 실제로 없거나 접근 불가) - " +
                        plat::ShownPath(L"<root>/system/debug_download_3.html") + L"에 저장함\n");
}

TEST(SongUpdate, ASecondStartLeavesTheRunningOneAlone) {
  TempRoot root;
  SongUpdateState.SongUpdateRunningFlag.store(1);
  CheckAndApplySongUpdate(false);
  EXPECT_EQ(SongUpdateResultText(), L"이미 신곡 업데이트를 확인하는 중입니다. 잠시 후 다시 시도해주세요.");
  EXPECT_EQ(SongUpdateState.SongUpdateRunningFlag.load(), 1);  // the owner's flag stays
  SongUpdateState.SongUpdateRunningFlag.store(0);
}

TEST(SongUpdate, EntriesThroughALinkedFolderAreRefused) {
  TempRoot root;
  fs::create_directories(root.path() / "outside");
  fs::create_directory_symlink(root.path() / "outside", root.path() / "system" / "linked");
  PackageApplyResult result;
  EXPECT_TRUE(WritePackageEntries(MakeZip({{"linked/P0700.MID", "x"}, {"P0701.MID", "y"}}), 5, result));
  EXPECT_EQ(result.filesWritten, 1);
  EXPECT_TRUE(fs::is_empty(root.path() / "outside"));
  EXPECT_EQ(SystemFile(L"P0701.MID"), "y");
}

TEST(SongUpdate, APackageListsTheSongFolderOnceWhateverItsSize) {
  TempRoot root;
  plat::WriteFileAtomic(root.path() / "system" / "p0001.mid", "old");
  std::vector<TestZipEntry> entries = {{"P0001.MID", "new"}, {"sub/P0002.MID", "s"}};
  fs::create_directories(root.path() / "system" / "sub");
  for (int i = 10; i < 1010; ++i) entries.push_back({"P" + std::to_string(i) + ".MID", "m"});
  entries.push_back({"p10.mid", "again"});  // the same file as P10.MID, written before
  const uint64_t before = plat::CaseMatchListings();
  PackageApplyResult result;
  EXPECT_TRUE(WritePackageEntries(MakeZip(entries), 6, result));
  EXPECT_LE(plat::CaseMatchListings() - before, 2u);  // the song folder and "sub", once each
  EXPECT_EQ(result.filesWritten, 1003);
  EXPECT_EQ(SystemFile(L"p0001.mid"), "new");  // the file of another case is replaced, not doubled
  EXPECT_FALSE(fs::exists(root.path() / "system" / "P0001.MID"));
  EXPECT_EQ(SystemFile(L"P10.MID"), "again");
  EXPECT_FALSE(fs::exists(root.path() / "system" / "p10.mid"));
  EXPECT_EQ(SystemFile(L"sub/P0002.MID"), "s");
}

TEST(SongUpdate, AFileThatCannotBeWrittenLeavesThePostForTheNextRun) {
  // A folder stands where a song file or the catalogue must go.
  std::string header(kSongsCsvHeader);
  std::string songFile = Encrypt(MakeZip({{"P0600.MID", "midi"}, {"P0601.MID", "midi"}}));
  std::string catalogue = Encrypt(MakeZip({{"P0601.MID", "midi"}, {"songs.csv", header + "\n" + CsvRow(601, "t") + "\n"}}));
  struct Case {
    const char* blocked;
    std::string package;
  } cases[] = {{"P0600.MID", songFile}, {"songs.csv", catalogue}};
  for (const auto& c : cases) {
    TempRoot root;
    fs::create_directories(root.path() / "system" / c.blocked);
    StandInBoard board({{9, "2026-02-01", "file", c.package}});
    WriteAccount("mb_id=a\nmb_pw=b\n");
    PostsOf([] { CheckAndApplySongUpdate(false); });
    EXPECT_EQ(SystemFile(L"P0601.MID"), "midi") << c.blocked;
    EXPECT_EQ(LoadAppliedPostIds(), AppliedPostSet{}) << c.blocked;
    EXPECT_NE(SongUpdateResultText().find(L"wr_id=9: 일부 파일을 쓰지 못해 다음에 다시 받음"), std::wstring::npos)
        << c.blocked;
  }
}

TEST(SongCommands, FullReinstallCleansSongDataAndTheDateReportChangesNothing) {
  TempRoot root;
  for (const char* f : {"P0012.MID", "p0013.txt", "J0012.txt", "PATCHTBL.CFG", "songs.csv", "applied_wrids.cfg",
                        "song_last_date.cfg", "post_songs.cfg", "keysig.txt"})
    plat::WriteFileAtomic(root.path() / "system" / f, "x");
  CleanSongData();
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(root.path() / "system"))
    if (e.path().filename() != "debug_log.txt") left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"PATCHTBL.CFG", "keysig.txt"}));
}

TEST(SongCommands, TheDateReportListsEveryPostWithItsState) {
  TempRoot root;
  plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/system/applied_wrids.cfg"), "1\n");
  StandInBoard board({{1, "2026-01-01", "file", "x"}, {2, "", "file", "x"}, {3, "2026-01-03", "file", "x"}});
  WriteAccount("mb_id=a\nmb_pw=b\n");
  auto posts = PostsOf(CheckSongDatesThread);
  ASSERT_EQ(posts.alerts.size(), 1u);
  EXPECT_EQ(posts.alerts[0],
            L"[신곡 게시판 등록일 점검]\n이미 받은 글(집합) 개수 = 1\n마지막 받은 등록일(참고) = (없음)\n"
            L"글 3  |  등록일 2026-01-03  |  받을 예정\n글 2  |  등록일 (등록일 못읽음)  |  \n"
            L"글 1  |  등록일 2026-01-01  |  이미 받음\n\n=> 이번에 받을 글 1개");
  EXPECT_NE(posts.AllScripts().find(L"updateDone('날짜 점검 완료 - 결과 창을 확인하세요.')"), std::wstring::npos);
  EXPECT_EQ(SystemFile(L"applied_wrids.cfg"), "1\n");
}

TEST(SongUpdate, DownloadProgressTexts) {
  struct Case {
    int done, total;
    uint64_t received, announced;
    std::wstring script;
  } cases[] = {
      {1, 2, 524288, 1048576, L"try{ updateModalProgress(75,'신곡 받는 중... (글 4)50%  (0.5 MB / 1.0 MB)',1,2); }catch(e){console.error('updateModalProgress',e)}"},
      {0, 1, 3145728, 0, L"try{ updateModalProgress(0,'신곡 받는 중... (글 4)3.0 MB 받음...',0,1); }catch(e){console.error('updateModalProgress',e)}"},
      {0, 0, 10, 5, L"try{ updateModalProgress(0,'신곡 받는 중... (글 4)100%  (0.0 MB / 0.0 MB)',0,0); }catch(e){console.error('updateModalProgress',e)}"},
  };
  for (const auto& c : cases) {
    auto posts = PostsOf([&] { ReportSongDownloadProgress(4, c.done, c.total, c.received, c.announced); });
    EXPECT_EQ(posts.scripts, std::vector<std::wstring>{c.script});
  }
  auto posts = PostsOf([] { PostUpdateModalProgress(150, L"x", 0, 0); });
  EXPECT_EQ(posts.scripts, std::vector<std::wstring>{L"try{ updateModalProgress(100,'x',0,0); }catch(e){console.error('updateModalProgress',e)}"});
}
