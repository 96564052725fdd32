#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "ui/page_host.h"

TEST(PageHost, PageTextIsTheMarkupFollowedByTheScript) {
  const std::wstring& markup = PageMarkup();
  const std::wstring& script = PageScript();
  ASSERT_FALSE(markup.empty());
  EXPECT_EQ(BuildPageText(), markup + script);
  EXPECT_EQ(script.rfind(L"<script>", 0), 0u);
  EXPECT_NE(script.find(L"</script></body></html>"), std::wstring::npos);
  EXPECT_EQ(script.find(L"</script></body></html>") + 23, script.find_last_not_of(L"\r\n") + 1);
  EXPECT_NE(markup.find(L"<body"), std::wstring::npos);
  EXPECT_EQ(markup.find(L"</body>"), std::wstring::npos);
}

TEST(PageHost, ShellElementsStandInDocumentOrder) {
  const std::wstring& markup = PageMarkup();
  const std::vector<std::wstring> order = {
      L"song-search-overlay", L"history-overlay", L"eng-overlay", L"fav-overlay",
      L"ins-overlay", L"fav-input-overlay", L"medley-overlay", L"ext-overlay", L"rchk-overlay",
      L"red-overlay", L"settings-overlay", L"keyedit-overlay", L"update-overlay",
      L"pccheck-overlay", L"countdown-overlay", L"app-root", L"cw-bg-video", L"cw-scrim",
      L"top-bar", L"main-stage", L"lyrics-stage", L"rs-overlay", L"net-badge",
      L"corner-buttons", L"debug-chord-info", L"f6-panel", L"audio-panel", L"mixer-overlay",
      L"score-overlay", L"f10-overlay", L"<style>", L"soundtbl-overlay"};
  size_t last = 0;
  for (const auto& id : order) {
    std::wstring needle = id[0] == L'<' ? id : L"id=\"" + id + L"\"";
    size_t at = markup.find(needle);
    ASSERT_NE(at, std::wstring::npos) << WideToUtf8(id);
    EXPECT_GT(at, last) << WideToUtf8(id);
    EXPECT_EQ(markup.find(needle, at + 1), std::wstring::npos) << WideToUtf8(id) << " twice";
    last = at;
  }
}
