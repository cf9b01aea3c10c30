#include "host/linux/UeventMonitor.h"

#include <libudev.h>

#include <QObject>
#include <QSocketNotifier>

namespace somnara::linuxhost {

std::unique_ptr<UeventMonitor> UeventMonitor::start(const std::string& subsystem, std::function<void()> onEvent) {
  udev* context = udev_new();
  if (!context) return nullptr;
  udev_monitor* monitor = udev_monitor_new_from_netlink(context, "kernel");
  if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, subsystem.c_str(), nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0 || udev_monitor_get_fd(monitor) < 0) {
    if (monitor) udev_monitor_unref(monitor);
    udev_unref(context);
    return nullptr;
  }
  return std::unique_ptr<UeventMonitor>(new UeventMonitor(context, monitor, std::move(onEvent)));
}

UeventMonitor::UeventMonitor(udev* context, udev_monitor* monitor, std::function<void()> onEvent)
    : context_(context),
      monitor_(monitor),
      onEvent_(std::move(onEvent)),
      notifier_(std::make_unique<QSocketNotifier>(udev_monitor_get_fd(monitor), QSocketNotifier::Read)) {
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { drain(); });
}

UeventMonitor::~UeventMonitor() {
  notifier_.reset();
  udev_monitor_unref(monitor_);
  udev_unref(context_);
}

void UeventMonitor::drain() {
  // The socket does not block; events of other subsystems are dropped by
  // the filter and come back as null like an empty socket.
  bool matched = false;
  for (int i = 0; i < 256; ++i) {
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (!device) break;
    matched = true;
    udev_device_unref(device);
  }
  if (!matched) return;
  auto call = onEvent_;  // the callee may destroy this monitor
  call();
}

}  // namespace somnara::linuxhost
