#include "online/https.h"

#include <cstdlib>

#include "base/text.h"
#include "base/test_switches.h"
#include "platform/https_client.h"

namespace {

constexpr char kBrowserAgent[] =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/124.0.0.0 Safari/537.36";

bool IsJsonBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r'; }

}  // namespace

std::wstring WebHost() {
  const std::string base = WebBaseSwitch();
  if (!base.empty()) return Utf8ToWide(base);
  return std::wstring(VendorWebHost);
}

std::string HttpsGetText(std::wstring_view host, std::wstring_view path) {
  plat::HttpsCall call;
  call.host = WideToUtf8(host);
  call.path = WideToUtf8(path);
  call.userAgent = "Tavelo/1.0";
  call.receiveTimeoutMs = 15000;
  return plat::HttpsExchange(std::move(call)).body;
}

namespace {

HttpResult Exchange(std::wstring_view host, std::wstring_view path, std::wstring_view method,
                    std::wstring_view extraHeaders, std::string_view body, ProgressCallback progress,
                    uint64_t cap, const std::string& file) {
  plat::HttpsCall call;
  call.bodyCap = cap;
  call.bodyFile = file;
  call.host = WideToUtf8(host);
  call.path = WideToUtf8(path);
  call.method = WideToUtf8(method);
  call.extraHeaders = WideToUtf8(extraHeaders);
  if (call.method == "POST") call.body = std::string(body);
  call.userAgent = kBrowserAgent;
  call.receiveTimeoutMs = 120000;
  call.progress = std::move(progress);
  plat::HttpsResponse r = plat::HttpsExchange(std::move(call));
  HttpResult out;
  out.body = std::move(r.body);
  out.cookies = Utf8ToWide(r.cookies);
  out.completed = r.completed;
  out.status = r.status;
  out.location = Utf8ToWide(r.location);
  out.contentLength = r.contentLength;
  out.bodySize = r.bodySize;
  out.tooLarge = r.tooLarge;
  return out;
}

}  // namespace

HttpResult HttpsRequest(std::wstring_view host, std::wstring_view path, std::wstring_view method,
                        std::wstring_view extraHeaders, std::string_view body, ProgressCallback progress) {
  return Exchange(host, path, method, extraHeaders, body, std::move(progress), plat::kPageBodyCap, {});
}

HttpResult HttpsDownload(std::wstring_view host, std::wstring_view path, std::wstring_view extraHeaders,
                         const std::string& file, ProgressCallback progress) {
  return Exchange(host, path, L"GET", extraHeaders, {}, std::move(progress), kDownloadCap, file);
}

std::wstring ReadJsonString(std::wstring_view text, size_t& pos) {
  std::wstring out;
  if (pos >= text.size() || text[pos] != L'"') return out;
  ++pos;
  while (pos < text.size()) {
    wchar_t c = text[pos];
    if (c == L'"') {
      ++pos;
      break;
    }
    if (c == L'\\' && pos + 1 < text.size()) {
      out += text[pos + 1];
      pos += 2;
      continue;
    }
    out += c;
    ++pos;
  }
  return out;
}

FlatJsonMap ParseFlatJson(std::wstring_view text) {
  FlatJsonMap map;
  size_t pos = 0;
  auto skip = [&] {
    while (pos < text.size() && IsJsonBlank(text[pos])) ++pos;
  };
  skip();
  if (pos < text.size() && text[pos] == L'{') ++pos;
  while (pos < text.size()) {
    skip();
    if (pos >= text.size() || text[pos] == L'}') break;
    size_t before = pos;
    std::wstring key = ReadJsonString(text, pos);
    skip();
    if (pos < text.size() && text[pos] == L':') ++pos;
    skip();
    std::wstring value;
    if (pos < text.size() && text[pos] == L'"') {
      value = ReadJsonString(text, pos);
    } else {
      size_t end = text.find_first_of(L",}", pos);
      if (end == std::wstring_view::npos) end = text.size();
      value = std::wstring(text.substr(pos, end - pos));
      while (!value.empty() && value.back() == L' ') value.pop_back();
      if (value == L"null") value.clear();
      pos = end;
    }
    map[key] = value;
    skip();
    if (pos < text.size() && text[pos] == L',') ++pos;
    // A stray character that none of the steps consumed would otherwise loop for ever.
    if (pos == before) ++pos;
  }
  return map;
}

std::string PageHead(std::string_view body, size_t prefixBytes) {
  std::string head(body.substr(0, std::min(body.size(), prefixBytes)));
  for (char& c : head)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  size_t b = head.find_first_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : head.substr(b);
}

bool LooksLikeHtmlPage(std::string_view body, bool alsoMetaBr, size_t prefixBytes, size_t minLength) {
  if (body.size() < minLength) return false;
  std::string head = PageHead(body, prefixBytes);
  std::string_view h = head;
  for (std::string_view p : {"<!doctype", "<html", "<?php", "<script"})
    if (h.starts_with(p)) return true;
  if (alsoMetaBr)
    for (std::string_view p : {"<meta", "<br"})
      if (h.starts_with(p)) return true;
  return false;
}
