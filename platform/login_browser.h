#pragma once
// A hidden browser for logging in to a web site the way a person would: headless Chromium with a
// persistent profile, driven over the DevTools protocol on a pipe. One object is one browser
// process (with its children in their own process group); it is ended, and no process is left,
// when the object goes away. Every call waits at most until the given deadline.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plat {

class LoginBrowser {
 public:
  using Deadline = std::chrono::steady_clock::time_point;
  // A load that finished: true when the page loaded, false when the navigation failed.
  using LoadResult = std::optional<bool>;

  LoginBrowser();
  ~LoginBrowser();
  LoginBrowser(const LoginBrowser&) = delete;
  LoginBrowser& operator=(const LoginBrowser&) = delete;

  // Starts the browser with `profileDir` as its user data and opens a blank page. A certificate
  // file in `trustedCert` is trusted by its public key hash. False (with `error`) on failure.
  bool Start(const std::string& profileDir, const std::string& trustedCert, Deadline deadline, std::string& error);
  // Navigates and waits for the page's load; nothing on time-out or a lost browser.
  LoadResult Navigate(const std::string& url, Deadline deadline);
  // Waits for the next finished load (a navigation the page started itself).
  LoadResult WaitForLoad(Deadline deadline);
  // Runs the script in the page; the result value as JSON text, nothing on failure.
  std::optional<std::string> Evaluate(const std::string& script, Deadline deadline);
  // Every cookie the browser holds for `url` (HttpOnly ones too), as name and value.
  std::optional<std::vector<std::pair<std::string, std::string>>> Cookies(const std::string& url, Deadline deadline);
  // The browser program's process id while it runs, else 0.
  int ProcessId() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The login browser's command line: headless, the profile, the sandbox off only for root (Chromium
// does not start as root with it), and a certificate trusted by its public key hash when given.
std::vector<std::string> LoginBrowserArguments(const std::string& program, const std::string& profileDir,
                                               const std::string& trustedKeyHash, bool asRoot);

// The browser program used for logins: Chromium from the usual places; empty when none.
std::string FindLoginBrowserProgram();

}  // namespace plat
