#include "plist/XmlNesting.h"

#include <algorithm>

namespace somnara::plist {
namespace {

// Constructs after which counting resumes at their terminator.
struct Skipped {
  std::string_view opener;
  std::string_view terminator;
};
constexpr Skipped kSkipped[] = {{"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}, {"<!", ">"}};

}  // namespace

std::size_t deepestElementNesting(std::string_view xml, std::size_t limit) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  std::size_t at = xml.find('<');
  while (at != std::string_view::npos) {
    const std::string_view rest = xml.substr(at);
    const auto skipped = std::find_if(std::begin(kSkipped), std::end(kSkipped),
                                      [&](const Skipped& s) { return rest.starts_with(s.opener); });
    std::size_t end;
    if (skipped != std::end(kSkipped)) {
      end = xml.find(skipped->terminator, at + skipped->opener.size());
      if (end == std::string_view::npos) break;
      end += skipped->terminator.size() - 1;
    } else {
      end = xml.find('>', at);
      if (end == std::string_view::npos) break;
      if (rest.starts_with("</")) {
        if (depth > 0) --depth;
      } else {
        deepest = std::max(deepest, depth + 1);
        if (deepest > limit) break;
        if (xml[end - 1] != '/') ++depth;
      }
    }
    at = xml.find('<', end + 1);
  }
  return deepest;
}

}  // namespace somnara::plist
