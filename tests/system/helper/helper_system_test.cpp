// pmsethelper run set-user-id root by an unprivileged user, against a
// recording stand-in tool: hostile argument vectors must run nothing; the
// allowed vectors must reach the tool with a clean process state.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "TestProcess.h"

using namespace somnara::testing;

namespace {

const std::string kFixedTool = FIXED_TOOL;
const std::string kLog = RECORDER_LOG;
const std::string kSafePath = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

// What the stand-in tool saw.
struct Record {
  std::vector<std::string> argv;
  std::vector<std::string> env;
  std::string uids, gids, groups, umask, fds, sigBlk, sigIgn;
};

std::optional<Record> readRecord() {
  auto text = readFile(kLog);
  if (!text) return std::nullopt;
  Record r;
  std::istringstream in(*text);
  std::string line;
  while (std::getline(in, line)) {
    auto space = line.find(' ');
    std::string key = line.substr(0, space);
    std::string value = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "argv") r.argv.push_back(value);
    else if (key == "env") r.env.push_back(value);
    else if (key == "uids") r.uids = value;
    else if (key == "gids") r.gids = value;
    else if (key == "groups") r.groups = value;
    else if (key == "umask") r.umask = value;
    else if (key == "fds") r.fds = value;
    else if (key == "SigBlk") r.sigBlk = value;
    else if (key == "SigIgn") r.sigIgn = value;
  }
  return r;
}

class SetuidHelper : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (geteuid() != 0) return;
    std::filesystem::create_directories(std::filesystem::path(kFixedTool).parent_path());
    dir_ = new TempDir();
    helper_ = *dir_ / "pmsethelper";
    copyFile(TESTTOOL_HELPER, helper_, 04755);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to install a set-user-id helper";
    installTool();
    std::filesystem::remove(kLog);
  }
  void TearDown() override { installTool(); }

  static void installTool() {
    std::filesystem::remove(kFixedTool);
    copyFile(RECORDER_BIN, kFixedTool, 0755);
  }

  // argv after argv[0] ("pmsethelper").
  static Launch asNobody(std::vector<std::string> args) {
    Launch l;
    l.program = helper_;
    l.argv = {"pmsethelper"};
    l.argv.insert(l.argv.end(), args.begin(), args.end());
    l.env = std::vector<std::string>{"PATH=/usr/bin:/bin"};
    l.asNobody = true;
    return l;
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::string helper_;
};

// ---- Refused vectors run nothing -------------------------------------------

struct Attack {
  const char* name;
  std::vector<std::string> args;  // after argv[0]
};

// The kernel caps one argument at 32 pages (MAX_ARG_STRLEN, terminator
// included); a 1 MB argument only exists inside a process (see the unit test).
const std::size_t kLargestArgument = 32 * 4096 - 1;

std::vector<Attack> attacks() {
  const std::string mb(kLargestArgument, '1');
  std::string dotted = kFixedTool;
  dotted.insert(dotted.rfind('/'), "/.");
  return {
      {"no arguments", {}},
      {"tool only", {kFixedTool}},
      {"other tool", {"/bin/sh", "hibernatemode", "3"}},
      {"other tool via same file", {dotted, "hibernatemode", "3"}},
      {"tool with trailing slash", {kFixedTool + "/", "hibernatemode", "3"}},
      {"relative tool", {"pmset", "hibernatemode", "3"}},
      {"relative tool path", {kFixedTool.substr(1), "hibernatemode", "3"}},
      {"extra argument", {kFixedTool, "hibernatemode", "3", "extra"}},
      {"extra after force", {kFixedTool, "force", "hibernatemode", "3", "3"}},
      {"force twice", {kFixedTool, "force", "force", "3"}},
      {"unknown command", {kFixedTool, "sleepnow", "3"}},
      {"show settings", {kFixedTool, "-g", "3"}},
      {"option injection", {kFixedTool, "--help", "hibernatemode", "3"}},
      {"value 2", {kFixedTool, "hibernatemode", "2"}},
      {"value 03", {kFixedTool, "hibernatemode", "03"}},
      {"value -1", {kFixedTool, "hibernatemode", "-1"}},
      {"value with space", {kFixedTool, "hibernatemode", "1 "}},
      {"empty value", {kFixedTool, "hibernatemode", ""}},
      {"value 25x", {kFixedTool, "hibernatemode", "25x"}},
      {"value wraps to 1", {kFixedTool, "hibernatemode", "4294967297"}},
      {"largest value", {kFixedTool, "hibernatemode", mb}},
      {"largest tool path", {mb, "hibernatemode", "1"}},
      {"largest word", {kFixedTool, mb, "hibernatemode", "1"}},
      {"largest extra argument", {kFixedTool, "hibernatemode", "1", mb}},
  };
}

TEST_F(SetuidHelper, RefusedVectorsRunNothing) {
  for (const Attack& a : attacks()) {
    SCOPED_TRACE(a.name);
    Outcome o = run(asNobody(a.args));
    EXPECT_EQ(o.exitCode, 64) << o.err;
    EXPECT_NE(o.err.find("refused"), std::string::npos) << o.err;
    EXPECT_FALSE(exists(kLog)) << "the tool ran";
    std::filesystem::remove(kLog);
  }
}

TEST_F(SetuidHelper, LargestArgv0AndMissingArgv0AreRefused) {
  Launch huge = asNobody({kFixedTool, "hibernatemode", "3"});
  huge.argv[0] = std::string(kLargestArgument, 'p');
  Outcome o = run(huge);
  EXPECT_EQ(o.exitCode, 64) << o.err;
  EXPECT_FALSE(exists(kLog));

  Launch none = asNobody({});
  none.argv.clear();  // execve with argc 0
  o = run(none);
  EXPECT_EQ(o.exitCode, 64) << o.err;
  EXPECT_FALSE(exists(kLog));
}

// ---- Allowed vectors reach the tool ------------------------------------------

TEST_F(SetuidHelper, AllowedVectorsRunTheToolWithExactArguments) {
  struct Case {
    std::vector<std::string> words;
    int exitCode;  // the stand-in exits with the mode, "force ... 25" dies of SIGUSR1
  };
  const Case cases[] = {
      {{"hibernatemode", "0"}, 0},          {{"hibernatemode", "1"}, 1},
      {{"hibernatemode", "3"}, 3},          {{"hibernatemode", "25"}, 25},
      {{"force", "hibernatemode", "0"}, 0}, {{"force", "hibernatemode", "1"}, 1},
      {{"force", "hibernatemode", "3"}, 3}, {{"force", "hibernatemode", "25"}, 128 + SIGUSR1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    std::filesystem::remove(kLog);
    std::vector<std::string> args{kFixedTool};
    args.insert(args.end(), c.words.begin(), c.words.end());
    Launch l = asNobody(args);
    l.ignoredSignals = {SIGUSR1};  // the helper must give the tool default dispositions
    Outcome o = run(l);
    EXPECT_EQ(o.exitCode, c.exitCode) << o.err;
    auto rec = readRecord();
    ASSERT_TRUE(rec) << "the tool did not run: " << o.err;
    std::vector<std::string> expected{kFixedTool};
    expected.insert(expected.end(), c.words.begin(), c.words.end());
    EXPECT_EQ(rec->argv, expected);
  }
}

TEST_F(SetuidHelper, HostileCallerStateDoesNotReachTheTool) {
  int extra = ::open("/dev/null", O_RDONLY);
  int extra2 = ::dup2(extra, 9);
  ASSERT_GE(extra, 3);
  ASSERT_EQ(extra2, 9);

  Launch l = asNobody({kFixedTool, "hibernatemode", "3"});
  l.env = std::vector<std::string>{"SOMNARA_ROOT=/tmp/evil-root", "LD_PRELOAD=/tmp/evil.so",
                                   "LD_LIBRARY_PATH=/tmp", "PATH=/tmp/evil:/usr/bin",
                                   "IFS=/", "HOME=/tmp", "GCONV_PATH=/tmp"};
  l.umask = 0;
  l.supplementaryGroups = {100, kNogroup};
  l.extraFds = {extra, 9};
  l.ignoredSignals = {SIGTERM, SIGHUP, SIGCHLD};
  l.blockedSignals = {SIGINT, SIGUSR2};
  Outcome o = run(l);
  ::close(extra);
  ::close(9);

  EXPECT_EQ(o.exitCode, 3) << o.err;
  auto rec = readRecord();
  ASSERT_TRUE(rec) << o.err;
  EXPECT_EQ(rec->env, std::vector<std::string>{kSafePath});
  EXPECT_EQ(rec->uids, "0 0 0");
  EXPECT_EQ(rec->gids, "0 0 0");
  EXPECT_EQ(rec->groups, "0");
  EXPECT_EQ(rec->umask, "0022");
  EXPECT_EQ(rec->fds, "0 1 2");
  EXPECT_EQ(rec->sigBlk, "0000000000000000");
  EXPECT_EQ(rec->sigIgn, "0000000000000000");
}

TEST_F(SetuidHelper, ClosedStandardDescriptorsAreReopened) {
  Launch l = asNobody({kFixedTool, "force", "hibernatemode", "1"});
  l.closeStandardFds = true;
  Outcome o = run(l);
  EXPECT_EQ(o.exitCode, 1);
  auto rec = readRecord();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->fds, "0 1 2");
}

// ---- The tool file must be trustworthy ------------------------------------------

TEST_F(SetuidHelper, UntrustworthyToolIsNotRun) {
  struct Case {
    const char* name;
    void (*prepare)();
    int exitCode;
  };
  const Case cases[] = {
      {"group-writable", [] { ::chmod(kFixedTool.c_str(), 0775); }, 65},
      {"other-writable", [] { ::chmod(kFixedTool.c_str(), 0757); }, 65},
      {"owned by nobody",
       [] { ASSERT_EQ(::chown(kFixedTool.c_str(), kNobody, kNogroup), 0); }, 65},
      {"symlink to the real tool",
       [] {
         std::string real = kFixedTool + ".real";
         std::filesystem::rename(kFixedTool, real);
         std::filesystem::create_symlink(real, kFixedTool);
       },
       65},
      {"directory",
       [] {
         std::filesystem::remove(kFixedTool);
         std::filesystem::create_directory(kFixedTool);
       },
       65},
      {"missing", [] { std::filesystem::remove(kFixedTool); }, 127},
      {"not executable", [] { ::chmod(kFixedTool.c_str(), 0644); }, 126},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    installTool();
    std::filesystem::remove(kLog);
    c.prepare();
    Outcome o = run(asNobody({kFixedTool, "hibernatemode", "3"}));
    EXPECT_EQ(o.exitCode, c.exitCode) << o.err;
    EXPECT_FALSE(o.err.empty());
    EXPECT_FALSE(exists(kLog)) << "the tool ran";
    std::filesystem::remove_all(kFixedTool);
    std::filesystem::remove(kFixedTool + ".real");
  }
}

// ---- Without privileges -------------------------------------------------------

TEST_F(SetuidHelper, WithoutPrivilegesKeepsEnvironmentButNotDescriptors) {
  // The build output is not set-user-id: run by root it has no extra privileges.
  int extra = ::dup2(STDERR_FILENO, 11);
  ASSERT_EQ(extra, 11);
  Launch l;
  l.program = TESTTOOL_HELPER;
  l.argv = {"pmsethelper", kFixedTool, "hibernatemode", "0"};
  l.env = std::vector<std::string>{"SOMNARA_ROOT=/tmp/fake-root", "PATH=/usr/bin:/bin"};
  l.umask = 027;
  l.extraFds = {11};
  Outcome o = run(l);
  ::close(11);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  auto rec = readRecord();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->env, (std::vector<std::string>{"SOMNARA_ROOT=/tmp/fake-root", "PATH=/usr/bin:/bin"}));
  EXPECT_EQ(rec->umask, "0027");
  EXPECT_EQ(rec->fds, "0 1 2");

  // Closed standard descriptors are reopened here too (no secure-execution
  // start-up does it for us).
  std::filesystem::remove(kLog);
  l.extraFds.clear();
  l.closeStandardFds = true;
  o = run(l);
  EXPECT_EQ(o.exitCode, 0);
  rec = readRecord();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->fds, "0 1 2");
  l.closeStandardFds = false;

  // The allow-list holds without privileges too.
  std::filesystem::remove(kLog);
  l.extraFds.clear();
  l.argv = {"pmsethelper", kFixedTool, "hibernatemode", "2"};
  o = run(l);
  EXPECT_EQ(o.exitCode, 64);
  EXPECT_FALSE(exists(kLog));
}

}  // namespace
