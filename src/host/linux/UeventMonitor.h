#pragma once

#include <functional>
#include <memory>
#include <string>

struct udev;
struct udev_monitor;
class QSocketNotifier;

namespace somnara::linuxhost {

/// The kernel's device events (uevents) of one subsystem, as they are
/// broadcast on the netlink socket (no udev daemon needed). onEvent runs on
/// the run loop once per readable turn of the socket, however many events
/// it drained; events of other subsystems never call it.
class UeventMonitor {
 public:
  /// A running monitor, or null when the netlink socket cannot be set up.
  static std::unique_ptr<UeventMonitor> start(const std::string& subsystem, std::function<void()> onEvent);

  ~UeventMonitor();
  UeventMonitor(const UeventMonitor&) = delete;
  UeventMonitor& operator=(const UeventMonitor&) = delete;

 private:
  UeventMonitor(udev* context, udev_monitor* monitor, std::function<void()> onEvent);
  void drain();

  udev* context_;
  udev_monitor* monitor_;
  std::function<void()> onEvent_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace somnara::linuxhost
