#pragma once

#include <cstdint>
#include <string>

#include "core/Constants.h"

namespace somnara {

/// What the sleep controller does in the program it runs in, decided once
/// from the program's bundle identifier. The daemon acts on the machine; the
/// preferences application owns the settings and broadcasts them; the menu
/// bar agent and any other program mirror the daemon's state.
class ControllerRole {
 public:
  static ControllerRole forBundleIdentifier(const std::string& bundleIdentifier);

  /// 3 daemon, 2 preferences application, 1 menu bar agent, 0 any other.
  std::int64_t processType() const { return type_; }

  /// Applies the policy by itself: power-source and session observation,
  /// the continuous retry, the quick-sleep window of other programs'
  /// sleep-now commands, the state-applied and woke messages.
  bool appliesPolicy() const { return type_ == kProcessTypeDaemon; }

  /// Owns the settings domain: writes the sleep mode into it and broadcasts
  /// every settings change; the other programs add the domain as a suite
  /// and follow it.
  bool ownsSettings() const { return type_ == kProcessTypeApplication; }

  bool operator==(const ControllerRole&) const = default;

 private:
  explicit ControllerRole(std::int64_t type) : type_(type) {}
  std::int64_t type_;
};

}  // namespace somnara
