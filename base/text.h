#pragma once
// The program's one set of text conversions: wide text in memory and on the page, UTF-8 in files
// and on the wire, and the escaping of every text that goes inside a quoted page-script literal.
#include <string>
#include <string_view>
#include <vector>

// UTF-8 up to the first NUL byte; when that is not valid UTF-8 the whole input is read through
// the ANSI code page instead (no mixing). Trailing NUL characters are removed.
std::wstring Utf8ToWide(std::string_view s);

// Every character to UTF-8, NULs included; an unpaired surrogate becomes U+FFFD.
std::string WideToUtf8(std::wstring_view w);

// Every separator divides: "a,,b," gives "a", "", "b", "". An empty text gives one empty piece.
std::vector<std::wstring> SplitWide(std::wstring_view text, wchar_t separator);

// The decimal integer at the start of a text, read the way the C runtime reads numbers: white
// space skipped, an optional sign, digits up to the first non-digit; no digits give 0. A value
// beyond the int range saturates, or gives 0 when `overflowIsZero` is set (for numbers that
// name things, where a clipped value would name another one).
int LeadingInt(std::wstring_view text, bool overflowIsZero = false);
int LeadingInt(std::string_view text, bool overflowIsZero = false);

// Blanks, tabs, CR and LF trimmed from both ends.
std::wstring TrimBlanks(std::wstring_view text);
// Up to the first NUL, characters below U+0020 dropped, then blanks, tabs, CR and LF trimmed.
std::wstring StripControlAndTrim(std::wstring_view text);

// Drops every character below U+0020 and puts a backslash before ", ' and \, so the result can
// stand inside a single- or double-quoted script literal.
std::wstring EscapeForScript(std::wstring_view text);
// The same, appended to `out` (for builders of large scripts).
void AppendEscapedForScript(std::wstring& out, std::wstring_view text);
// The same, appended to UTF-8 script text (a lone surrogate or a value beyond U+10FFFF becomes
// U+FFFD, as in WideToUtf8).
void AppendEscapedForScript(std::string& out, std::wstring_view text);
// The UTF-8 escaping of both: control characters dropped, a backslash before " and \ and, when
// asked, before an apostrophe (a JSON string needs none there).
void AppendEscapedUtf8(std::string& out, std::wstring_view text, bool escapeApostrophe);

// Calls `fn(line)` for every line of `bytes`, without its "\n" and a "\r" before it; a last line
// without a line end too.
template <typename Fn>
void ForEachTextLine(std::string_view bytes, Fn&& fn) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    fn(line);
  }
}
