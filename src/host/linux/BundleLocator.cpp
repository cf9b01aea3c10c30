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

std::optional<std::string> BundleLocator::infoString(const std::string& bundlePath, const char* key) {
  // Info.plist files are small; anything larger is not one of ours.
  const auto bytes = MachineRoot::readFile(bundlePath + "/Contents/Info.plist", 1 << 20);
  return bytes ? infoStringInPlist(*bytes, key) : std::nullopt;
}

std::optional<std::string> BundleLocator::infoStringInPlist(std::string_view bytes, const char* key) {
  const auto value = plist::parse(bytes);
  if (!value) return std::nullopt;
  const Value* found = value->find(key);
  if (!found || !found->string()) return std::nullopt;
  return *found->string();
}

std::string BundleLocator::identifierOfBundle(const std::string& bundlePath) {
  return infoString(bundlePath, "CFBundleIdentifier").value_or(std::string());
}

std::string BundleLocator::nameOfBundle(const std::string& bundlePath) {
  return infoString(bundlePath, "CFBundleName").value_or(std::string());
}

bool BundleLocator::isBundle(const std::string& bundlePath) {
  const auto bytes = MachineRoot::readFile(bundlePath + "/Contents/Info.plist", 1 << 20);
  return bytes && plist::parse(*bytes).has_value();
}

std::string BundleLocator::identifierInInfoPlist(std::string_view bytes) {
  return infoStringInPlist(bytes, "CFBundleIdentifier").value_or(std::string());
}

std::optional<std::string> BundleLocator::executableOfBundle(const std::string& bundlePath) {
  const auto name = infoString(bundlePath, "CFBundleExecutable");
  if (!name || name->empty() || *name == "." || *name == ".." || name->find('/') != std::string::npos)
    return std::nullopt;
  return bundlePath + "/Contents/MacOS/" + *name;
}

}  // namespace somnara::linuxhost
