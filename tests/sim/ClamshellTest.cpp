// The lid watch: readings, reactions during Insomnia with the lid-closed
// service, the display probe window.
#include "MenuBarAgentSupport.h"

namespace somnara::sim::testing {
namespace {

struct Clamshell : ::testing::Test, Laptop {
  void SetUp() override { agent.start(); }
  std::size_t passes() { return machine.desktop().probePasses().size(); }
  std::size_t plays() { return machine.desktop().plays().size(); }
};

TEST_F(Clamshell, ClosingDuringInsomniaWithTheDriverPlaysOnceAndProbesFiveTimes) {
  EXPECT_EQ(agent.delegate.clamshellstate(), 2);
  EXPECT_FALSE(agent.delegate.hasClamshellChangedTimer()) << "the first reading at start-up is only recorded";
  EXPECT_EQ(plays(), 0u);
  agent.delegate.setInsomnia(true);
  lid(true);
  EXPECT_EQ(plays(), 1u);
  EXPECT_FLOAT_EQ(machine.desktop().plays()[0].volume, 0.2f);
  EXPECT_EQ(agent.delegate.clamshellChangedDate(), agent.program.loop().now() + 10.0);
  machine.advance(30s);
  EXPECT_EQ(passes(), 5u) << "at 2, 4, 6, 8 and 10 s";
  EXPECT_FALSE(agent.delegate.hasClamshellChangedTimer());
  EXPECT_EQ(agent.delegate.clamshellChangedDate(), std::nullopt);

  lid(false);
  EXPECT_EQ(plays(), 1u) << "opening plays nothing";
  EXPECT_TRUE(agent.delegate.hasClamshellChangedTimer()) << "but starts a window";
}

TEST_F(Clamshell, TwoChangesFourSecondsApartShareOneTimerAndEndTenSecondsAfterTheSecond) {
  agent.delegate.setInsomnia(true);
  const auto start = machine.elapsed();
  lid(true);
  machine.advance(4s);
  lid(false);
  EXPECT_EQ(agent.delegate.clamshellChangedDate(), agent.program.loop().now() + 10.0);
  machine.advance(9s);
  EXPECT_TRUE(agent.delegate.hasClamshellChangedTimer());
  machine.advance(1s);
  EXPECT_FALSE(agent.delegate.hasClamshellChangedTimer());
  EXPECT_EQ(machine.elapsed() - start, 14s);
  EXPECT_EQ(passes(), 7u) << "one timer: a pass every 2 s from the first change until 14 s";
  machine.advance(60s);
  EXPECT_EQ(passes(), 7u);
}

TEST(ClamshellQuiet, ALidChangeWithoutInsomniaOrDriverIsOnlyRecorded) {
  for (const auto& [insomnia, driver] : {std::pair{false, false}, {false, true}, {true, false}}) {
    SCOPED_TRACE(::testing::Message() << insomnia << driver);
    Laptop t;
    t.machine.desktop().setDriverServices(driver ? 1 : 0);
    t.agent.start();
    if (insomnia) t.delegate().setInsomnia(true);
    t.lid(true);
    EXPECT_EQ(t.delegate().clamshellstate(), 1);
    EXPECT_FALSE(t.delegate().hasClamshellChangedTimer());
    EXPECT_TRUE(t.machine.desktop().plays().empty());
  }
}

TEST_F(Clamshell, NoReadingReadsZeroAndALaterReadingIsAChange) {
  agent.delegate.setInsomnia(true);
  lid(std::nullopt);
  EXPECT_EQ(agent.delegate.clamshellstate(), 0);
  EXPECT_EQ(plays(), 0u);
  lid(true);
  EXPECT_EQ(agent.delegate.clamshellstate(), 1);
  EXPECT_EQ(plays(), 0u) << "the sound marks open to closed only";
  EXPECT_TRUE(agent.delegate.hasClamshellChangedTimer());
}

TEST_F(Clamshell, TheProbeSettingIsReadAtEachPassAndAtMostSixtyFourDisplaysAreProbed) {
  machine.desktop().setActiveDisplays(70);
  agent.delegate.setInsomnia(true);
  lid(true);
  agent.delegate.setInsomnia(false);  // the window stays
  machine.advance(4s);
  ASSERT_EQ(passes(), 2u);
  EXPECT_EQ(machine.desktop().probePasses()[0], 64u);
  agent.program.defaults().setValue("disableinsomniadisplaydetection", Value(true));
  machine.advance(10s);
  EXPECT_EQ(passes(), 2u) << "no probing once switched off";
  EXPECT_FALSE(agent.delegate.hasClamshellChangedTimer()) << "the window still ends";
}

}  // namespace
}  // namespace somnara::sim::testing
