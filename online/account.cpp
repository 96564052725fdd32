#include "online/account.h"

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "base/debug_log.h"
#include "base/text.h"
#include "online/https.h"
#include "platform/files.h"
#include "platform/https_client.h"
#include "platform/login_browser.h"
#include "platform/paths.h"

namespace {

std::mutex accountLock;
MemberAccountValues account;

// The login's own limit, and the caller's wait which outlasts it by five seconds.
// TAVELO_LOGIN_TIMEOUT_S (seconds, 1 to 600) replaces the 20 s: tests on a loaded machine raise it.
std::chrono::seconds LoginLimit() {
  const char* env = std::getenv("TAVELO_LOGIN_TIMEOUT_S");
  if (env && *env) {
    char* end = nullptr;
    const long v = std::strtol(env, &end, 10);
    if (end && *end == '\0' && v >= 1 && v <= 600) return std::chrono::seconds(v);
  }
  return std::chrono::seconds(20);
}
constexpr auto kCallerMargin = std::chrono::seconds(5);

std::wstring Hex(int code) {
  std::wstringstream s;
  s << std::hex << static_cast<unsigned>(code);
  return s.str();
}

}  // namespace

MemberAccountValues MemberAccount() {
  std::lock_guard<std::mutex> g(accountLock);
  return account;
}

bool HasMemberAccount() {
  auto a = MemberAccount();
  return !a.id.empty() && !a.password.empty();
}

bool ReadAccountFile(const std::wstring& path, std::wstring& id, std::wstring& password) {
  auto bytes = plat::ReadFileBytes(plat::RealPath(path));
  if (!bytes) return false;
  bool found = false;
  ForEachTextLine(*bytes, [&](std::string_view line) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return;
    std::string_view key = line.substr(0, eq);
    if (key == "mb_id") {
      id = Utf8ToWide(line.substr(eq + 1));
      found = true;
    } else if (key == "mb_pw") {
      password = Utf8ToWide(line.substr(eq + 1));
      found = true;
    }
  });
  return found;
}

bool WriteAccountFile(const std::wstring& id, const std::wstring& password) {
  std::string text = "mb_id=" + WideToUtf8(id) + "\r\nmb_pw=" + WideToUtf8(password) + "\r\n";
  auto path = plat::RealPath(kAccountFile);
  return !path.empty() && plat::WriteFileAtomic(path, text);
}

void LoadAccount(std::wstring& id, std::wstring& password) {
  id.clear();
  password.clear();
  if (ReadAccountFile(std::wstring(kAccountFile), id, password) && !id.empty()) return;
  std::wstring oldId, oldPassword;
  if (ReadAccountFile(std::wstring(kOldAccountFile), oldId, oldPassword) && !oldId.empty()) {
    id = oldId;
    password = oldPassword;
    WriteAccountFile(id, password);
  }
}

std::wstring LoadAccountId() {
  std::wstring id, password;
  LoadAccount(id, password);
  return id;
}

void LoadMemberAccount() {
  std::wstring id, password;
  LoadAccount(id, password);
  if (id.empty()) return;
  std::lock_guard<std::mutex> g(accountLock);
  account = {id, password};
}

std::wstring BuildLoginFormScript(std::wstring_view id, std::wstring_view password) {
  return L"(function(){try{var f=document.querySelector('form[name=\"flogin\"]');if(!f) return 'NO_FORM';"
         L"var idEl=document.getElementById('login_id');var pwEl=document.getElementById('login_pw');"
         L"if(!idEl||!pwEl) return 'NO_FIELDS';idEl.value='" +
         EscapeForScript(id) + L"';pwEl.value='" + EscapeForScript(password) +
         L"';var btn=f.querySelector('button[type=\"submit\"], input[type=\"submit\"]');if(btn){btn.click();} "
         L"else {f.submit();}return 'SUBMITTED';}catch(e){return 'JS_ERR:'+e.message;}})();";
}

void RunWebView2LoginThread(std::wstring id, std::wstring password, std::shared_ptr<WebView2LoginResult> result) {
  DebugLog(L"RunWebView2LoginThread 진입");
  std::wstringstream diag;
  std::wstring cookies;
  auto deadline = std::chrono::steady_clock::now() + LoginLimit();
  bool timedOut = false;
  try {
    plat::LoginBrowser browser;
    std::string error;
    std::string profile = plat::RealPath(kLoginProfileDir).string();
    std::string host = WideToUtf8(WebHost());
    if (!browser.Start(profile, plat::ExtraTrustedCertificate(), deadline, error)) {
      if (std::chrono::steady_clock::now() >= deadline) timedOut = true;
      else diag << L"WebView2 환경 생성 실패(hr=0x" << Hex(-1) << L")\n";
      DebugLog(L"로그인 브라우저 시작 실패: " + Utf8ToWide(error));
    } else {
      auto first = browser.Navigate("https://" + host + "/bbs/login.php", deadline);
      if (!first) {
        timedOut = true;
      } else {
        DebugLog(L"NavigationCompleted #1, success=" + std::wstring(*first ? L"1" : L"0"));
        if (!*first) {
          diag << L"로그인 페이지 로딩 실패\n";
        } else {
          auto answer = browser.Evaluate(WideToUtf8(BuildLoginFormScript(id, password)), deadline);
          diag << L"폼 제출 스크립트 결과=" << (answer ? Utf8ToWide(*answer) : std::wstring(L"(없음)")) << L"\n";
          auto second = browser.WaitForLoad(deadline);
          if (!second) {
            timedOut = true;
          } else {
            DebugLog(L"NavigationCompleted #2, success=" + std::wstring(*second ? L"1" : L"0"));
            diag << L"로그인 제출 후 이동한 페이지 성공=" << (*second ? L"Y" : L"N") << L"\n";
            auto list = browser.Cookies("https://" + host + "/", deadline);
            if (!list) {
              if (std::chrono::steady_clock::now() >= deadline) timedOut = true;
              else diag << L"CookieManager 획득 실패\n";
            } else {
              for (const auto& [name, value] : *list) {
                if (name.empty()) continue;
                if (!cookies.empty()) cookies += L"; ";
                cookies += Utf8ToWide(name) + L"=" + Utf8ToWide(value);
              }
              diag << L"수집된 쿠키 개수=" << list->size() << L"\n";
            }
          }
        }
      }
    }
    if (timedOut) {
      diag << L"타임아웃(20초) - 로그인 절차가 끝나지 않아 강제 종료\n";
      DebugLog(L"20초 타임아웃 도달");
    }
    DebugLog(L"정리(cleanup) 시작");
  } catch (const std::exception& e) {
    diag << L"로그인 중 오류: " << Utf8ToWide(e.what()) << L"\n";
  }
  {
    std::lock_guard<std::mutex> g(result->lock);
    result->cookies = cookies;
    result->diagnostics = diag.str();
  }
  result->done.store(true);
  DebugLog(L"RunWebView2LoginThread 완전히 끝남(done=true 세팅함)");
}

std::wstring GnuboardLoginViaWebView2(std::wstring& diagnostics) {
  DebugLog(L"GnuboardLoginViaWebView2 진입 - 로그인 스레드 생성 직전");
  auto result = std::make_shared<WebView2LoginResult>();
  auto a = MemberAccount();
  std::thread(RunWebView2LoginThread, a.id, a.password, result).detach();
  DebugLog(L"로그인 스레드 생성 완료, detach 완료, 25초 폴링 시작");
  const auto giveUp = std::chrono::steady_clock::now() + LoginLimit() + kCallerMargin;
  while (!result->done.load() && std::chrono::steady_clock::now() < giveUp)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  bool done = result->done.load();
  DebugLog(L"25초 폴링 종료, done=" + std::wstring(done ? L"1" : L"0"));
  if (!done) {
    diagnostics = L"WebView2 로그인 절차가 25초 안에 끝나지 않았습니다(브라우저 프로필 잠금 경합 등으로 응답이 없었을 수 "
                  L"있음). 잠시 후 다시 시도해주세요.";
    return {};
  }
  std::lock_guard<std::mutex> g(result->lock);
  diagnostics = result->diagnostics;
  return result->cookies;
}
