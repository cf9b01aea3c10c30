#pragma once

#include "host/Updater.h"

namespace somnara::sim {

/// An installed update framework that counts the checks asked of it.
class SimUpdater : public host::Updater {
 public:
  void checkForUpdates() override { ++checks_; }
  void setDelegate(host::UpdaterDelegate* delegate) override { delegate_ = delegate; }

  int checkCount() const { return checks_; }
  host::UpdaterDelegate* delegate() const { return delegate_; }
  /// An update is about to be installed: tells the delegate.
  void installUpdate() {
    if (delegate_) delegate_->updaterWillInstallUpdate();
  }

 private:
  int checks_ = 0;
  host::UpdaterDelegate* delegate_ = nullptr;
};

}  // namespace somnara::sim
