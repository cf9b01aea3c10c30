// The helper's argument allow-list; pmset's machine root.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "HelperArguments.h"
#include "MachinePaths.h"

namespace {

constexpr const char* kTool = "/opt/somnara/libexec/pmset";

struct Case {
  std::vector<std::string> argv;  // argv[0] included
  helper_verdict verdict;
  int mode = -1, force = 0;
};

const Case kCases[] = {
    {{"h", kTool, "hibernatemode", "0"}, HELPER_ARGS_OK, 0, 0},
    {{"h", kTool, "hibernatemode", "1"}, HELPER_ARGS_OK, 1, 0},
    {{"h", kTool, "hibernatemode", "3"}, HELPER_ARGS_OK, 3, 0},
    {{"h", kTool, "hibernatemode", "25"}, HELPER_ARGS_OK, 25, 0},
    {{"h", kTool, "force", "hibernatemode", "0"}, HELPER_ARGS_OK, 0, 1},
    {{"h", kTool, "force", "hibernatemode", "25"}, HELPER_ARGS_OK, 25, 1},
    {{std::string(HELPER_MAX_ARGV0_BYTES, 'a'), kTool, "hibernatemode", "3"}, HELPER_ARGS_OK, 3},
    {{"", kTool, "hibernatemode", "3"}, HELPER_ARGS_NO_PROGRAM_NAME},
    {{}, HELPER_ARGS_NO_PROGRAM_NAME},
    {{"h", kTool, "hibernatemode"}, HELPER_ARGS_BAD_COUNT},
    {{"h", kTool, "force", "hibernatemode", "1", "x"}, HELPER_ARGS_BAD_COUNT},
    {{"h", kTool + 1, "hibernatemode", "1"}, HELPER_ARGS_RELATIVE_TOOL},
    {{"h", "/bin/sh", "hibernatemode", "1"}, HELPER_ARGS_WRONG_TOOL},
    {{"h", std::string(kTool) + "/", "hibernatemode", "1"}, HELPER_ARGS_WRONG_TOOL},
    {{"h", "/opt/somnara/libexec/pmse", "hibernatemode", "1"}, HELPER_ARGS_WRONG_TOOL},
    {{"h", kTool, "sleepnow", "1"}, HELPER_ARGS_UNKNOWN_WORD},
    {{"h", kTool, "Force", "hibernatemode", "1"}, HELPER_ARGS_UNKNOWN_WORD},
    {{"h", kTool, "force", "force", "1"}, HELPER_ARGS_UNKNOWN_WORD},
    {{"h", kTool, "hibernatemode ", "1"}, HELPER_ARGS_UNKNOWN_WORD},
    {{"h", kTool, "hibernatemode", "2"}, HELPER_ARGS_BAD_MODE},
    {{"h", kTool, "hibernatemode", "03"}, HELPER_ARGS_BAD_MODE},
    {{"h", kTool, "hibernatemode", ""}, HELPER_ARGS_BAD_MODE},
    {{"h", kTool, "hibernatemode", "25x"}, HELPER_ARGS_BAD_MODE},
    {{"h", kTool, "hibernatemode", "4294967297"}, HELPER_ARGS_BAD_MODE},
    {{"h", kTool, "force", "hibernatemode", "+3"}, HELPER_ARGS_BAD_MODE},
    {{"h", kTool + std::string(60, 'x'), "hibernatemode", "1"}, HELPER_ARGS_TOO_LONG}};

TEST(HelperValidate, AcceptsOnlyTheAllowList) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.argv).substr(0, 120));
    std::vector<const char*> argv;
    for (const auto& a : c.argv) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    helper_request req{-7, -7, nullptr};
    EXPECT_EQ(helper_validate(static_cast<int>(c.argv.size()), argv.data(), kTool, &req), c.verdict);
    if (c.verdict != HELPER_ARGS_OK) {
      EXPECT_EQ(req.mode, -7) << "output filled on refusal";
      continue;
    }
    EXPECT_EQ(req.mode, c.mode);
    EXPECT_EQ(req.force, c.force);
    ASSERT_NE(req.mode_word, nullptr);
    EXPECT_STREQ(req.mode_word, c.argv.back().c_str());
    EXPECT_NE(req.mode_word, c.argv.back().c_str()) << "accepted word points into caller memory";
  }
}

TEST(HelperValidateRaw, NullEntriesAndUnterminatedArguments) {
  const char* hole[] = {"h", kTool, nullptr, "1", nullptr};
  EXPECT_EQ(helper_validate(4, hole, kTool, nullptr), HELPER_ARGS_MISSING);
  EXPECT_EQ(helper_validate(1, nullptr, kTool, nullptr), HELPER_ARGS_NO_PROGRAM_NAME);

  // Each position gets limit + 1 bytes ending at an inaccessible page: reading
  // an argument past its limit instead of refusing it crashes the test.
  const long page = sysconf(_SC_PAGESIZE), usable = 2 * page;
  auto* base = static_cast<char*>(
      mmap(nullptr, usable + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(base, MAP_FAILED);
  ASSERT_EQ(mprotect(base + usable, page, PROT_NONE), 0);
  for (int index = 0; index < 4; ++index) {
    size_t bytes = (index == 0 ? HELPER_MAX_ARGV0_BYTES : HELPER_MAX_ARG_BYTES) + 1;
    char* unterminated = base + usable - bytes;
    std::memset(unterminated, '3', bytes);
    const char* argv[] = {"h", kTool, "hibernatemode", "3", nullptr};
    argv[index] = unterminated;
    EXPECT_EQ(helper_validate(4, argv, kTool, nullptr), HELPER_ARGS_TOO_LONG) << index;
  }
  munmap(base, usable + page);
}

namespace pm = somnara::pmset;

TEST(MachinePaths, RootFromEnvironment) {
  const std::pair<const char*, const char*> rows[] = {  // value, active file (null: refused)
      {nullptr, "/run/somnara/hibernatemode"}, {"", "/run/somnara/hibernatemode"},
      {"///", "/run/somnara/hibernatemode"}, {"/tmp/x//", "/tmp/x/run/somnara/hibernatemode"},
      {"tmp/x", nullptr}};
  for (const auto& [value, active] : rows) {
    SCOPED_TRACE(value ? value : "(unset)");
    std::string error;
    auto paths = pm::MachinePaths::fromEnvironment(value, &error);
    ASSERT_EQ(paths.has_value(), active != nullptr) << error;
    if (!paths) continue;
    EXPECT_EQ(paths->isRealRoot(), std::string(active).rfind("/tmp", 0) != 0);
    EXPECT_EQ(paths->activeHibernateMode(), active);
  }
}

}  // namespace
