#include "online/update_notice.h"

#include "base/debug_log.h"
#include "base/message_box.h"
#include "base/program_messages.h"
#include "base/text.h"
#include "online/board.h"
#include "platform/message_loop.h"
#include "platform/update_notice.h"

namespace {

constexpr size_t kContentLimit = 1500;

constexpr std::string_view kContentMarkers[] = {
    "itemprop=\"description\"", "class=\"view-content", "class=\"view_content", "id=\"bo_v_con\"",
    "id='bo_v_con'",            "class=\"rd_body",      "id=\"at_contents",     "class=\"view_body"};

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

bool StartsWith(std::string_view text, size_t at, std::string_view prefix) {
  return text.compare(at, prefix.size(), prefix) == 0;
}

bool IsLineBreakTag(std::string_view html, size_t at) {
  for (std::string_view tag : {"<br", "<p", "</p>", "</div", "<li", "</tr"})
    if (StartsWith(html, at, tag)) return true;
  return false;
}

}  // namespace

std::wstring DecodeHtmlEntities(std::string_view text) {
  std::string s(text);
  const std::pair<std::string_view, std::string_view> table[] = {
      {"&amp;", "&"},  {"&lt;", "<"},   {"&gt;", ">"},  {"&quot;", "\""},   {"&#39;", "'"},
      {"&apos;", "'"}, {"&nbsp;", " "}, {"<br>", "\n"}, {"<br/>", "\n"}, {"<br />", "\n"}};
  for (const auto& [from, to] : table) ReplaceAll(s, from, to);
  return Utf8ToWide(s);
}

std::string GetMetaContent(std::string_view page, std::string_view marker) {
  size_t m = page.find(marker);
  if (m == std::string_view::npos) return {};
  constexpr std::string_view kContent = "content=\"";
  size_t c = page.find(kContent, m);
  if (c == std::string_view::npos) return {};
  size_t start = c + kContent.size();
  size_t end = page.find('"', start);
  if (end == std::string_view::npos) return {};
  return std::string(page.substr(start, end - start));
}

std::string ExtractElementInner(std::string_view page, std::string_view marker) {
  size_t m = page.find(marker);
  if (m == std::string_view::npos) return {};
  size_t gt = page.find('>', m);
  if (gt == std::string_view::npos) return {};
  const size_t start = gt + 1;
  size_t pos = start;
  int depth = 1;
  for (;;) {
    size_t lt = page.find('<', pos);
    if (lt == std::string_view::npos) return std::string(page.substr(start, pos - start));
    if (StartsWith(page, lt, "<div")) {
      ++depth;
      pos = lt + 4;
    } else if (StartsWith(page, lt, "</div>")) {
      if (depth == 1) return std::string(page.substr(start, lt - start));
      --depth;
      pos = lt + 6;
    } else {
      pos = lt + 1;
    }
  }
}

void AppendTrimmedLine(std::wstring line, int& blankRun, std::wstring& out) {
  const wchar_t* kTrim = L" \t\r";
  size_t b = line.find_first_not_of(kTrim);
  line = b == std::wstring::npos ? std::wstring() : line.substr(b, line.find_last_not_of(kTrim) - b + 1);
  if (!line.empty()) {
    blankRun = 0;
    out += line;
    out += L'\n';
  } else if (++blankRun == 1 && !out.empty()) {
    out += L'\n';
  }
}

std::wstring HtmlToText(std::string_view html) {
  std::string plain;
  bool inTag = false;
  for (size_t i = 0; i < html.size(); ++i) {
    char c = html[i];
    if (c == '<') {
      if (IsLineBreakTag(html, i)) plain += '\n';
      inTag = true;
    } else if (c == '>') {
      inTag = false;
    } else if (!inTag) {
      plain += c;
    }
  }
  const std::wstring text = DecodeHtmlEntities(plain);
  std::wstring out;
  int blankRun = 0;
  size_t from = 0;
  for (;;) {
    size_t lf = text.find(L'\n', from);
    AppendTrimmedLine(text.substr(from, lf == std::wstring::npos ? std::wstring::npos : lf - from), blankRun, out);
    if (lf == std::wstring::npos) break;
    from = lf + 1;
  }
  size_t last = out.find_last_not_of(L"\n ");
  out.resize(last == std::wstring::npos ? 0 : last + 1);
  return out;
}

void ParsePostTitleAndContent(std::string_view postPage, std::wstring& title, std::wstring& content) {
  title.clear();
  content.clear();
  if (postPage.empty()) return;
  const std::string page = DecodeAmp(postPage);
  std::string meta = GetMetaContent(page, "property=\"og:title\"");
  if (meta.empty()) meta = GetMetaContent(page, "name=\"title\"");
  title = DecodeHtmlEntities(meta);
  bool found = false;
  for (std::string_view marker : kContentMarkers) {
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
    std::string description = GetMetaContent(page, "property=\"og:description\"");
    if (description.empty()) description = GetMetaContent(page, "name=\"description\"");
    content = DecodeHtmlEntities(description);
  }
  if (content.size() > kContentLimit) content = content.substr(0, kContentLimit) + L"\n...(생략)";
}

bool ShowUpdateNotice(std::wstring_view title, std::wstring_view content) {
  const std::wstring heading = L"새 버전이 등록되었습니다.    [ 제목 ]  " + std::wstring(title);
  std::wstring shown;
  for (wchar_t c : content)
    if (c != L'\r') shown += c;
  std::optional<bool> answer =
      plat::ShowNoticeWindow({L"Tavelo 새 버전 안내", heading, shown, L"지금 업데이트", L"나중에"});
  if (!answer) {
    // No window: the same question as a message box (without a display: logged, "나중에").
    answer = ShowMessageBoxOrLog(L"Tavelo 새 버전 안내",
                                 L"새 버전이 등록되었습니다.\n\n【제목】\n" + std::wstring(title) +
                                     L"\n\n【내용】\n" + std::wstring(content) + L"\n\n지금 업데이트할까요?",
                                 plat::BoxButtons::kYesNo, plat::BoxIcon::kInformation,
                                 plat::BoxAnswer::kNo) == plat::BoxAnswer::kYes;
  }
  // Back to the main window: the page gets the keyboard again (on the window thread).
  plat::PostWindowMessage(WM_RESTORE_FOCUS);
  return *answer;
}
