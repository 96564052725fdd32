// Install paths to real paths: the root, case-blind matching of existing names, refusals.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
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

TEST(RealPath, CaseBlindMatchFollowsChangesOfAnUnchangedLookingFolder) {
  const fs::path root = fs::temp_directory_path() / ("tavelo_paths_cache_" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "system");
  plat::SetRootDir(root);
  const fs::path system = root / "system";
  // Listings are kept for folders that did not change in the last moments before the lookup.
  const auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(150)); };
  settle();
  EXPECT_EQ(plat::RealPath(L"C:/tavelo/system/genre.idx"), system / "genre.idx");
  ASSERT_TRUE(plat::WriteFileAtomic(system / "GENRE.IDX", "x"));
  EXPECT_EQ(plat::RealPath(L"C:/tavelo/system/genre.idx"), system / "GENRE.IDX");
  settle();
  EXPECT_EQ(plat::RealPath(L"C:/tavelo/system/Genre.Idx"), system / "GENRE.IDX");
  fs::rename(system / "GENRE.IDX", system / "Genre.idx");
  EXPECT_EQ(plat::RealPath(L"C:/tavelo/system/genre.IDX"), system / "Genre.idx");
  settle();
  fs::remove(system / "Genre.idx");
  EXPECT_EQ(plat::RealPath(L"C:/tavelo/system/genre.idx"), system / "genre.idx");
  fs::remove_all(root);
}
