#pragma once

#include <optional>
#include <string>

#include "host/InsomniaService.h"

namespace somnara::host {

/// A program's way to the running agent's Insomnia (InsomniaService). Each
/// call fails, with the reason in failureReason(), when no agent answers.
class InsomniaRemote {
 public:
  virtual ~InsomniaRemote() = default;

  virtual bool start(double seconds) = 0;
  virtual bool stop() = 0;
  virtual std::optional<InsomniaState> state() = 0;

  /// Why the latest call failed, for the user.
  virtual std::string failureReason() const = 0;
};

}  // namespace somnara::host
