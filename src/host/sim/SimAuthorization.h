#pragma once

#include <string>
#include <vector>

#include "host/Authorization.h"
#include "host/sim/SimMachineState.h"

namespace somnara::sim {

/// One program's administrator prompts, answered as the test scripts them.
class SimAuthorization : public host::Authorization {
 public:
  enum class Answer {
    Grant,       // the administrator agrees; the file becomes privileged
    Refuse,      // the prompt is refused or cancelled: Chown fails with -60006
    ChmodFails,  // the owner changes but setting the mode bits fails with 1
  };
  static constexpr int kRefusedCode = -60006;

  explicit SimAuthorization(SimMachineState& state) : state_(state) {}

  std::optional<Failure> repairHelperPrivileges(const std::string& path) override;

  void setAnswer(Answer answer) { answer_ = answer; }
  /// Paths of every repair asked for, one prompt each, oldest first.
  const std::vector<std::string>& prompts() const { return prompts_; }
  int promptCount() const { return static_cast<int>(prompts_.size()); }

 private:
  SimMachineState& state_;
  Answer answer_ = Answer::Grant;
  std::vector<std::string> prompts_;
};

}  // namespace somnara::sim
