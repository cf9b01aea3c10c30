#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/FileWatch.h"
#include "host/sim/ObserverList.h"
#include "host/sim/SimRunLoop.h"

namespace somnara::sim {

/// One program's directory watches; the test reports the changes.
class SimFileWatch : public host::FileWatch {
 public:
  explicit SimFileWatch(SimRunLoop& loop) : loop_(loop) {}

  host::RegistrationPtr watch(const std::string& root,
                              std::function<void(const std::vector<std::string>& paths)> onChange) override;

  /// Roots of the watches registered now, oldest first.
  std::vector<std::string> watchedRoots() const;
  /// When false, new watches cannot be set up.
  void setAvailable(bool available) { available_ = available; }

  /// Reports one batch of changed paths: each watch whose tree holds some
  /// of them (the root itself included) gets those paths on the loop.
  void fire(const std::vector<std::string>& paths);

 private:
  struct Watch {
    std::string root;
    std::function<void(const std::vector<std::string>&)> onChange;
  };

  SimRunLoop& loop_;
  ObserverList<Watch> watches_;
  bool available_ = true;
};

}  // namespace somnara::sim
