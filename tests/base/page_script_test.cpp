#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/page_script.h"
#include "base/program_messages.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/message_loop.h"

namespace {

// Runs `script` in node with a stub page function `f` that prints its arguments as JSON.
std::string RunInNode(const std::wstring& script) {
  const auto dir = std::filesystem::temp_directory_path();
  const auto file = dir / ("tavelo_page_script_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                           std::to_string(reinterpret_cast<uintptr_t>(&script)) + ".js");
  {
    std::ofstream out(file, std::ios::binary);
    out << "function f(){ console.log(JSON.stringify(Array.from(arguments))); }\n" << WideToUtf8(script) << "\n";
  }
  std::string output;
  if (FILE* p = ::popen(("node " + file.string() + " 2>&1").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
    ::pclose(p);
  }
  std::filesystem::remove(file);
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  return output;
}

bool NodeAvailable() { return std::system("node --version >/dev/null 2>&1") == 0; }

}  // namespace

TEST(PageCall, WritesEachArgumentByItsType) {
  EXPECT_EQ(PageCall(L"f"), L"try{ f(); }catch(e){}");
  EXPECT_EQ(PageCall(L"f", 1, -2, true, false, 2.5, L"a"), L"try{ f(1,-2,true,false,2.5,'a'); }catch(e){}");
  EXPECT_EQ(PageCallText(L"f", std::vector<int>{1, 2}, std::vector<std::wstring>{L"x"}), L"f([1,2],['x'])");
  EXPECT_EQ(PageCallText(L"f", std::numeric_limits<double>::infinity()), L"f(0)");
  EXPECT_EQ(PageCallText(L"f", JsonText{}, JsonText{L"{\"a\":1}"}, ScriptLiteral{}), L"f(null,{\"a\":1},[])");
}

// Whatever a text holds, the page function receives exactly that text (less control characters,
// which the escaping drops) and no script runs beside it.
TEST(PageCall, HostileTextsArriveWholeInNode) {
  if (!NodeAvailable()) GTEST_SKIP() << "node is not installed";
  const std::wstring hostile[] = {
      L"it's", L"\"quoted\"", L"back\\slash\\", L"');alert(1);//", L"\");throw 1;//",
      L"line\nbreak\r\x2028\x2029", L"</script><script>x()</script>", L"한글 ♪ \U0001F3A4", L"\\'\\\"",
  };
  for (const auto& text : hostile) {
    const std::string got = RunInNode(PageCall(L"f", text, 7));
    std::wstring expected;
    for (wchar_t c : text)
      if (static_cast<unsigned long>(c) >= 0x20) expected += c;
    const auto args = nlohmann::json::parse(got, nullptr, false);
    ASSERT_TRUE(args.is_array() && args.size() == 2) << got;
    EXPECT_EQ(args[0], WideToUtf8(expected)) << WideToUtf8(text);
    EXPECT_EQ(args[1], 7);
  }
}

TEST(FailedSave, ANoticePerFileAMinuteWithTheSystemsReason) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tavelo_failed_save_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  // A folder where each file should go: the rename over it fails with the system's reason.
  fs::create_directories(dir / "app_settings.cfg");
  fs::create_directories(dir / "history.txt");
  plat::SetFailedSaveHook(ReportFailedSave);
  std::vector<std::wstring> scripts;
  plat::ResetMessageLoop();
  plat::SetWindowProcedure([&](plat::WindowMessage& m) {
    if (m.id == WM_RUN_PAGE_SCRIPT && m.text) scripts.push_back(*m.text);
  });
  EXPECT_FALSE(plat::WriteFileAtomic(dir / "app_settings.cfg", "a=1\n"));
  EXPECT_FALSE(plat::WriteFileAtomic(dir / "app_settings.cfg", "a=2\n"));  // the same minute: not again
  EXPECT_FALSE(plat::WriteFileAtomic(dir / "history.txt", "1\n"));
  EXPECT_TRUE(plat::WriteFileAtomic(dir / "other.cfg", "x"));
  plat::PostWindowTask([] { plat::PostQuit(0); });
  plat::RunMessageLoop();
  plat::SetWindowProcedure(nullptr);
  plat::ResetMessageLoop();
  plat::SetFailedSaveHook(nullptr);
  ASSERT_EQ(scripts.size(), 2u);
  EXPECT_NE(scripts[0].find(L"저장하지 못했습니다: app_settings.cfg (Is a directory)"), std::wstring::npos) << scripts[0];
  EXPECT_NE(scripts[1].find(L"저장하지 못했습니다: history.txt (Is a directory)"), std::wstring::npos) << scripts[1];
  fs::remove_all(dir);
}
