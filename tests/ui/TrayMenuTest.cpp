// The tray menu's bindings and commands, on the simulated machine with Qt's
// offscreen platform (which has no status area, so the icon itself waits).
#include <QAction>
#include <QColor>
#include <QImage>
#include <QPalette>
#include <set>
#include <QApplication>
#include <QMenu>
#include <QSlider>
#include <QWidgetAction>

#include "../sim/MenuBarAgentSupport.h"
#include "menubar/StatusImages.h"
#include "menubar/TrayStatusItem.h"

namespace somnara::sim::testing {
namespace {

QMenu* menuHolding(const QString& text) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* menu = qobject_cast<QMenu*>(w))
      for (QAction* a : menu->actions())
        if (a->text() == text) return menu;
  return nullptr;
}

QAction* action(QMenu* menu, const QString& prefix) {
  for (QAction* a : menu->actions())
    if (a->text().startsWith(prefix)) return a;
  return nullptr;
}

class TrayMenu : public ::testing::Test {
 protected:
  void SetUp() override {
    tray = std::make_unique<TrayStatusItem>(program.context(), program.agentPorts().trayHosts);
    delegate = std::make_unique<MenuBarAppDelegate>(program.context(), program.agentPorts(), *tray);
    tray->connectMenu(*delegate);
    delegate->awakeFromNib();
    machine.runPending();
    menu = menuHolding("Sleep Now");
    ASSERT_NE(menu, nullptr);
    lengths = menuHolding("2 Hours");
    ASSERT_NE(lengths, nullptr);
  }
  void TearDown() override {
    // The menu follows the delegate: it goes first.
    tray.reset();
    delegate.reset();
  }

  SimMachine machine;
  SimProgram& program = machine.addProgram(kAgent);
  std::unique_ptr<TrayStatusItem> tray;
  std::unique_ptr<MenuBarAppDelegate> delegate;
  QMenu* menu = nullptr;
  QMenu* lengths = nullptr;
};

TEST_F(TrayMenu, TheStatusLineFollowsTheControllerAndIsNeverEnabled) {
  QAction* status = menu->actions().front();
  EXPECT_EQ(status->text(), "Machine will sleep and hibernate on sleep");
  EXPECT_FALSE(status->isEnabled());
  setHibernateMode(machine, 0);
  delegate->sharedSomnaraDaemon()->receivedMessage(kMessageStateApplied, std::nullopt);
  EXPECT_EQ(status->text(), "Machine will sleep on sleep");
  EXPECT_FALSE(status->isEnabled());
}

// Where the machine cannot hibernate, the commands that need it are greyed
// out each time the menu opens; they return when it can again.
TEST_F(TrayMenu, SleepNowCommandsTheMachineCannotDoAreGreyedOut) {
  using powertool::SleepAbility;
  using powertool::SleepBlocker;
  auto enabled = [&] {
    emit menu->aboutToShow();
    return std::vector<bool>{action(menu, "Sleep Now")->isEnabled(), action(menu, "Hibernate Now")->isEnabled(),
                             action(menu, "Sleep and Hibernate Now")->isEnabled()};
  };
  EXPECT_EQ(enabled(), (std::vector<bool>{true, true, true}));
  machine.state().setSleepCapabilities({SleepAbility::yes(), SleepAbility::yes(), {SleepBlocker::NotOffered}});
  EXPECT_EQ(enabled(), (std::vector<bool>{true, true, false}));
  machine.state().setSleepCapabilities({SleepAbility::yes(), {SleepBlocker::NoSwap}, {SleepBlocker::NoSwap}});
  EXPECT_EQ(enabled(), (std::vector<bool>{true, false, false}));
  machine.state().setSleepCapabilities(powertool::SleepCapabilities::all());
  EXPECT_EQ(enabled(), (std::vector<bool>{true, true, true}));
}

TEST_F(TrayMenu, InsomniaItemsFollowTheDelegateAndSendItTheirCommands) {
  QAction* insomnia = action(menu, "Start Insomnia");
  ASSERT_NE(insomnia, nullptr);
  insomnia->trigger();
  EXPECT_TRUE(delegate->hasInsomnia());
  EXPECT_EQ(insomnia->text(), "Stop Insomnia");

  action(lengths, "2 Hours")->trigger();
  EXPECT_EQ(delegate->insomniaTimeInterval(), 7200.0);
  EXPECT_EQ(lengths->title(), "Insomnia length (2.00 hours)");
  machine.advance(60s);
  emit menu->aboutToShow();
  EXPECT_EQ(insomnia->text(), "Stop Insomnia (stops in 119.00 minutes)") << "opening refreshes the time left";
  emit menu->aboutToHide();

  action(lengths, "Until Stopped")->trigger();
  EXPECT_EQ(lengths->title(), "Insomnia length (forever)");
  insomnia->trigger();
  EXPECT_FALSE(delegate->hasInsomnia());
  EXPECT_EQ(insomnia->text(), "Start Insomnia");
}

TEST_F(TrayMenu, TheSliderWritesItsSettingAndShowsTheLengthInForce) {
  QSlider* slider = nullptr;
  for (QAction* a : lengths->actions())
    if (auto* w = qobject_cast<QWidgetAction*>(a)) slider = w->defaultWidget()->findChild<QSlider*>();
  ASSERT_NE(slider, nullptr);
  EXPECT_EQ(countLog(program, "-[MenuBarAppDelegate awakeFromNib]", "sliderTimerMenuItem:<QWidgetAction", true), 1);

  slider->setValue(1800);
  EXPECT_EQ(program.defaults().value("insomniaslidervalue"), Value(1800.0));
  machine.runPending();
  EXPECT_EQ(delegate->insomniaTimeInterval(), 1800.0);
  EXPECT_FALSE(delegate->hasInsomnia()) << "the slider never starts Insomnia";

  action(lengths, "4 Hours")->trigger();
  machine.runPending();
  EXPECT_EQ(slider->value(), 14400) << "a preset moves the slider";
  EXPECT_EQ(program.defaults().value("insomniaslidervalue"), Value(1800.0)) << "without writing the slider's setting";

  slider->setValue(1800);  // back to the length the setting holds already
  machine.runPending();
  EXPECT_EQ(delegate->insomniaTimeInterval(), 1800.0);
  EXPECT_EQ(lengths->title(), "Insomnia length (30.00 minutes)");
}

TEST_F(TrayMenu, SleepNowEndsInTheSleepRequest) {
  action(menu, "Sleep Now")->trigger();
  EXPECT_EQ(machine.state().sleepRequests().size(), 1u);
  EXPECT_EQ(hibernateMode(machine), 0);
}

TEST_F(TrayMenu, WithoutAStatusAreaTheIconWaitsAndSaysSoOnce) {
  EXPECT_EQ(countLog(program, "-[TrayStatusItem show]",
                     "No status area (system tray) on this desktop yet - waiting for one"),
            1);
}

TEST(StatusImagesTest, SingleColourImagesTakeTheThemesTextColourAndColourImagesStayAsDrawn) {
  QPalette palette = QApplication::palette();
  palette.setColor(QPalette::WindowText, QColor(250, 240, 10));
  QApplication::setPalette(palette);
  StatusImages images(std::string(SOMNARA_ICONS_DIR));
  for (const char* name : {kSleepImage, kHibernateImage, kHibernateSleepImage, kInsomniaImage}) {
    SCOPED_TRACE(name);
    for (bool monochrome : {false, true}) {
      const QImage image = images.icon(name, monochrome).pixmap(22, 22).toImage();
      ASSERT_FALSE(image.isNull());
      std::set<QRgb> opaque;
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
          if (qAlpha(image.pixel(x, y)) == 255) opaque.insert(image.pixel(x, y) & 0xffffff);
      ASSERT_FALSE(opaque.empty());
      if (monochrome)
        EXPECT_EQ(opaque, std::set<QRgb>{0xfaf00a});
      else
        EXPECT_GT(opaque.size(), 1u);
    }
  }
  EXPECT_TRUE(StatusImages(std::nullopt).icon(kSleepImage, false).isNull());
  EXPECT_TRUE(StatusImages(std::string(SOMNARA_ICONS_DIR)).icon("Somnara-Menu-Icon-None", true).isNull());
}

}  // namespace
}  // namespace somnara::sim::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
