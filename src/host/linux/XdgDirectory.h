#pragma once

#include <string>

namespace somnara::linuxhost {

/// A user base directory: $variable when it holds an absolute path, else
/// $HOME (or the account's home) followed by homeRelative, e.g.
/// xdgDirectory("XDG_CONFIG_HOME", "/.config").
std::string xdgDirectory(const char* variable, const char* homeRelative);

}  // namespace somnara::linuxhost
