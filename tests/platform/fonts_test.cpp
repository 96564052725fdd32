#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "platform/fonts.h"

// The installed families come once each, those that cover Korean before the others.
TEST(InstalledFonts, KoreanFamiliesFirstEachOnce) {
  const std::vector<std::string> families = plat::InstalledFontFamilies();
  EXPECT_EQ(std::set<std::string>(families.begin(), families.end()).size(), families.size());
  auto at = [&](const std::string& name) { return std::find(families.begin(), families.end(), name) - families.begin(); };
  const auto korean = at("Noto Sans CJK KR"), latin = at("DejaVu Sans");
  if (korean == static_cast<long>(families.size()) || latin == static_cast<long>(families.size()))
    GTEST_SKIP() << "Noto Sans CJK KR or DejaVu Sans not installed";
  EXPECT_LT(korean, latin);
}
