#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Application/Classes/VersionText.h"

namespace somnara {

class ORVBackgroundApplicationController;

/// What the preferences program's delegate asks of its user interface: the
/// settings window, its version field and the application menu. Lives on the
/// run loop's thread and outlives the delegate.
class ApplicationInterface {
 public:
  /// The one-line notices at the top of the settings window.
  enum class Notice {
    /// What the very first start did for the user.
    FirstStart,
    /// Why the agent's icon cannot show in this session.
    NoStatusArea,
  };

  virtual ~ApplicationInterface() = default;

  /// Shows the settings window in front and gives it the keyboard.
  virtual void makeKeyAndOrderFront() = 0;
  /// Runs fn from the run loop once the settings window has first been
  /// drawn on screen (soon, when it has been already): the place for work
  /// the window need not wait for. Functions run in the order given.
  virtual void afterWindowShown(std::function<void()> fn) = 0;
  virtual void setVersionText(const VersionText& text) = 0;
  /// Shows a notice with this text; an empty text hides it.
  virtual void setNotice(Notice notice, const std::string& text) = 0;
  /// Shows a message with a title over the settings window, without waiting
  /// for it to be dismissed.
  virtual void showMessage(const std::string& title, const std::string& text) = 0;

  /// Titles of the application menu's items; nullopt when there is none.
  virtual std::optional<std::vector<std::string>> applicationMenuTitles() const = 0;
  /// Inserts an item at index of the application menu.
  virtual void insertApplicationMenuItem(std::size_t index, const std::string& title,
                                         std::function<void()> action) = 0;

  /// The two background programs' controllers, once created; either may be
  /// null when its program is missing from the bundle. Called with two nulls
  /// before the controllers are destroyed.
  virtual void bindBackgroundControllers(ORVBackgroundApplicationController* menuBar,
                                         ORVBackgroundApplicationController* daemon) = 0;
};

}  // namespace somnara
