// The helper's argument allow-list, including that it reads a bounded number
// of bytes of each argument.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "HelperArguments.h"

namespace {

constexpr const char* kTool = "/opt/somnara/libexec/pmset";

struct Case {
  std::vector<std::string> argv;  // argv[0] included
  helper_verdict verdict;
  int mode = -1;
  int force = 0;
};

helper_verdict validate(const std::vector<std::string>& args, helper_request* out) {
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  return helper_validate(static_cast<int>(args.size()), argv.data(), kTool, out);
}

class HelperValidate : public ::testing::TestWithParam<Case> {};

TEST_P(HelperValidate, AcceptsOnlyTheAllowList) {
  const Case& c = GetParam();
  helper_request req{-7, -7, nullptr};
  EXPECT_EQ(validate(c.argv, &req), c.verdict);
  if (c.verdict == HELPER_ARGS_OK) {
    EXPECT_EQ(req.mode, c.mode);
    EXPECT_EQ(req.force, c.force);
    ASSERT_NE(req.mode_word, nullptr);
    EXPECT_STREQ(req.mode_word, c.argv.back().c_str());
    // The accepted word is the validator's own constant, not caller memory.
    EXPECT_NE(req.mode_word, c.argv.back().c_str());
  } else {
    EXPECT_EQ(req.mode, -7) << "output filled on refusal";
  }
}

const std::string kLong(65, '1');
const std::string kLongTool = std::string(kTool) + std::string(60, 'x');

INSTANTIATE_TEST_SUITE_P(
    Table, HelperValidate,
    ::testing::Values(
        Case{{"h", kTool, "hibernatemode", "0"}, HELPER_ARGS_OK, 0, 0},
        Case{{"h", kTool, "hibernatemode", "1"}, HELPER_ARGS_OK, 1, 0},
        Case{{"h", kTool, "hibernatemode", "3"}, HELPER_ARGS_OK, 3, 0},
        Case{{"h", kTool, "hibernatemode", "25"}, HELPER_ARGS_OK, 25, 0},
        Case{{"h", kTool, "force", "hibernatemode", "0"}, HELPER_ARGS_OK, 0, 1},
        Case{{"h", kTool, "force", "hibernatemode", "25"}, HELPER_ARGS_OK, 25, 1},
        Case{{std::string(4096, 'a'), kTool, "hibernatemode", "3"}, HELPER_ARGS_OK, 3, 0},
        Case{{"", kTool, "hibernatemode", "3"}, HELPER_ARGS_NO_PROGRAM_NAME},
        Case{{}, HELPER_ARGS_NO_PROGRAM_NAME},
        Case{{"h"}, HELPER_ARGS_BAD_COUNT},
        Case{{"h", kTool}, HELPER_ARGS_BAD_COUNT},
        Case{{"h", kTool, "hibernatemode"}, HELPER_ARGS_BAD_COUNT},
        Case{{"h", kTool, "force", "hibernatemode", "1", "x"}, HELPER_ARGS_BAD_COUNT},
        Case{{"h", "pmset", "hibernatemode", "1"}, HELPER_ARGS_RELATIVE_TOOL},
        Case{{"h", "opt/somnara/libexec/pmset", "hibernatemode", "1"}, HELPER_ARGS_RELATIVE_TOOL},
        Case{{"h", "/bin/sh", "hibernatemode", "1"}, HELPER_ARGS_WRONG_TOOL},
        Case{{"h", "/opt/somnara/libexec//pmset", "hibernatemode", "1"}, HELPER_ARGS_WRONG_TOOL},
        Case{{"h", "/opt/somnara/libexec/pmset/", "hibernatemode", "1"}, HELPER_ARGS_WRONG_TOOL},
        Case{{"h", "/opt/somnara/libexec/pmse", "hibernatemode", "1"}, HELPER_ARGS_WRONG_TOOL},
        Case{{"h", kTool, "sleepnow", "1"}, HELPER_ARGS_UNKNOWN_WORD},
        Case{{"h", kTool, "force", "sleepnow", "1"}, HELPER_ARGS_UNKNOWN_WORD},
        Case{{"h", kTool, "Force", "hibernatemode", "1"}, HELPER_ARGS_UNKNOWN_WORD},
        Case{{"h", kTool, "hibernatemode", "force", "1"}, HELPER_ARGS_UNKNOWN_WORD},
        Case{{"h", kTool, "force", "force", "1"}, HELPER_ARGS_UNKNOWN_WORD},
        Case{{"h", kTool, "hibernatemode ", "1"}, HELPER_ARGS_UNKNOWN_WORD},
        Case{{"h", kTool, "hibernatemode", "2"}, HELPER_ARGS_BAD_MODE},
        Case{{"h", kTool, "hibernatemode", "03"}, HELPER_ARGS_BAD_MODE},
        Case{{"h", kTool, "hibernatemode", "-1"}, HELPER_ARGS_BAD_MODE},
        Case{{"h", kTool, "hibernatemode", "1 "}, HELPER_ARGS_BAD_MODE},
        Case{{"h", kTool, "hibernatemode", ""}, HELPER_ARGS_BAD_MODE},
        Case{{"h", kTool, "hibernatemode", "25x"}, HELPER_ARGS_BAD_MODE},
        Case{{"h", kTool, "hibernatemode", "4294967297"}, HELPER_ARGS_BAD_MODE},
        Case{{"h", kTool, "force", "hibernatemode", "+3"}, HELPER_ARGS_BAD_MODE},
        Case{{"h", kTool, "hibernatemode", kLong}, HELPER_ARGS_TOO_LONG},
        Case{{"h", kTool, "hibernatemode", std::string(1 << 20, '3')}, HELPER_ARGS_TOO_LONG},
        Case{{"h", kTool, kLong, "1"}, HELPER_ARGS_TOO_LONG},
        Case{{"h", kLongTool, "hibernatemode", "1"}, HELPER_ARGS_TOO_LONG},
        Case{{std::string(4097, 'a'), kTool, "hibernatemode", "1"}, HELPER_ARGS_TOO_LONG}));

TEST(HelperValidateNulls, NullEntryBeforeArgcIsRefused) {
  const char* argv[] = {"h", kTool, nullptr, "1", nullptr};
  EXPECT_EQ(helper_validate(4, argv, kTool, nullptr), HELPER_ARGS_MISSING);
  EXPECT_EQ(helper_validate(1, nullptr, kTool, nullptr), HELPER_ARGS_NO_PROGRAM_NAME);
  const char* none[] = {nullptr};
  EXPECT_EQ(helper_validate(0, none, kTool, nullptr), HELPER_ARGS_NO_PROGRAM_NAME);
}

// Each argument position gets an unterminated run of bytes that ends right at
// an inaccessible page. A validator that reads an argument beyond its limit
// (instead of refusing it as too long) crashes this test.
TEST(HelperValidateBounds, NeverReadsPastTheLengthLimit) {
  const long page = sysconf(_SC_PAGESIZE);
  const long usable = 2 * page;
  auto* base = static_cast<char*>(
      mmap(nullptr, usable + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(base, MAP_FAILED);
  ASSERT_EQ(mprotect(base + usable, page, PROT_NONE), 0);

  struct Position {
    int index;
    std::size_t bytes;  // limit + 1 bytes, no terminator before the guard page
  };
  const Position positions[] = {{0, HELPER_MAX_ARGV0_BYTES + 1},
                                {1, HELPER_MAX_ARG_BYTES + 1},
                                {2, HELPER_MAX_ARG_BYTES + 1},
                                {3, HELPER_MAX_ARG_BYTES + 1}};
  for (const Position& p : positions) {
    SCOPED_TRACE(p.index);
    ASSERT_LE(static_cast<long>(p.bytes), usable);
    char* unterminated = base + usable - p.bytes;
    std::memset(unterminated, '3', p.bytes);
    const char* argv[] = {"h", kTool, "hibernatemode", "3", nullptr};
    argv[p.index] = unterminated;
    EXPECT_EQ(helper_validate(4, argv, kTool, nullptr), HELPER_ARGS_TOO_LONG);
  }
  munmap(base, usable + page);
}

}  // namespace
