#include "menubar/TrayStatusItem.h"

#include <QApplication>
#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "core/UserDefaultsController.h"
#include "menubar/InsomniaLengthSlider.h"
#include "platform/LogLine.h"
#include "qtbridge/KeyValueSignal.h"

namespace somnara {
namespace {

using namespace std::chrono_literals;
constexpr auto kTrayRecheck = 2s;

struct Preset {
  const char* title;
  int seconds;  // 0: until stopped
};
constexpr Preset kPresets[] = {{"Until Stopped", 0},  {"15 Minutes", 900}, {"30 Minutes", 1800},
                               {"1 Hour", 3600},      {"2 Hours", 7200},   {"4 Hours", 14400},
                               {"8 Hours", 28800}};

constexpr const char* kInhibitorMenuTitle = "Keeping the Machine Awake";

QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TrayStatusItem::TrayStatusItem(host::HostContext& context, host::TrayHosts& trayHosts)
    : context_(context), images_(context.workspace().pathForResource("icons")), trayHosts_(trayHosts) {
  trayWait_.setInterval(kTrayRecheck);
  connect(&trayWait_, &QTimer::timeout, this, &TrayStatusItem::showIfReady);
}

TrayStatusItem::~TrayStatusItem() = default;

QAction* TrayStatusItem::addBoundAction(QMenu& menu, KeyValueObservable& object, const char* key,
                                        std::function<std::string()> text) {
  QAction* action = menu.addAction(q(text()));
  auto* binding = new qtbridge::KeyValueSignal(object, key, action);
  connect(binding, &qtbridge::KeyValueSignal::changed, action, [action, text] { action->setText(q(text())); });
  return action;
}

void TrayStatusItem::connectMenu(MenuBarAppDelegate& delegate) {
  delegate_ = &delegate;

  statusLine_ = menu_.addAction("Machine will sleep on sleep");
  statusLine_->setEnabled(delegate.currentstatusstringenabled());
  // The controller exists once the delegate's start-up has created it.
  auto* controllerReady = new qtbridge::KeyValueSignal(delegate, MenuBarAppDelegate::kProperty_sharedSomnaraDaemon, this);
  connect(controllerReady, &qtbridge::KeyValueSignal::changed, this, [this] {
    if (auto* controller = delegate_->sharedSomnaraDaemon()) bindStatusLine(*controller);
    refreshSleepCommands();
  });
  menu_.addSeparator();

  for (const std::int64_t state : {kSleepStateSleep, kSleepStateHibernate, kSleepStateSleepAndHibernate}) {
    QAction* action = menu_.addAction(MenuBarAppDelegate::sleepNowTitle(state));
    sleepCommands_.emplace_back(state, action);
    connect(action, &QAction::triggered, this, [this, state] { delegate_->sleepNowWithState(state); });
  }
  menu_.addSeparator();

  QAction* insomnia = addBoundAction(menu_, delegate, MenuBarAppDelegate::kProperty_insomniaString,
                                     [&delegate] { return delegate.insomniaString(); });
  connect(insomnia, &QAction::triggered, this, [this] { delegate_->toggleInsomnia(); });

  lengthMenu_ = menu_.addMenu(q(delegate.insomniaLengthString()));
  auto* length = new qtbridge::KeyValueSignal(delegate, MenuBarAppDelegate::kProperty_insomniaLengthString, lengthMenu_);
  connect(length, &qtbridge::KeyValueSignal::changed, lengthMenu_,
          [this] { lengthMenu_->setTitle(q(delegate_->insomniaLengthString())); });
  for (const Preset& preset : kPresets) {
    QAction* action = lengthMenu_->addAction(preset.title);
    action->setData(preset.seconds);  // the length in whole seconds, the item's tag
    connect(action, &QAction::triggered, this,
            [this, seconds = preset.seconds] { delegate_->takeInsomniaLengthFromSender(seconds); });
  }
  lengthMenu_->addSeparator();
  chooseLength_ = lengthMenu_->addAction("Choose Length\u2026");
  connect(chooseLength_, &QAction::triggered, this, &TrayStatusItem::showSliderWindow);

  inhibitorMenu_ = menu_.addMenu(kInhibitorMenuTitle);
  auto* inhibitors = new qtbridge::KeyValueSignal(delegate.inhibitorList(), InhibitorList::kProperty_inhibitors,
                                                  inhibitorMenu_);
  connect(inhibitors, &qtbridge::KeyValueSignal::changed, this, &TrayStatusItem::fillInhibitorMenu);
  fillInhibitorMenu();
  menu_.addSeparator();

  connect(menu_.addAction("Preferences\u2026"), &QAction::triggered, this, [this] { delegate_->showPreferences(); });
  connect(menu_.addAction("Quit Somnara MenuBar"), &QAction::triggered, qApp, &QApplication::quit);

  connect(&menu_, &QMenu::aboutToShow, this, [this] {
    delegate_->menuWillOpen();
    refreshSleepCommands();
  });
  connect(&menu_, &QMenu::aboutToHide, this, [this] { delegate_->menuDidClose(); });
}

void TrayStatusItem::fillInhibitorMenu() {
  inhibitorMenu_->clear();
  for (const auto& line : delegate_->inhibitorList().lines()) inhibitorMenu_->addAction(q(line))->setEnabled(false);
}

void TrayStatusItem::refreshSleepCommands() {
  for (auto& [state, action] : sleepCommands_) action->setEnabled(delegate_->sleepNowAvailable(state));
}

void TrayStatusItem::bindStatusLine(SomnaraDaemon& controller) {
  auto* binding = new qtbridge::KeyValueSignal(controller, kS_Property_currentStateString, statusLine_);
  auto refresh = [this, &controller] { statusLine_->setText(q(controller.currentStateString())); };
  connect(binding, &qtbridge::KeyValueSignal::changed, statusLine_, refresh);
  refresh();
}

std::string TrayStatusItem::attachInsomniaSlider() {
  auto& controller = UserDefaultsController::sharedUserDefaultsController(context_);
  sliderAction_ = new QWidgetAction(lengthMenu_);
  sliderAction_->setText("Insomnia Length Slider");
  auto* holder = new QWidget;
  auto* layout = new QHBoxLayout(holder);
  layout->setContentsMargins(24, 4, 12, 4);
  layout->addWidget(new InsomniaLengthSlider(*delegate_, controller));
  sliderAction_->setDefaultWidget(holder);
  sliderAction_->setCheckable(true);
  sliderAction_->setChecked(true);
  lengthMenu_->insertAction(chooseLength_, sliderAction_);
  return QString("<QWidgetAction %1 '%2' checked=%3>")
      .arg(reinterpret_cast<quintptr>(sliderAction_), 0, 16)
      .arg(sliderAction_->text())
      .arg(sliderAction_->isChecked() ? 1 : 0)
      .toStdString();
}

void TrayStatusItem::show() {
  wanted_ = true;
  if (!watcherChanges_) watcherChanges_ = trayHosts_.observeNotifierWatcher([this] { remakeIcon(); });
  if (statusAreaReady()) return;
  ORV_LOG(context_.logger(), this, "-[TrayStatusItem show]",
          "No status area (system tray) on this desktop yet - waiting for one");
  trayWait_.start();
}

bool TrayStatusItem::statusAreaReady() {
  switch (protocol_) {
    case Protocol::StatusNotifier:
      return trayHosts_.notifierHostPresent();
    case Protocol::XEmbed:
      return trayHosts_.embedTrayPresent();
    case Protocol::NotYetChosen:
      break;
  }
  // Qt takes the StatusNotifier protocol for good exactly when a host is there now.
  return trayHosts_.notifierHostPresent() || trayHosts_.embedTrayPresent();
}

void TrayStatusItem::showIfReady() {
  if (!wanted_ || !imageTried_ || tray_ || !statusAreaReady()) return;
  trayWait_.stop();
  tray_ = std::make_unique<QSystemTrayIcon>();
  // Shown with a placeholder when the bundle lacks the image: the menu stays reachable.
  tray_->setIcon(icon_.isNull() ? QApplication::style()->standardIcon(QStyle::SP_ComputerIcon) : icon_);
  tray_->setToolTip(toolTip_);
  tray_->setContextMenu(&menu_);
  // A click opens the menu too, as with any status-bar item.
  connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger && !menu_.isVisible()) menu_.popup(QCursor::pos());
  });
  // Qt exports the menu (a platform menu) exactly when it speaks StatusNotifier.
  if (protocol_ == Protocol::NotYetChosen)
    protocol_ = menu_.platformMenu() ? Protocol::StatusNotifier : Protocol::XEmbed;
  placeSlider();
  tray_->show();
}

void TrayStatusItem::placeSlider() {
  // A desktop drawing the menu from dbusmenu shows a widget item as a
  // checkbox that only flips its tick: there "Choose Length…" opens the
  // slider in a window instead.
  if (sliderAction_ && menu_.platformMenu()) lengthMenu_->removeAction(sliderAction_);
}

void TrayStatusItem::remakeIcon() {
  if (!wanted_) return;
  if (protocol_ == Protocol::XEmbed) {
    // Qt keeps the protocol it chose: an XEmbed icon cannot move to a StatusNotifier host.
    if (!trayHosts_.embedTrayPresent() && trayHosts_.notifierHostPresent())
      ORV_LOG(context_.logger(), this, "-[TrayStatusItem remakeIcon]",
              "The status area takes StatusNotifier items only; the icon shows over XEmbed until the program starts "
              "again");
    return;
  }
  tray_.reset();
  // Fresh exported menus for the new icon's connection.
  for (QMenu* menu : {&menu_, lengthMenu_, inhibitorMenu_}) menu->setPlatformMenu(nullptr);
  showIfReady();
  if (!tray_) trayWait_.start();
}

void TrayStatusItem::setImage(const std::string& name, bool monochrome) {
  imageTried_ = true;
  const QIcon icon = images_.icon(name, monochrome);
  if (!icon.isNull()) icon_ = icon;
  if (tray_ && !icon.isNull()) tray_->setIcon(icon_);
  showIfReady();
}

void TrayStatusItem::setToolTip(const std::string& text) {
  toolTip_ = q(text);
  if (tray_) tray_->setToolTip(toolTip_);
}

void TrayStatusItem::showSliderWindow() {
  if (!sliderWindow_) {
    sliderWindow_ = std::make_unique<QWidget>(nullptr, Qt::Tool);
    sliderWindow_->setWindowTitle("Insomnia Length");
    auto* layout = new QVBoxLayout(sliderWindow_.get());
    auto* label = new QLabel(q(delegate_->insomniaLengthString()));
    auto* binding = new qtbridge::KeyValueSignal(*delegate_, MenuBarAppDelegate::kProperty_insomniaLengthString, label);
    connect(binding, &qtbridge::KeyValueSignal::changed, label,
            [this, label] { label->setText(q(delegate_->insomniaLengthString())); });
    layout->addWidget(label);
    layout->addWidget(
        new InsomniaLengthSlider(*delegate_, UserDefaultsController::sharedUserDefaultsController(context_)));
    auto* done = new QPushButton("Done");
    connect(done, &QPushButton::clicked, sliderWindow_.get(), &QWidget::hide);
    layout->addWidget(done);
  }
  sliderWindow_->show();
  sliderWindow_->raise();
  sliderWindow_->activateWindow();
}

}  // namespace somnara
