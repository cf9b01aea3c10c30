#pragma once

#include <optional>
#include <string>

namespace somnara::host {

/// Privileged operations that need an administrator's consent.
class Authorization {
 public:
  enum class Step { Chown, Chmod };
  struct Failure {
    Step step;  // the step that failed; a refused or cancelled prompt fails Chown
    int code;   // the failing command's status or the authorization error
  };

  virtual ~Authorization() = default;

  /// Asks an administrator once, then makes the regular file at path owned
  /// by root:root and sets its set-user-id and set-group-id bits, in that
  /// order, each finished before the next starts. Symlinks and files that
  /// change between check and use are refused. nullopt means both succeeded.
  virtual std::optional<Failure> repairHelperPrivileges(const std::string& path) = 0;
};

}  // namespace somnara::host
