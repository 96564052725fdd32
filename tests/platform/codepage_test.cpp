// Code page 949 to wide text: valid pairs convert, every byte that starts no character is U+FFFD
// and the text after it still converts.
#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"

TEST(AnsiToWide, ReplacesEachBadByteAndGoesOn) {
  struct Case {
    const char* name;
    std::string bytes;
    std::wstring wide;
  } cases[] = {
      {"empty", "", L""},
      {"ASCII", "abc 123", L"abc 123"},
      {"Korean pair", "\xB3\xEB\xB7\xA1", L"노래"},
      {"lone FF", "\xFF", L"\uFFFD"},
      {"bad bytes between", "a\x80\xFF" "b\xB3\xEB", L"a\uFFFD\uFFFD" "b노"},
      {"lead byte before ASCII", "\xB3 x", L"\uFFFD x"},
      {"lead byte at the end", "\xB3\xEB\xB3", L"노\uFFFD"},
      {"many bad bytes", std::string(5000, '\xFF') + "\xB3\xEB", std::wstring(5000, L'\uFFFD') + L"노"},
  };
  for (const auto& c : cases) EXPECT_EQ(plat::AnsiToWide(c.bytes), c.wide) << c.name;
}
