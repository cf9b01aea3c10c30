#include "host/sim/SimMachine.h"

namespace somnara::sim {

SimMachine::SimMachine() : state_(scheduler_), desktop_(scheduler_), tools_(scheduler_, state_) {
  state_.setPowerSourcesListener([this] {
    for (const auto& program : programs_)
      if (program->isRunning()) program->powerSources().sourcesChanged();
  });
}

SimMachine::~SimMachine() {
  state_.setPowerSourcesListener(nullptr);
  // Newest first, as a session logs out.
  while (!programs_.empty()) programs_.pop_back();
}

SimProgram& SimMachine::addProgram(std::string bundleIdentifier, const SimProgram::Options& options) {
  programs_.push_back(std::make_unique<SimProgram>(*this, std::move(bundleIdentifier), nextPid_++, options));
  SimProgram& program = *programs_.back();
  if (helpersPrivilegedAtStart_) program.setHelperPrivileged(true);
  return program;
}

SimProgram* SimMachine::runningProgram(int pid) {
  for (const auto& program : programs_)
    if (program->pid() == pid && program->isRunning()) return program.get();
  return nullptr;
}

void SimMachine::fireEverywhere(host::Workspace::Event event) {
  // Programs started by an observer are not told about an event already under way.
  const std::size_t count = programs_.size();
  for (std::size_t i = 0; i < count; ++i)
    if (programs_[i]->isRunning()) programs_[i]->workspace().fire(event);
}

void SimMachine::sleep() { fireEverywhere(host::Workspace::Event::WillSleep); }
void SimMachine::wake() { fireEverywhere(host::Workspace::Event::DidWake); }
void SimMachine::activateSession() { fireEverywhere(host::Workspace::Event::SessionDidBecomeActive); }
void SimMachine::resignSession() { fireEverywhere(host::Workspace::Event::SessionDidResignActive); }

}  // namespace somnara::sim
