#include "host/linux/BundleLocator.h"

#include "host/linux/MachineRoot.h"
#include "plist/PlistCodec.h"

namespace somnara::linuxhost {
namespace {

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::optional<std::string> BundleLocator::bundlePathForExecutable(const std::string& executable) {
  const auto slash = executable.rfind('/');
  if (slash == std::string::npos || slash + 1 == executable.size()) return std::nullopt;
  const std::string dir = executable.substr(0, slash);
  const std::string marker = "/Contents/MacOS";
  if (!endsWith(dir, marker)) return std::nullopt;
  std::string bundle = dir.substr(0, dir.size() - marker.size());
  // The bundle directory needs a name in front of ".app".
  const auto nameStart = bundle.rfind('/');
  const std::string name = nameStart == std::string::npos ? bundle : bundle.substr(nameStart + 1);
  if (name.size() <= 4 || !endsWith(name, ".app")) return std::nullopt;
  return bundle;
}

std::string BundleLocator::identifierOfBundle(const std::string& bundlePath) {
  // Info.plist files are small; anything larger is not one of ours.
  const auto bytes = MachineRoot::readFile(bundlePath + "/Contents/Info.plist", 1 << 20);
  return bytes ? identifierInInfoPlist(*bytes) : std::string();
}

std::string BundleLocator::identifierInInfoPlist(std::string_view bytes) {
  const auto value = plist::parse(bytes);
  if (!value) return {};
  const Value* id = value->find("CFBundleIdentifier");
  return id && id->string() ? *id->string() : std::string();
}

}  // namespace somnara::linuxhost
