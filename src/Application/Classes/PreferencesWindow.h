#pragma once

#include <QMainWindow>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Application/Classes/ApplicationInterface.h"
#include "host/HostContext.h"
#include "host/PreferencesPorts.h"

class QButtonGroup;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSlider;
class QSpinBox;

namespace somnara {

class SettingBindings;
class SomnaraDaemon;
class Somnara_AppDelegate;

/// The settings window. Its controls are bound to the shared settings at
/// "values.<key>" (written to the application's domain and kept in step
/// with changes made elsewhere) and to the shared sleep controller, whose
/// state the status line follows; the two background programs' switches are
/// bound to their controllers.
///
/// The settings scroll vertically between the menu bar and a row of command
/// buttons, so the window fits small screens: its minimum height is a few
/// lines, its minimum width the widest text that cannot wrap; every other
/// text wraps and is never cut. It starts at the size kept from the last
/// run (kWindowFrameKey), else at its preferred size, within the screen.
/// Every control's accessible name is its visible label and every text
/// label's is its text; every control is reachable by keyboard (tab order
/// and unique Alt+mnemonics). Secondary texts take a colour readable on the
/// palette in use. Lives on the run loop's thread.
class PreferencesWindow final : public QMainWindow, public ApplicationInterface {
  Q_OBJECT

 public:
  /// Key in the program's own settings domain (read by no other program):
  /// the window's size when it was last closed, [width, height] in logical
  /// pixels.
  static constexpr const char* kWindowFrameKey = "windowframe";

  PreferencesWindow(host::HostContext& context, host::PreferencesPorts ports);
  /// Keeps the window's size (unmaximised) for the next start, once shown.
  ~PreferencesWindow() override;

  /// Where the help, release-history and log commands go, and who is told
  /// when the application becomes active.
  void connectDelegate(Somnara_AppDelegate& delegate);

  /// The first call sizes the window for its screen (see the class).
  void makeKeyAndOrderFront() override;
  /// Runs fn once the window has first been painted, or half a second
  /// after it was made when it has not been painted by then.
  void afterWindowShown(std::function<void()> fn) override;
  void setVersionText(const VersionText& text) override;
  void setNotice(Notice notice, const std::string& text) override;
  void showMessage(const std::string& title, const std::string& text) override;
  std::optional<std::vector<std::string>> applicationMenuTitles() const override;
  void insertApplicationMenuItem(std::size_t index, const std::string& title, std::function<void()> action) override;
  void bindBackgroundControllers(ORVBackgroundApplicationController* menuBar,
                                 ORVBackgroundApplicationController* daemon) override;

 protected:
  bool event(QEvent* event) override;

 private:
  struct ProgramSwitches;

  QWidget* buildSleepGroup();
  QWidget* buildAgentGroup();
  QWidget* buildProgramsGroup();
  QLayout* buildCommandButtons();
  void buildMenu();
  QLabel* secondaryLabel(const QString& text, QWidget* parent);
  void applySecondaryColour();
  void renderVersionText();
  QSize startSize() const;
  /// The status line, its reason and the choices; once the window has been
  /// drawn, after asking the machine which kinds of sleep work.
  void refreshStatus();
  void shown();
  void runAfterShown();
  void refreshPrograms();
  void playSound();

  host::HostContext& context_;
  host::PreferencesPorts ports_;
  SomnaraDaemon& controller_;
  // Every setting the window edits, with its control.
  SettingBindings* settings_;
  Somnara_AppDelegate* delegate_ = nullptr;

  QButtonGroup* modeGroup_ = nullptr;
  std::map<Notice, QLabel*> notices_;
  // The grey line under each sleep choice, by sleep mode index.
  QLabel* modeExplanations_[5] = {};
  QSpinBox* hibernateLevel_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* statusReason_ = nullptr;
  QDoubleSpinBox* blinkInterval_ = nullptr;
  QSpinBox* batteryFloor_ = nullptr;
  QLineEdit* soundFile_ = nullptr;
  QSlider* volume_ = nullptr;
  QLabel* soundProblem_ = nullptr;
  std::unique_ptr<ProgramSwitches> agentSwitches_;
  std::unique_ptr<ProgramSwitches> daemonSwitches_;
  QLabel* version_ = nullptr;
  VersionText versionText_;
  // Texts drawn in the secondary colour.
  std::vector<QLabel*> secondaryLabels_;
  QMenu* applicationMenu_ = nullptr;
  bool sized_ = false;
  // Painted once, or given up waiting for it.
  bool shown_ = false;
  std::vector<std::function<void()>> afterShown_;
};

}  // namespace somnara
