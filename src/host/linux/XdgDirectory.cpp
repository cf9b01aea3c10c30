#include "host/linux/XdgDirectory.h"

#include <QDir>

#include <cstdlib>

namespace somnara::linuxhost {

std::string xdgDirectory(const char* variable, const char* homeRelative) {
  const char* value = std::getenv(variable);
  if (value && *value == '/') return value;
  const char* home = std::getenv("HOME");
  return (home && *home ? std::string(home) : QDir::homePath().toStdString()) + homeRelative;
}

}  // namespace somnara::linuxhost
