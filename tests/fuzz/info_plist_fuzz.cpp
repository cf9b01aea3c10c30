// The Info.plist reader on any bytes in a bundle's Info.plist (a bundle
// can be copied anywhere and edited by its owner). The identifier must not
// depend on the encoding: the parsed value rendered as XML yields the same.
#include <cstdint>
#include <cstdlib>

#include "host/linux/BundleLocator.h"
#include "plist/PlistCodec.h"

using namespace somnara;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string identifier = linuxhost::BundleLocator::identifierInInfoPlist(bytes);
  const auto value = plist::parse(bytes);
  if (!value) {
    if (!identifier.empty()) std::abort();
    return 0;
  }
  if (linuxhost::BundleLocator::identifierInInfoPlist(plist::toXml(*value)) != identifier) std::abort();
  return 0;
}
