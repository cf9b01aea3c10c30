#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidgetAction>

#include <memory>
#include <string>

#include "host/HostContext.h"
#include "host/TrayHosts.h"
#include "menubar/MenuBarAppDelegate.h"
#include "menubar/StatusImages.h"
#include "menubar/StatusItem.h"

namespace somnara {

/// The agent's status item as a Qt tray icon (a StatusNotifierItem with its
/// menu over D-Bus where the desktop runs a watcher, an XEmbed icon with a
/// menu Qt draws otherwise) and its menu: the status line, the three
/// sleep-now commands, the Insomnia item, the Insomnia length (presets, a
/// slider where Qt draws the menu, and an item opening a slider window for
/// menus drawn by the desktop), the locks keeping the machine awake (a
/// submenu of read-only lines), the preferences command and Quit.
///
/// Qt chooses the protocol once per process, when the first icon is made:
/// the icon is made only once a status area is there, and made afresh each
/// time the StatusNotifierWatcher appears, goes or is replaced, so that it
/// registers with the watcher in place.
///
/// Lives on the GUI thread; the context, the status areas and the delegate
/// outlive it.
class TrayStatusItem final : public QObject, public StatusItem {
  Q_OBJECT

 public:
  TrayStatusItem(host::HostContext& context, host::TrayHosts& trayHosts);
  ~TrayStatusItem() override;

  /// Builds the menu on the delegate's properties and commands; call once,
  /// before the delegate's start-up. The delegate must outlive this item.
  void connectMenu(MenuBarAppDelegate& delegate);

  std::string attachInsomniaSlider() override;
  /// Shows the icon; while the desktop has no status area (of the kind Qt
  /// chose) it checks again every 2 s, having logged the wait once.
  void show() override;
  void setImage(const std::string& name, bool monochrome) override;
  void setToolTip(const std::string& text) override;

 private:
  void bindStatusLine(SomnaraDaemon& controller);
  void showSliderWindow();
  void showIfReady();
  // The watcher changed: a new icon for the status area there is now.
  void remakeIcon();
  // Whether the status area of the protocol Qt uses (or of either, before
  // the first icon) is there.
  bool statusAreaReady();
  // The slider sits in the menus Qt draws, never in one the desktop draws.
  void placeSlider();
  // Greys out the sleep-now commands the machine cannot carry out.
  void refreshSleepCommands();
  // One greyed line per lock in the inhibitor submenu.
  void fillInhibitorMenu();
  QAction* addBoundAction(QMenu& menu, KeyValueObservable& object, const char* key,
                          std::function<std::string()> text);

  host::HostContext& context_;
  MenuBarAppDelegate* delegate_ = nullptr;
  StatusImages images_;
  QMenu menu_;
  QMenu* lengthMenu_ = nullptr;
  QMenu* inhibitorMenu_ = nullptr;
  QAction* statusLine_ = nullptr;
  // Sleep-now commands by the sleep state they ask for.
  std::vector<std::pair<std::int64_t, QAction*>> sleepCommands_;
  QWidgetAction* sliderAction_ = nullptr;
  QAction* chooseLength_ = nullptr;
  host::TrayHosts& trayHosts_;
  host::RegistrationPtr watcherChanges_;
  // The protocol Qt chose with the first icon, for the whole process.
  enum class Protocol { NotYetChosen, StatusNotifier, XEmbed };
  Protocol protocol_ = Protocol::NotYetChosen;
  std::unique_ptr<QSystemTrayIcon> tray_;
  QIcon icon_;
  QString toolTip_;
  QTimer trayWait_;
  // show() was called: the icon appears once it was given an image (or
  // found none) and there is a status area.
  bool wanted_ = false;
  bool imageTried_ = false;
  std::unique_ptr<QWidget> sliderWindow_;
};

}  // namespace somnara
