#include <gtest/gtest.h>

#include "base/text.h"

TEST(Utf8ToWide, DecodesUtf8AndFallsBackToTheAnsiCodePageWhole) {
  EXPECT_EQ(Utf8ToWide("\xEB\x85\xB8\xEB\x9E\x98"), L"노래");
  EXPECT_EQ(Utf8ToWide("\xB3\xEB\xB7\xA1"), L"노래");          // CP949, invalid as UTF-8
  EXPECT_EQ(Utf8ToWide("ab\xB3\xEB\xB7\xA1"), L"ab노래");      // no mixing: all through CP949
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(Utf8ToWide(std::string_view("ab\0cd", 5)), L"ab");  // a NUL ends the text
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), Utf8ToWide("\xC0\xAF"));    // overlong: not UTF-8, no crash
}

TEST(WideToUtf8, EncodesEveryCharacterAndReplacesLoneSurrogates) {
  EXPECT_EQ(WideToUtf8(L"노래"), "\xEB\x85\xB8\xEB\x9E\x98");
  EXPECT_EQ(WideToUtf8(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(SplitWide, EverySeparatorDivides) {
  struct Case {
    std::wstring text;
    std::vector<std::wstring> pieces;
  } cases[] = {
      {L"a,,b,", {L"a", L"", L"b", L""}},
      {L"abc", {L"abc"}},
      {L"", {L""}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitWide(c.text, L','), c.pieces) << c.text.size();
  EXPECT_EQ(SplitWide(L"a\t\tb", L'\t'), (std::vector<std::wstring>{L"a", L"", L"b"}));
}

TEST(EscapeForScript, QuotesAndControlCharacters) {
  EXPECT_EQ(EscapeForScript(L"a'b"), L"a\\'b");
  EXPECT_EQ(EscapeForScript(L"one\r\ntwo"), L"onetwo");
  EXPECT_EQ(EscapeForScript(L"\"\\\t"), L"\\\"\\\\");
  EXPECT_EQ(EscapeForScript(L"가\u2028"), L"가\u2028");
}

TEST(EscapeForScript, Utf8FormMatchesTheWideFormEncoded) {
  // The UTF-8 builder must give exactly the bytes of the wide escape converted afterwards,
  // including replaced surrogates and values beyond U+10FFFF, and across its inner buffer.
  const std::wstring cases[] = {
      L"",
      L"plain",
      L"Don't \"stop\" \\ me\r\n\x01\x1f end",
      L"아리랑 ㅇㄹㄹ \U0001F3A4 \u00e9",
      std::wstring{L'a', static_cast<wchar_t>(0xD800), L'b', static_cast<wchar_t>(0x110000),
                   static_cast<wchar_t>(-1)},
      std::wstring(700, L'\'') + std::wstring(400, L'가') + std::wstring(300, L'\U0001F3B5'),
  };
  for (const std::wstring& text : cases) {
    std::string out = "x";
    AppendEscapedForScript(out, text);
    EXPECT_EQ(out, "x" + WideToUtf8(EscapeForScript(text))) << text.size();
  }
}

TEST(LeadingInt, NarrowTextAndNumbersThatMustNotBeClipped) {
  EXPECT_EQ(LeadingInt(std::string_view(" \t-12ab")), -12);
  EXPECT_EQ(LeadingInt(std::string_view("99999999999")), 2147483647);
  EXPECT_EQ(LeadingInt(std::string_view("99999999999"), true), 0);   // a song number that overflows
  EXPECT_EQ(LeadingInt(L"-99999999999", true), 0);
  EXPECT_EQ(LeadingInt(L"2147483647", true), 2147483647);
  EXPECT_EQ(LeadingInt(L"-2147483648", true), -2147483647 - 1);
}
