#pragma once
// HTTPS requests to one host, blocking the calling thread for the whole exchange. Nothing is
// shared between calls, so any number of threads may call at once. Neither function judges the
// status or the body: callers decide what counts as success.
#include <cstdint>
#include <functional>
#include <string>

namespace plat {

// Pages and lists are held in memory: never more than this.
inline constexpr uint64_t kPageBodyCap = 8ULL << 20;
// What `body` keeps of a body written to a file.
inline constexpr size_t kBodyHeadBytes = 64 * 1024;

// One request's outcome. `completed` is set once response headers arrived; the body may still be
// cut short (compare its length with `contentLength`). Headers are those of the final response
// when redirects were followed.
struct HttpsResponse {
  std::string body;
  std::string cookies;   // name=value of every Set-Cookie header in order, joined with "; "
  bool completed = false;
  uint32_t status = 0;
  std::string location;  // empty when absent or longer than 1,023 bytes
  uint64_t contentLength = 0;
  uint64_t bodySize = 0;  // bytes received (in `body`, or in the call's `bodyFile`)
  bool tooLarge = false;  // the body passed the call's cap: the transfer ended, nothing is kept
};

// (bytes received so far, bytes announced by Content-Length or 0).
using HttpsProgress = std::function<void(uint64_t, uint64_t)>;

struct HttpsCall {
  std::string host;          // host name, optionally ":port" (443 when none)
  std::string path;          // starts with "/", carries its query
  std::string method = "GET";
  std::string extraHeaders;  // complete header lines, each ending with CR LF
  std::string body;          // sent only when method is exactly "POST"
  std::string userAgent;
  long receiveTimeoutMs = 120000;
  HttpsProgress progress;
  // Largest body taken; a larger one (announced or received) ends the transfer, the response is
  // not completed and whatever came is dropped.
  uint64_t bodyCap = kPageBodyCap;
  // When set, the body goes to this file (created or truncated, its folder made) instead of `body`, which then
  // holds only its first kBodyHeadBytes for the caller to judge; removed when too large.
  std::string bodyFile;
};

// The full request: report progress (0,total) first, then at most every 200 ms, then once at the
// end; the body is capped by the call. Redirects are followed to https addresses only.
HttpsResponse HttpsExchange(HttpsCall call);

// A certificate file trusted besides the system's (TAVELO_WEB_CA), empty when none.
std::string ExtraTrustedCertificate();

}  // namespace plat
