// The fonts folder commands through the main page's dispatch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "common/temp_root.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "ui/font_commands.h"
#include "ui/page_commands.h"
#include "ui/posted_scripts.h"

namespace {


class FontCommandsTest : public ::testing::Test {
 protected:
  TempRoot root;
};

}  // namespace

TEST_F(FontCommandsTest, CustomFonts) {
  std::filesystem::create_directories(root.path() / "fonts");
  plat::WriteFileAtomic(root.path() / "fonts" / "가 b.otf", "abcd");
  plat::WriteFileAtomic(root.path() / "fonts" / "empty.ttf", "");
  // Refused names get no reply at all.
  EXPECT_TRUE(PostedBy({L"LOAD_CUSTOM_FONT:../x.ttf", L"LOAD_CUSTOM_FONT:a\\b.ttf", L"LOAD_CUSTOM_FONT:a/b.ttf",
                      L"LOAD_CUSTOM_FONT:"})
                  .empty());
  // A file far larger than any font (sparse here) is not sent.
  plat::WriteFileAtomic(root.path() / "fonts" / "huge.ttf", "x");
  std::filesystem::resize_file(root.path() / "fonts" / "huge.ttf", (64u << 20) + 1);
  auto got = PostedBy({L"LOAD_CUSTOM_FONT:가 b.otf", L"LOAD_CUSTOM_FONT:empty.ttf", L"LOAD_CUSTOM_FONT:it's.ttf",
                       L"LOAD_CUSTOM_FONT:huge.ttf"});
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[3], L"try{ alert('글꼴 파일을 읽지 못했습니다: huge.ttf'); }catch(e){}");
  EXPECT_EQ(got[0], L"try{ onCustomFontData('가 b.otf', 'data:font/otf;base64,YWJjZA=='); }catch(e){ console.log(e); }");
  EXPECT_EQ(got[1], L"try{ alert('글꼴 파일을 읽지 못했습니다: empty.ttf'); }catch(e){}");
  EXPECT_EQ(got[2], L"try{ alert('글꼴 파일을 읽지 못했습니다: it\\'s.ttf'); }catch(e){}");

  struct Mime {
    const wchar_t* name;
    const wchar_t* want;
  };
  for (const Mime& m : std::vector<Mime>{{L"a.TTC", L"font/ttf"}, {L"a.otf", L"font/otf"}, {L"a.WOFF", L"font/woff"},
                                         {L"b.woff2", L"font/woff2"}, {L"noext", L"font/ttf"}})
    EXPECT_EQ(FontMimeFromExt(m.name), m.want) << WideToUtf8(m.name);
  struct B64 {
    std::string in;
    const wchar_t* want;
  };
  for (const B64& b : std::vector<B64>{{"", L""}, {"f", L"Zg=="}, {"fo", L"Zm8="}, {"foo", L"Zm9v"}, {std::string("\xff\xfe\xfd\x00", 4), L"//79AA=="}})
    EXPECT_EQ(Base64Encode(b.in), b.want);
}

