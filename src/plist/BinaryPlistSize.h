#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace somnara::plist {

/// What a binary property list expands to when every reference to a shared
/// object becomes a copy of it, in bytes: 16 per object plus the bytes of
/// its string or data. Stops counting above limit. nullopt when the object
/// graph cannot be read (bad trailer or offsets, a reference out of range,
/// a cycle, nesting deeper than 128).
std::optional<std::size_t> expandedBinarySize(std::string_view bytes, std::size_t limit);

}  // namespace somnara::plist
