// Login items as XDG autostart entries, the desktop-entry reader and bundle
// launching, against real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "TestSupport.h"
#include "host/linux/BundleApplications.h"
#include "host/linux/DesktopEntry.h"
#include "host/linux/XdgAutostartLoginItems.h"

namespace somnara::linuxhost {
namespace {

// A bundle whose program is a shell script that sleeps.
std::string makeBundle(const TempTree& tree, const std::string& rel, const std::string& id, const std::string& name) {
  const std::string bundle = tree / rel;
  writeFile(bundle + "/Contents/Info.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>CFBundleIdentifier</key><string>" + id + "</string>"
            "<key>CFBundleName</key><string>" + name + "</string>"
            "<key>CFBundleExecutable</key><string>" + name + "</string></dict></plist>\n");
  const std::string program = bundle + "/Contents/MacOS/" + name;
  writeFile(program, "#!/bin/sh\nexec sleep 30\n");
  ::chmod(program.c_str(), 0755);
  return bundle;
}

TEST(DesktopEntry, ReaderTakesTheEntryGroupAndTheExecProgram) {
  const auto e = DesktopEntry::parse(
      "# comment\n[Other]\nExec=wrong\n[Desktop Entry]\n Type = Application\r\nName[de]=X\nName=A\\sB\nName=second\n"
      "Exec=\"/a b/\\\\\"q\\\\\".app/Contents/MacOS/p\" %U\n");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->value("Type"), "Application");
  EXPECT_EQ(e->value("Name"), "A B") << "first value of a repeated key counts";
  EXPECT_EQ(DesktopEntry::execProgram(*e->value("Exec")), "/a b/\"q\".app/Contents/MacOS/p");
  EXPECT_FALSE(DesktopEntry::parse("Type=Application\n")) << "no entry group";
  EXPECT_FALSE(DesktopEntry::parse(std::string("[Desktop Entry]\nExec=a\0b\n", 24)));

  const std::pair<std::string, std::optional<std::string>> execs[] = {
      {"/usr/bin/prog --flag", "/usr/bin/prog"}, {"  \"/unclosed", std::nullopt}, {"", std::nullopt},
      {"%f", std::nullopt},                       {"/100%%/p", "/100%/p"},       {"\"\"", std::nullopt},
  };
  for (const auto& [exec, program] : execs) EXPECT_EQ(DesktopEntry::execProgram(exec), program) << exec;
}

TEST(DesktopEntry, WrittenArgumentsReadBackUnchanged) {
  for (const std::string arg : {"/plain", "/with space/x", "/q\"uote/b\\ack/$d/`t`/100%"}) {
    const auto written = DesktopEntry::execArgument(arg);
    ASSERT_TRUE(written);
    const auto entry = DesktopEntry::parse("[Desktop Entry]\nExec=" + *written + "\n");
    EXPECT_EQ(DesktopEntry::execProgram(*entry->value("Exec")), arg);
  }
  EXPECT_FALSE(DesktopEntry::execArgument("/new\nline"));
}

struct AutostartTest : ::testing::Test {
  TempTree tree;
  std::string dir = tree / "config/autostart";
  std::string agent = makeBundle(tree, "Somnara.app/Contents/Library/LoginItems/Somnara MenuBar.app",
                                 "de.orvane.Somnara.MenuBar", "Somnara MenuBar");
  XdgAutostartLoginItems items{dir};

  std::vector<std::optional<std::string>> resolved() {
    std::vector<std::optional<std::string>> out;
    const auto list = items.snapshot();
    for (const auto& item : *list) out.push_back(item.bundlePath);
    return out;
  }
};

// The entry the preferences program writes (valid, never Hidden=, resolving to
// its bundle) is checked by the preferences suite with desktop-file-validate.
TEST_F(AutostartTest, DisabledOrStaleEntriesDoNotResolveAndOtherBundlesKeepTheirNames) {
  const std::string other = makeBundle(tree, "Old.app/Contents/Library/LoginItems/M.app", "de.orvane.Somnara.MenuBar", "M");
  const std::string exec = *DesktopEntry::execArgument(agent + "/Contents/MacOS/Somnara MenuBar");
  const std::string head = "[Desktop Entry]\nType=Application\nName=x\nExec=";
  writeFile(dir + "/a-hidden.desktop", head + exec + "\nHidden=true\n");
  writeFile(dir + "/b-gnome-off.desktop", head + exec + "\nX-GNOME-Autostart-enabled=false\n");
  writeFile(dir + "/c-gone.desktop", head + "/nowhere/X.app/Contents/MacOS/X\n");
  writeFile(dir + "/d-garbage.desktop", std::string(100, '\xff'));
  writeFile(dir + "/de.orvane.Somnara.MenuBar.desktop", head + *DesktopEntry::execArgument(other + "/Contents/MacOS/M") + "\n");
  writeFile(dir + "/e-on.desktop", head + exec + "\n");
  writeFile(dir + "/notes.txt", "not an entry");
  EXPECT_EQ(resolved(), (std::vector<std::optional<std::string>>{std::nullopt, std::nullopt, std::nullopt,
                                                                 std::nullopt, other, agent}));
  ASSERT_EQ(items.insertLast("Somnara MenuBar", agent, true), std::nullopt);
  EXPECT_EQ(XdgAutostartLoginItems::resolve(dir + "/de.orvane.Somnara.MenuBar.desktop"), other)
      << "another copy's entry stays";
  EXPECT_EQ(XdgAutostartLoginItems::resolve(dir + "/de.orvane.Somnara.MenuBar-2.desktop"), agent);
}

// A place that cannot hold entries is no list, and writing there says where.
TEST_F(AutostartTest, DirectoryThatIsAFileGivesAClearAnswer) {
  writeFile(tree / "config/file", "x");
  XdgAutostartLoginItems onFile{tree / "config/file"};
  EXPECT_FALSE(onFile.snapshot());
  const auto error = onFile.insertLast("A", agent, true);
  ASSERT_TRUE(error);
  EXPECT_NE(error->find(tree / "config/file"), std::string::npos) << *error;
}

TEST(BundleApplications, LaunchesTheBundleProgramAndReportsWhatIsMissing) {
  TempTree tree;
  const std::string bundle = makeBundle(tree, "A.app", "org.example.A", "A");
  BundleApplications apps;
  EXPECT_EQ(apps.bundleAt(bundle)->identifier, "org.example.A");
  EXPECT_EQ(apps.bundleAt(bundle)->name, "A");
  EXPECT_FALSE(apps.bundleAt(tree / "A.app/Contents"));
  const auto launched = apps.launchApplication(bundle);
  ASSERT_TRUE(launched.pid) << launched.error;
  EXPECT_EQ(::kill(*launched.pid, SIGKILL), 0);
  ::unlink((bundle + "/Contents/MacOS/A").c_str());
  EXPECT_FALSE(apps.launchApplication(bundle).pid);
  EXPECT_FALSE(apps.launchApplication(tree / "none.app").pid);
}

}  // namespace
}  // namespace somnara::linuxhost
