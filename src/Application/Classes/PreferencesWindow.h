#pragma once

#include <QMainWindow>

#include <memory>
#include <string>
#include <vector>

#include "Application/Classes/ApplicationInterface.h"
#include "host/HostContext.h"
#include "host/PreferencesPorts.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSlider;
class QSpinBox;

namespace somnara {

class SomnaraDaemon;
class Somnara_AppDelegate;
class UserDefaultsController;

/// The settings window. Its controls are bound to the shared settings at
/// "values.<key>" (written to the application's domain and kept in step
/// with changes made elsewhere) and to the shared sleep controller, whose
/// state the status line follows; the two background programs' switches are
/// bound to their controllers. Every control has an accessible name and is
/// reachable by keyboard (tab order and Alt+mnemonics). Lives on the run
/// loop's thread.
class PreferencesWindow final : public QMainWindow, public ApplicationInterface {
  Q_OBJECT

 public:
  PreferencesWindow(host::HostContext& context, host::PreferencesPorts ports);
  ~PreferencesWindow() override;

  /// Where the help, release-history and log commands go.
  void connectDelegate(Somnara_AppDelegate& delegate);

  void makeKeyAndOrderFront() override;
  void setVersionText(const VersionText& text) override;
  void showMessage(const std::string& title, const std::string& text) override;
  std::optional<std::vector<std::string>> applicationMenuTitles() const override;
  void insertApplicationMenuItem(std::size_t index, const std::string& title, std::function<void()> action) override;
  void bindBackgroundControllers(ORVBackgroundApplicationController* menuBar,
                                 ORVBackgroundApplicationController* daemon) override;

  /// Re-reads the status line and the background programs' switches.
  void refresh();

 protected:
  bool event(QEvent* event) override;

 private:
  struct ProgramSwitches;

  QWidget* buildSleepGroup();
  QWidget* buildAgentGroup();
  QWidget* buildProgramsGroup();
  void buildMenu();
  void bindCheckBox(QCheckBox* box, const char* key);
  void writeSetting(const char* key, const Value& value);
  void readSettings();
  void refreshStatus();
  void refreshPrograms();
  void playSound();

  host::HostContext& context_;
  host::PreferencesPorts ports_;
  SomnaraDaemon& controller_;
  UserDefaultsController& values_;
  Somnara_AppDelegate* delegate_ = nullptr;

  QButtonGroup* modeGroup_ = nullptr;
  // The grey line under each sleep choice, by sleep mode index.
  QLabel* modeExplanations_[5] = {};
  QSpinBox* hibernateLevel_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* statusReason_ = nullptr;
  std::vector<std::pair<QCheckBox*, const char*>> checkBoxes_;
  QDoubleSpinBox* blinkInterval_ = nullptr;
  QLineEdit* soundFile_ = nullptr;
  QSlider* volume_ = nullptr;
  QLabel* soundProblem_ = nullptr;
  std::unique_ptr<ProgramSwitches> agentSwitches_;
  std::unique_ptr<ProgramSwitches> daemonSwitches_;
  QLabel* version_ = nullptr;
  QMenu* applicationMenu_ = nullptr;
};

}  // namespace somnara
