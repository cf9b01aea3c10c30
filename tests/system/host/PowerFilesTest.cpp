// Power sources and power manager read from a fake machine root.
#include <gtest/gtest.h>

#include <QDir>

#include <map>

#include "TestSupport.h"
#include "host/linux/LinuxPowerManager.h"
#include "host/linux/SysfsPowerSources.h"

namespace somnara::linuxhost {
namespace {

using test::spinUntil;
using test::TempTree;
using test::writeFile;
using Attributes = std::map<std::string, std::string>;
using Snapshot = host::PowerSources::Snapshot;

void makeSupply(const TempTree& root, const std::string& name, const Attributes& attributes) {
  const std::string dir = root / ("sys/class/power_supply/" + name);
  QDir().mkpath(QString::fromStdString(dir));
  for (const auto& [file, text] : attributes) writeFile(dir + "/" + file, text + "\n");
}

Dictionary battery(long long capacity, long long minutes) {
  return Dictionary{{"Current Capacity", Value(capacity)}, {"Time to Empty", Value(minutes)}};
}

TEST(SysfsPowerSources, ReadingsFromSupplyAttributes) {
  struct Case {
    const char* what;
    std::map<std::string, Attributes> supplies;
    Snapshot expected;
    bool external;
  };
  const std::vector<Case> cases = {
      {"capacity above 100 is clamped; time_to_empty_now is seconds",
       {{"BAT0", {{"type", "Battery"}, {"capacity", "130"}, {"status", "Discharging"}, {"time_to_empty_now", "3660"}}}},
       {battery(100, 61)},
       false},
      {"negative capacity is clamped; charging has no time to empty",
       {{"BAT0", {{"type", "Battery"}, {"capacity", "-5"}, {"status", "Charging"}, {"time_to_empty_now", "600"}}},
        {"AC", {{"type", "Mains"}, {"online", "1"}}}},
       {battery(0, -1)},
       true},
      {"energy over power when no time is reported",
       {{"BAT0",
         {{"type", "Battery"}, {"capacity", "50"}, {"status", "Discharging"}, {"energy_now", "30000000"},
          {"power_now", "15000000"}}}},
       {battery(50, 120)},
       false},
      {"charge over a negative current when energy is missing",
       {{"BAT0",
         {{"type", "Battery"}, {"capacity", "20"}, {"status", "Discharging"}, {"charge_now", "2000000"},
          {"current_now", "-4000000"}}}},
       {battery(20, 30)},
       false},
      {"zero time and zero power fall through to charge",
       {{"BAT0",
         {{"type", "Battery"}, {"capacity", "40"}, {"status", "Discharging"}, {"time_to_empty_now", "0"},
          {"energy_now", "1000"}, {"power_now", "0"}, {"charge_now", "1000000"}, {"current_now", "1000000"}}}},
       {battery(40, 60)},
       false},
      {"discharging without any rate is unknown",
       {{"BAT0", {{"type", "Battery"}, {"capacity", "70"}, {"status", "Discharging"}}}},
       {battery(70, -1)},
       false},
      {"full battery is not discharging",
       {{"BAT0",
         {{"type", "Battery"}, {"capacity", "100"}, {"status", "Full"}, {"energy_now", "1"}, {"power_now", "1"}}},
        {"AC", {{"type", "Mains"}, {"online", "0"}}}},
       {battery(100, -1)},
       false},
      {"unreadable capacity gives no description; sources in name order",
       {{"BAT1", {{"type", "Battery"}, {"capacity", "88"}, {"status", "Unknown"}}},
        {"BAT0", {{"type", "Battery"}, {"capacity", "n/a"}, {"status", "Discharging"}}}},
       {std::nullopt, battery(88, -1)},
       false},
      {"mains and a mouse battery: no sources, on external power",
       {{"ADP1", {{"type", "Mains"}, {"online", "1"}}},
        {"hid-mouse", {{"type", "Battery"}, {"scope", "Device"}, {"capacity", "5"}}}},
       {},
       true},
      {"no supplies at all: empty list, external power assumed", {}, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempTree root;
    QDir().mkpath(QString::fromStdString(root / "sys/class/power_supply"));
    for (const auto& [name, attributes] : c.supplies) makeSupply(root, name, attributes);
    SysfsPowerSources sources{MachineRoot(root.path())};
    ASSERT_TRUE(sources.snapshot().has_value());
    EXPECT_EQ(*sources.snapshot(), c.expected);
    EXPECT_EQ(sources.onExternalPower(), c.external);
  }
}

TEST(SysfsPowerSources, NoPowerSupplyDirectoryGivesNoSnapshot) {
  TempTree root;
  SysfsPowerSources sources{MachineRoot(root.path())};
  EXPECT_FALSE(sources.snapshot().has_value());
}

TEST(SysfsPowerSources, ReportsChangedReadingsOnlyAndStopsWhenReleased) {
  TempTree root;
  makeSupply(root, "BAT0", {{"type", "Battery"}, {"capacity", "80"}, {"status", "Discharging"}});
  // A long poll: only the file change notice can report within the test.
  SysfsPowerSources sources{MachineRoot(root.path()), std::chrono::hours(1)};
  int calls = 0;
  auto registration = sources.observeChanges([&] { ++calls; });
  ASSERT_NE(registration, nullptr);
  const std::string capacity = root / "sys/class/power_supply/BAT0/capacity";

  writeFile(capacity, "80\n");  // same reading
  test::spinFor(std::chrono::milliseconds(300));
  EXPECT_EQ(calls, 0);

  writeFile(capacity, "79\n");
  EXPECT_TRUE(spinUntil([&] { return calls == 1; }));
  EXPECT_EQ(integerOrZero((*sources.snapshot())[0]->at("Current Capacity")), 79);

  registration.reset();
  writeFile(capacity, "78\n");
  test::spinFor(std::chrono::milliseconds(300));
  EXPECT_EQ(calls, 1);
}

TEST(SysfsPowerSources, PollCatchesChangesWithoutFileNotices) {
  TempTree root;
  makeSupply(root, "BAT0", {{"type", "Battery"}, {"capacity", "60"}, {"status", "Discharging"}});
  SysfsPowerSources sources{MachineRoot(root.path()), std::chrono::milliseconds(100)};
  int calls = 0;
  auto registration = sources.observeChanges([&] { ++calls; });
  // New attribute files inside the battery directory raise no watched event.
  makeSupply(root, "BAT0", {{"energy_now", "6000"}, {"power_now", "3000"}});
  EXPECT_TRUE(spinUntil([&] { return calls == 1; }, std::chrono::seconds(2)));
  EXPECT_EQ(integerOrZero((*sources.snapshot())[0]->at("Time to Empty")), 120);
}

TEST(LinuxPowerManager, MachineFiles) {
  struct Case {
    const char* what;
    std::optional<std::string> state;
    std::optional<std::string> hibernatemode;
    bool sleepEnabled;
    std::optional<Value> mode;
  };
  const std::vector<Case> cases = {
      {"suspend offered; integer mode", "freeze mem disk\n", "3\n", true, Value(3)},
      {"hibernate only; padded mode", "disk", "  25 \n", true, Value(25)},
      {"only freeze; mode not a number", "freeze\n", "deep\n", false, Value("deep")},
      {"words only match whole", "memory diskette\n", "12abc", false, Value("12abc")},
      {"no state file; no mode file", std::nullopt, std::nullopt, false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempTree root;
    QDir().mkpath(QString::fromStdString(root / "sys/power"));
    QDir().mkpath(QString::fromStdString(root / "run/somnara"));
    if (c.state) writeFile(root / "sys/power/state", *c.state);
    if (c.hibernatemode) writeFile(root / "run/somnara/hibernatemode", *c.hibernatemode);
    LinuxPowerManager pm{MachineRoot(root.path())};
    EXPECT_EQ(pm.sleepEnabled(), c.sleepEnabled);
    EXPECT_EQ(pm.rootDomainProperty("Hibernate Mode"), c.mode);
    EXPECT_FALSE(pm.rootDomainProperty("Other Key").has_value());
  }
}

TEST(LinuxPowerManager, SavedSettingsBytesOrReason) {
  TempTree root;
  LinuxPowerManager pm{MachineRoot(root.path())};
  std::string error;
  EXPECT_FALSE(pm.savedSettings(&error).has_value());
  EXPECT_NE(error.find("etc/somnara/PowerManagement.plist"), std::string::npos) << error;

  QDir().mkpath(QString::fromStdString(root / "etc/somnara"));
  const std::string bytes("bplist00\0\x01binary", 16);
  writeFile(root / "etc/somnara/PowerManagement.plist", bytes);
  EXPECT_EQ(pm.savedSettings(nullptr), bytes);
}

}  // namespace
}  // namespace somnara::linuxhost
