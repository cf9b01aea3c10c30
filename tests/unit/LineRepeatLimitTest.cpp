#include <gtest/gtest.h>

#include <string>

#include "platform/LineRepeatLimit.h"

namespace somnara::platform {
namespace {

using namespace std::chrono_literals;

TEST(LineRepeatLimit, EachDistinctLineAtMostOncePerPeriod) {
  struct Step {
    std::chrono::milliseconds at;
    const char* line;
    bool admitted;
  };
  const Step steps[] = {
      {0ms, "a", true},
      {59999ms, "a", false},
      {30s, "b", true},  // another line has its own period
      {60s, "a", true},  // a full period after it was let through
      {61s, "a", false},  // the period counts from the last time let through
      {89s, "b", false},
      {90s, "b", true},
      {200s, "a", true},
  };
  LineRepeatLimit limit(1min);
  const LineRepeatLimit::Clock::time_point start{};
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.line) + " at " + std::to_string(s.at.count()) + " ms");
    EXPECT_EQ(limit.admit(s.line, start + s.at), s.admitted);
  }
}

TEST(LineRepeatLimit, AFloodOfDistinctLinesIsNeverHeldBack) {
  LineRepeatLimit limit(1min);
  const LineRepeatLimit::Clock::time_point now{};
  ASSERT_TRUE(limit.admit("first", now));
  for (std::size_t i = 1; i < LineRepeatLimit::kRememberedLines; ++i) EXPECT_TRUE(limit.admit(std::to_string(i), now));
  EXPECT_FALSE(limit.admit("first", now)) << "still remembered while the memory is full";
  EXPECT_TRUE(limit.admit("one too many", now));
  EXPECT_TRUE(limit.admit("first", now)) << "forgotten to make room";
}

}  // namespace
}  // namespace somnara::platform
