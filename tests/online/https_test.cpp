#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>
#include <utility>
#include <vector>

#include "base/text.h"
#include "online/https.h"
#include "stand_in_board.h"

namespace {

std::wstring Host(const StandInBoard& b) { return Utf8ToWide(b.Host()); }

// Resident memory of this process in bytes.
uint64_t ResidentBytes() {
  std::ifstream in("/proc/self/statm");
  uint64_t size = 0, resident = 0;
  in >> size >> resident;
  return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

TEST(HttpsRequest, CollectsSetCookiePairsInHeaderOrderWithoutAttributes) {
  StandInBoard board({});
  HttpResult r = HttpsRequest(Host(board), L"/bbs/login_check.php", L"POST", L"", "mb_id=a", nullptr);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.status, 200u);
  EXPECT_EQ(r.cookies, L"PHPSESSID=abc; mb_auth=ok; plain=1");
  EXPECT_EQ(r.contentLength, r.body.size());
}

TEST(HttpsRequest, SendsTheFormBodyOnlyForAnExactPost) {
  StandInBoard board({});
  struct Case {
    const wchar_t* method;
    const char* echo;
  } cases[] = {
      {L"POST", "method=POST\ncontent-type=application/x-www-form-urlencoded\nbody=a=1&b=%ED%95%9C\n"},
      {L"GET", "method=GET\ncontent-type=\nbody=\n"},
      {L"post", "body=\n"},
  };
  for (const auto& c : cases) {
    std::error_code ec;
    fs::remove(board.dir() / "last_login.txt", ec);
    HttpResult r = HttpsRequest(Host(board), L"/bbs/login_check.php", c.method, L"Referer: https://x/\r\n",
                                "a=1&b=%ED%95%9C", nullptr);
    std::string echo = board.Read("last_login.txt");
    if (std::wstring(c.method) == L"post") {
      // The server sees an unknown method; no form was sent either way.
      EXPECT_EQ(echo.find("application/x-www-form-urlencoded"), std::string::npos) << "post";
    } else {
      EXPECT_EQ(echo, c.echo) << WideToUtf8(c.method);
      EXPECT_TRUE(r.completed);
    }
  }
}

TEST(HttpsRequest, ReportsProgressFromZeroToTheWholeBody) {
  std::string package(5000, 'x');
  StandInBoard board({{1, "2026-01-01", "file", package}, {2, "2026-01-02", "nolength", package}});
  struct Case {
    int id;
    uint64_t total;
  } cases[] = {{1, 5000}, {2, 0}};
  for (const auto& c : cases) {
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    HttpResult r = HttpsRequest(Host(board), L"/bbs/download.php?bo_table=tavelo_download_6&wr_id=" + std::to_wstring(c.id) + L"&no=0",
                                L"GET", L"Cookie: PHPSESSID=abc\r\n", "",
                                [&](uint64_t got, uint64_t total) { calls.emplace_back(got, total); });
    ASSERT_TRUE(r.completed) << c.id;
    EXPECT_EQ(r.body, package);
    EXPECT_EQ(r.contentLength, c.total);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.front(), std::make_pair(uint64_t{0}, c.total));
    EXPECT_EQ(calls.back(), std::make_pair(uint64_t{5000}, c.total));
  }
}

TEST(HttpsRequest, ACutShortBodyIsCompletedButShorterThanAnnounced) {
  StandInBoard board({{7, "2026-01-01", "cut", std::string(100000, 'z')}});
  HttpResult r = HttpsRequest(Host(board), L"/bbs/download.php?bo_table=tavelo_download_6&wr_id=7&no=0", L"GET",
                              L"Cookie: PHPSESSID=abc\r\n", "", nullptr);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.contentLength, 100000u);
  EXPECT_LT(r.body.size(), 100000u);
}

TEST(HttpsRequest, NoAnswerGivesAnEmptyUncompletedResult) {
  // A port nothing listens on (the board is started and stopped to find a free one).
  std::string host;
  {
    StandInBoard board({});
    host = board.Host();
  }
  HttpResult r = HttpsRequest(Utf8ToWide(host), L"/bbs/login.php", L"GET", L"", "", nullptr);
  EXPECT_FALSE(r.completed);
  EXPECT_EQ(r.status, 0u);
  EXPECT_TRUE(r.body.empty());
  EXPECT_TRUE(HttpsGetText(Utf8ToWide(host), L"/bbs/login.php").empty());
}

TEST(HttpsGetText, ReturnsTheBodyBytes) {
  StandInBoard board({});
  board.SetDataRoomFile("keysig.txt", "12=1:C\n");
  EXPECT_EQ(HttpsGetText(Host(board), L"/dataroom/upload_file/pds_lirand/tavelo_program/keysig.txt"), "12=1:C\n");
}

TEST(HttpsRequest, AnUntrustedCertificateGetsNoAnswer) {
  StandInBoard board({});
  plat::SetEnvironmentVariable("TAVELO_WEB_CA", "/nonexistent.pem");
  HttpResult r = HttpsRequest(Host(board), L"/bbs/login.php", L"GET", L"", "", nullptr);
  EXPECT_FALSE(r.completed);
}

TEST(ParseFlatJson, ReadsAForgivingFlatObject) {
  struct Case {
    const wchar_t* text;
    FlatJsonMap want;
  } cases[] = {
      {L"{\"mb_name\": \"홍길동\", \"x\": null, \"n\":  42  , \"q\": \"a\\\"b\"}",
       {{L"mb_name", L"홍길동"}, {L"x", L""}, {L"n", L"42"}, {L"q", L"a\"b"}}},
      {L"", {}},
      {L"{ }", {}},
      {L"{\"a\":\"\\n\\u0041\",\"a\":true}", {{L"a", L"true"}}},
      {L"{\"a\":\"1\\u0041\"}", {{L"a", L"1u0041"}}},
      {L"{\"open\":\"no end", {{L"open", L"no end"}}},
      {L"{\"k\":false}", {{L"k", L"false"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseFlatJson(c.text), c.want) << WideToUtf8(c.text);
}

TEST(LooksLikeHtmlPage, TellsServerPagesFromFiles) {
  struct Case {
    const char* body;
    bool metaBr;
    bool page;
  } cases[] = {
      {"  \r\n<!DOCTYPE html>", false, true}, {"<HTML>", false, true},   {"<?php echo", false, true},
      {"<script>", false, true},              {"<meta x>", false, false}, {"<meta x>", true, true},
      {"\n<br />", true, true},               {"PK\3\4", true, false},    {"", true, false},
  };
  for (const auto& c : cases) EXPECT_EQ(LooksLikeHtmlPage(c.body, c.metaBr), c.page) << c.body;
}

TEST(HttpsRequest, RefusesAGigabyteAnswerAndKeepsNoneOfIt) {
  StandInBoard board({});
  // Announced or not, the answer ends at the cap and nothing of it stays in memory.
  for (const char* length : {"1", "0"}) {
    const uint64_t before = ResidentBytes();
    HttpResult r = HttpsRequest(Host(board), L"/bbs/huge.php?size=1073741824&length=" + Utf8ToWide(length), L"GET",
                                L"", "", nullptr);
    EXPECT_TRUE(r.tooLarge) << length;
    EXPECT_FALSE(r.completed) << length;
    EXPECT_TRUE(r.body.empty()) << length;
    EXPECT_LT(ResidentBytes(), before + (50u << 20)) << length;
  }
  // A page just under the cap still arrives whole.
  HttpResult r = HttpsRequest(Host(board), L"/bbs/huge.php?size=8000000", L"GET", L"", "", nullptr);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.body.size(), 8000000u);
}

TEST(HttpsDownload, WritesTheBodyToItsFileAndKeepsOnlyItsHead) {
  std::string package(300000, 'p');
  package.replace(0, 2, "PK");
  StandInBoard board({{1, "2026-01-01", "file", package}});
  const fs::path file = board.dir() / "download.part";
  HttpResult r = HttpsDownload(Host(board), L"/bbs/download.php?bo_table=tavelo_download_6&wr_id=1&no=0",
                               L"Cookie: PHPSESSID=abc\r\n", file.string(), nullptr);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.bodySize, package.size());
  EXPECT_EQ(r.body, package.substr(0, 64 * 1024));
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), package);
}
