// pmsethelper-repair on real files: what it changes and what it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "TestProcess.h"

using namespace somnara::testing;

namespace {

struct stat statOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

Outcome repair(std::vector<std::string> args, bool asNobody = false, std::string cwd = "") {
  Launch l;
  l.program = REPAIR_BIN;
  l.argv = {"pmsethelper-repair"};
  l.argv.insert(l.argv.end(), args.begin(), args.end());
  l.asNobody = asNobody;
  l.workingDirectory = std::move(cwd);
  return run(l);
}

class Repair : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
  }
  // A file owned by nobody:nogroup with the given mode.
  std::string makeFile(const std::string& name, mode_t mode) {
    std::string path = dir_ / name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    writeFile(path, "#!/bin/false\n", 0600);
    EXPECT_EQ(::chown(path.c_str(), kNobody, kNogroup), 0);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return path;
  }
  TempDir dir_;
};

TEST_F(Repair, GivesRootOwnershipAndSetIdBits) {
  struct Case {
    mode_t before;
    mode_t after;
  };
  // A file that already carried set-id bits under another owner must keep
  // them: chown (which clears them) has to come before chmod.
  const Case cases[] = {
      {0755, 06755}, {0775, 06755}, {0777, 06755}, {04755, 06755},
      {06775, 06755}, {0700, 06700}, {0750, 06750},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::oct << c.before);
    std::string path = makeFile("pmsethelper", c.before);
    Outcome o = repair({path});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    struct stat st = statOf(path);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, 0u);
    EXPECT_EQ(st.st_mode & 07777, c.after);
    EXPECT_TRUE(S_ISREG(st.st_mode));
  }
}

TEST_F(Repair, RefusesAnythingButASingleLinkedRegularFileNamedPmsethelper) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
  };
  std::string target = makeFile("target/pmsethelper", 0755);
  std::string link = dir_ / "link/pmsethelper";
  std::filesystem::create_directories(dir_ / "link");
  std::filesystem::create_symlink(target, link);
  std::string hard = makeFile("hard/pmsethelper", 0755);
  std::filesystem::create_hard_link(hard, dir_ / "hard/other");
  std::string wrongName1 = makeFile("a/pmsethelper2", 0755);
  std::string wrongName2 = makeFile("b/Pmsethelper", 0755);
  std::string wrongName3 = makeFile("c/pmsethelper.bak", 0755);
  std::string directory = dir_ / "d/pmsethelper";
  std::filesystem::create_directories(directory);
  std::string fifo = dir_ / "f/pmsethelper";
  std::filesystem::create_directories(dir_ / "f");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  std::string relativeDir = dir_ / "r";
  makeFile("r/pmsethelper", 0755);

  const Case cases[] = {
      {"no argument", {}},
      {"two arguments", {target, target}},
      {"symlink", {link}},
      {"hard link", {hard}},
      {"name with suffix", {wrongName1}},
      {"name case differs", {wrongName2}},
      {"backup name", {wrongName3}},
      {"trailing slash", {target + "/"}},
      {"directory", {directory}},
      {"fifo", {fifo}},
      {"missing", {dir_ / "missing/pmsethelper"}},
      {"relative", {"pmsethelper"}},
      {"dot relative", {"./pmsethelper"}},
  };
  const std::string watched[] = {target, hard, wrongName1, wrongName2, wrongName3,
                                 relativeDir + "/pmsethelper"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome o = repair(c.args, false, relativeDir);
    EXPECT_EQ(o.exitCode, 2) << o.err;
    EXPECT_FALSE(o.err.empty());
    for (const std::string& path : watched) {
      struct stat st = statOf(path);
      EXPECT_EQ(st.st_uid, kNobody) << path;
      EXPECT_EQ(st.st_mode & 07777, 0755u) << path;
    }
  }
}

TEST_F(Repair, WithoutRootTheChownFailsWithItsOwnStatus) {
  std::string path = makeFile("pmsethelper", 0755);
  Outcome o = repair({path}, /*asNobody=*/true);
  EXPECT_EQ(o.exitCode, 3) << o.err;
  struct stat st = statOf(path);
  EXPECT_EQ(st.st_uid, kNobody);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
}

}  // namespace
