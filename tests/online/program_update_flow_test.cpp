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
#include "release_signer.h"
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

// Release 6 is the newest; its signature attachment holds `signature` (none when empty).
std::vector<BoardPost> Releases(const std::string& signature) {
  BoardPost older{4, "2026-11-01", "file", "old release"};
  BoardPost newest{6, "2026-12-01", "file", ReleaseBytes()};
  newest.shownName = "Tavelo.exe";
  newest.content = "<p>New &amp; better</p>";
  newest.signature = signature;
  older.shownName = "Tavelo.exe";
  return {older, newest};
}

// A base package made with Python's zipfile: the entries below a wrapping folder.
std::string BaseZip(const fs::path& scratch, const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string script = "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n";
  std::vector<std::string> args = {"python3", "-c", "", (scratch / "made.zip").string()};
  for (size_t i = 0; i < entries.size(); ++i) {
    script += "z.writestr(sys.argv[" + std::to_string(2 + 2 * i) + "], sys.argv[" + std::to_string(3 + 2 * i) + "])\n";
    args.push_back("Tavelo/" + entries[i].first);
    args.push_back(entries[i].second);
  }
  script += "z.close()\n";
  args[2] = script;
  EXPECT_EQ(plat::RunHiddenAndWait(args, 30000), 0);
  return FileText(scratch / "made.zip");
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
  ReleaseSigner signer;
  StandInBoard board({});
  board.SetPosts(Releases(signer.Sign(ReleaseBytes())), true, 15, "tavelo_program");

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
  ReleaseSigner signer;
  StandInBoard board({});
  board.SetPosts(Releases(signer.Sign(ReleaseBytes())), true, 15, "tavelo_program");
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
  std::vector<BoardPost> releases = Releases("");
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

TEST(ProgramUpdateFlow, OnlyTheMakersSignatureLetsAReleaseOrABasePackageIn) {
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "no Xvfb";
  ::setenv("DISPLAY", x.display().c_str(), 1);
  UpdateRoot r;
  ReleaseSigner signer;
  fs::remove_all(r.root.path() / "pxr");  // the check bootstraps the base package first
  StandInBoard board({});
  const std::string zip = BaseZip(r.root.path(), {{"pxr/DS1-P1.MID", "style"}});
  board.SetDataRoomFile("Tavelo.zip", zip);
  NoticeAnswer now("accept");
  const std::string garbage(64, 'Z');
  const struct {
    const char* what;
    std::string programSignature, zipSignature;
  } refused[] = {
      {"unsigned", "", ""},
      {"another key", signer.Sign(ReleaseBytes(), true), signer.Sign(zip, true)},
      {"not a signature of these bytes", garbage, garbage},
  };
  for (const auto& c : refused) {
    board.SetPosts(Releases(c.programSignature), true, 15, "tavelo_program");
    if (c.zipSignature.empty()) board.RemoveDataRoomFile("Tavelo.zip.sig");
    else board.SetDataRoomFile("Tavelo.zip.sig", c.zipSignature);
    PagePosts posts = PostsOf([] { EXPECT_FALSE(CheckAndApplyProgramUpdate(true)); });
    EXPECT_EQ(FileText(r.program), kOldProgram) << c.what;
    EXPECT_EQ(r.Cfg(), "5") << c.what;
    EXPECT_FALSE(BaseMarkerPresent()) << c.what;
    EXPECT_FALSE(fs::exists(r.root.path() / "system" / "firstinstall.flag")) << c.what;
    EXPECT_FALSE(fs::exists(r.root.path() / "_dl" / "tavelo_new")) << c.what;
    EXPECT_FALSE(fs::exists(r.root.path() / "_dl" / "Tavelo.zip")) << c.what;
    EXPECT_EQ(posts.alerts, (std::vector<std::wstring>{L"기초파일(zip)에 제작사 서명이 없거나 맞지 않아 설치하지 않았습니다.",
                                                       L"업데이트 파일에 제작사 서명이 없거나 맞지 않아 설치하지 않았습니다."}))
        << c.what;
  }

  board.SetPosts(Releases(signer.Sign(ReleaseBytes())), true, 15, "tavelo_program");
  board.SetDataRoomFile("Tavelo.zip.sig", signer.Sign(zip));
  PagePosts posts = PostsOf([] { EXPECT_TRUE(CheckAndApplyProgramUpdate(true)); });
  EXPECT_TRUE(posts.alerts.empty());
  EXPECT_TRUE(BaseMarkerPresent());
  EXPECT_EQ(FileText(r.root.path() / "system" / "firstinstall.flag"), "1");
  EXPECT_EQ(FileText(r.program), ReleaseBytes());
  EXPECT_EQ(r.Cfg(), "6");
  ::unsetenv("DISPLAY");
}

TEST(ProgramUpdateFlow, ReinstallTakesASignedPackageAndOnlyWhatItsManifestNamesOfTheGuardedFiles) {
  UpdateRoot r;
  ReleaseSigner signer;
  fs::remove_all(r.root.path() / "pxr");
  const fs::path root = r.root.path();
  const std::string account = "mb_id=kim\r\nmb_pw=pw\r\n";
  plat::WriteFileAtomic(root / "system" / "app_settings.cfg", "mine=1\n");
  plat::WriteFileAtomic(root / "tavelo", "installed copy");
  StandInBoard board({});
  const std::vector<std::pair<std::string, std::string>> content = {
      {"pxr/DS1-P1.MID", "style"},         {"system/help.txt", "help"},
      {"license.cfg", "mb_id=attacker\r\n"}, {"system/app_settings.cfg", "theirs=1\n"},
      {"tavelo", "their program"},          {"bin/tavelo", "their program"}};
  const std::string zip = BaseZip(root, content);
  board.SetDataRoomFile("Tavelo.zip", zip);
  auto reinstall = [] {
    PagePosts posts = PostsOf([] { ForceReinstallBaseZip(); });
    size_t done = 0;
    for (const auto& s : posts.scripts) done += s.find(L"updateDone(") != std::wstring::npos;
    EXPECT_EQ(done, 1u);
    return posts.AllScripts();
  };

  for (const std::string& signature : {std::string(), signer.Sign(zip, true)}) {
    if (signature.empty()) board.RemoveDataRoomFile("Tavelo.zip.sig");
    else board.SetDataRoomFile("Tavelo.zip.sig", signature);
    EXPECT_NE(reinstall().find(L"기초파일(zip)에 제작사 서명이 없거나 맞지 않아 설치하지 않았습니다."), std::wstring::npos);
    EXPECT_FALSE(BaseMarkerPresent());
    EXPECT_FALSE(fs::exists(root / "system" / "help.txt"));
  }

  // Signed: the base content lands, the program, the account and the settings stay.
  board.SetDataRoomFile("Tavelo.zip.sig", signer.Sign(zip));
  EXPECT_NE(reinstall().find(L"기초파일(zip) 설치가 완료되었습니다."), std::wstring::npos);
  EXPECT_EQ(FileText(root / "pxr" / "DS1-P1.MID"), "style");
  EXPECT_EQ(FileText(root / "system" / "help.txt"), "help");
  EXPECT_EQ(FileText(root / "license.cfg"), account);
  EXPECT_EQ(FileText(root / "system" / "app_settings.cfg"), "mine=1\n");
  EXPECT_EQ(FileText(root / "tavelo"), "installed copy");
  EXPECT_EQ(FileText(r.program), kOldProgram);

  // A manifest that names the account and the program lets those in, and nothing else guarded.
  std::vector<std::pair<std::string, std::string>> named = content;
  named.push_back({kBaseManifestName, "replace=license.cfg\r\nreplace=program\r\n"});
  const std::string zip2 = BaseZip(root, named);
  board.SetDataRoomFile("Tavelo.zip", zip2);
  board.SetDataRoomFile("Tavelo.zip.sig", signer.Sign(zip2));
  EXPECT_NE(reinstall().find(L"기초파일(zip) 설치가 완료되었습니다."), std::wstring::npos);
  EXPECT_EQ(FileText(root / "license.cfg"), "mb_id=attacker\r\n");
  EXPECT_EQ(FileText(root / "tavelo"), "their program");
  EXPECT_EQ(FileText(r.program), "their program");
  EXPECT_EQ(FileText(root / "system" / "app_settings.cfg"), "mine=1\n");
  EXPECT_FALSE(fs::exists(root / kBaseManifestName));

  // Busy: refused at once with its own text.
  Online.UpdateBusyFlag.store(1);
  PagePosts busy = PostsOf([] { ForceReinstallBaseZip(); });
  Online.UpdateBusyFlag.store(0);
  EXPECT_NE(busy.AllScripts().find(L"다른 업데이트가 진행 중입니다."), std::wstring::npos);
}
