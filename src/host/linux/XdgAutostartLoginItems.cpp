#include "host/linux/XdgAutostartLoginItems.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstring>

#include "fileio/FileIO.h"
#include "host/linux/BundleLocator.h"
#include "host/linux/DesktopEntry.h"
#include "host/linux/MachineRoot.h"
#include "host/linux/XdgDirectory.h"

namespace somnara::linuxhost {
namespace {

constexpr std::size_t kMaxEntryBytes = 64 << 10;
constexpr const char* kSuffix = ".desktop";

bool isEntryName(const std::string& name) {
  const std::size_t n = std::strlen(kSuffix);
  return name.size() > n && name.compare(name.size() - n, n, kSuffix) == 0 && name.front() != '.';
}

// File names keep to a portable set: anything else becomes '_'.
std::string fileNameFor(const std::string& identifier) {
  std::string out;
  for (char c : identifier)
    out += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_') ? c : '_';
  if (out.empty() || out.front() == '.') out.insert(0, "somnara");
  return out;
}

}  // namespace

XdgAutostartLoginItems::XdgAutostartLoginItems(std::string directory) : directory_(std::move(directory)) {}

std::string XdgAutostartLoginItems::defaultDirectory() { return xdgDirectory("XDG_CONFIG_HOME", "/.config") + "/autostart"; }

std::optional<std::string> XdgAutostartLoginItems::resolve(const std::string& path) {
  const auto text = MachineRoot::readFile(path, kMaxEntryBytes);
  if (!text) return std::nullopt;
  const auto entry = DesktopEntry::parse(*text);
  if (!entry || entry->value("Type") != "Application") return std::nullopt;
  if (entry->isTrue("Hidden") || entry->isFalse("X-GNOME-Autostart-enabled")) return std::nullopt;
  const auto exec = entry->value("Exec");
  if (!exec) return std::nullopt;
  const auto program = DesktopEntry::execProgram(*exec);
  if (!program || program->front() != '/') return std::nullopt;
  const auto bundle = BundleLocator::bundlePathForExecutable(*program);
  if (!bundle || !BundleLocator::isBundle(*bundle)) return std::nullopt;
  return bundle;
}

std::optional<std::vector<host::LoginItems::Item>> XdgAutostartLoginItems::snapshot() {
  DIR* dir = ::opendir(directory_.c_str());
  if (!dir) {
    if (errno == ENOENT) return std::vector<Item>{};
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (const dirent* d = ::readdir(dir))
    if (isEntryName(d->d_name)) names.emplace_back(d->d_name);
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  std::vector<Item> items;
  for (const auto& name : names) {
    const std::string path = directory_ + "/" + name;
    items.push_back({path, resolve(path)});
  }
  return items;
}

std::optional<std::string> XdgAutostartLoginItems::insertLast(const std::string& displayName,
                                                              const std::string& bundlePath, bool hidden) {
  const auto executable = BundleLocator::executableOfBundle(bundlePath);
  if (!executable) return "the bundle " + bundlePath + " names no program";
  const auto exec = DesktopEntry::execArgument(*executable);
  if (!exec) return "the program path " + *executable + " holds control characters";
  std::string identifier = BundleLocator::identifierOfBundle(bundlePath);
  const std::string base = directory_ + "/" + fileNameFor(identifier.empty() ? displayName : identifier);
  std::string path = base + kSuffix;
  // A name taken by an entry that starts another bundle stays with it.
  for (int n = 2; [&] {
         const auto other = resolve(path);
         return other && *other != bundlePath;
       }();
       ++n)
    path = base + "-" + std::to_string(n) + kSuffix;

  const std::string name = displayName.empty() ? (identifier.empty() ? std::string("Somnara") : identifier)
                                               : displayName;
  std::string text = "[Desktop Entry]\nType=Application\n";
  text += "Name=" + DesktopEntry::escapeString(name) + "\n";
  text += "Exec=" + *exec + "\n";
  text += "X-GNOME-Autostart-enabled=true\n";
  text += std::string("X-Somnara-Hidden=") + (hidden ? "true" : "false") + "\n";
  if (auto error = fileio::writeFileAtomically(path, text)) return error->message();
  return std::nullopt;
}

std::optional<std::string> XdgAutostartLoginItems::remove(const Item& item) {
  if (auto error = fileio::removeFileIfPresent(item.id)) return error->message();
  return std::nullopt;
}

}  // namespace somnara::linuxhost
