// The login browser's command line: the sandbox is switched off only for root.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/login_browser.h"

TEST(LoginBrowserArguments, NoSandboxOnlyForRoot) {
  const struct {
    bool root;
    std::string hash;
    bool noSandbox;
  } cases[] = {{true, "", true}, {false, "", false}, {false, "abc=", false}};
  for (const auto& c : cases) {
    auto args = plat::LoginBrowserArguments("/usr/bin/chromium", "/p", c.hash, c.root);
    auto has = [&](const std::string& a) { return std::find(args.begin(), args.end(), a) != args.end(); };
    EXPECT_EQ(has("--no-sandbox"), c.noSandbox) << c.root;
    EXPECT_TRUE(has("--headless=new"));
    EXPECT_TRUE(has("--user-data-dir=/p"));
    EXPECT_EQ(has("--ignore-certificate-errors-spki-list=abc="), !c.hash.empty());
    EXPECT_EQ(args.front(), "/usr/bin/chromium");
  }
}
