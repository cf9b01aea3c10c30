#include "host/linux/LogindInhibitor.h"

#include <unistd.h>

namespace somnara::linuxhost {

LogindInhibitor::LogindInhibitor(int fd, std::string what, std::string mode)
    : fd_(fd), what_(std::move(what)), mode_(std::move(mode)) {}

LogindInhibitor::~LogindInhibitor() { ::close(fd_); }

}  // namespace somnara::linuxhost
