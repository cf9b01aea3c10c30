// The settings window on the simulated machine, offscreen: bindings, keyboard
// and accessibility, fitting small and high-density screens (tests/ui/*.json).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QStyleFactory>
#include <QRegularExpression>
#include <QTextDocument>

#include <functional>
#include <map>

#include "../sim/SimControllerSupport.h"
#include "DarkPalette.h"
#include "Application/Classes/PreferencesWindow.h"
#include "Application/Classes/ReadableColor.h"
#include "Application/Classes/Somnara_AppDelegate.h"

// Test names show a screen size as WxH.
void PrintTo(const QSize& size, std::ostream* out) { *out << size.width() << "x" << size.height(); }

namespace somnara::sim::testing {
namespace {

// Small screens every window must fit, in logical pixels.
const QSize kNetbook(1024, 600), kLaptop(1366, 768);
// The tallest minimum a window may have to fit a 1024×600 screen with a panel.
constexpr int kMostMinimumHeight = 560;

/// The configured screen of this logical size; null when the run has none.
QScreen* screenOfSize(QSize size) {
  for (QScreen* s : QGuiApplication::screens())
    if (s->size() == size) return s;
  return nullptr;
}

QString withoutMnemonic(QString text) { return text.remove(QRegularExpression("&(?=.)")); }

/// The words a label shows, as plain text without mnemonic marks.
QString shownText(const QLabel* label) {
  if (label->textFormat() != Qt::RichText) return withoutMnemonic(label->text());
  QTextDocument document;
  document.setHtml(label->text());
  return document.toPlainText();
}


QString accessibleName(QWidget* w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name); }

/// Whether a widget around w cuts it off (beyond a scroll area's viewport: at the left or right only).
bool cutByAncestor(QWidget* w, QWidget* window) {
  bool scrolled = false;
  for (QWidget* outer = w->parentWidget(); outer && outer != window->parentWidget(); outer = outer->parentWidget()) {
    const QRect inside(w->mapTo(outer, QPoint()), w->size());
    auto* area = qobject_cast<QAbstractScrollArea*>(outer->parentWidget());
    scrolled = scrolled || (area && area->viewport() == outer);
    if (inside.left() < 0 || inside.right() > outer->rect().right()) return true;
    if (!scrolled && (inside.top() < 0 || inside.bottom() > outer->rect().bottom())) return true;
  }
  return false;
}

/// Labels and buttons in window whose text needs more room than they have, or that a widget around cuts off.
std::vector<std::string> clippedTexts(QWidget* window) {
  std::vector<std::string> clipped;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    auto* label = qobject_cast<QLabel*>(w);
    if ((!label && !qobject_cast<QAbstractButton*>(w)) || !w->isVisibleTo(window)) continue;
    if (w->objectName().startsWith("qt_")) continue;  // Qt's own parts
    const QSize need = label && label->wordWrap()
                           ? QSize(label->minimumSizeHint().width(), label->heightForWidth(label->width()))
                           : w->sizeHint();
    const bool cut = cutByAncestor(w, window);
    if (need.width() > w->width() || need.height() > w->height() || cut)
      clipped.push_back(QString("%1 \"%2\": needs %3x%4, has %5x%6%7")
                            .arg(w->objectName(), label ? shownText(label).left(40) : accessibleName(w))
                            .arg(need.width()).arg(need.height()).arg(w->width()).arg(w->height())
                            .arg(cut ? ", cut by a widget around it" : "")
                            .toStdString());
  }
  return clipped;
}

/// The window on a machine whose daemon runs but is missing from the bundle.
struct WindowTest : ::testing::Test, Installation {
  SimProgram& daemon = machine.addProgram(kDaemon, {kDaemonPath});
  std::unique_ptr<PreferencesWindow> window;
  std::unique_ptr<Somnara_AppDelegate> delegate;

  WindowTest() {
    machine.state().setBattery(63, 130);
    controllerOf(daemon);
    apps.uninstall(kDaemonPath);
    apps.installBundle(kBundle, bundle(kApp, "Somnara", "0.1.0", "1", " 2026 Orvane. All rights reserved."));
    statusArea.setKind(host::StatusArea::Kind::StatusNotifierHost);
  }
  /// Starts the program, its window on screen (or the primary), as a returning user unless firstStart.
  void open(QScreen* screen = nullptr, bool firstStart = false) {
    if (!firstStart)
      machine.defaults().write(kApp, Somnara_AppDelegate::kFirstStartDoneKey, Value(true));
    delegate.reset();
    window = std::make_unique<PreferencesWindow>(prefs.context(), ports());
    if (screen) {
      window->setScreen(screen);
      window->move(screen->availableGeometry().topLeft());
    }
    delegate = std::make_unique<Somnara_AppDelegate>(prefs.context(), ports(), *window);
    window->connectDelegate(*delegate);
    delegate->awakeFromNib();
    window->makeKeyAndOrderFront();
    settle();
  }
  void close() {
    delegate.reset();
    window.reset();
  }
  void settle() {
    machine.runPending();
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
  }
  void resize(QSize size) {
    window->resize(size);
    settle();
  }
  template <class T>
  T* find(const char* name) {
    T* w = window->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  std::optional<Value> stored(const char* key) { return machine.defaults().value(kApp, key); }
};

// Each control is named by its visible label, each text by itself; Alt+letter is never taken twice.
TEST_F(WindowTest, ScreenReadersReadTheVisibleTextsAndEveryControlHasAKeyboardPath) {
  statusArea.setKind(host::StatusArea::Kind::None);
  open();
  std::map<QChar, QString> mnemonics;
  auto claim = [&](const QString& text, const QString& owner) {
    const auto amp = text.indexOf(QRegularExpression("&(?=[^&])"));
    if (amp < 0) return;
    const QChar key = text.at(amp + 1).toLower();
    EXPECT_FALSE(mnemonics.count(key)) << "Alt+" << QString(key).toStdString() << " taken by "
                                       << mnemonics[key].toStdString() << " and " << owner.toStdString();
    mnemonics[key] = owner;
  };
  for (QAction* menu : window->menuBar()->actions()) claim(menu->text(), "menu " + menu->text());
  int labels = 0;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (w->objectName().startsWith("qt_") || !w->isVisibleTo(window.get())) continue;  // Qt's own parts
    SCOPED_TRACE(std::string(w->metaObject()->className()) + " " + w->objectName().toStdString());
    if (auto* label = qobject_cast<QLabel*>(w)) {
      if (label->buddy()) continue;  // names its control
      EXPECT_EQ(accessibleName(label), shownText(label));
      labels += !shownText(label).isEmpty();
      continue;
    }
    const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
                         qobject_cast<QLineEdit*>(w) || qobject_cast<QSlider*>(w);
    if (!control || w->inherits("QMenu")) continue;
    // The visible label: the control's own text, or the label naming it.
    QString text = qobject_cast<QAbstractButton*>(w) ? qobject_cast<QAbstractButton*>(w)->text() : QString();
    if (text.isEmpty())
      for (QLabel* label : window->findChildren<QLabel*>())
        if (label->buddy() == w) text = label->text();
    EXPECT_FALSE(text.isEmpty()) << "a visible label";
    EXPECT_EQ(accessibleName(w), withoutMnemonic(text));
    // Tab reaches the chosen one of a group of choices, arrows the others.
    auto* radio = qobject_cast<QRadioButton*>(w);
    EXPECT_TRUE((w->focusPolicy() & Qt::TabFocus) || (radio && !radio->isChecked())) << "reachable with Tab";
    claim(text, accessibleName(w));
  }
  EXPECT_GE(mnemonics.size(), 19u);
  // The status line, its reason, the notice, the version text and the lines under the choices.
  EXPECT_GE(labels, 9);
  EXPECT_TRUE(accessibleName(find<QLabel>("versionText")).contains("Version 0.1.0"));
}

TEST_F(WindowTest, ChoicesReachTheMachineAndTheStatusLineSaysWhy) {
  open();
  find<QRadioButton>("sleepMode3")->click();
  settle();
  EXPECT_EQ(machine.state().peekHibernateMode().mode, 1) << "the daemon applied hibernate";
  EXPECT_EQ(find<QLabel>("status")->text().toStdString(), "Machine will hibernate on sleep");

  find<QRadioButton>("sleepMode1")->click();
  find<QSpinBox>("hibernateLevel")->setValue(70);
  settle();
  EXPECT_EQ(find<QLabel>("statusReason")->text().toStdString(),
            "Adaptive: battery at 63 %, 130 min left, level 63 is at or below the hibernate level 70.");
  EXPECT_EQ(find<QLabel>("status")->text().toStdString(), "Machine will sleep and hibernate on sleep");
}

// Each setting's control shows the stored value (or the default, writing nothing), follows a change made
// elsewhere, and stores what the user sets in the shared domain, of the type the programs read.
TEST_F(WindowTest, EachSettingIsShownFollowedAndStored) {
  struct Case {
    const char* key;
    QString control;  // object name; "sleepMode": the checked choice's index
    QString byDefault;
    Value elsewhere;
    QString shownElsewhere;
    std::function<void(QWidget*)> userSets;
    std::optional<Value> stored;  // nullopt: no value, the default applies
  };
  auto click = [](QWidget* w) { static_cast<QAbstractButton*>(w)->click(); };
  auto spin = [](int v) { return [v](QWidget* w) { static_cast<QSpinBox*>(w)->setValue(v); }; };
  std::vector<Case> cases = {
      {kS_SomnaraUserDefaultSleepModeIndex, "sleepMode", "0", Value(4), "4",
       [this](QWidget*) { find<QRadioButton>("sleepMode2")->click(); }, Value(2)},
      {kS_SomnaraUserDefaultsHibernateLevel, "hibernateLevel", "20", Value(45), "45", spin(70), Value(70)},
      {kS_SomnaraUserDefaultsInsomniaBatteryFloor, "insomniaBatteryFloor", "10", Value(25), "25", spin(0), Value(0)},
      {kS_SomnaraUserDefaultsBlinkInterval, "blinkInterval", "58", Value(12.5), "12.5",
       [](QWidget* w) { static_cast<QDoubleSpinBox*>(w)->setValue(3.5); }, Value(3.5)},
      {kS_SomnaraUserDefaultsInsomniaSoundVolume, "volume", "20", Value(0.75), "75",
       [](QWidget* w) { static_cast<QSlider*>(w)->setValue(50); }, Value(0.5)},
      {kS_SomnaraUserDefaultsInsomniaSound, "soundFile", "", Value("/sounds/bell.oga"), "/sounds/bell.oga",
       [](QWidget* w) {
         static_cast<QLineEdit*>(w)->setText("  ");
         emit static_cast<QLineEdit*>(w)->editingFinished();
       },
       std::nullopt},
  };
  for (const char* key : {kS_SomnaraUserDefaultBlackAndWhiteIcon, kS_SomnaraUserDefaultsHardSetValues,
                          kS_SomnaraUserDefaultsEnableInsomniaOnStart,
                          kS_SomnaraUserDefaultsInsomniaDisableDisplayDetection,
                          kS_SomnaraUserDefaultsInsomniaOnlyOnExternalPower,
                          kS_SomnaraUserDefaultsInsomniaStartOnExternalPower,
                          kS_SomnaraUserDefaultsInsomniaStopWhenLocked})
    cases.push_back({key, key, "off", Value(true), "on", click, Value(false)});
  auto shown = [this](const QString& name) -> QString {
    if (name == "sleepMode") {
      for (int i = 0; i < 5; ++i)
        if (find<QRadioButton>(QString("sleepMode%1").arg(i).toUtf8())->isChecked()) return QString::number(i);
      return "none";
    }
    QWidget* w = find<QWidget>(name.toUtf8());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->isChecked() ? "on" : "off";
    if (auto* n = qobject_cast<QSpinBox*>(w)) return QString::number(n->value());
    if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) return QString::number(d->value());
    if (auto* l = qobject_cast<QSlider*>(w)) return QString::number(l->value());
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    return "no control";
  };

  open();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(shown(c.control).toStdString(), c.byDefault.toStdString());
    EXPECT_FALSE(stored(c.key)) << "showing writes nothing";
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    prefs.defaults().setValue(c.key, c.elsewhere);
    settle();
    EXPECT_EQ(shown(c.control).toStdString(), c.shownElsewhere.toStdString()) << "a change made elsewhere shows";
    c.userSets(c.control == "sleepMode" ? nullptr : find<QWidget>(c.control.toUtf8()));
    settle();
    EXPECT_EQ(stored(c.key), c.stored);
  }
  EXPECT_EQ(find<QSpinBox>("insomniaBatteryFloor")->text().toStdString(), "Never");
}

TEST_F(WindowTest, ProgramSwitchesFollowTheControllersAndMissingProgramsAreExplained) {
  open();  // the daemon is missing from this bundle
  auto* login = find<QCheckBox>("agentLoginItem");
  auto* running = find<QCheckBox>("agentRunning");
  EXPECT_FALSE(running->isChecked());
  login->click();
  settle();
  EXPECT_EQ(items.entries().size(), 1u);
  EXPECT_TRUE(running->isChecked()) << "the agent starts with its login item";
  login->click();
  settle();
  EXPECT_TRUE(items.entries().empty());
  EXPECT_FALSE(running->isChecked());

  items.setWriteError("Permission denied");
  login->click();
  settle();
  EXPECT_FALSE(login->isChecked());
  EXPECT_TRUE(find<QLabel>("agentNote")->text().contains("Permission denied"));

  EXPECT_FALSE(find<QCheckBox>("daemonRunning")->isEnabled());
  EXPECT_FALSE(find<QCheckBox>("daemonLoginItem")->isEnabled());
  EXPECT_TRUE(find<QLabel>("daemonNote")->text().contains("missing"));
}

TEST_F(WindowTest, SoundThatCannotBePlayedIsSaid) {
  open();
  auto* file = find<QLineEdit>("soundFile");
  file->setText("/nowhere/alarm.wav");
  emit file->editingFinished();
  find<QAbstractButton>("playSound")->click();
  auto* problem = find<QLabel>("soundProblem");
  EXPECT_FALSE(problem->isHidden());
  EXPECT_TRUE(problem->text().contains("/nowhere/alarm.wav"));
}

// Without swap the choices that need hibernation are greyed out with the reason; one stored stays checked.
TEST_F(WindowTest, ChoicesTheMachineCannotDoAreGreyedOutWithTheReason) {
  apps.installBundle(kDaemonPath, bundle(kDaemon, "Somnara Daemon"));
  machine.state().setSleepCapabilities(kNoSwap);
  machine.defaults().write(kApp, kS_SomnaraUserDefaultSleepModeIndex, Value(3));
  machine.advance(3s);
  open();
  // The daemon the window started from its bundle runs its controller.
  for (int pid : running(kDaemon)) controllerOf(*machine.runningProgram(pid));
  settle();
  for (int i : {3, 4}) {
    EXPECT_FALSE(find<QRadioButton>(("sleepMode" + std::to_string(i)).c_str())->isEnabled()) << i;
    EXPECT_EQ(find<QLabel>(("sleepMode" + std::to_string(i) + "Explanation").c_str())->text().toStdString(),
              "This machine can't hibernate: no swap space.");
  }
  for (int i : {0, 1, 2}) EXPECT_TRUE(find<QRadioButton>(("sleepMode" + std::to_string(i)).c_str())->isEnabled()) << i;
  EXPECT_TRUE(find<QRadioButton>("sleepMode3")->isChecked());
  EXPECT_EQ(find<QLabel>("status")->text().toStdString(), "Machine will sleep on sleep");
  EXPECT_EQ(find<QLabel>("statusReason")->text().toStdString(),
            "Because \"Hibernate\" is chosen. This machine can't hibernate: no swap space, so it sleeps.");

  // Swap comes back: the choices return with the next status refresh.
  machine.state().setSleepCapabilities(kEvery);
  machine.advance(3s);
  settle();
  EXPECT_TRUE(find<QRadioButton>("sleepMode3")->isEnabled());

}

// On a small screen, also at scale factor 2, the window fits and cuts no text at any width it allows
// (the first start shows both notices, the longest texts).
struct WindowFitTest : WindowTest, ::testing::WithParamInterface<QSize> {};

TEST_P(WindowFitTest, FitsTheScreenAndCutsNoTextAtAnyWidth) {
  QScreen* screen = screenOfSize(GetParam());
  ASSERT_TRUE(screen) << "no " << GetParam().width() << "x" << GetParam().height()
                      << " screen: run through ctest, which configures the screens";
  apps.installBundle(kDaemonPath, bundle(kDaemon, "Somnara Daemon"));
  statusArea.setKind(host::StatusArea::Kind::None);
  open(screen, /*firstStart=*/true);
  ASSERT_TRUE(find<QLabel>("firstStartNotice")->isVisible());
  ASSERT_TRUE(find<QLabel>("noStatusAreaNotice")->isVisible());
  const QRect available = screen->availableGeometry();

  EXPECT_LE(window->minimumSizeHint().height(), kMostMinimumHeight);
  EXPECT_LE(window->minimumSizeHint().width(), available.width());
  EXPECT_LE(window->frameGeometry().width(), available.width()) << "starts within the screen";
  EXPECT_LE(window->frameGeometry().height(), available.height());
  EXPECT_EQ(clippedTexts(window.get()), std::vector<std::string>{}) << "at the start size";

  resize({1, 1});
  const QSize minimum = window->size();
  EXPECT_LE(minimum.height(), kMostMinimumHeight);
  EXPECT_EQ(clippedTexts(window.get()), std::vector<std::string>{}) << "at the minimum size";
  const int steps = 6;
  for (int i = 0; i <= steps; ++i) {
    const int width = minimum.width() + (available.width() - minimum.width()) * i / steps;
    for (int height : {minimum.height(), available.height()}) {
      resize({width, height});
      EXPECT_EQ(window->size(), QSize(width, height)) << "resizable";
      EXPECT_EQ(clippedTexts(window.get()), std::vector<std::string>{}) << width << "x" << height;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Screens, WindowFitTest, ::testing::Values(kNetbook, kLaptop),
                         [](const auto& info) {
                           return std::to_string(info.param.width()) + "x" + std::to_string(info.param.height());
                         });

// The size at closing comes back within the screen and the minimum; anything else stored gives the preferred size.
TEST_F(WindowTest, SizeIsKeptBetweenStartsWithinTheScreen) {
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect available = screen->availableGeometry();
  open(screen);
  const QSize preferred = window->size();
  resize({available.width() * 3 / 4, available.height() / 2});
  const QSize chosen = window->size();
  close();
  EXPECT_EQ(stored(PreferencesWindow::kWindowFrameKey), Value(Array{Value(chosen.width()), Value(chosen.height())}));
  open(screen);
  EXPECT_EQ(window->size(), chosen);

  const struct {
    const char* name;
    Value kept;
  } cases[] = {
      {"larger than the screen", Array{Value(5000), Value(4000)}},
      {"below the minimum", Array{Value(10), Value(10)}},
      {"not a size", Value("wide")},
      {"one number", Array{Value(700)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    close();
    machine.defaults().write(kApp, PreferencesWindow::kWindowFrameKey, c.kept);
    open(screen);
    EXPECT_LE(window->frameGeometry().width(), available.width());
    EXPECT_LE(window->frameGeometry().height(), available.height());
    EXPECT_GE(window->width(), window->minimumSizeHint().width());
    EXPECT_GE(window->height(), window->minimumSizeHint().height());
    if (!c.kept.array() || c.kept.array()->size() != 2) {
      EXPECT_EQ(window->size(), preferred);
    }
  }
}

// Secondary texts keep a contrast of at least 4.5:1 on light and dark palettes, quieter than the main text.
TEST_F(WindowTest, SecondaryTextsAreReadableOnLightAndDarkPalettes) {
  open();
  const QPalette light = QApplication::palette();
  const QPalette dark = somnara::testing::darkPalette();
  for (const auto& [name, palette] : {std::pair{"light", light}, std::pair{"dark", dark}}) {
    SCOPED_TRACE(name);
    QApplication::setPalette(palette);
    settle();
    const QColor background = palette.color(QPalette::Window);
    for (const char* labelName : {"versionText", "sleepMode0Explanation"}) {
      SCOPED_TRACE(labelName);
      QLabel* label = find<QLabel>(labelName);
      find<QScrollArea>("settingsArea")->ensureWidgetVisible(label);
      settle();
      // Each line of text on its own: its strongest ink is the text's colour.
      const QImage drawn = window->grab(QRect(label->mapTo(window.get(), QPoint()), label->size())).toImage();
      std::vector<double> lines;
      bool inLine = false;
      for (int y = 0; y < drawn.height(); ++y) {
        double row = 1;
        for (int x = 0; x < drawn.width(); ++x)
          row = std::max(row, ReadableColor::contrast(drawn.pixelColor(x, y), background));
        if (row > 1.1 && !inLine) lines.push_back(1);
        inLine = row > 1.1;
        if (inLine) lines.back() = std::max(lines.back(), row);
      }
      EXPECT_GE(lines.size(), std::string(labelName) == "versionText" ? 3u : 1u);
      for (double strongest : lines) {
        EXPECT_GE(strongest, 4.5);
        EXPECT_LT(strongest, ReadableColor::contrast(palette.color(QPalette::WindowText), background) - 1);
      }
    }
  }
  QApplication::setPalette(light);
}

TEST(ReadableColor, ContrastRatios) {
  const struct {
    QColor a, b;
    double ratio;
  } cases[] = {{Qt::black, Qt::white, 21}, {Qt::white, Qt::white, 1}, {QColor("#767676"), Qt::white, 4.54},
               {QColor("#555555"), QColor("#353535"), 1.6}};
  for (const auto& c : cases) EXPECT_NEAR(ReadableColor::contrast(c.a, c.b), c.ratio, 0.05) << c.a.name().toStdString();
}

// Activating the running application brings the window forward, from hidden or minimised.
TEST_F(WindowTest, ActivationBringsTheWindowForward) {
  open();
  for (bool minimised : {true, false}) {
    SCOPED_TRACE(minimised ? "minimised" : "hidden");
    if (minimised)
      window->showMinimized();
    else
      window->hide();
    settle();
    ASSERT_TRUE(window->isMinimized() || window->isHidden());
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    settle();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
  }
}

}  // namespace
}  // namespace somnara::sim::testing

int main(int argc, char** argv) {
  // ctest gives a screen configuration with -platform; without, Qt's one 800x600 screen.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  QApplication::setPalette(QApplication::style()->standardPalette());  // the light theme
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
