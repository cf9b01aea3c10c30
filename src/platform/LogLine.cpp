#include "platform/LogLine.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace somnara::platform {
namespace {

std::string prefix(const void* receiver, int line) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "\t(0x%" PRIxPTR ".%04d) ", reinterpret_cast<std::uintptr_t>(receiver), line);
  return buf;
}

}  // namespace

std::string formatLogLine(const void* receiver, int line, std::string_view method, std::string_view message) {
  std::string out = prefix(receiver, line);
  out.append(method).append(" ").append(message);
  return out;
}

std::string formatFunctionLogLine(int line, std::string_view file, std::string_view function,
                                  std::string_view message) {
  std::string out = prefix(nullptr, line);
  out.append(file).append(" ").append(function).append("(): ").append(message);
  return out;
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, args);
    out.assign(buf.data(), static_cast<std::size_t>(n));
  }
  va_end(args);
  return out;
}

}  // namespace somnara::platform
