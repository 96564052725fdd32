// The program file swap, the successor start and the command runner that ends what outlives its
// wait.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/temp_root.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/program_file.h"

namespace fs = std::filesystem;

namespace {

const std::string kOld = "\x7f" "ELF old program";
const std::string kNew = "\x7f" "ELF new program, a little longer";

void Write(const fs::path& p, const std::string& bytes, fs::perms mode = fs::perms::owner_all) {
  std::ofstream(p, std::ios::binary) << bytes;
  fs::permissions(p, mode);
}

std::string Read(const fs::path& p) { return plat::ReadFileBytes(p).value_or("<missing>"); }

bool Executable(const fs::path& p) { return ::access(p.c_str(), X_OK) == 0; }

struct SwapFiles {
  TempRoot root;
  fs::path program = root.path() / "tavelo", previous = root.path() / "tavelo_old",
           fresh = root.path() / "_dl" / "tavelo_new";
  SwapFiles() {
    fs::create_directories(fresh.parent_path());
    Write(program, kOld);
    Write(previous, "stale previous copy");
    Write(fresh, kNew, fs::perms::owner_read | fs::perms::owner_write);  // downloaded: not executable
  }
  size_t FilesInProgramFolder() const {
    size_t n = 0;
    for (auto& e : fs::directory_iterator(root.path())) n += e.is_regular_file();
    return n;
  }
};

}  // namespace

TEST(ProgramFileTest, RecognisesProgramFiles) {
  TempRoot root;
  const struct {
    std::string bytes;
    bool program;
  } cases[] = {{"\x7f" "ELF\x02\x01", true}, {"MZ\x90\x00", false}, {"PK\x03\x04", false}, {"\x7f" "EL", false}, {"", false}};
  for (const auto& c : cases) {
    Write(root.path() / "f", c.bytes);
    EXPECT_EQ(plat::IsProgramFile(root.path() / "f"), c.program) << c.bytes;
  }
  EXPECT_FALSE(plat::IsProgramFile(root.path() / "missing"));
}

TEST(ProgramFileTest, SwapPutsTheNewFileInPlaceAndKeepsTheOld) {
  SwapFiles f;
  ASSERT_TRUE(plat::SwapProgramFile(f.fresh, f.program, f.previous));
  EXPECT_EQ(Read(f.program), kNew);
  EXPECT_TRUE(Executable(f.program));
  EXPECT_EQ(Read(f.previous), kOld);
  EXPECT_EQ(f.FilesInProgramFolder(), 2u);  // no staged copy left behind
}

TEST(ProgramFileTest, AFailedStepLeavesTheProgramWholeAndUnchanged) {
  for (auto failing : {plat::SwapStep::kStageNew, plat::SwapStep::kKeepPrevious, plat::SwapStep::kReplace}) {
    SwapFiles f;
    plat::SetSwapStepHook([failing](plat::SwapStep s) { return s != failing; });
    EXPECT_FALSE(plat::SwapProgramFile(f.fresh, f.program, f.previous)) << static_cast<int>(failing);
    plat::SetSwapStepHook(nullptr);
    EXPECT_EQ(Read(f.program), kOld);
    EXPECT_TRUE(Executable(f.program));
    EXPECT_LE(f.FilesInProgramFolder(), 2u);
  }
}

TEST(ProgramFileTest, AReadOnlyProgramFolderFailsTheSwapBeforeAnythingChanges) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  SwapFiles f;
  fs::permissions(f.root.path(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(plat::SwapProgramFile(f.fresh, f.program, f.previous));
  fs::permissions(f.root.path(), fs::perms::owner_all);
  EXPECT_EQ(Read(f.program), kOld);
}

// A process killed before any step, or after the last, leaves a program file that starts.
TEST(ProgramFileTest, AKillAtEveryStepLeavesAWholeProgram) {
  for (int killAt = 0; killAt <= 3; ++killAt) {
    SwapFiles f;
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      plat::SetSwapStepHook([killAt](plat::SwapStep s) {
        if (static_cast<int>(s) == killAt) ::_exit(9);
        return true;
      });
      plat::SwapProgramFile(f.fresh, f.program, f.previous);
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const std::string now = Read(f.program);
    EXPECT_TRUE(now == kOld || now == kNew) << "killed at step " << killAt;
    EXPECT_EQ(now, killAt == 3 ? kNew : kOld);
    EXPECT_TRUE(Executable(f.program));
  }
}

TEST(ProgramFileTest, ACommandPastItsWaitIsEnded) {
  TempRoot root;
  const fs::path marker = root.path() / "late";
  // The child would write the marker after 2 s; ended at 200 ms, it never does.
  EXPECT_EQ(plat::RunHiddenAndWaitOrEnd({"sh", "-c", "sleep 2; touch '" + marker.string() + "'"}, 200),
            plat::kStillActive);
  ::sleep(3);
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_EQ(plat::RunHiddenAndWaitOrEnd({"sh", "-c", "exit 3"}, 5000), 3);
}

TEST(ProgramFileTest, ASuccessorKnowsItFollowsItsStarter) {
  TempRoot root;
  const fs::path script = root.path() / "report";
  const fs::path out = root.path() / "out";
  Write(script, "#!/bin/sh\necho \"${TAVELO_SUCCESSOR_OF:-none}\" > '" + out.string() + "'\n");
  for (bool successor : {true, false}) {
    fs::remove(out);
    ASSERT_TRUE(plat::StartProgram(script, root.path(), successor));
    for (int i = 0; i < 100 && Read(out).find('\n') == std::string::npos; ++i) ::usleep(50000);
    EXPECT_EQ(Read(out), successor ? std::to_string(::getpid()) + "\n" : "none\n");
  }
  ::setenv("TAVELO_SUCCESSOR_OF", "123", 1);
  EXPECT_TRUE(plat::TakeSuccessorMark());
  EXPECT_FALSE(plat::TakeSuccessorMark());  // read once: not passed on
}
