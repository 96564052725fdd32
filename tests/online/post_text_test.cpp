#include <gtest/gtest.h>

#include "base/text.h"
#include "online/post_text.h"

TEST(HtmlToText, BreaksTrimsAndJoinsBlankLines) {
  struct Case {
    std::string html;
    std::wstring text;
  } cases[] = {
      {"<p>첫 줄</p><p></p><br><br><br>  둘째 &amp; 셋 \t</p>", L"첫 줄\n\n둘째 & 셋"},
      {"\n\n  <div>a</div>b<br/>c<li>d</tr>e", L"a\nb\nc\nd\ne"},
      {"<span>x</span><B>y</B><BR>z", L"xyz"},
      {"&amp;lt;tag&gt; &#39;q&#39; &quot;w&quot; a&nbsp;b", L"<tag> 'q' \"w\" a b"},
      {"   \n \t\r\n", L""},
      {"", L""},
      {"line  \r\n\r\n\r\n\r\nnext\n \n", L"line\n\nnext"},
  };
  for (const auto& c : cases) EXPECT_EQ(HtmlToText(c.html), c.text) << c.html;
}

TEST(ExtractElementInner, CountsNestedDivsCaseSensitively) {
  struct Case {
    std::string page;
    std::string inner;
  } cases[] = {
      {"<div id=\"bo_v_con\"><div>a<div>b</div></div>c</div>tail", "<div>a<div>b</div></div>c"},
      {"<div id=\"bo_v_con\"><DIV>a</div>c</div>", "<DIV>a"},
      {"<div id=\"bo_v_con\">open <b>end", "open <b>end"},
      {"<div id=\"bo_v_con\"", ""},
      {"nothing", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractElementInner(c.page, "id=\"bo_v_con\""), c.inner) << c.page;
  EXPECT_EQ(GetMetaContent("<meta name=\"title\" x content=\"T&amp;U\">", "name=\"title\""), "T&amp;U");
  EXPECT_EQ(GetMetaContent("<meta name=\"title\">", "name=\"title\""), "");
}

TEST(ParsePostTitleAndContent, TakesTheFirstUsableContentAndItsFallbacks) {
  std::string longText(1600, 'x');
  struct Case {
    std::string page;
    std::wstring title;
    std::wstring content;
  } cases[] = {
      {"<meta property=\"og:title\" content=\"새 버전 &amp; 안내\"><div itemprop=\"description\">"
       "<p>고친 점</p><p>하나</p></div>",
       L"새 버전 & 안내", L"고친 점\n\n하나"},
      {"<meta name=\"title\" content=\"T\"><div class=\"view-content\"> <b></b> </div>"
       "<div id=\"bo_v_con\">본문</div>",
       L"T", L"본문"},
      {"<meta name=\"description\" content=\"설명 &quot;q&quot;\"><div class=\"rd_body\">x</div>", L"", L"설명 \"q\""},
      {"<div class=\"view_body\">" + longText + "</div>", L"", std::wstring(1500, L'x') + L"\n...(생략)"},
      {"", L"", L""},
  };
  for (const auto& c : cases) {
    std::wstring title = L"old", content = L"old";
    ParsePostTitleAndContent(c.page, title, content);
    EXPECT_EQ(title, c.title) << c.page;
    EXPECT_EQ(content, c.content) << c.page;
  }
}
