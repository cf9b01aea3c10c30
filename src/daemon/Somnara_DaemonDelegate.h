#pragma once

#include "host/ApplicationDelegate.h"
#include "host/HostContext.h"

namespace somnara {

/// The daemon's application delegate: creates the sleep controller, whose
/// creation in the daemon starts applying the policy.
class Somnara_DaemonDelegate final : public host::ApplicationDelegate {
 public:
  explicit Somnara_DaemonDelegate(host::HostContext& context) : context_(context) {}
  void awakeFromNib() override;
  void applicationDidFinishLaunching() override;

 private:
  host::HostContext& context_;
};

}  // namespace somnara
