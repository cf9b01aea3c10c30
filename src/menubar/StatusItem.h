#pragma once

#include <string>

namespace somnara {

/// The agent's item in the desktop's status area (tray) with its menu, as
/// the agent's logic drives it. The user interface behind it binds the menu
/// to the agent's and the controller's properties and sends the menu's
/// commands back; this interface carries only what the logic itself sets.
/// All calls on the run loop's thread.
class StatusItem {
 public:
  virtual ~StatusItem() = default;

  /// Puts the Insomnia length slider into its menu item (or the item that
  /// opens it where the menu cannot carry it) and checks that item; returns
  /// a one-line description of the item, for the log.
  virtual std::string attachInsomniaSlider() = 0;

  /// Shows the item in the status area with the menu; where there is no
  /// status area yet, it appears once there is one.
  virtual void show() = 0;

  /// Sets the icon to the named image ("Somnara-Menu-Icon-Sleep", ...), in
  /// its monochrome form that follows the panel's colour when monochrome is
  /// set, else in colour. A missing image leaves the item without an icon.
  virtual void setImage(const std::string& name, bool monochrome) = 0;

  /// The text shown when the pointer rests on the item.
  virtual void setToolTip(const std::string& text) = 0;
};

}  // namespace somnara
