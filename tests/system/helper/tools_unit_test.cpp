// The helper's argument allow-list, the hibernatemode grammar, pmset's machine
// root and the file tree it writes through.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "ChangeBudget.h"
#include "HelperArguments.h"
#include "MachinePaths.h"
#include "fileio/FileTree.h"
#include "powertool/HibernateModeArguments.h"

namespace {

constexpr const char* kTool = "/opt/somnara/libexec/pmset";

struct Case {
  std::vector<std::string> argv;  // argv[0] included
  helper_verdict verdict;
  int mode = -1, force = 0;
};

// The mode grammar itself is checked below; these rows check its verdicts' mapping.
const Case kCases[] = {
    {{"h", kTool, "hibernatemode", "0"}, HELPER_ARGS_OK, 0, 0},
    {{"h", kTool, "force", "hibernatemode", "25"}, HELPER_ARGS_OK, 25, 1},
    {{std::string(HELPER_MAX_ARGV0_BYTES, 'a'), kTool, "hibernatemode", "3"}, HELPER_ARGS_OK, 3},
    {{"", kTool, "hibernatemode", "3"}, HELPER_ARGS_NO_PROGRAM_NAME},
    {{}, HELPER_ARGS_NO_PROGRAM_NAME},
    {{"h", kTool, "hibernatemode"}, HELPER_ARGS_BAD_COUNT},
    {{"h", kTool, "force", "hibernatemode"}, HELPER_ARGS_BAD_COUNT},
    {{"h", kTool, "hibernatemode", "1", "x"}, HELPER_ARGS_BAD_COUNT},
    {{"h", kTool, "force", "hibernatemode", "1", "x"}, HELPER_ARGS_BAD_COUNT},
    {{"h", kTool + 1, "hibernatemode", "1"}, HELPER_ARGS_RELATIVE_TOOL},
    {{"h", "/bin/sh", "hibernatemode", "1"}, HELPER_ARGS_WRONG_TOOL},
    {{"h", std::string(kTool) + "/", "hibernatemode", "1"}, HELPER_ARGS_WRONG_TOOL},
    {{"h", "/opt/somnara/libexec/pmse", "hibernatemode", "1"}, HELPER_ARGS_WRONG_TOOL},
    {{"h", kTool, "sleepnow", "1"}, HELPER_ARGS_UNKNOWN_WORD},
    {{"h", kTool, "hibernatemode", "2"}, HELPER_ARGS_BAD_MODE},
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
  const std::pair<const char*, const char*> rows[] = {  // value, root (null: refused)
      {nullptr, "/"}, {"", "/"}, {"///", "/"}, {"/tmp/x//", "/tmp/x"}, {"tmp/x", nullptr}};
  for (const auto& [value, root] : rows) {
    SCOPED_TRACE(value ? value : "(unset)");
    std::string error;
    auto paths = pm::MachinePaths::fromEnvironment(value, &error);
    ASSERT_EQ(paths.has_value(), root != nullptr) << error;
    if (!paths) continue;
    EXPECT_EQ(paths->root(), root);
    EXPECT_EQ(paths->isRealRoot(), std::string(root) == "/");
  }
}

// The power tool's, the helper's and the simulated helper's one grammar.
TEST(HibernateModeGrammar, VerdictAndTheWordItIsAbout) {
  const struct {
    std::vector<const char*> words;
    hibernatemode_verdict verdict;
    size_t at;
    int force = 0, mode = 0;
  } cases[] = {
      {{"hibernatemode", "0"}, HIBERNATEMODE_OK, 0, 0, 0},
      {{"hibernatemode", "25"}, HIBERNATEMODE_OK, 0, 0, 25},
      {{"force", "hibernatemode", "1"}, HIBERNATEMODE_OK, 0, 1, 1},
      {{"force", "hibernatemode", "3"}, HIBERNATEMODE_OK, 0, 1, 3},
      {{}, HIBERNATEMODE_UNKNOWN_WORD, 0},
      {{"force"}, HIBERNATEMODE_UNKNOWN_WORD, 1},
      {{"force", "force", "hibernatemode", "1"}, HIBERNATEMODE_UNKNOWN_WORD, 1},
      {{"Hibernatemode", "1"}, HIBERNATEMODE_UNKNOWN_WORD, 0},
      {{"hibernatemode"}, HIBERNATEMODE_MISSING_VALUE, 1},
      {{"force", "hibernatemode"}, HIBERNATEMODE_MISSING_VALUE, 2},
      {{"hibernatemode", "03"}, HIBERNATEMODE_BAD_VALUE, 1},
      {{"hibernatemode", "+1"}, HIBERNATEMODE_BAD_VALUE, 1},
      {{"hibernatemode", "1 "}, HIBERNATEMODE_BAD_VALUE, 1},
      {{"hibernatemode", " 1"}, HIBERNATEMODE_BAD_VALUE, 1},
      {{"hibernatemode", "25x"}, HIBERNATEMODE_BAD_VALUE, 1},
      {{"hibernatemode", "0x19"}, HIBERNATEMODE_BAD_VALUE, 1},
      {{"hibernatemode", "4294967297"}, HIBERNATEMODE_BAD_VALUE, 1},
      {{"hibernatemode ", "1"}, HIBERNATEMODE_UNKNOWN_WORD, 0},
      {{"hibernatemode", "2"}, HIBERNATEMODE_BAD_VALUE, 1},
      {{"hibernatemode", ""}, HIBERNATEMODE_BAD_VALUE, 1},
      {{"hibernatemode", "force", "1"}, HIBERNATEMODE_BAD_VALUE, 1},
      {{"force", "hibernatemode", "25", "25"}, HIBERNATEMODE_EXTRA_WORD, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    hibernatemode_command command{-7, -7, nullptr};
    size_t at = 99;
    EXPECT_EQ(hibernatemode_parse(c.words.size(), c.words.data(), &command, &at), c.verdict);
    if (c.verdict != HIBERNATEMODE_OK) {
      EXPECT_EQ(at, c.at);
      EXPECT_EQ(command.mode, -7) << "output filled on refusal";
      continue;
    }
    EXPECT_EQ(command.force, c.force);
    EXPECT_EQ(command.mode, c.mode);
    EXPECT_EQ(hibernatemode_value(command.mode_word), c.mode);
  }
}

namespace fs = std::filesystem;
using somnara::fileio::FileTree;

struct ScratchDir {
  ScratchDir() : path(fs::temp_directory_path() / "somnara-tree-XXXXXX") {
    if (!::mkdtemp(path.data())) throw std::runtime_error(path);
  }
  ~ScratchDir() { fs::remove_all(path); }
  std::string path;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> namesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename());
  return names;
}

// Below a tree that refuses links, no operation reaches outside through a
// symbolic link, whichever component it is; a tree that follows them does.
TEST(FileTree, SymbolicLinksBelowTheTop) {
  ScratchDir scratch;
  const std::string top = scratch.path + "/top", outside = scratch.path + "/outside";
  fs::create_directories(top + "/real");
  fs::create_directories(outside);
  std::ofstream(outside + "/file") << "outside";
  fs::create_directory_symlink(outside, top + "/linkdir");
  fs::create_symlink(outside + "/file", top + "/real/linkfile");

  somnara::fileio::IoError error;
  auto refusing = FileTree::open(top, FileTree::Links::Refuse, &error);
  auto following = FileTree::open(top, FileTree::Links::Follow, &error);
  ASSERT_TRUE(refusing && following) << error.message();

  // Reads, writes and appends through links are the power tool's attack table.
  EXPECT_FALSE(refusing->isDirectory("linkdir"));
  EXPECT_TRUE(refusing->remove("linkdir/file").has_value());
  EXPECT_TRUE(refusing->writeAtomically("real/../escape", "x").has_value());
  EXPECT_EQ(namesIn(outside), std::set<std::string>{"file"});
  EXPECT_EQ(slurp(outside + "/file"), "outside");
  // Writing over the link replaces the link itself.
  EXPECT_FALSE(refusing->writeAtomically("real/linkfile", "mine").has_value());
  EXPECT_FALSE(fs::is_symlink(top + "/real/linkfile"));
  EXPECT_EQ(slurp(outside + "/file"), "outside");

  EXPECT_TRUE(following->isDirectory("linkdir"));
  EXPECT_EQ(following->read("linkdir/file").content, "outside");
}

// Only the target's name ever appears, whether it existed or not; a file
// moved aside never replaces one moved aside before.
TEST(FileTree, WritesLeaveNoOtherNamesAndMovesAsideNeverReplace) {
  ScratchDir scratch;
  somnara::fileio::IoError error;
  auto tree = FileTree::open(scratch.path, FileTree::Links::Refuse, &error);
  ASSERT_TRUE(tree) << error.message();
  for (const char* content : {"first", "second"}) {
    ASSERT_FALSE(tree->writeAtomically("a/b/file", content, 0640).has_value());
    EXPECT_EQ(slurp(scratch.path + "/a/b/file"), content);
    EXPECT_EQ(namesIn(scratch.path + "/a/b"), std::set<std::string>{"file"});
    EXPECT_EQ(fs::status(scratch.path + "/a/b/file").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  }
  std::vector<std::string> moved;
  for (int i = 0; i < 3; ++i) {
    ASSERT_FALSE(tree->writeAtomically("a/b/file", std::to_string(i)).has_value());
    std::string to;
    ASSERT_FALSE(tree->moveAside("a/b/file", 1000, &to).has_value());
    moved.push_back(to);
    EXPECT_EQ(slurp(scratch.path + "/" + to), std::to_string(i));
  }
  EXPECT_EQ(moved, (std::vector<std::string>{"a/b/file.corrupt-1000", "a/b/file.corrupt-1000-2",
                                             "a/b/file.corrupt-1000-3"}));
  EXPECT_FALSE(fs::exists(scratch.path + "/a/b/file"));
}

}  // namespace

namespace somnara::pmset {
namespace {

// A burst of five changes, then one a second, whoever asks; what a run
// stores is what the next one reads.
TEST(ChangeBudget, BurstOfFiveThenOneASecond) {
  const struct {
    std::int64_t atMs;
    bool allowed;
  } steps[] = {
      {0, true},     {0, true},     {1, true},   {2, true},     {3, true},  // the burst
      {4, false},    {999, false},                                       // refused attempts cost nothing
      {1003, true},  {1500, false}, {2003, true}, {2003, false},
      {60000, true}, {60000, true}, {60000, true}, {60000, true}, {60000, true}, {60000, false},
  };
  std::string stored;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.atMs);
    ChangeBudget budget = ChangeBudget::fromText(stored, step.atMs);
    EXPECT_EQ(budget.take(step.atMs), step.allowed);
    stored = budget.toText();
  }
}

TEST(ChangeBudget, StoredTextThatCannotBeTrustedIsAFullBudget) {
  const struct {
    const char* text;
    int changes;  // allowed at 10 s
  } cases[] = {
      {"", 5},          {"garbage", 5},    {"-3000 0", 5}, {"1.5 0", 5}, {"1000 10000 trailing", 5},
      {"0 20000", 5},  // stamped later than now: kept from another boot
      {"99000 9000", 5}, {"0 10000", 0},    {"2500 9000", 3}, {"999 10000", 0}, {"0 -9223372036854775807", 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ChangeBudget budget = ChangeBudget::fromText(c.text, 10000);
    int allowed = 0;
    while (budget.take(10000)) ++allowed;
    EXPECT_EQ(allowed, c.changes);
  }
}

}  // namespace
}  // namespace somnara::pmset
