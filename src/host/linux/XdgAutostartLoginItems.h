#pragma once

#include <string>

#include "host/LoginItems.h"

namespace somnara::linuxhost {

/// Login items as XDG autostart entries: the files "<name>.desktop" of one
/// directory, normally ${XDG_CONFIG_HOME:-~/.config}/autostart, in file-name
/// order. An entry resolves to the application bundle whose program its Exec
/// starts (…/<name>.app/Contents/MacOS/<program>, the bundle still present).
/// Entries deleted or switched off by the desktop's autostart settings
/// (Hidden=true, X-GNOME-Autostart-enabled=false), of another Type, or
/// unreadable do not resolve. A new entry is written atomically as
/// "<bundle identifier>.desktop" ("-2", "-3", … when that name is taken by an
/// entry for another bundle); "hidden" is written as X-Somnara-Hidden, never
/// as Hidden, which means "deleted".
class XdgAutostartLoginItems final : public host::LoginItems {
 public:
  explicit XdgAutostartLoginItems(std::string directory);

  /// ${XDG_CONFIG_HOME:-~/.config}/autostart.
  static std::string defaultDirectory();

  /// An absent directory is an empty list; one that is no directory or
  /// cannot be read is no list (nullopt).
  std::optional<std::vector<Item>> snapshot() override;
  std::optional<std::string> insertLast(const std::string& displayName, const std::string& bundlePath,
                                        bool hidden) override;
  /// Deletes the entry's file.
  std::optional<std::string> remove(const Item& item) override;

  /// The bundle the entry file at path starts; nullopt as described above.
  static std::optional<std::string> resolve(const std::string& path);

 private:
  std::string directory_;
};

}  // namespace somnara::linuxhost
