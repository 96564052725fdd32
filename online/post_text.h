#pragma once
// Reads a board post's title and text out of its page (meta data and the content element), as
// plain text for a notice.
#include <string>
#include <string_view>

// The post's title and content (content cut at 1,500 characters). An empty page gives two empty texts.
void ParsePostTitleAndContent(std::string_view postPage, std::wstring& title, std::wstring& content);
// The first content="..." value at or after the marker; empty when there is none.
std::string GetMetaContent(std::string_view page, std::string_view marker);
// The inner HTML of the element whose opening tag holds the marker (nested divs counted).
std::string ExtractElementInner(std::string_view page, std::string_view marker);
// Text with line breaks for the break tags, entities decoded, lines trimmed, blank runs joined.
std::wstring HtmlToText(std::string_view html);
// The fixed entity table, in order, then UTF-8 to wide text.
std::wstring DecodeHtmlEntities(std::string_view text);
