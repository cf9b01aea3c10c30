#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "plist/Value.h"

namespace somnara::linuxhost {

/// The values of one settings domain from the bytes of its file (an XML or
/// binary property list whose top level is a dictionary); nullopt with a
/// one-line reason in *error (when given) for anything else.
std::optional<Dictionary> parseSettingsFile(std::string_view bytes, std::string* error = nullptr);

}  // namespace somnara::linuxhost
