#pragma once
// The new-version notice: the release post's title and text, read from its HTML, shown in a
// small window that asks whether to update now.
#include <string>
#include <string_view>

// Title from the page's meta data, content from the post's content element (else the description
// meta data), as plain text; at most 1,500 characters of content.
void ParsePostTitleAndContent(std::string_view postPage, std::wstring& title, std::wstring& content);

// The value of the first content="..." at or after the marker; empty when there is none.
std::string GetMetaContent(std::string_view page, std::string_view marker);
// The inner HTML of the div whose opening tag holds the marker (nested divs counted).
std::string ExtractElementInner(std::string_view page, std::string_view marker);
// Tags dropped (line-break tags become line ends), entities decoded, lines trimmed, blank runs
// folded into one blank line.
std::wstring HtmlToText(std::string_view html);
// One line of HtmlToText's output.
void AppendTrimmedLine(std::wstring line, int& blankRun, std::wstring& out);
std::wstring DecodeHtmlEntities(std::string_view text);

// Asks the operator; true for "지금 업데이트". Without a display the question is logged and the
// answer is "나중에".
bool ShowUpdateNotice(std::wstring_view title, std::wstring_view content);
