// The program update against the stand-in board: a newer release is offered through the notice,
// downloaded, swapped in and started; the base package reinstall.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "test_paths.h"
#include "common/temp_root.h"
#include "online/account.h"
#include "online/base_package.h"
#include "online/program_update.h"
#include "online/services.h"
#include "page_messages.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/program_file.h"
#include "platform/xvfb.h"
#include "stand_in_board.h"

namespace {

const std::string kOldProgram = "\x7f" "ELF the running release";

std::string FileText(const fs::path& p) { return plat::ReadFileBytes(p).value_or("<missing>"); }

// An install root with an account, the base package, installed release 5 and a program file of
// its own standing for the running program.
struct UpdateRoot {
  TempRoot root;
  fs::path program = root.path() / "bin" / "tavelo";
  UpdateRoot() {
    fs::create_directories(program.parent_path());
    std::ofstream(program, std::ios::binary) << kOldProgram;
    fs::permissions(program, fs::perms::owner_all);
    plat::SetExecutablePath(program);
    fs::create_directories(root.path() / "pxr");
    std::ofstream(root.path() / "pxr" / "DS1-P1.MID") << "style";
    plat::WriteFileAtomic(root.path() / "system" / "program_update.cfg", "5");
    plat::WriteFileAtomic(root.path() / "license.cfg", "mb_id=kim\r\nmb_pw=pw\r\n");
    LoadMemberAccount();
  }
  ~UpdateRoot() { plat::SetExecutablePath({}); }
  std::string Cfg() const { return FileText(root.path() / "system" / "program_update.cfg"); }
};

std::string ReleaseBytes() { return plat::ReadFileBytes(TAVELO_FAKE_RELEASE).value_or(""); }

std::vector<BoardPost> Releases() {
  BoardPost older{4, "2026-11-01", "file", "old release"};
  BoardPost newest{6, "2026-12-01", "file", ReleaseBytes()};
  newest.shownName = "Tavelo.exe";
  newest.content = "<p>New &amp; better</p>";
  older.shownName = "Tavelo.exe";
  return {older, newest};
}

struct NoticeAnswer {
  explicit NoticeAnswer(const char* a) { ::setenv("TAVELO_TEST_NOTICE_ANSWER", a, 1); }
  ~NoticeAnswer() { ::unsetenv("TAVELO_TEST_NOTICE_ANSWER"); }
};

}  // namespace

TEST(ProgramUpdateFlow, ANewerReleaseIsSwappedInAndStarted) {
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "no Xvfb";
  ::setenv("DISPLAY", x.display().c_str(), 1);
  UpdateRoot r;
  StandInBoard board({});
  board.SetPosts(Releases(), true, 15, "tavelo_program");

  {
    NoticeAnswer later("decline");
    PagePosts posts = PostsOf([] { EXPECT_FALSE(CheckAndApplyProgramUpdate(true)); });
    EXPECT_EQ(FileText(r.program), kOldProgram);
    EXPECT_EQ(r.Cfg(), "5");  // asked again at the next check
  }
  {
    NoticeAnswer now("accept");
    PagePosts posts = PostsOf([] { EXPECT_FALSE(CheckAndApplyProgramUpdate(true)); });
    EXPECT_TRUE(posts.alerts.empty()) << posts.alerts.front().size();
  }
  EXPECT_EQ(FileText(r.program), ReleaseBytes());
  EXPECT_EQ(FileText(r.program.parent_path() / "tavelo_old"), kOldProgram);
  EXPECT_EQ(r.Cfg(), "6");
  const fs::path started = r.program.parent_path() / "release_started.txt";
  for (int i = 0; i < 200 && FileText(started).find('\n') == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  EXPECT_EQ(FileText(started), "successor=yes\n");

  // Up to date now: only the message.
  PagePosts again = PostsOf([] { CheckAndApplyProgramUpdate(true); });
  ASSERT_EQ(again.alerts.size(), 1u);
  EXPECT_EQ(again.alerts[0], L"현재 최신 버전입니다. (버전 12.9)");
  ::unsetenv("DISPLAY");
}

TEST(ProgramUpdateFlow, AFailedSwapRecordsNothingAndKeepsTheProgram) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "no Xvfb";
  ::setenv("DISPLAY", x.display().c_str(), 1);
  UpdateRoot r;
  StandInBoard board({});
  board.SetPosts(Releases(), true, 15, "tavelo_program");
  fs::permissions(r.program.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
  NoticeAnswer now("accept");
  PagePosts posts = PostsOf([] { CheckAndApplyProgramUpdate(true); });
  fs::permissions(r.program.parent_path(), fs::perms::owner_all);
  EXPECT_EQ(FileText(r.program), kOldProgram);
  EXPECT_EQ(r.Cfg(), "5");
  ASSERT_EQ(posts.alerts.size(), 1u);
  EXPECT_NE(posts.alerts[0].find(L"프로그램 교체에 실패했습니다."), std::wstring::npos);
  ::unsetenv("DISPLAY");
}

TEST(ProgramUpdateFlow, FirstCheckRecordsTheNewestAndNonFilesAreRefused) {
  UpdateRoot r;
  fs::remove(r.root.path() / "system" / "program_update.cfg");
  StandInBoard board({});
  std::vector<BoardPost> releases = Releases();
  board.SetPosts(releases, true, 15, "tavelo_program");
  PagePosts first = PostsOf([] { CheckAndApplyProgramUpdate(true); });
  EXPECT_EQ(r.Cfg(), "6");
  ASSERT_EQ(first.alerts.size(), 1u);
  EXPECT_EQ(first.alerts[0], L"현재 최신 버전입니다. (버전 12.9)");

  // Release 7 answers with a login page: no display, so the notice takes "나중에"; with the
  // answer forced by the message-box fallback unavailable, the download is not reached.
  releases.push_back({7, "2026-12-09", "html", "", "Tavelo.exe"});
  board.SetPosts(releases, true, 15, "tavelo_program");
  board.ClearRequests();
  PostsOf([] { CheckAndApplyProgramUpdate(false); });
  EXPECT_EQ(r.Cfg(), "6");
  for (const auto& line : board.Requests()) EXPECT_EQ(line.find("download.php"), std::string::npos) << line;
}

TEST(ProgramUpdateFlow, DownloadsJudgeTheAnswer) {
  UpdateRoot r;
  StandInBoard board({});
  board.SetPosts({{8, "2026-12-01", "html", "x"}, {9, "2026-12-01", "file", "PK\x03\x04 not a program"}}, true, 15,
                 "tavelo_program");
  const std::wstring cookie = L"Cookie: PHPSESSID=abc\r\n";
  const fs::path dest = r.root.path() / "_dl" / "tavelo_new";
  EXPECT_FALSE(DownloadProgramExe(cookie, 8, 0, dest));
  EXPECT_NE(FileText(r.root.path() / "system" / "debug_prog_dl_no0.html").find("<"), std::string::npos);
  EXPECT_TRUE(DownloadProgramExe(cookie, 9, 0, dest));
  EXPECT_FALSE(plat::IsProgramFile(dest));
}

TEST(ProgramUpdateFlow, ReinstallOfAWrappedBasePackage) {
  UpdateRoot r;
  fs::remove_all(r.root.path() / "pxr");
  StandInBoard board({});
  const fs::path zip = r.root.path() / "made.zip";
  ASSERT_EQ(plat::RunHiddenAndWait({"python3", "-c",
                                    "import sys, zipfile\n"
                                    "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
                                    "z.writestr('Tavelo/pxr/DS1-P1.MID', 'style')\n"
                                    "z.writestr('Tavelo/system/help.txt', 'help')\n"
                                    "z.close()\n",
                                    zip.string()},
                                   30000),
            0);
  board.SetDataRoomFile("Tavelo.zip", FileText(zip));
  PagePosts posts = PostsOf([] { ForceReinstallBaseZip(); });
  EXPECT_EQ(FileText(r.root.path() / "pxr" / "DS1-P1.MID"), "style");
  size_t done = 0;
  for (const auto& s : posts.scripts) done += s.find(L"updateDone(") != std::wstring::npos;
  EXPECT_EQ(done, 1u);
  EXPECT_NE(posts.AllScripts().find(L"기초파일(zip) 설치가 완료되었습니다."), std::wstring::npos);

  // Busy: refused at once with its own text.
  Online.UpdateBusyFlag.store(1);
  PagePosts busy = PostsOf([] { ForceReinstallBaseZip(); });
  Online.UpdateBusyFlag.store(0);
  EXPECT_NE(busy.AllScripts().find(L"다른 업데이트가 진행 중입니다."), std::wstring::npos);
}
