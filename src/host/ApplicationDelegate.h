#pragma once

namespace somnara::host {

/// A program's application delegate, driven by the host's application run.
class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  /// Called once the program's objects are set up, before the loop runs.
  virtual void awakeFromNib() = 0;
  /// Called from the run loop once the program has finished launching.
  virtual void applicationDidFinishLaunching() = 0;
};

}  // namespace somnara::host
