#pragma once
// The member account of the vendor web board ("<root>/license.cfg", older copy in system/)
// and the web login through a hidden browser.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

inline constexpr std::wstring_view kAccountFile = L"<root>/license.cfg";
inline constexpr std::wstring_view kOldAccountFile = L"<root>/system/license.cfg";
inline constexpr std::wstring_view kLoginProfileDir = L"<root>/system/wv2_login_cache";

// The member id and password the login uses; set at start-up (and after a rewrite of the file).
struct MemberAccountValues {
  std::wstring id;
  std::wstring password;
};
MemberAccountValues MemberAccount();
// True when both the id and the password are set.
bool HasMemberAccount();

bool ReadAccountFile(const std::wstring& path, std::wstring& id, std::wstring& password);
bool WriteAccountFile(const std::wstring& id, const std::wstring& password);
void LoadAccount(std::wstring& id, std::wstring& password);
std::wstring LoadAccountId();
void LoadMemberAccount();

// Shared between the caller of the login and the login thread.
struct WebView2LoginResult {
  std::atomic<bool> done{false};
  std::mutex lock;
  std::wstring cookies;
  std::wstring diagnostics;
};

// Logs in with MemberAccount; blocks up to 25 s. The cookie text ("a=1; b=2"), empty when the
// login did not finish; `diagnostics` gets the login's step-by-step report.
std::wstring GnuboardLoginViaWebView2(std::wstring& diagnostics);
// The login thread's body (20 s limit of its own).
void RunWebView2LoginThread(std::wstring id, std::wstring password, std::shared_ptr<WebView2LoginResult> result);
// The form script run in the login page.
std::wstring BuildLoginFormScript(std::wstring_view id, std::wstring_view password);
