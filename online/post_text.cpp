#include "online/post_text.h"

#include "base/text.h"
#include "online/board.h"

namespace {

constexpr size_t kContentLimit = 1500;

void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
  size_t pos = 0;
  while ((pos = s.find(from, pos)) != std::string::npos) {
    s.replace(pos, from.size(), to);
    pos += to.size();
  }
}

bool IsBreakTag(std::string_view at) {
  for (std::string_view t : {"<br", "<p", "</p>", "</div", "<li", "</tr"})
    if (at.starts_with(t)) return true;
  return false;
}

void AppendTrimmedLine(std::wstring_view line, int& blankRun, std::wstring& out) {
  size_t b = line.find_first_not_of(L" \t\r");
  if (b == std::wstring_view::npos) {
    if (++blankRun == 1 && !out.empty()) out += L'\n';
    return;
  }
  size_t e = line.find_last_not_of(L" \t\r");
  blankRun = 0;
  out += line.substr(b, e - b + 1);
  out += L'\n';
}

}  // namespace

std::wstring DecodeHtmlEntities(std::string_view text) {
  std::string s(text);
  static constexpr std::pair<std::string_view, std::string_view> kTable[] = {
      {"&amp;", "&"},  {"&lt;", "<"},    {"&gt;", ">"},   {"&quot;", "\""}, {"&#39;", "'"},
      {"&apos;", "'"}, {"&nbsp;", " "}, {"<br>", "\n"}, {"<br/>", "\n"},  {"<br />", "\n"},
  };
  for (const auto& [from, to] : kTable) ReplaceAll(s, from, to);
  return Utf8ToWide(s);
}

std::string GetMetaContent(std::string_view page, std::string_view marker) {
  size_t m = page.find(marker);
  if (m == std::string_view::npos) return {};
  static constexpr std::string_view kContent = "content=\"";
  size_t c = page.find(kContent, m);
  if (c == std::string_view::npos) return {};
  size_t from = c + kContent.size();
  size_t end = page.find('"', from);
  if (end == std::string_view::npos) return {};
  return std::string(page.substr(from, end - from));
}

std::string ExtractElementInner(std::string_view page, std::string_view marker) {
  size_t m = page.find(marker);
  if (m == std::string_view::npos) return {};
  size_t gt = page.find('>', m);
  if (gt == std::string_view::npos) return {};
  size_t start = gt + 1;
  size_t pos = start;
  int depth = 1;
  while (true) {
    size_t lt = page.find('<', pos);
    if (lt == std::string_view::npos) return std::string(page.substr(start));  // never closed: the rest
    std::string_view at = page.substr(lt);
    if (at.starts_with("<div")) {
      ++depth;
      pos = lt + 4;
    } else if (at.starts_with("</div>")) {
      if (depth == 1) return std::string(page.substr(start, lt - start));
      --depth;
      pos = lt + 6;
    } else {
      pos = lt + 1;
    }
  }
}

std::wstring HtmlToText(std::string_view html) {
  std::string plain;
  bool inTag = false;
  for (size_t i = 0; i < html.size(); ++i) {
    char c = html[i];
    if (c == '<') {
      if (IsBreakTag(html.substr(i))) plain += '\n';
      inTag = true;
    } else if (c == '>') {
      inTag = false;
    } else if (!inTag) {
      plain += c;
    }
  }
  std::wstring text = DecodeHtmlEntities(plain);
  std::wstring out;
  int blankRun = 0;
  size_t pos = 0;
  while (true) {
    size_t lf = text.find(L'\n', pos);
    AppendTrimmedLine(std::wstring_view(text).substr(pos, lf == std::wstring::npos ? std::wstring::npos : lf - pos),
                      blankRun, out);
    if (lf == std::wstring::npos) break;
    pos = lf + 1;
  }
  size_t last = out.find_last_not_of(L"\n ");
  return last == std::wstring::npos ? std::wstring() : out.substr(0, last + 1);
}

void ParsePostTitleAndContent(std::string_view postPage, std::wstring& title, std::wstring& content) {
  title.clear();
  content.clear();
  if (postPage.empty()) return;
  std::string page = DecodeAmp(postPage);
  std::string t = GetMetaContent(page, "property=\"og:title\"");
  if (t.empty()) t = GetMetaContent(page, "name=\"title\"");
  title = DecodeHtmlEntities(t);
  static constexpr std::string_view kMarkers[] = {
      "itemprop=\"description\"", "class=\"view-content", "class=\"view_content", "id=\"bo_v_con\"",
      "id='bo_v_con'",            "class=\"rd_body",      "id=\"at_contents",    "class=\"view_body"};
  bool found = false;
  for (std::string_view marker : kMarkers) {
    std::string inner = ExtractElementInner(page, marker);
    if (inner.empty()) continue;
    std::wstring text = HtmlToText(inner);
    if (text.size() >= 2) {
      content = std::move(text);
      found = true;
      break;
    }
  }
  if (!found) {
    std::string d = GetMetaContent(page, "property=\"og:description\"");
    if (d.empty()) d = GetMetaContent(page, "name=\"description\"");
    content = DecodeHtmlEntities(d);
  }
  if (content.size() > kContentLimit) {
    content.resize(kContentLimit);
    content += L"\n...(생략)";
  }
}
