#include <gtest/gtest.h>

#include "core/ControllerRole.h"

namespace somnara {
namespace {

struct RoleCase {
  const char* bundleIdentifier;
  std::int64_t processType;
  bool appliesPolicy;
  bool ownsSettings;
};

class ControllerRoleTest : public ::testing::TestWithParam<RoleCase> {};

TEST_P(ControllerRoleTest, DecidedFromTheBundleIdentifier) {
  const auto role = ControllerRole::forBundleIdentifier(GetParam().bundleIdentifier);
  EXPECT_EQ(role.processType(), GetParam().processType);
  EXPECT_EQ(role.appliesPolicy(), GetParam().appliesPolicy);
  EXPECT_EQ(role.ownsSettings(), GetParam().ownsSettings);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, ControllerRoleTest,
    ::testing::Values(RoleCase{"de.orvane.Somnara.Daemon", 3, true, false},
                      RoleCase{"de.orvane.Somnara", 2, false, true},
                      RoleCase{"de.orvane.Somnara.MenuBar", 1, false, false},
                      RoleCase{"", 0, false, false},
                      // Identifiers compare exactly: no prefix, case or suffix matching.
                      RoleCase{"de.orvane.somnara.daemon", 0, false, false},
                      RoleCase{"de.orvane.Somnara.Daemon2", 0, false, false},
                      RoleCase{"de.orvane.Somnara.MenuBar ", 0, false, false}));

}  // namespace
}  // namespace somnara
