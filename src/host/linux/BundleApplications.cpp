#include "host/linux/BundleApplications.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QProcess>

#include "host/linux/BundleLocator.h"

namespace somnara::linuxhost {

bool BundleApplications::fileExists(const std::string& path) const {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> BundleApplications::contentsOfDirectory(const std::string& path) const {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return names;
  while (const dirent* d = ::readdir(dir)) {
    const std::string name = d->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

std::optional<host::Applications::BundleInfo> BundleApplications::bundleAt(const std::string& path) const {
  if (!BundleLocator::isBundle(path)) return std::nullopt;
  return BundleInfo{BundleLocator::identifierOfBundle(path), BundleLocator::nameOfBundle(path),
                    BundleLocator::infoString(path, "CFBundleShortVersionString").value_or(""),
                    BundleLocator::infoString(path, "CFBundleVersion").value_or(""),
                    BundleLocator::infoString(path, "NSHumanReadableCopyright").value_or("")};
}

host::Applications::LaunchResult BundleApplications::launchApplication(const std::string& bundlePath) {
  const auto executable = BundleLocator::executableOfBundle(bundlePath);
  if (!executable) return {std::nullopt, "the bundle " + bundlePath + " names no program"};
  if (!fileExists(*executable)) return {std::nullopt, "no program at " + *executable};
  qint64 pid = 0;
  if (!QProcess::startDetached(QString::fromStdString(*executable), {}, QString(), &pid) || pid <= 0)
    return {std::nullopt, "cannot start " + *executable};
  return {static_cast<int>(pid), {}};
}

}  // namespace somnara::linuxhost
