#include "platform/login_browser.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

extern char** environ;

namespace plat {
namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// SHA-256 of the certificate's public key, base64: what Chromium's SPKI trust list takes.
std::string SpkiHash(const std::string& certFile) {
  FILE* f = std::fopen(certFile.c_str(), "r");
  if (!f) return {};
  X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (!cert) return {};
  unsigned char* der = nullptr;
  int len = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der);
  std::string out;
  if (len > 0) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(der, static_cast<size_t>(len), digest);
    unsigned char b64[64] = {};
    int n = EVP_EncodeBlock(b64, digest, SHA256_DIGEST_LENGTH);
    out.assign(reinterpret_cast<char*>(b64), static_cast<size_t>(n));
  }
  OPENSSL_free(der);
  X509_free(cert);
  return out;
}

}  // namespace

std::vector<std::string> LoginBrowserArguments(const std::string& program, const std::string& profileDir,
                                               const std::string& trustedKeyHash, bool asRoot) {
  std::vector<std::string> args = {program,
                                   "--headless=new",
                                   "--remote-debugging-pipe",
                                   "--user-data-dir=" + profileDir,
                                   "--no-first-run",
                                   "--no-default-browser-check",
                                   "--disable-gpu",
                                   "--disable-extensions",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync",
                                   "--password-store=basic",
                                   "--use-mock-keychain"};
  // Chromium refuses to start as root with its sandbox; any other user keeps the sandbox.
  if (asRoot) args.push_back("--no-sandbox");
  if (!trustedKeyHash.empty()) args.push_back("--ignore-certificate-errors-spki-list=" + trustedKeyHash);
  args.push_back("about:blank");
  return args;
}

std::string FindLoginBrowserProgram() {
  for (const char* p : {"/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome"})
    if (access(p, X_OK) == 0) return p;
  return {};
}

struct LoginBrowser::Impl {
  pid_t pid = 0;
  int toBrowser = -1;
  int fromBrowser = -1;
  std::string inbox;            // bytes read, not yet split into messages
  std::deque<json> events;      // events read while waiting for an answer
  int nextId = 1;
  std::string session;

  ~Impl() { Stop(); }

  void Stop() {
    if (toBrowser >= 0) {
      close(toBrowser);
      toBrowser = -1;
    }
    if (fromBrowser >= 0) {
      close(fromBrowser);
      fromBrowser = -1;
    }
    if (pid > 0) {
      // The whole group: the browser's renderer and helper processes go with it.
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      int status = 0;
      waitpid(pid, &status, 0);
      pid = 0;
    }
  }

  bool Send(const json& message) {
    std::string text = message.dump();
    text.push_back('\0');
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = write(toBrowser, text.data() + done, text.size() - done);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // The next message from the browser, nothing on time-out or a closed pipe.
  std::optional<json> Read(Deadline deadline) {
    while (true) {
      size_t nul = inbox.find('\0');
      if (nul != std::string::npos) {
        std::string text = inbox.substr(0, nul);
        inbox.erase(0, nul + 1);
        json j = json::parse(text, nullptr, false);
        if (j.is_discarded() || !j.is_object()) continue;
        return j;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || fromBrowser < 0) return std::nullopt;
      pollfd p{fromBrowser, POLLIN, 0};
      int r = poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
      if (r < 0) return std::nullopt;
      if (r == 0) continue;
      char buf[65536];
      ssize_t n = read(fromBrowser, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      inbox.append(buf, static_cast<size_t>(n));
      if (inbox.size() > (64u << 20)) return std::nullopt;  // a runaway message
    }
  }

  // Sends a command and waits for its answer; events met meanwhile are kept.
  std::optional<json> Call(const std::string& method, const json& params, bool inSession, Deadline deadline) {
    json message = {{"id", nextId++}, {"method", method}, {"params", params}};
    if (inSession && !session.empty()) message["sessionId"] = session;
    int id = message["id"];
    if (!Send(message)) return std::nullopt;
    while (auto m = Read(deadline)) {
      if (m->contains("id") && (*m)["id"].is_number_integer() && (*m)["id"].get<int>() == id) {
        if (m->contains("error")) return std::nullopt;
        if (!m->contains("result")) return json::object();
        return (*m)["result"];
      }
      if (m->contains("method")) events.push_back(std::move(*m));
    }
    return std::nullopt;
  }

  LoadResult WaitForLoad(Deadline deadline) {
    while (true) {
      while (!events.empty()) {
        json e = std::move(events.front());
        events.pop_front();
        if (e.value("method", "") == "Page.loadEventFired" && e.value("sessionId", "") == session) return true;
      }
      auto m = Read(deadline);
      if (!m) return std::nullopt;
      if (m->contains("method")) events.push_back(std::move(*m));
    }
  }
};

LoginBrowser::LoginBrowser() : impl_(std::make_unique<Impl>()) {}
LoginBrowser::~LoginBrowser() = default;

int LoginBrowser::ProcessId() const { return impl_->pid; }

bool LoginBrowser::Start(const std::string& profileDir, const std::string& trustedCert, Deadline deadline,
                         std::string& error) {
  std::string program = FindLoginBrowserProgram();
  if (program.empty()) {
    error = "browser program not found";
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(profileDir, ec);
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) {
    error = "pipe failed";
    return false;
  }
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    error = "pipe failed";
    return false;
  }
  std::vector<std::string> args = LoginBrowserArguments(program, profileDir,
                                                        trustedCert.empty() ? std::string() : SpkiHash(trustedCert),
                                                        geteuid() == 0);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The protocol's pipe is the browser's descriptors 3 (commands in) and 4 (answers out).
  posix_spawn_file_actions_adddup2(&actions, in[0], 3);
  posix_spawn_file_actions_adddup2(&actions, out[1], 4);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attr, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(in[0]);
  close(out[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    error = "browser did not start";
    return false;
  }
  impl_->pid = pid;
  impl_->toBrowser = in[1];
  impl_->fromBrowser = out[0];
  // Writes to a browser that went away must fail, not stop the program.
  signal(SIGPIPE, SIG_IGN);

  auto targets = impl_->Call("Target.getTargets", json::object(), false, deadline);
  std::string targetId;
  if (targets && targets->contains("targetInfos") && (*targets)["targetInfos"].is_array()) {
    for (const auto& t : (*targets)["targetInfos"])
      if (t.is_object() && t.value("type", "") == "page") {
        targetId = t.value("targetId", "");
        break;
      }
  }
  if (targetId.empty()) {
    auto created = impl_->Call("Target.createTarget", {{"url", "about:blank"}}, false, deadline);
    if (created && created->is_object()) targetId = created->value("targetId", "");
  }
  if (targetId.empty()) {
    error = "no page in the browser";
    return false;
  }
  auto attached = impl_->Call("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}}, false, deadline);
  if (!attached || !attached->is_object() || attached->value("sessionId", "").empty()) {
    error = "could not attach to the page";
    return false;
  }
  impl_->session = attached->value("sessionId", "");
  if (!impl_->Call("Page.enable", json::object(), true, deadline) ||
      !impl_->Call("Network.enable", json::object(), true, deadline)) {
    error = "page events not available";
    return false;
  }
  return true;
}

LoginBrowser::LoadResult LoginBrowser::Navigate(const std::string& url, Deadline deadline) {
  impl_->events.clear();
  auto r = impl_->Call("Page.navigate", {{"url", url}}, true, deadline);
  if (!r) return std::nullopt;
  if (r->is_object() && r->contains("errorText") && (*r)["errorText"].is_string() &&
      !(*r)["errorText"].get<std::string>().empty())
    return false;
  return impl_->WaitForLoad(deadline);
}

LoginBrowser::LoadResult LoginBrowser::WaitForLoad(Deadline deadline) { return impl_->WaitForLoad(deadline); }

std::optional<std::string> LoginBrowser::Evaluate(const std::string& script, Deadline deadline) {
  auto r = impl_->Call("Runtime.evaluate", {{"expression", script}, {"returnByValue", true}}, true, deadline);
  if (!r || !r->is_object() || !r->contains("result") || !(*r)["result"].is_object()) return std::nullopt;
  const json& v = (*r)["result"];
  if (!v.contains("value")) return std::nullopt;
  return v["value"].dump();
}

std::optional<std::vector<std::pair<std::string, std::string>>> LoginBrowser::Cookies(const std::string& url,
                                                                                        Deadline deadline) {
  auto r = impl_->Call("Network.getCookies", {{"urls", json::array({url})}}, true, deadline);
  if (!r || !r->is_object() || !r->contains("cookies") || !(*r)["cookies"].is_array()) return std::nullopt;
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& c : (*r)["cookies"]) {
    if (!c.is_object()) continue;
    std::string name = c.contains("name") && c["name"].is_string() ? c["name"].get<std::string>() : "";
    std::string value = c.contains("value") && c["value"].is_string() ? c["value"].get<std::string>() : "";
    out.emplace_back(name, value);
  }
  return out;
}

}  // namespace plat
