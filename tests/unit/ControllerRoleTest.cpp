#include <gtest/gtest.h>

#include "core/ControllerRole.h"

namespace somnara {
namespace {

TEST(ControllerRole, DecidedFromTheExactBundleIdentifier) {
  const struct {
    const char* bundleIdentifier;
    std::int64_t processType;
    bool appliesPolicy, ownsSettings;
  } cases[] = {{"de.orvane.Somnara.Daemon", 3, true, false}, {"de.orvane.Somnara", 2, false, true},
               {"de.orvane.Somnara.MenuBar", 1, false, false}, {"", 0, false, false},
               // no prefix, case or suffix matching
               {"de.orvane.somnara.daemon", 0, false, false}, {"de.orvane.Somnara.Daemon2", 0, false, false},
               {"de.orvane.Somnara.MenuBar ", 0, false, false}};
  for (const auto& c : cases) {
    const auto role = ControllerRole::forBundleIdentifier(c.bundleIdentifier);
    EXPECT_EQ(role.processType(), c.processType) << c.bundleIdentifier;
    EXPECT_EQ(role.appliesPolicy(), c.appliesPolicy) << c.bundleIdentifier;
    EXPECT_EQ(role.ownsSettings(), c.ownsSettings) << c.bundleIdentifier;
  }
}

}  // namespace
}  // namespace somnara
