#pragma once

namespace somnara::host {

/// The place in the user's session where a tray icon can appear. Asked
/// afresh on every call, on the program's run loop; a call blocks for at
/// most about half a second.
class StatusArea {
 public:
  enum class Kind {
    /// Nothing shows tray icons (plain GNOME Shell without an extension).
    None,
    /// A status-notifier host is registered with the session's watcher.
    StatusNotifierHost,
    /// An XEmbed system tray owns the display's tray selection.
    XEmbedTray,
  };

  virtual ~StatusArea() = default;
  virtual Kind find() = 0;
};

}  // namespace somnara::host
