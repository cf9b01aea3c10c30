#include "host/linux/XcbDisplay.h"

#include <xcb/dpms.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace somnara::linuxhost {
namespace {

struct FreeReply {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeReply>;

}  // namespace

XcbDisplay::XcbDisplay() = default;

XcbDisplay::~XcbDisplay() {
  if (connection_) xcb_disconnect(connection_);
}

xcb_connection_t* XcbDisplay::connection() {
  if (connection_ && !xcb_connection_has_error(connection_)) return connection_;
  if (connection_) xcb_disconnect(connection_);
  connection_ = nullptr;
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return nullptr;
  xcb_connection_t* c = xcb_connect(display, &defaultScreen_);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return nullptr;
  }
  connection_ = c;
  return connection_;
}

std::optional<bool> XcbDisplay::monitorsAsleep() {
  xcb_connection_t* c = connection();
  if (!c) return std::nullopt;
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_dpms_id);
  if (!ext || !ext->present) return std::nullopt;
  Reply<xcb_dpms_info_reply_t> info(xcb_dpms_info_reply(c, xcb_dpms_info(c), nullptr));
  if (!info) return std::nullopt;
  return info->state && info->power_level != XCB_DPMS_DPMS_MODE_ON;
}

std::size_t XcbDisplay::probeActiveOutputs(std::size_t maxOutputs) {
  xcb_connection_t* c = connection();
  if (!c) return 0;
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_randr_id);
  if (!ext || !ext->present) return 0;
  std::size_t active = 0;
  for (auto screens = xcb_setup_roots_iterator(xcb_get_setup(c)); screens.rem && active < maxOutputs;
       xcb_screen_next(&screens)) {
    // The full query (not ..._current): the server probes the outputs for it.
    Reply<xcb_randr_get_screen_resources_reply_t> resources(xcb_randr_get_screen_resources_reply(
        c, xcb_randr_get_screen_resources(c, screens.data->root), nullptr));
    if (!resources) continue;
    const xcb_randr_output_t* outputs = xcb_randr_get_screen_resources_outputs(resources.get());
    const int count = xcb_randr_get_screen_resources_outputs_length(resources.get());
    for (int i = 0; i < count && active < maxOutputs; ++i) {
      Reply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(
          c, xcb_randr_get_output_info(c, outputs[i], resources->config_timestamp), nullptr));
      if (info && info->connection == XCB_RANDR_CONNECTION_CONNECTED && info->crtc != XCB_NONE) ++active;
    }
  }
  return active;
}

std::optional<bool> XcbDisplay::systemTrayPresent() {
  xcb_connection_t* c = connection();
  if (!c) return std::nullopt;
  const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(defaultScreen_);
  Reply<xcb_intern_atom_reply_t> atom(
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr));
  if (!atom) return std::nullopt;
  Reply<xcb_get_selection_owner_reply_t> owner(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
  if (!owner) return std::nullopt;
  return owner->owner != XCB_NONE;
}

}  // namespace somnara::linuxhost
