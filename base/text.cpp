#include "base/text.h"

#include <climits>

#include "platform/codepage.h"

std::wstring Utf8ToWide(std::string_view s) {
  if (auto nul = s.find('\0'); nul != std::string_view::npos) s = s.substr(0, nul);
  if (s.empty()) return {};
  std::wstring out;
  if (auto w = plat::DecodeUtf8Strict(s)) out = std::move(*w);
  else out = plat::AnsiToWide(s);
  while (!out.empty() && out.back() == L'\0') out.pop_back();
  return out;
}

std::string WideToUtf8(std::wstring_view w) { return plat::WideToUtf8Bytes(w); }

std::vector<std::wstring> SplitWide(std::wstring_view text, wchar_t separator) {
  std::vector<std::wstring> pieces;
  size_t start = 0;
  for (;;) {
    size_t sep = text.find(separator, start);
    if (sep == std::wstring_view::npos) {
      pieces.emplace_back(text.substr(start));
      return pieces;
    }
    pieces.emplace_back(text.substr(start, sep - start));
    start = sep + 1;
  }
}

namespace {

template <typename Char>
int ReadLeadingInt(std::basic_string_view<Char> s, bool overflowIsZero) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  // Past this the value is out of range either way; stopping there keeps it from wrapping.
  constexpr long long kBeyond = static_cast<long long>(INT_MAX) + 2;
  long long value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    value = value * 10 + (s[i] - '0');
    if (value > kBeyond) value = kBeyond;
  }
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) return overflowIsZero ? 0 : (negative ? INT_MIN : INT_MAX);
  return static_cast<int>(value);
}

}  // namespace

int LeadingInt(std::wstring_view text, bool overflowIsZero) { return ReadLeadingInt(text, overflowIsZero); }
int LeadingInt(std::string_view text, bool overflowIsZero) { return ReadLeadingInt(text, overflowIsZero); }

std::wstring EscapeForScript(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size() + 8);
  AppendEscapedForScript(out, text);
  return out;
}

void AppendEscapedForScript(std::wstring& out, std::wstring_view text) {
  // Runs without a character to drop or escape are appended whole.
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    const bool control = static_cast<unsigned long>(c) < 0x20;
    if (!control && c != L'"' && c != L'\'' && c != L'\\') continue;
    out.append(text.data() + run, i - run);
    if (!control) {
      out.push_back(L'\\');
      out.push_back(c);
    }
    run = i + 1;
  }
  out.append(text.data() + run, text.size() - run);
}

void AppendEscapedUtf8(std::string& out, std::wstring_view text, bool escapeApostrophe) {
  // Encoded through a stack buffer: one append per field, not per character.
  char buf[1024];
  char* end = buf;
  for (wchar_t c : text) {
    if (end > buf + sizeof buf - 4) {
      out.append(buf, end);
      end = buf;
    }
    if (static_cast<unsigned long>(c) < 0x20) continue;
    if (c == L'"' || c == L'\\' || (escapeApostrophe && c == L'\'')) *end++ = '\\';
    end = plat::EncodeUtf8(end, c);
  }
  out.append(buf, end);
}

void AppendEscapedForScript(std::string& out, std::wstring_view text) { AppendEscapedUtf8(out, text, true); }

std::wstring TrimBlanks(std::wstring_view text) {
  size_t b = text.find_first_not_of(L" \t\r\n");
  if (b == std::wstring_view::npos) return {};
  size_t e = text.find_last_not_of(L" \t\r\n");
  return std::wstring(text.substr(b, e - b + 1));
}

std::wstring StripControlAndTrim(std::wstring_view text) {
  if (size_t nul = text.find(L'\0'); nul != std::wstring_view::npos) text = text.substr(0, nul);
  std::wstring kept;
  kept.reserve(text.size());
  for (wchar_t c : text)
    if (static_cast<unsigned long>(c) >= 0x20) kept.push_back(c);
  return TrimBlanks(kept);
}
