// The settings-file reader on any bytes found in a domain's file. Whatever
// it accepts, the store writes back as XML; that XML must read back to the
// same values (the second rendering equals the first).
#include <cstdint>
#include <cstdlib>

#include "host/linux/SettingsFileFormat.h"
#include "plist/PlistCodec.h"

using namespace somnara;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const auto values = linuxhost::parseSettingsFile({reinterpret_cast<const char*>(data), size}, &error);
  if (!values) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  const std::string written = plist::toXml(Value(*values));
  const auto reread = linuxhost::parseSettingsFile(written, &error);
  if (!reread || plist::toXml(Value(*reread)) != written) std::abort();
  return 0;
}
