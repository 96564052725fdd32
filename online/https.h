#pragma once
// The vendor web server's requests: the plain GET, the full request and the flat JSON reader.
// Both request functions block the calling worker thread and never judge the status or body.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

// The vendor web server's host name: a name that never resolves until the vendor's own host is
// filled in here, so that no request (and no member password) goes to a server we do not know.
// TAVELO_WEB_BASE ("host:port") replaces it (tests use a stand-in server); its certificate is then
// trusted through TAVELO_WEB_CA.
inline constexpr std::wstring_view VendorWebHost = L"tavelo-vendor.invalid";
// VendorWebHost, or the host and port that replace it.
std::wstring WebHost();

struct HttpResult {
  std::string body;
  std::wstring cookies;
  bool completed = false;
  uint32_t status = 0;
  std::wstring location;
  uint64_t contentLength = 0;
  uint64_t bodySize = 0;  // bytes received: all of `body`, or the whole download file
  bool tooLarge = false;  // refused for its size: nothing kept, `completed` stays false
};

// Largest file a download takes (program, base package, song package).
inline constexpr uint64_t kDownloadCap = 2ULL << 30;

// (bytes received so far, total announced by Content-Length or 0); may be empty.
using ProgressCallback = std::function<void(uint64_t, uint64_t)>;

// GET with the user agent "Tavelo/1.0": the body bytes, empty when nothing arrived.
std::string HttpsGetText(std::wstring_view host, std::wstring_view path);
// The full request: `extraHeaders` are complete header lines ending with CR LF; `body` is sent
// (as a form) only when `method` is exactly "POST". A body over 8 MB (a page or list never is) is
// refused and dropped.
HttpResult HttpsRequest(std::wstring_view host, std::wstring_view path, std::wstring_view method,
                        std::wstring_view extraHeaders, std::string_view body, ProgressCallback progress);

// A GET whose body goes to `file` as it arrives (replacing it; removed when refused for size);
// `body` holds only its first 64 KB, enough to tell a server page from a file.
HttpResult HttpsDownload(std::wstring_view host, std::wstring_view path, std::wstring_view extraHeaders,
                         const std::string& file, ProgressCallback progress);

using FlatJsonMap = std::map<std::wstring, std::wstring>;
// A forgiving reader of one flat JSON object; nested values are not supported.
FlatJsonMap ParseFlatJson(std::wstring_view text);
// The quoted string at `pos` (backslash makes the next character literal); empty when none.
std::wstring ReadJsonString(std::wstring_view text, size_t& pos);

// The first `prefixBytes` bytes lower-cased (ASCII) without leading blanks, tabs, CR and LF.
std::string PageHead(std::string_view body, size_t prefixBytes);
// True when the first bytes (up to 32, lower-cased, leading blanks/tabs/CR/LF dropped) begin
// like a server page: "<!doctype", "<html", "<?php", "<script", and with `alsoMetaBr` "<meta"
// and "<br". `minLength`: shorter bodies are never pages.
bool LooksLikeHtmlPage(std::string_view body, bool alsoMetaBr, size_t prefixBytes = 32, size_t minLength = 0);
