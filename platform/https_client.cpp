// HTTPS on libcurl with OpenSSL. Time-outs: 15 s for name resolution and connect, the receive
// time-out as a stall limit (no byte for that long ends the exchange). The environment's proxy
// settings apply (curl reads https_proxy and no_proxy). No Accept-Encoding is sent, so the body
// arrives as the server stored it.
#include "platform/https_client.h"

#include <curl/curl.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace plat {
namespace {

std::once_flag curlInit;

struct Exchange {
  HttpsResponse result;
  HttpsProgress progress;
  bool startReported = false;
  std::chrono::steady_clock::time_point lastReport;
  uint64_t cap = kPageBodyCap;
  FILE* file = nullptr;  // the body's file, when it goes to one
  bool failed = false;   // the file could not be written
};

bool StartsWithNoCase(const std::string& line, const char* prefix) {
  size_t n = std::char_traits<char>::length(prefix);
  if (line.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = line[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

std::string HeaderValue(const std::string& line, size_t nameLength) {
  size_t b = nameLength;
  while (b < line.size() && (line[b] == ' ' || line[b] == '\t')) ++b;
  size_t e = line.size();
  while (e > b && (line[e - 1] == '\r' || line[e - 1] == '\n' || line[e - 1] == ' ')) --e;
  return line.substr(b, e - b);
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  size_t n = size * count;
  std::string line(data, n);
  if (StartsWithNoCase(line, "http/")) {
    // A new response begins (after a redirect or a 100 Continue): only the final one counts.
    ex->result.cookies.clear();
    ex->result.location.clear();
    ex->result.contentLength = 0;
    size_t sp = line.find(' ');
    ex->result.status = sp == std::string::npos ? 0 : static_cast<uint32_t>(std::strtoul(line.c_str() + sp + 1, nullptr, 10));
  } else if (StartsWithNoCase(line, "set-cookie:")) {
    std::string v = HeaderValue(line, 11);
    if (v.size() < 4096) {
      size_t semi = v.find(';');
      if (!ex->result.cookies.empty()) ex->result.cookies += "; ";
      ex->result.cookies += v.substr(0, semi);
    }
  } else if (StartsWithNoCase(line, "location:")) {
    std::string v = HeaderValue(line, 9);
    ex->result.location = v.size() <= 1023 ? v : std::string();
  } else if (StartsWithNoCase(line, "content-length:")) {
    std::string v = HeaderValue(line, 15);
    ex->result.contentLength = std::strtoull(v.c_str(), nullptr, 10);
    // A final answer announced larger than the cap is not even started (a redirect's own length
    // does not count: its body is never taken).
    if (ex->result.contentLength > ex->cap && (ex->result.status < 300 || ex->result.status >= 400)) {
      ex->result.tooLarge = true;
      return 0;
    }
  }
  return n;
}

void ReportStart(Exchange& ex) {
  if (ex.startReported) return;
  ex.startReported = true;
  ex.lastReport = std::chrono::steady_clock::now();
  if (ex.progress) ex.progress(0, ex.result.contentLength);
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  size_t n = size * count;
  ReportStart(*ex);
  if (n > ex->cap - ex->result.bodySize) {
    ex->result.tooLarge = true;
    return 0;  // ends the transfer
  }
  if (ex->file) {
    if (std::fwrite(data, 1, n, ex->file) != n) {
      ex->failed = true;
      return 0;
    }
    if (ex->result.body.size() < kBodyHeadBytes)
      ex->result.body.append(data, std::min(n, kBodyHeadBytes - ex->result.body.size()));
  } else {
    ex->result.body.append(data, n);
  }
  ex->result.bodySize += n;
  auto now = std::chrono::steady_clock::now();
  if (ex->progress && now - ex->lastReport >= std::chrono::milliseconds(200)) {
    ex->progress(ex->result.bodySize, ex->result.contentLength);
    ex->lastReport = now;
  }
  return n;
}

}  // namespace

std::string ExtraTrustedCertificate() {
  const char* ca = std::getenv("TAVELO_WEB_CA");
  return ca ? std::string(ca) : std::string();
}

HttpsResponse HttpsExchange(HttpsCall call) {
  std::call_once(curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  Exchange ex;
  ex.progress = std::move(call.progress);
  ex.cap = call.bodyCap;
  if (!call.bodyFile.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(call.bodyFile).parent_path(), ec);
    ex.file = std::fopen(call.bodyFile.c_str(), "wb");
    if (!ex.file) return ex.result;
  }
  CURL* curl = curl_easy_init();
  if (!curl) {
    if (ex.file) std::fclose(ex.file);
    return ex.result;
  }
  std::string url = "https://" + call.host + call.path;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, call.userAgent.c_str());
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 15000L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, (call.receiveTimeoutMs + 999) / 1000);
  std::string ca = ExtraTrustedCertificate();
  if (!ca.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &ex);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &ex);

  curl_slist* headers = nullptr;
  // Header lines as the caller wrote them, one per CR LF.
  size_t pos = 0;
  while (pos < call.extraHeaders.size()) {
    size_t end = call.extraHeaders.find("\r\n", pos);
    if (end == std::string::npos) end = call.extraHeaders.size();
    std::string line = call.extraHeaders.substr(pos, end - pos);
    if (!line.empty()) headers = curl_slist_append(headers, line.c_str());
    pos = end + 2;
  }
  if (call.method == "POST") {
    headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded");
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, call.body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(call.body.size()));
  } else if (call.method != "GET") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, call.method.c_str());
  }
  if (headers) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

  curl_easy_perform(curl);
  long code = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
  if (ex.file && std::fclose(ex.file) != 0) ex.failed = true;
  if (ex.result.tooLarge) {
    // Refused whole: nothing of it stays, in memory or on disk.
    const bool tooLarge = true;
    const uint64_t announced = ex.result.contentLength;
    ex.result = HttpsResponse{};
    ex.result.tooLarge = tooLarge;
    ex.result.contentLength = announced;
    if (!call.bodyFile.empty()) std::remove(call.bodyFile.c_str());
  } else if (code > 0 && !ex.failed) {
    ex.result.status = static_cast<uint32_t>(code);
    ReportStart(ex);
    if (ex.progress) ex.progress(ex.result.bodySize, ex.result.contentLength);
    ex.result.completed = true;
  } else {
    ex.result = HttpsResponse{};
  }
  if (headers) curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  ex.progress = nullptr;  // the callback is released before returning
  // A large body's memory goes back to the system once it has been let go.
  if (ex.result.tooLarge || ex.result.bodySize > kBodyHeadBytes) ::malloc_trim(0);
  return ex.result;
}

}  // namespace plat
