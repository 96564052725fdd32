#include <gtest/gtest.h>

#include "base/text.h"
#include "common/temp_root.h"
#include "online/text_refresh.h"
#include "page_messages.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "stand_in_board.h"

namespace {

std::string SystemFile(const std::wstring& name) {
  return plat::ReadFileBytes(plat::RealPath(L"C:/tavelo/system/" + name)).value_or("<missing>");
}
void WriteSystem(const std::wstring& name, const std::string& bytes) {
  plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/system/" + name), bytes);
}

std::wstring HelpScript() { return L"help-shown"; }

}  // namespace

TEST(CountKeysigEntries, CountsEntryLinesOnly) {
  std::string comments;
  for (int i = 0; i < 40; ++i) comments += "; comment " + std::to_string(i) + "\n";
  struct Case {
    std::string text;
    bool ok;
    std::vector<int> numbers;
  } cases[] = {
      {"12=1:C,5:G\r\n  34 =2:Am\n", true, {12, 34}},
      {comments + "\t77=1:D\n", true, {77}},
      {comments, false, {}},
      {"  // 12=1:C\n;13=1:C\n\n   \t\n", false, {}},
      {"0=1:C\n-5=1:C\n12:1=C\n", false, {}},
      {"  <!DOCTYPE html>12=1:C", false, {}},
      {"<html>\n12=1:C\n", false, {}},
      {"<meta>\n12=1:C\n", true, {12}},
      {"1=1:C", false, {}},  // shorter than 8 bytes
      {"12=1:C\n12=3:D\n", true, {12, 12}},
  };
  for (const auto& c : cases) {
    int count = -1;
    std::vector<int> numbers{99};
    EXPECT_EQ(CountKeysigEntries(c.text, count, &numbers), c.ok) << c.text;
    EXPECT_EQ(numbers, c.numbers) << c.text;
    EXPECT_EQ(count, static_cast<int>(c.numbers.size()));
  }
}

TEST(RefreshKeysigTable, ReplacesTheLocalTableOnlyWithADifferentTableThatHasEntries) {
  std::string table = "12=1:C\n34=2:G\n";
  struct Case {
    const char* name;
    const char* local;      // nullptr: no local file
    std::string published;  // empty: not on the server
    std::string wantTable;
    std::string wantPrev;
  } cases[] = {
      {"new table", "12=1:C\n99=1:D\n", table, table, "12=1:C\n99=1:D\n"},
      {"same table", "12=1:C\n34=2:G\n", table, table, "<missing>"},
      {"no local table", nullptr, table, table, "<missing>"},
      {"missing line end", "12=1:C\n34=2:G", table, table, "12=1:C\n34=2:G"},
      {"comments only", "12=1:C\n", "; a\n; b\n; c\n", "12=1:C\n", "<missing>"},
      {"server page", "12=1:C\n", "<!doctype html><html>12=1:C</html>", "12=1:C\n", "<missing>"},
      {"not published", "12=1:C\n", "", "12=1:C\n", "<missing>"},
  };
  StandInBoard board({});
  for (const auto& c : cases) {
    TempRoot root;
    if (c.local) WriteSystem(L"keysig.txt", c.local);
    std::error_code ec;
    fs::remove(board.dir() / "dataroom" / "keysig.txt", ec);
    if (!c.published.empty()) board.SetDataRoomFile("keysig.txt", c.published);
    RefreshKeysigTable();
    EXPECT_EQ(SystemFile(L"keysig.txt"), c.local || !c.published.empty() ? c.wantTable : "<missing>") << c.name;
    EXPECT_EQ(SystemFile(L"keysig_prev.txt"), c.wantPrev) << c.name;
  }
}

TEST(RefreshHelpText, ReplacesTheHelpTextWithABackupAndShowsIt) {
  std::string help30(30, 'h');
  struct Case {
    const char* name;
    std::string published;
    bool replaced;
  } cases[] = {
      {"30 bytes of text", help30, true},
      {"29 bytes", std::string(29, 'h'), false},
      {"blank line then a break tag", "\r\n<br>" + help30, false},
      {"not published", "", false},
  };
  SetHelpTextScriptHook(HelpScript);
  StandInBoard board({});
  for (const auto& c : cases) {
    TempRoot root;
    WriteSystem(L"help.txt", "old help");
    std::error_code ec;
    fs::remove(board.dir() / "dataroom" / "help.txt", ec);
    if (!c.published.empty()) board.SetDataRoomFile("help.txt", c.published);
    bool replaced = false;
    auto posts = PostsOf([&] { replaced = RefreshHelpText(L"Cookie: PHPSESSID=abc\r\n"); });
    EXPECT_EQ(replaced, c.replaced) << c.name;
    EXPECT_EQ(SystemFile(L"help.txt"), c.replaced ? c.published : "old help") << c.name;
    EXPECT_EQ(SystemFile(L"help.txt.bak"), c.replaced ? "old help" : "<missing>") << c.name;
    EXPECT_EQ(posts.scripts, c.replaced ? std::vector<std::wstring>{L"help-shown"} : std::vector<std::wstring>{}) << c.name;
  }
  TempRoot root;  // no local help text yet: the new one is put in place without a backup
  board.SetDataRoomFile("help.txt", help30);
  PostsOf([] { RefreshHelpText(L""); });
  EXPECT_EQ(SystemFile(L"help.txt"), help30);
  EXPECT_EQ(SystemFile(L"help.txt.bak"), "<missing>");
  SetHelpTextScriptHook(nullptr);
}
