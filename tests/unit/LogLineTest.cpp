#include <gtest/gtest.h>

#include "platform/LogLine.h"

namespace somnara {
namespace {

TEST(LogLine, MethodAndFunctionForms) {
  const void* receiver = reinterpret_cast<const void*>(0x1f2e3d);
  EXPECT_EQ(platform::formatLogLine(receiver, 42, "-[SomnaraDaemon pmset:]", "Could not set sleepstate"),
            "\t(0x1f2e3d.0042) -[SomnaraDaemon pmset:] Could not set sleepstate");
  EXPECT_EQ(platform::formatLogLine(nullptr, 12345, "+[X y]", "m"), "\t(0x0.12345) +[X y] m");
  EXPECT_EQ(platform::formatFunctionLogLine(7, "ORVPrivate/Appkit/ORVApplicationStartupHelper", "fsevents_callback",
                                            "path changed"),
            "\t(0x0.0007) ORVPrivate/Appkit/ORVApplicationStartupHelper fsevents_callback(): path changed");
}

TEST(LogLine, FormatHandlesLongOutput) {
  const std::string big(5000, 'x');
  EXPECT_EQ(platform::format("%s|%ld", big.c_str(), -3L), big + "|-3");
}

}  // namespace
}  // namespace somnara
