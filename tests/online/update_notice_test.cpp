// The release post's title and text for the new-version notice.
#include <gtest/gtest.h>

#include "online/update_notice.h"

TEST(UpdateNoticeTextTest, ReadsTitleAndContentElement) {
  const std::string page =
      "<html><head><meta property=\"og:title\" content=\"Tavelo 12.10 &amp;amp; fixes\">"
      "<meta name=\"description\" content=\"desc\"></head><body>"
      "<div id=\"bo_v_con\">\n  <p>First &lt;line&gt;</p>\n<div class=\"x\"><div>inner</div></div>"
      "<DIV>upper</DIV>\n\n\n\n<p>\tlast  </p></div><div>after</div></body></html>";
  std::wstring title, content;
  ParsePostTitleAndContent(page, title, content);
  EXPECT_EQ(title, L"Tavelo 12.10 & fixes");  // "&amp;" decoded by the page pass, then again
  EXPECT_EQ(content, L"First <line>\n\ninner\n\nupper\n\nlast");  // a closing tag and a line end: one blank line
}

TEST(UpdateNoticeTextTest, FallsBackToTheDescriptionAndLimitsTheLength) {
  std::wstring title, content;
  ParsePostTitleAndContent("<div id=\"bo_v_con\"> <b> </b> </div><meta name=\"description\" content=\"only &quot;this&quot;\">",
                           title, content);
  EXPECT_EQ(title, L"");
  EXPECT_EQ(content, L"only \"this\"");

  ParsePostTitleAndContent("<meta name=\"title\" content=\"T\"><div class=\"view_content\">" +
                               std::string(1600, 'a') + "</div>", title, content);
  EXPECT_EQ(title, L"T");
  EXPECT_EQ(content, std::wstring(1500, L'a') + L"\n...(생략)");

  ParsePostTitleAndContent("", title, content);
  EXPECT_TRUE(title.empty() && content.empty());
}

TEST(UpdateNoticeTextTest, HtmlPiecesFollowTheirRules) {
  const struct {
    const char* html;
    const wchar_t* text;
  } cases[] = {
      {"\n\n  a  \n\n\n b\t\r\n\n", L"a\n\nb"},
      {"x<br>y<br/>z<br />w", L"x\ny\nz\nw"},
      {"<li>one<li>two</tr>three", L"one\ntwo\nthree"},
      {"&amp;lt;b&amp;gt; &nbsp;&#39;q&apos;", L"<b>  'q'"},
      {"<span>한글</span> 텍스트", L"한글 텍스트"},
      {"unclosed <tag", L"unclosed"},
  };
  for (const auto& c : cases) EXPECT_EQ(HtmlToText(c.html), c.text) << c.html;
  EXPECT_EQ(GetMetaContent("<meta name=\"a\"><meta content=\"later\">", "name=\"a\""), "later");
  EXPECT_EQ(GetMetaContent("<meta name=\"a\" content=\"unterminated", "name=\"a\""), "");
  EXPECT_EQ(ExtractElementInner("<div id=\"m\"", "id=\"m\""), "");
}
