#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "ui/av_exclusion.h"
#include "ui/page_commands.h"
#include "ui/pc_check.h"

namespace {

// Twelve items all good, as the check lists them.
std::vector<PcCheckItem> AllGood() {
  return {GradeTimer(1.1, 2),
          GradeJitter(std::vector<double>(100, 2.0)),
          GradeMidiOutput(true, 0.1, 0.5),
          GradeSongRead(40960, 3),
          GradeDisk(1, 0.5, 100, 500),
          GradePageRoundTrip(5),
          GradeCpuClock(true, 3000, 3200),
          GradePower({plat::PowerStatus::kCharger, -1}),
          GradeAntivirus(2, L"tavelo 제외됨"),
          GradeSystem(true, "6.1.0", "x86_64"),
          GradeCores(8),
          GradeMemory(true, 16, 8)};
}

// 50 items of weight 1: the score is the number of points.
std::vector<PcCheckItem> WithPoints(int points) {
  std::vector<PcCheckItem> items(50);
  for (int i = 0; i < 50; ++i) items[size_t(i)].grade = 2 * (i + 1) <= points ? 2 : 2 * i < points ? 1 : 0;
  return items;
}

}  // namespace

TEST(PcCheck, GradesOfTheItems) {
  struct Case {
    const char* what;
    PcCheckItem item;
    int grade;
    std::wstring value, advice;  // empty advice: not compared
  } cases[] = {
      {"timer average above 1.8", GradeTimer(2.0, 4), 1, L"평균 2.0ms / 최대 4.0ms", L""},
      {"timer poor", GradeTimer(3.5, 4), 0, L"평균 3.5ms / 최대 4.0ms", L""},
      {"jitter one long interval",
       [] {
         std::vector<double> v(1400, 2.0);
         v.push_back(17.5);
         return GradeJitter(v);
       }(),
       0, L"보통 0.0ms / 최대 15.5ms 밀림", L""},
      {"jitter without records", GradeJitter({}), 2, L"보통 0.0ms / 최대 0.0ms 밀림", L""},
      {"no MIDI port", GradeMidiOutput(false, 0, 0), -1, L"측정 안 함", L""},
      {"MIDI fair", GradeMidiOutput(true, 0.5, 3), 1, L"평균 0.5ms / 최대 3.0ms", L""},
      {"no song", GradeSongRead(-1, 0), 1, L"곡 없음", L"곡이 없어 재지 못했습니다"},
      {"song unreadable", GradeSongRead(0, 0), 0, L"읽기 실패", L""},
      {"song slow", GradeSongRead(5000, 401), 0, L"401ms (4KB)", L""},
      {"little space on a fast SSD", GradeDisk(1, 0.5, 3, 100), 0, L"SSD · 여유 3GB / 100GB · 읽기 0.5ms",
       L"여유 공간이 부족합니다 - 신곡 업데이트가 실패할 수 있습니다(20GB 이상 권장)"},
      {"guessed SSD", GradeDisk(255, 1.2, 50, 100), 2, L"SSD(추정) · 여유 50GB / 100GB · 읽기 1.2ms", L"빠르고 여유도 넉넉합니다"},
      {"SSD but slow", GradeDisk(1, 9, 50, 100), 0, L"SSD · 여유 50GB / 100GB · 읽기 9.0ms",
       L"SSD 인데 읽기가 느립니다 - eMMC 이거나 다른 프로그램이 디스크를 바쁘게 쓰고 있을 수 있습니다"},
      {"slow rotating disk", GradeDisk(0, 9, 50, 100), 0, L"HDD · 여유 50GB / 100GB · 읽기 9.0ms",
       L"디스크가 느립니다 - 곡이 늦게 걸립니다. SSD 를 권합니다"},
      {"unknown disk", GradeDisk(255, -1, -1, -1), 1, L"종류 미상", L"여유 공간이 빠듯합니다 - 정리하거나 늘려 주세요"},
      {"page silent", GradePageRoundTrip(-1), 0, L"응답 없음", L""},
      {"clock throttled", GradeCpuClock(true, 1500, 3000), 0, L"1500 / 3000MHz (50%)", L""},
      {"clock unreadable", GradeCpuClock(false, 0, 0), 1, L"확인 불가", L"이 PC 에서는 클럭을 읽지 못했습니다"},
      {"battery", GradePower({plat::PowerStatus::kBattery, 57}), 0, L"배터리 57%", L""},
      {"battery percent unknown", GradePower({plat::PowerStatus::kBattery, 255}), 0, L"배터리", L""},
      {"desktop", GradePower({plat::PowerStatus::kUnknown, -1}), 1, L"알 수 없음", L"데스크톱이면 정상입니다"},
      {"antivirus unreadable", GradeAntivirus(0, L"확인 불가"), -1, L"확인 불가", L""},
      {"antivirus other", GradeAntivirus(4, L"다른 백신 사용 중(Passive)"), -1, L"다른 백신 사용 중(Passive)", L""},
      {"32-bit", GradeSystem(true, "5.10", "i686"), 1, L"리눅스 5.10 (i686) · 32비트", L""},
      {"two cores", GradeCores(2), 1, L"2개", L""},
      {"one core", GradeCores(1), 0, L"1개", L""},
      {"memory short", GradeMemory(true, 8, 1), 0, L"8.0GB (남은 1.0GB)",
       L"남은 메모리가 부족합니다 - ALT+0 의 [성능 모드]를 저사양으로 바꾸세요"},
      {"memory unreadable", GradeMemory(false, 0, 0), -1, L"확인 불가", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.item.grade, c.grade) << c.what;
    EXPECT_EQ(c.item.value, c.value) << c.what;
    if (!c.advice.empty()) {
      EXPECT_EQ(c.item.advice, c.advice) << c.what;
    }
  }
}

TEST(PcCheck, ScoreLetterAndReport) {
  std::vector<PcCheckItem> items = AllGood();
  PcCheckResult r = ScorePcCheck(items);
  EXPECT_EQ(r.score, 100);
  EXPECT_EQ(r.letter, L"A");
  // Not-measured items are left out of the score.
  items[8] = GradeAntivirus(0, L"확인 불가");
  items[2] = GradeMidiOutput(false, 0, 0);
  EXPECT_EQ(ScorePcCheck(items).score, 100);

  struct Case {
    int points;
    const wchar_t* letter;
  } cases[] = {{88, L"A"}, {87, L"B"}, {70, L"B"}, {69, L"C"}, {50, L"C"}, {49, L"D"}, {0, L"D"}};
  for (const Case& c : cases) {
    r = ScorePcCheck(WithPoints(c.points));
    EXPECT_EQ(r.score, c.points);
    EXPECT_EQ(r.letter, c.letter) << c.points;
  }
  EXPECT_EQ(ScorePcCheck({}).score, 0);

  r = ScorePcCheck(items);
  const std::string report = BuildPcCheckReport(items, r);
  ASSERT_EQ(report.substr(0, 3), "\xEF\xBB\xBF");
  size_t lines = 0;
  for (size_t at = 0; (at = report.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  EXPECT_EQ(lines, 14u);
  EXPECT_NE(report.find(WideToUtf8(L"종합 A (100점) - 이 PC 로 공연해도 좋습니다\r\n")), std::string::npos);
  EXPECT_NE(report.find(WideToUtf8(L"[미측정] 백신 검사 제외 : 확인 불가   이 PC에는 백신 실시간 검사 서비스가 없습니다")), std::string::npos);
  const std::wstring script = BuildShowPcCheckScript(items, r);
  EXPECT_TRUE(script.starts_with(L"try{ showPcCheck([{n:'타이머 정확도',v:'평균 1.1ms / 최대 2.0ms',t:'"));
  EXPECT_NE(script.find(L"],100,'A','이 PC 로 공연해도 좋습니다'); }catch(e){console.error('showPcCheck',e)}"), std::wstring::npos) << WideToUtf8(script);
}

TEST(AvExclusion, QueryOutputs) {
  struct Case {
    std::wstring output;
    int code;
    std::wstring text;
  } cases[] = {
      {L"MODE=Normal;RT=True;EX=/opt/Tavelo|D:\\Games", 2, L"tavelo 제외됨"},
      {L"MODE=Normal;RT=True;EX=/Opt/TAVELO/|/srv", 2, L"tavelo 제외됨"},  // case and trailing separator
      {L"MODE=Normal;RT=True;EX=/opt/tavelo_old|/home/tavelo", 1, L"tavelo 제외 안 됨"},  // no substring match
      {L"MODE=Normal;RT=False;EX=", 3, L"실시간 검사 꺼짐"},
      {L"MODE=Passive Mode;RT=True;EX=", 4, L"다른 백신 사용 중(Passive Mode)"},
      {L"", 0, L"확인 불가"},
      {L"powershell.exe: not found", 0, L"확인 불가"},
      {L"MODE=;RT=true\r\n", 1, L"tavelo 제외 안 됨"},
  };
  for (const Case& c : cases) {
    const AvStatus s = ParseAvStatus(c.output, L"/opt/tavelo");
    EXPECT_EQ(s.code, c.code) << WideToUtf8(c.output);
    EXPECT_EQ(s.text, c.text) << WideToUtf8(c.output);
  }
  EXPECT_EQ(GetStatusField(L"A=1;B=x\r\nC", L"B="), L"x");
  EXPECT_EQ(GetStatusField(L"A=1", L"Z="), L"");
  EXPECT_EQ(PostAvExclusionState(), L"try{ initAvExcl(0,'확인 불가'); }catch(e){console.error('initAvExcl',e)}");
}

TEST(StageOne, PrefixCases) {
  const PageCommandTable one = StageOneCommands();
  struct Case {
    const wchar_t* message;
    const wchar_t* command;  // nullptr: not a stage-one command
  } cases[] = {
      {L"VOCAL_EXPORT:", L"VOCAL_EXPORT:"},
      {L"VOCAL_EXPORT:12|1,2,3", L"VOCAL_EXPORT:"},
      {L"VOCAL_EXPORTx12", nullptr},
      {L"EXT_LIST ", nullptr},
      {L"SET_CUSTOMER_VIDEO_SRC:1", L"SET_CUSTOMER_VIDEO_SRC:"},
      {L"SET_CUSTOMER_VIDEO:1", L"SET_CUSTOMER_VIDEO:"},
      {L"DUMP_SONG:abc", L"DUMP_SONG:"},
      {L"REBUILD_POPKO", L"REBUILD_POPKO"},
      {L"REBUILD_POPKO:1", nullptr},
      {L"PCCHK_PONG", L"PCCHK_PONG"},
      {L"SET_AV_EXCLUDE:5", L"SET_AV_EXCLUDE:"},
  };
  for (const Case& c : cases) {
    const PageCommand* found = FindPageCommand(one, c.message);
    if (!c.command) {
      EXPECT_EQ(found, nullptr) << WideToUtf8(c.message);
      continue;
    }
    ASSERT_NE(found, nullptr) << WideToUtf8(c.message);
    EXPECT_EQ(found->name, c.command);
  }
  for (const wchar_t* built : {L"VOCAL_EXPORT:", L"SYNC_MISSING_SONGS", L"SET_AV_EXCLUDE:", L"CHECK_AV", L"RUN_PC_CHECK",
                               L"PCCHK_PONG", L"REBUILD_POPKO", L"SET_ORIG_LANG:"})
    EXPECT_NE(FindPageCommand(one, built)->handler, nullptr) << WideToUtf8(built);
}
