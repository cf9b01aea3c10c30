#pragma once

#include <cstddef>
#include <string_view>

namespace somnara::plist {

/// The deepest element nesting in an XML text (a document holding only an
/// empty root element is 1), found without recursion. Counting stops as soon
/// as limit is exceeded, so the result is at most limit + 1. Comments,
/// CDATA sections, processing instructions and declarations count nothing;
/// self-closing elements count as one level and leave no level open. Text
/// that is not well-formed is counted as far as it can be; the parser that
/// reads it afterwards refuses it.
std::size_t deepestElementNesting(std::string_view xml, std::size_t limit);

}  // namespace somnara::plist
