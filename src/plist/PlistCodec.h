#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "plist/Value.h"

namespace somnara::plist {

/// Parses an XML or binary property list. On failure returns nullopt and,
/// when error is given, stores a one-line reason in it.
std::optional<Value> parse(std::string_view bytes, std::string* error = nullptr);

/// Renders a value as an XML property list document.
std::string toXml(const Value& value);

}  // namespace somnara::plist
