// Install paths to real paths: the root, case-blind matching of existing names, refusals.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "platform/files.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

TEST(RealPath, MapsInstallPathsUnderTheRoot) {
  const fs::path root = fs::temp_directory_path() / ("tavelo_paths_" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "system");
  ASSERT_TRUE(plat::WriteFileAtomic(root / "system" / "P0012.MID", "x"));
  plat::SetRootDir(root);

  struct Case {
    std::wstring in;
    fs::path out;
  } cases[] = {
      {L"C:/tavelo/system/p0012.mid", root / "system" / "P0012.MID"},  // existing name, any case
      {L"c:\\TAVELO\\System\\P0012.MID", root / "system" / "P0012.MID"},
      {L"C:/tavelo/system/new.cfg", root / "system" / "new.cfg"},      // missing: kept as given
      {L"C:/tavelo", root},
      {L"C:/tavelo/Tavelo.exe", root / "tavelo"},                      // the program's own file
      {L"C:/tavelo/system/../../etc/passwd", {}},                      // never leaves by ".."
      {L"C:/tavelox/system", {}},
      {L"D:/other", {}},
      {L"relative/path", {}},
      {L"/usr/share", "/usr/share"},
  };
  for (const Case& c : cases) EXPECT_EQ(plat::RealPath(c.in), c.out) << fs::path(c.in);
  EXPECT_EQ(plat::InstallPath(L"system/x"), L"<root>/system/x");
  EXPECT_EQ(plat::RealPath(L"<root>/system/p0012.mid"), root / "system" / "P0012.MID");
  EXPECT_EQ(plat::ShownPath(L"<root>/synth"), (root / "synth").wstring());
  fs::remove_all(root);
}
