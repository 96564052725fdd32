// The base package: finding its root, unpacking it safely into the install folder, judging
// download answers; the installed-release file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "common/temp_root.h"
#include "online/base_package.h"
#include "online/program_update.h"
#include "platform/files.h"
#include "platform/process.h"

namespace fs = std::filesystem;

namespace {

void Touch(const fs::path& p, const std::string& bytes = "x") {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

// Makes a ZIP with python's zipfile: entries name -> content; a content starting with "->" makes
// a symbolic link to the rest.
void MakeZip(const fs::path& zip, const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
      "args = sys.argv[2:]\n"
      "for name, data in zip(args[0::2], args[1::2]):\n"
      "    if data.startswith('->'):\n"
      "        i = zipfile.ZipInfo(name); i.create_system = 3; i.external_attr = 0o120777 << 16\n"
      "        z.writestr(i, data[2:])\n"
      "    else:\n"
      "        z.writestr(name, data)\n"
      "z.close()\n";
  std::vector<std::string> argv = {"python3", "-c", script, zip.string()};
  for (auto& [n, d] : entries) argv.insert(argv.end(), {n, d});
  ASSERT_EQ(plat::RunHiddenAndWait(argv, 30000), 0);
}

std::string Read(const fs::path& p) { return plat::ReadFileBytes(p).value_or("<missing>"); }

}  // namespace

TEST(BasePackageTest, FindsTheBaseRootUpToFourLevelsDown) {
  const struct {
    const char* marker;  // below the extraction folder
    const char* root;    // expected base root, "" none
  } cases[] = {
      {"pxr/DS1-P1.MID", "."},
      {"system/DS1-P1.MID", "."},
      {"Tavelo/pxr/DS1-P1.MID", "Tavelo"},
      {"a/b/c/d/pxr/DS1-P1.MID", "a/b/c/d"},
      {"a/b/c/d/e/pxr/DS1-P1.MID", ""},
      {"pxr/ds1-p1.mid", ""},
      {"a/DS1-P1.MID", ""},
  };
  for (const auto& c : cases) {
    TempRoot root;
    const fs::path ext = root.path() / "ext";
    Touch(ext / c.marker);
    Touch(ext / "aaa" / "readme.txt");  // a folder without the marker is passed over
    fs::path found = FindBaseRoot(ext, 4);
    if (*c.root) EXPECT_TRUE(fs::equivalent(found, ext / c.root)) << c.marker << " -> " << found;
    else EXPECT_TRUE(found.empty()) << c.marker << " -> " << found;
  }
}

TEST(BasePackageTest, ListsFolderEntriesForTheLog) {
  TempRoot root;
  bool any = true;
  EXPECT_EQ(ListDirEntries(root.path() / "missing", any), L"");
  EXPECT_FALSE(any);
  Touch(root.path() / "ext" / "pxr" / "a");
  EXPECT_EQ(ListDirEntries(root.path() / "ext", any), L"pxr\\ ");
  EXPECT_TRUE(any);
}

TEST(BasePackageTest, JudgesDownloadAnswers) {
  const struct {
    std::string body;
    bool page;
  } pages[] = {{"<!DOCTYPE html><html>", true}, {" \r\n\t<html lang=ko>", true}, {"<?php echo", true},
               {"<br />", true}, {"<meta x>", true}, {"<script>", true}, {"PK\x03\x04 data", false},
               {"<ht", false}, {"\x7f" "ELF....", false}, {std::string(40, ' ') + "<html>", false}};
  for (const auto& c : pages) EXPECT_EQ(IsWebPageAnswer(c.body), c.page) << c.body;
  EXPECT_TRUE(IsCutShortAnswer(true, std::string(6, 'x'), 10));
  EXPECT_FALSE(IsCutShortAnswer(true, std::string(10, 'x'), 10));
  EXPECT_FALSE(IsCutShortAnswer(true, std::string(6, 'x'), 0));  // no Content-Length
  EXPECT_FALSE(IsCutShortAnswer(false, std::string(6, 'x'), 10));
  EXPECT_FALSE(IsCutShortAnswer(true, "<html> login", 100));  // a page is not a cut file
}

TEST(BasePackageTest, InstallsAWrappedPackageIntoTheRoot) {
  TempRoot root;
  const fs::path zip = root.path() / "_dl" / "Tavelo.zip";
  fs::create_directories(zip.parent_path());
  MakeZip(zip, {{"Tavelo/pxr/DS1-P1.MID", "style"}, {"Tavelo/system/help.txt", "도움말"}});
  EXPECT_TRUE(InstallBaseZip(zip));
  EXPECT_EQ(Read(root.path() / "pxr" / "DS1-P1.MID"), "style");
  EXPECT_EQ(Read(root.path() / "system" / "help.txt"), "도움말");
  EXPECT_FALSE(fs::exists(root.path() / "_dl" / "ext"));  // removed after the copy
  EXPECT_TRUE(fs::exists(zip));                           // the archive stays
}

TEST(BasePackageTest, WithoutBsdtarUnzipUnpacks) {
  TempRoot root;
  const fs::path bin = root.path() / "bin";
  fs::create_directories(bin);
  for (const char* tool : {"unzip", "cp", "rm"}) fs::create_symlink(fs::path("/usr/bin") / tool, bin / tool);
  const fs::path zip = root.path() / "_dl" / "Tavelo.zip";
  fs::create_directories(zip.parent_path());
  MakeZip(zip, {{"pxr/DS1-P1.MID", "style"}});
  const std::string path = std::getenv("PATH");
  ::setenv("PATH", bin.c_str(), 1);
  const bool installed = InstallBaseZip(zip);
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_TRUE(installed);
  EXPECT_EQ(Read(root.path() / "pxr" / "DS1-P1.MID"), "style");
}

TEST(BasePackageTest, NothingLandsOutsideTheRoot) {
  TempRoot root;
  const fs::path outside = root.path().parent_path() / (root.path().filename().string() + "_outside");
  const fs::path zip = root.path() / "_dl" / "Tavelo.zip";
  fs::create_directories(zip.parent_path());
  MakeZip(zip, {{"pxr/DS1-P1.MID", "style"},
                {"../../../" + outside.filename().string() + "/evil", "x"},
                {outside.string() + "/abs", "x"},
                {"system/link", "->" + outside.string()}});
  InstallBaseZip(zip);
  EXPECT_EQ(Read(root.path() / "pxr" / "DS1-P1.MID"), "style");
  EXPECT_FALSE(fs::exists(outside));
  EXPECT_FALSE(fs::is_symlink(root.path() / "system" / "link"));
  std::error_code ec;
  fs::remove_all(outside, ec);
}

TEST(BasePackageTest, AnArchiveWithoutABaseRootLeavesTheExtractionFolder) {
  TempRoot root;
  const fs::path zip = root.path() / "_dl" / "Tavelo.zip";
  fs::create_directories(zip.parent_path());
  MakeZip(zip, {{"a/b/c/d/e/pxr/DS1-P1.MID", "deep"}});
  EXPECT_FALSE(InstallBaseZip(zip));
  EXPECT_FALSE(BaseMarkerPresent());
  EXPECT_TRUE(fs::exists(root.path() / "_dl" / "ext" / "a"));
}

TEST(ProgramUpdateTest, ReadsTheInstalledRelease) {
  TempRoot root;
  const fs::path cfg = root.path() / "system" / "program_update.cfg";
  EXPECT_EQ(ReadProgramUpdateCfg(), -1);  // no file
  const struct {
    std::string text;
    int number;
  } cases[] = {{"", -1},       {"\r\n", -1},       {"42", 42},     {"  42 \r\nignored", 42}, {"abc", 0},
               {"-5", -5},     {"+7x", 7},         {"12abc", 12},  {"99999999999", 2147483647}};
  for (const auto& c : cases) {
    Touch(cfg, c.text);
    EXPECT_EQ(ReadProgramUpdateCfg(), c.number) << c.text;
  }
  SaveProgramUpdateCfg(1234);
  EXPECT_EQ(Read(cfg), "1234");
}
