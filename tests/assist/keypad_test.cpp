#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assist/helper_agents.h"
#include "assist/helper_log.h"
#include "assist/helper_session.h"
#include "assist/keypad.h"
#include "assist_test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(Keypad, NumberBoxShowsFourPositions) {
  EXPECT_EQ(NumberBoxText(L""), L"_  _  _  _");
  EXPECT_EQ(NumberBoxText(L"12"), L"1  2  _  _");
  EXPECT_EQ(NumberBoxText(L"1234"), L"1  2  3  4");
}

TEST(Keypad, DigitsAndEraseFollowTheSessionAndTheLength) {
  struct Case {
    std::wstring pin;
    wchar_t key;  // 0: erase
    bool active;
    std::wstring after;
  };
  const std::vector<Case> cases = {
      {L"", L'1', false, L"1"},       {L"123", L'4', false, L"1234"}, {L"1234", L'5', false, L"1234"},
      {L"12", L'7', true, L"12"},     {L"12", L'x', false, L"12"},    {L"12", 0, false, L"1"},
      {L"", 0, false, L""},           {L"12", 0, true, L"12"},
  };
  for (const auto& c : cases) {
    std::wstring after = c.key ? PinAfterDigit(c.pin, c.key, c.active) : PinAfterErase(c.pin, c.active);
    EXPECT_EQ(after, c.after) << WideToUtf8(c.pin) << " key " << static_cast<int>(c.key) << " active " << c.active;
  }
}

TEST(Keypad, AllowNeedsFourDigitsAndNoSession) {
  EXPECT_FALSE(AllowEnabled(L"", false));
  EXPECT_FALSE(AllowEnabled(L"123", false));
  EXPECT_TRUE(AllowEnabled(L"1234", false));
  EXPECT_FALSE(AllowEnabled(L"1234", true));
}

TEST(HelperText, InvalidUtf8IsReplacedNotReadAsKorean) {
  EXPECT_EQ(Utf8ToWideOrCp949(""), L"");
  EXPECT_EQ(Utf8ToWideOrCp949("ok \xed\x95\x9c"), L"ok 한");
  // "한" in code page 949 is B7 CE: not UTF-8, so each byte is a replacement character.
  EXPECT_EQ(Utf8ToWideOrCp949("\xc7\xd1"), L"\ufffd\ufffd");
}

TEST(HelperAgents, ListAnswersAndTheirLogLines) {
  fs::path log = TestHelperLogFile();
  struct Case {
    std::string body;
    size_t count;
    std::string logged;
  };
  const std::vector<Case> cases = {
      {"", 0, "지원자 목록을 받지 못했습니다(인터넷 확인)"},
      {"ok\n", 0, "지원 가능한 곳 0곳"},
      {"no way\r\nslot\tA\thost\t1\n", 0, "목록 오류: no way"},
      {"ok\r\ns1\t상담원\t10.0.0.1\t7000\t\t0\ns2\tB\t\t1\ns3\tC\th3\t99999\n", 2, "지원 가능한 곳 2곳"},
  };
  for (const auto& c : cases) {
    std::vector<SupportAgent> agents = ReadHelperAgents(c.body);
    EXPECT_EQ(agents.size(), c.count) << c.body;
    std::string text = ReadWhole(log);
    EXPECT_NE(text.find("] " + c.logged + "\r\n"), std::string::npos) << c.logged;
  }
  std::vector<SupportAgent> agents = ReadHelperAgents("ok\ns1\t상담원\t10.0.0.1\t7000\t\t0\n");
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].name, L"상담원");
  EXPECT_FALSE(agents[0].direct);
  ReplaceHelperAgents(agents);
  EXPECT_FALSE(HelperAgentsEmpty());
  EXPECT_EQ(FirstHelperAgent()->slot, L"s1");
  ReplaceHelperAgents({});
  EXPECT_FALSE(FirstHelperAgent().has_value());
}

TEST(HelperLog, NewFileStartsWithTheMarkAndLinesAreStamped) {
  fs::path dir = TestHelperLogFile().parent_path() / "append";
  fs::create_directories(dir);
  fs::path file = dir / "log.txt";
  plat::LocalTime t{2026, 1, 2, 7, 5, 9, 0, 0};
  EXPECT_EQ(HelperLogLine(L"한 줄", t), "[07:05:09] 한 줄\r\n");
  ASSERT_TRUE(AppendHelperLogLine(file, L"a", t));
  ASSERT_TRUE(AppendHelperLogLine(file, L"b", plat::LocalTime{2026, 1, 2, 23, 59, 0, 0, 0}));
  EXPECT_EQ(ReadWhole(file), "\xEF\xBB\xBF[07:05:09] a\r\n[23:59:00] b\r\n");
  // A folder that does not exist loses the line.
  EXPECT_FALSE(AppendHelperLogLine(dir / "missing" / "log.txt", L"c", t));

  WriteHelperLog(L"기록 시험");
  std::string whole = ReadWhole(TestHelperLogFile());
  EXPECT_EQ(whole.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(whole.find("기록 시험\r\n"), std::string::npos);
  EXPECT_EQ(GetExeFolder(), TestHelperLogFile().parent_path());
}

TEST(HelperSession, MonitorOfTheWindow) {
  std::vector<plat::MonitorInfo> monitors(2);
  monitors[0].rect = {0, 0, 1920, 1080};
  monitors[1].rect = {1920, 0, 3200, 1024};
  monitors[1].primary = true;
  const RsRect fallback{0, 0, 800, 600};
  struct Case {
    std::optional<plat::ScreenRect> window;
    int left;
  };
  const std::vector<Case> cases = {
      {plat::ScreenRect{100, 100, 700, 845}, 0},       // wholly on the first
      {plat::ScreenRect{1700, 100, 2300, 845}, 1920},  // mostly on the second
      {plat::ScreenRect{5000, 0, 5600, 745}, 1920},    // on none: the primary
      {std::nullopt, 1920},
  };
  for (const auto& c : cases) EXPECT_EQ(PickKeypadMonitor(monitors, c.window, fallback).left, c.left);
  EXPECT_EQ(PickKeypadMonitor({}, plat::ScreenRect{0, 0, 10, 10}, fallback).right, 800);
}

TEST(HelperSession, HelloNamesTheCustomerAndNeverResumes) {
  auto keys = HelloKeys(BuildSupportHello(HelperHelloValues(L"ab", L"1234", 1920, 1080, L"pc1")));
  EXPECT_EQ(keys["auth"], "ab");
  EXPECT_EQ(keys["name"], "1234");
  EXPECT_EQ(keys["id"], "설치전");
  EXPECT_EQ(keys["lock"], "-");
  EXPECT_EQ(keys["expiry"], "-");
  EXPECT_EQ(keys["ver"], "원격도우미");
  EXPECT_EQ(keys["songs"], "0");
  EXPECT_EQ(keys["w"], "1920");
  EXPECT_EQ(keys["h"], "1080");
  EXPECT_EQ(keys["resume"], "0");
  EXPECT_EQ(keys["pc"], "pc1");
  EXPECT_EQ(HelloKeys(BuildSupportHello(HelperHelloValues(L"", L"", 2, 2, L"")))["name"], "(설치 전)");
}

}  // namespace
