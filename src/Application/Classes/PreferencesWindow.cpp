#include "Application/Classes/PreferencesWindow.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGuiApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

#include "Application/Classes/FittingScrollArea.h"
#include "Application/Classes/InhibitorGroup.h"
#include "Application/Classes/ReadableColor.h"
#include "Application/Classes/SettingBindings.h"
#include "Application/Classes/SleepStatusText.h"
#include "Application/Classes/Somnara_AppDelegate.h"
#include "core/Constants.h"
#include "core/SomnaraDaemon.h"
#include "core/UserDefaultsController.h"
#include "hibernation/hibernation.h"
#include "qtbridge/KeyValueSignal.h"

namespace somnara {
namespace {

constexpr int kStatusRefreshMs = 2000;
// Work waiting for the window's first drawing runs after this long at the
// latest, drawn or not (a window on a hidden workspace may not be drawn).
constexpr int kShownAtLatestMs = 500;
constexpr double kDefaultSoundVolume = 0.2;
// The settings area is never shorter than this many lines of text.
constexpr int kMinimumSettingsLines = 16;
// Room kept free on the screen for the title bar and borders the window
// manager adds, in logical pixels.
const QSize kWindowDecorationAllowance(16, 48);
// Indent of the line under each sleep choice: under the choice's text, past its button.
constexpr int kExplanationIndent = 24;

struct ModeChoice {
  const char* label;
  const char* explanation;
};
// Indexed by the sleep mode index.
const ModeChoice kModes[] = {
    {"S&ystem default", "Somnara leaves sleep as the system is set up."},
    {"&Adaptive", "Sleeps while the battery holds enough; below the hibernate level also saves memory to disk; "
                  "nearly empty, hibernates."},
    {"S&leep", "Memory stays powered: wakes at once, uses a little battery while asleep."},
    {"&Hibernate", "Memory is saved to disk and the power is cut: slower wake, no battery used."},
    {"Sleep a&nd hibernate", "Memory stays powered and is saved to disk too: wakes at once, nothing lost if the "
                             "battery runs out."},
};

// The delegate's commands offered as buttons and in the application menu.
struct DelegateCommand {
  const char* text;
  void (*action)(Somnara_AppDelegate&);
};
const DelegateCommand kDelegateCommands[] = {
    {"Read&me", [](Somnara_AppDelegate& d) { d.showHelp(); }},
    {"Release His&tory", [](Somnara_AppDelegate& d) { d.showReleaseHistory(); }},
    {"Sho&w Log", [](Somnara_AppDelegate& d) { d.showLog(); }},
};

QString qs(const std::string& s) { return QString::fromStdString(s); }

// A text that wraps at the width it is given; a screen reader reads the text.
QLabel* wrappingLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}

}  // namespace

struct PreferencesWindow::ProgramSwitches {
  QString programName;
  QCheckBox* running = nullptr;
  QCheckBox* login = nullptr;
  QLabel* note = nullptr;
  ORVBackgroundApplicationController* controller = nullptr;
  std::vector<std::unique_ptr<qtbridge::KeyValueSignal>> signals_;
};

PreferencesWindow::PreferencesWindow(host::HostContext& context, host::PreferencesPorts ports)
    : context_(context),
      ports_(ports),
      // The interface creates the shared controller before its bindings are used.
      controller_(SomnaraDaemon::sharedSomnaraDaemon(context)),
      settings_(new SettingBindings(context.defaults(), UserDefaultsController::sharedUserDefaultsController(context),
                                    this)) {
  setWindowTitle("Somnara");
  setObjectName("SomnaraPreferences");
  auto* settings = new QWidget;
  auto* layout = new QVBoxLayout(settings);
  for (auto [notice, name] : {std::pair{Notice::FirstStart, "firstStartNotice"},
                              std::pair{Notice::NoStatusArea, "noStatusAreaNotice"}}) {
    QLabel* label = wrappingLabel(QString(), settings);
    label->setObjectName(name);
    label->setFrameShape(QFrame::StyledPanel);
    label->setMargin(6);
    label->hide();
    layout->addWidget(label);
    notices_[notice] = label;
  }
  layout->addWidget(buildSleepGroup());
  layout->addWidget(buildAgentGroup());
  layout->addWidget(buildProgramsGroup());
  auto* inhibitors = new InhibitorGroup(ports_.inhibitors, settings);
  layout->addWidget(inhibitors);
  version_ = secondaryLabel(QString(), settings);
  version_->setObjectName("versionText");
  version_->setTextFormat(Qt::RichText);
  version_->setOpenExternalLinks(true);
  version_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  layout->addWidget(version_);
  layout->addStretch();

  auto* central = new QWidget(this);
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* scroll = new FittingScrollArea(settings, kMinimumSettingsLines, central);
  scroll->setObjectName("settingsArea");
  outer->addWidget(scroll, 1);
  outer->addLayout(buildCommandButtons());
  setCentralWidget(central);
  buildMenu();
  applySecondaryColour();
  settings_->showAll();
  // A setting changed by another program, or through the controller.
  connect(settings_, &SettingBindings::changed, this, [this] { refreshStatus(); });
  auto* state = new qtbridge::KeyValueSignal(controller_, kS_Property_currentStateString, this);
  connect(state, &qtbridge::KeyValueSignal::changed, this, [this] { refreshStatus(); });
  // Battery readings change without notice.
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, [this] { refreshStatus(); });
  timer->start(kStatusRefreshMs);
  refreshStatus();
  afterWindowShown([this, inhibitors] {
    refreshStatus();
    inhibitors->startLooking();
  });
  QTimer::singleShot(kShownAtLatestMs, this, [this] { shown(); });
}

PreferencesWindow::~PreferencesWindow() {
  if (!sized_) return;  // never shown: the kept size stays
  const QSize size = normalGeometry().size();
  settings_->write(kWindowFrameKey, Value(Array{Value(size.width()), Value(size.height())}));
}

QLayout* PreferencesWindow::buildCommandButtons() {
  auto* row = new QHBoxLayout;
  const int margin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
  row->setContentsMargins(margin, margin / 2, margin, margin);
  row->addStretch();
  for (const auto& [text, action] : kDelegateCommands) {
    auto* b = new QPushButton(text, this);
    connect(b, &QPushButton::clicked, this, [this, action = action] {
      if (delegate_) action(*delegate_);
    });
    row->addWidget(b);
  }
  return row;
}

QLabel* PreferencesWindow::secondaryLabel(const QString& text, QWidget* parent) {
  QLabel* label = wrappingLabel(text, parent);
  secondaryLabels_.push_back(label);
  return label;
}

void PreferencesWindow::applySecondaryColour() {
  const QColor colour = ReadableColor::secondaryText(palette());
  for (QLabel* label : secondaryLabels_) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Link, colour);
    label->setPalette(p);
  }
  renderVersionText();
}

QWidget* PreferencesWindow::buildSleepGroup() {
  auto* group = new QGroupBox("When the machine goes to sleep", this);
  auto* layout = new QVBoxLayout(group);
  modeGroup_ = new QButtonGroup(group);
  for (int i = 0; i < 5; ++i) {
    auto* radio = new QRadioButton(kModes[i].label, group);
    radio->setObjectName(QString("sleepMode%1").arg(i));
    radio->setAccessibleDescription(kModes[i].explanation);
    modeGroup_->addButton(radio, i);
    layout->addWidget(radio);
    modeExplanations_[i] = secondaryLabel(kModes[i].explanation, group);
    modeExplanations_[i]->setIndent(kExplanationIndent);
    modeExplanations_[i]->setObjectName(QString("sleepMode%1Explanation").arg(i));
    layout->addWidget(modeExplanations_[i]);
  }
  // Shown as the controller takes it: an index it cannot use shows as the system default.
  settings_->bind(modeGroup_, kS_SomnaraUserDefaultSleepModeIndex, [this] { return controller_.sleepmode(); });

  auto* form = new QFormLayout;
  hibernateLevel_ = new QSpinBox(group);
  hibernateLevel_->setObjectName("hibernateLevel");
  hibernateLevel_->setRange(1, 600);
  hibernateLevel_->setAccessibleDescription(
      "In adaptive mode: battery percent or minutes left at or below which the machine also hibernates");
  hibernateLevel_->setToolTip(hibernateLevel_->accessibleDescription());
  settings_->bind(hibernateLevel_, kS_SomnaraUserDefaultsHibernateLevel, kDefaultHibernateLevel);
  form->addRow("Hibernate l&evel (% or minutes):", hibernateLevel_);
  layout->addLayout(form);

  status_ = wrappingLabel(QString(), group);
  status_->setObjectName("status");
  QFont bold = status_->font();
  bold.setBold(true);
  status_->setFont(bold);
  statusReason_ = wrappingLabel(QString(), group);
  statusReason_->setObjectName("statusReason");
  layout->addWidget(status_);
  layout->addWidget(statusReason_);
  return group;
}

QWidget* PreferencesWindow::buildAgentGroup() {
  auto* group = new QGroupBox("Menu bar agent", this);
  auto* form = new QFormLayout(group);
  const std::pair<const char*, const char*> boxes[] = {
      {"Blac&k-and-white icon", kS_SomnaraUserDefaultBlackAndWhiteIcon},
      {"Write hard &values (kept across restarts)", kS_SomnaraUserDefaultsHardSetValues},
      {"Start &Insomnia when the agent starts", kS_SomnaraUserDefaultsEnableInsomniaOnStart},
      {"Don't probe &displays after a lid change", kS_SomnaraUserDefaultsInsomniaDisableDisplayDetection},
      {"Re&quire external power for Insomnia (pauses on battery)", kS_SomnaraUserDefaultsInsomniaOnlyOnExternalPower},
      {"Start Insomnia when e&xternal power comes", kS_SomnaraUserDefaultsInsomniaStartOnExternalPower},
      {"Stop Insomnia when the session is lo&cked", kS_SomnaraUserDefaultsInsomniaStopWhenLocked},
  };
  for (const auto& [text, key] : boxes) {
    auto* box = new QCheckBox(text, group);
    box->setObjectName(key);
    settings_->bind(box, key);
    form->addRow(box);
  }
  batteryFloor_ = new QSpinBox(group);
  batteryFloor_->setObjectName("insomniaBatteryFloor");
  batteryFloor_->setRange(0, 100);
  batteryFloor_->setSuffix(" %");
  batteryFloor_->setSpecialValueText("Never");
  batteryFloor_->setAccessibleDescription(
      "Insomnia running on battery stops when the charge falls to this level, so a closed laptop can sleep");
  batteryFloor_->setToolTip(batteryFloor_->accessibleDescription());
  settings_->bind(batteryFloor_, kS_SomnaraUserDefaultsInsomniaBatteryFloor, kDefaultInsomniaBatteryFloor);
  form->addRow("Stop Insomnia on battery at (&zero: never):", batteryFloor_);
  blinkInterval_ = new QDoubleSpinBox(group);
  blinkInterval_->setObjectName("blinkInterval");
  blinkInterval_->setRange(0, 3600);
  blinkInterval_->setDecimals(1);
  blinkInterval_->setSuffix(" s");
  blinkInterval_->setSpecialValueText("No blinking");
  settings_->bind(blinkInterval_, kS_SomnaraUserDefaultsBlinkInterval, static_cast<double>(kDefaultBlinkInterval));
  form->addRow("Icon &blink interval:", blinkInterval_);

  auto* soundRow = new QHBoxLayout;
  soundFile_ = new QLineEdit(group);
  soundFile_->setObjectName("soundFile");
  soundFile_->setPlaceholderText("Built-in \"Insomnia\" sound");
  // Empty: the built-in sound.
  settings_->bind(soundFile_, kS_SomnaraUserDefaultsInsomniaSound);
  auto* choose = new QPushButton("Choose &file…", group);
  choose->setAccessibleDescription("Choose the Insomnia sound file");
  connect(choose, &QPushButton::clicked, this, [this] {
    const QString file = QFileDialog::getOpenFileName(this, "Insomnia sound", soundFile_->text(),
                                                      "Sounds (*.wav *.ogg *.oga *.flac *.mp3);;All files (*)");
    if (file.isEmpty()) return;
    soundFile_->setText(file);
    emit soundFile_->editingFinished();
  });
  auto* play = new QPushButton("&Play", group);
  play->setObjectName("playSound");
  play->setAccessibleDescription("Play the Insomnia sound");
  connect(play, &QPushButton::clicked, this, [this] { playSound(); });
  soundRow->addWidget(soundFile_, 1);
  soundRow->addWidget(choose);
  soundRow->addWidget(play);
  auto* soundLabel = new QLabel("Insomnia s&ound:", group);
  soundLabel->setBuddy(soundFile_);
  form->addRow(soundLabel, soundRow);
  soundProblem_ = wrappingLabel(QString(), group);
  soundProblem_->setObjectName("soundProblem");
  soundProblem_->hide();
  form->addRow(soundProblem_);

  volume_ = new QSlider(Qt::Horizontal, group);
  volume_->setObjectName("volume");
  volume_->setRange(0, 100);
  settings_->bindFraction(volume_, kS_SomnaraUserDefaultsInsomniaSoundVolume, kDefaultSoundVolume);
  form->addRow("Vol&ume:", volume_);
  return group;
}

QWidget* PreferencesWindow::buildProgramsGroup() {
  auto* group = new QGroupBox("Background programs", this);
  auto* form = new QFormLayout(group);
  agentSwitches_ = std::make_unique<ProgramSwitches>();
  daemonSwitches_ = std::make_unique<ProgramSwitches>();
  const std::tuple<ProgramSwitches*, const char*, const char*, const char*, const char*> rows[] = {
      {agentSwitches_.get(), "Menu bar agent", "agent", "&Running", "Start at lo&gin"},
      {daemonSwitches_.get(), "Daemon", "daemon", "Running", "Start at login"},
  };
  for (const auto& [s, name, id, running, login] : rows) {
    s->programName = name;
    auto* row = new QHBoxLayout;
    s->running = new QCheckBox(running, group);
    s->running->setObjectName(QString(id) + "Running");
    s->running->setAccessibleDescription(QString(name) + ": whether it runs now");
    s->login = new QCheckBox(login, group);
    s->login->setObjectName(QString(id) + "LoginItem");
    s->login->setAccessibleDescription(QString(name) + ": whether it starts when you log in");
    row->addWidget(s->running);
    row->addWidget(s->login);
    row->addStretch();
    form->addRow(QString(name) + ":", row);
    s->note = wrappingLabel(QString(), group);
    s->note->setObjectName(QString(id) + "Note");
    s->note->hide();
    form->addRow(s->note);
    connect(s->running, &QCheckBox::clicked, this, [this, s = s](bool on) {
      if (!s->controller) return;
      s->controller->setLaunch(on);
      refreshPrograms();
      if (s->controller->isLaunched() != on && !s->controller->lastFailure().empty()) {
        s->note->setText(qs(s->controller->lastFailure()));
        s->note->show();
      }
    });
    connect(s->login, &QCheckBox::clicked, this, [this, s = s](bool on) {
      if (!s->controller) return;
      s->controller->setLoginitem(on);
      refreshPrograms();
      if (!s->controller->lastFailure().empty()) {
        s->note->setText(qs(s->controller->lastFailure()));
        s->note->show();
      }
    });
  }
  return group;
}

void PreferencesWindow::buildMenu() {
  applicationMenu_ = menuBar()->addMenu("&Somnara");
  for (const auto& [text, action] : kDelegateCommands)
    connect(applicationMenu_->addAction(text), &QAction::triggered, this, [this, action = action] {
      if (delegate_) action(*delegate_);
    });
  applicationMenu_->addSeparator();
  QAction* quit = applicationMenu_->addAction("&Quit", this, &QWidget::close);
  quit->setShortcut(QKeySequence::Quit);
}

void PreferencesWindow::connectDelegate(Somnara_AppDelegate& delegate) {
  delegate_ = &delegate;
  connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive) delegate_->applicationWillBecomeActive();
  });
}

void PreferencesWindow::refreshStatus() {
  status_->setText(qs(controller_.currentStateString()));
  SleepStatusFacts facts;
  facts.chosenMode = controller_.sleepmodeissomnara() ? 1 : controller_.sleepmode();
  const auto battery = hibernation::hibernation_currentstate(context_);
  facts.hasBattery = battery.has_value();
  if (battery) {
    facts.charge = battery->percent;
    facts.timeLeft = battery->minutesToEmpty;
  }
  facts.hibernateLevel = controller_.hibernatelevel();
  // Until the window is drawn the machine is not asked: every kind of sleep
  // counts as possible, or as found when the controller last asked.
  facts.capabilities = shown_ ? controller_.readSleepCapabilities() : controller_.sleepCapabilities();
  statusReason_->setText(qs(sleepStatusReason(facts)));
  // A choice the machine cannot do is greyed out with the reason beneath it;
  // the one stored stays checked, so the window shows what was chosen.
  for (int i = 0; i < 5; ++i) {
    const auto unavailable = unavailableModeReason(i, facts);
    const QString explanation = unavailable ? qs(*unavailable) + "." : QString(kModes[i].explanation);
    modeGroup_->button(i)->setEnabled(!unavailable);
    modeGroup_->button(i)->setAccessibleDescription(explanation);
    modeExplanations_[i]->setText(explanation);
  }
}

void PreferencesWindow::refreshPrograms() {
  for (ProgramSwitches* s : {agentSwitches_.get(), daemonSwitches_.get()}) {
    const QSignalBlocker b1(s->running), b2(s->login);
    if (!s->controller) continue;
    s->login->setChecked(s->controller->isLoginitem());
    s->running->setChecked(s->controller->isLaunched());
    s->note->hide();
  }
}

void PreferencesWindow::bindBackgroundControllers(ORVBackgroundApplicationController* menuBar,
                                                  ORVBackgroundApplicationController* daemon) {
  for (auto [s, controller] : {std::pair{agentSwitches_.get(), menuBar}, std::pair{daemonSwitches_.get(), daemon}}) {
    s->controller = controller;
    s->signals_.clear();
    s->running->setEnabled(controller != nullptr);
    s->login->setEnabled(controller != nullptr);
    if (!controller) {
      s->note->setText(s->programName + " is missing from this installation (" +
                       qs(context_.workspace().mainBundlePath()) +
                       "/Contents/Library/LoginItems), so it cannot be started. Reinstall Somnara to get it back.");
      s->note->show();
      continue;
    }
    for (const char* key : {"launch", "loginitem"}) {
      auto signal = std::make_unique<qtbridge::KeyValueSignal>(*controller, key);
      connect(signal.get(), &qtbridge::KeyValueSignal::changed, this, [this] {
        // Re-read once the change is complete, outside the notice.
        QTimer::singleShot(0, this, [this] { refreshPrograms(); });
      });
      s->signals_.push_back(std::move(signal));
    }
  }
  // Asking which programs run and which are login items takes a while.
  afterWindowShown([this] { refreshPrograms(); });
}

void PreferencesWindow::playSound() {
  const std::string path = soundFile_->text().trimmed().toStdString();
  auto sound = path.empty() ? ports_.sounds.namedSound(kS_SomnaraUserDefaultsInsomniaSoundNameDefault)
                            : ports_.sounds.soundFromFile(path);
  if (!sound) {
    soundProblem_->setText(path.empty() ? QString("The built-in \"Insomnia\" sound is not available.")
                                        : "Cannot play " + qs(path) + ": it is missing or not a sound file.");
    soundProblem_->show();
    return;
  }
  soundProblem_->hide();
  sound->setVolume(static_cast<float>(volume_->value() / 100.0));
  sound->play();
  // Kept until it has played.
  QTimer::singleShot(10000, this, [s = std::shared_ptr<host::Sounds::Sound>(std::move(sound))] {});
}

QSize PreferencesWindow::startSize() const {
  QSize size = sizeHint();
  const auto kept = context_.defaults().value(kWindowFrameKey);
  const Array* frame = kept ? kept->array() : nullptr;
  if (frame && frame->size() == 2 && (*frame)[0].integer() && (*frame)[1].integer())
    size = QSize(static_cast<int>(*(*frame)[0].integer()), static_cast<int>(*(*frame)[1].integer()));
  const QSize room = screen()->availableGeometry().size() - kWindowDecorationAllowance;
  return size.boundedTo(room).expandedTo(minimumSizeHint());
}

void PreferencesWindow::showMessage(const std::string& title, const std::string& text) {
  auto* box = new QMessageBox(QMessageBox::Information, QString::fromStdString(title), QString::fromStdString(text),
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void PreferencesWindow::makeKeyAndOrderFront() {
  if (!sized_) {
    sized_ = true;
    resize(startSize());
  }
  show();
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  raise();
  activateWindow();
}

void PreferencesWindow::afterWindowShown(std::function<void()> fn) {
  afterShown_.push_back(std::move(fn));
  if (shown_) QTimer::singleShot(0, this, [this] { runAfterShown(); });
}

void PreferencesWindow::shown() {
  if (shown_) return;
  shown_ = true;
  runAfterShown();
}

void PreferencesWindow::runAfterShown() {
  // What these functions ask to run afterwards waits for the next turn.
  for (auto& fn : std::exchange(afterShown_, {})) fn();
}

void PreferencesWindow::setNotice(Notice notice, const std::string& text) {
  QLabel* label = notices_.at(notice);
  label->setText(qs(text));
  label->setVisible(!text.empty());
}

void PreferencesWindow::setVersionText(const VersionText& text) {
  versionText_ = text;
  renderVersionText();
}

void PreferencesWindow::renderVersionText() {
  const QString family = QFontDatabase::hasFamily(VersionText::kFontFamily)
                             ? QString(VersionText::kFontFamily)
                             : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  const VersionText& text = versionText_;
  auto part = [&](std::size_t from, std::size_t length) {
    return qs(text.text.substr(from, length)).toHtmlEscaped().replace("\n", "<br>");
  };
  const auto& v = text.versionLine;
  const auto& n = text.noticeLine;
  // A link takes the application's link colour unless told otherwise.
  const QString html =
      QString("<div style=\"font-family:'%1'; font-size:%2pt\">").arg(family).arg(VersionText::kBodyPoints) +
      part(0, v.location) + QString("<span style=\"font-size:%1pt\">").arg(VersionText::kVersionPoints) +
      part(v.location, v.length) + "</span>" + part(v.location + v.length, n.location - v.location - v.length) +
      QString("<a style=\"color:%1\" href=\"%2\">")
          .arg(version_->palette().color(QPalette::Link).name(), VersionText::kWebPage) +
      part(n.location, n.length) + "</a></div>";
  version_->setText(html);
}

std::optional<std::vector<std::string>> PreferencesWindow::applicationMenuTitles() const {
  if (!applicationMenu_) return std::nullopt;
  std::vector<std::string> titles;
  for (QAction* a : applicationMenu_->actions()) titles.push_back(a->text().remove('&').toStdString());
  return titles;
}

void PreferencesWindow::insertApplicationMenuItem(std::size_t index, const std::string& title,
                                                  std::function<void()> action) {
  const auto actions = applicationMenu_->actions();
  auto* item = new QAction(qs(title), applicationMenu_);
  connect(item, &QAction::triggered, this, [action = std::move(action)] { action(); });
  applicationMenu_->insertAction(index < static_cast<std::size_t>(actions.size()) ? actions[int(index)] : nullptr,
                                 item);
}

bool PreferencesWindow::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate && shown_) refreshPrograms();
  // Handled once the drawing is on screen.
  if (event->type() == QEvent::Paint && !shown_) QTimer::singleShot(0, this, [this] { shown(); });
  if (event->type() == QEvent::PaletteChange) applySecondaryColour();
  return QMainWindow::event(event);
}

}  // namespace somnara
