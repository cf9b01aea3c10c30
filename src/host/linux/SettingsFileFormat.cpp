#include "host/linux/SettingsFileFormat.h"

#include "plist/PlistCodec.h"

namespace somnara::linuxhost {

std::optional<Dictionary> parseSettingsFile(std::string_view bytes, std::string* error) {
  auto parsed = plist::parse(bytes, error);
  if (!parsed) return std::nullopt;
  if (const Dictionary* values = parsed->dictionary()) return *values;
  if (error) *error = "the top level is not a dictionary";
  return std::nullopt;
}

}  // namespace somnara::linuxhost
