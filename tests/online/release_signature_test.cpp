// Release signatures: only the maker's key over the very bytes of the file passes.
#include <gtest/gtest.h>

#include "common/temp_root.h"
#include "online/release_signature.h"
#include "platform/files.h"
#include "release_signer.h"

TEST(ReleaseSignature, OnlyTheMakersKeyOverTheSameBytesPasses) {
  TempRoot root;
  ReleaseSigner signer;
  const std::string bytes = std::string("\x7f" "ELF release\0with a zero", 23);
  const std::filesystem::path file = root.path() / "release";
  ASSERT_TRUE(plat::WriteFileAtomic(file, bytes));
  const std::string good = signer.Sign(bytes);
  std::string page = "<!doctype html><html><body>please log in</body></html>";
  page.resize(64, ' ');
  ASSERT_EQ(good.size(), 64u);
  const struct {
    const char* what;
    std::string signature;
    ReleaseSignature expected;
  } cases[] = {
      {"maker", good, ReleaseSignature::kGood},
      {"other key", signer.Sign(bytes, true), ReleaseSignature::kWrong},
      {"other bytes", signer.Sign(bytes + "x"), ReleaseSignature::kWrong},
      {"flipped bit", std::string(good).replace(0, 1, 1, static_cast<char>(good[0] ^ 1)), ReleaseSignature::kWrong},
      {"short", good.substr(0, 63), ReleaseSignature::kMissing},
      {"none", "", ReleaseSignature::kMissing},
      {"a page of a signature's length", page, ReleaseSignature::kWrong},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckReleaseSignature(file, c.signature), c.expected) << c.what;
  EXPECT_EQ(CheckReleaseSignature(root.path() / "absent", good), ReleaseSignature::kWrong);

  // Without the test key the built-in maker's key is asked, which did not sign this.
  SetReleaseKeyForTests({});
  EXPECT_EQ(CheckReleaseSignature(file, good), ReleaseSignature::kWrong);
}
