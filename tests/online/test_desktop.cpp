#include "test_desktop.h"

#include <gtest/gtest.h>

namespace {

class TestDesktop : public ::testing::Environment {
 public:
  void SetUp() override { InstallTestDesktop(); }
};

const auto* const kTestDesktop = ::testing::AddGlobalTestEnvironment(new TestDesktop);

}  // namespace
