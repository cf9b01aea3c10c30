#pragma once

#include <optional>
#include <string>
#include <vector>

namespace somnara::host {

/// The user's session login items: programs started when the user logs in.
/// Single-threaded: every call runs on the program's run loop and returns
/// once the list has been read or changed.
class LoginItems {
 public:
  struct Item {
    /// Identifies the item within this list (for a removal).
    std::string id;
    /// The application bundle the item starts; nullopt for an item that no
    /// longer resolves or that the user has switched off in the desktop's
    /// own settings. Such items are never reported as matching anything.
    std::optional<std::string> bundlePath;
  };

  virtual ~LoginItems() = default;

  /// The items in list order; nullopt when the list cannot be read at all.
  virtual std::optional<std::vector<Item>> snapshot() = 0;

  /// Adds an item at the end that starts the bundle at bundlePath, shown to
  /// the user as displayName; hidden: started without showing a window.
  /// Returns an error text, nullopt on success.
  virtual std::optional<std::string> insertLast(const std::string& displayName, const std::string& bundlePath,
                                                bool hidden) = 0;

  /// Removes the item with this id; an error text, nullopt on success.
  virtual std::optional<std::string> remove(const Item& item) = 0;
};

}  // namespace somnara::host
