#pragma once

#include <string>
#include <string_view>

#include "host/Logger.h"

namespace somnara::platform {

/// "\t(<receiver>.<line>) <method> <message>": the receiver's address in hex
/// ("0x0" for none), the source line as four zero-padded digits, the full
/// method name such as "-[SomnaraDaemon pmset:]".
std::string formatLogLine(const void* receiver, int line, std::string_view method, std::string_view message);

/// "\t(0x0.<line>) <file> <function>(): <message>", for plain functions.
std::string formatFunctionLogLine(int line, std::string_view file, std::string_view function,
                                  std::string_view message);

/// printf-style formatting into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace somnara::platform

/// Logs one line from a method; receiver is the object (or class tag) logging.
#define ORV_LOG(logger, receiver, method, message) \
  (logger).log(::somnara::platform::formatLogLine((receiver), __LINE__, (method), (message)))

/// Logs one line from a plain function of the given source file.
#define ORV_FUNCTION_LOG(logger, file, function, message) \
  (logger).log(::somnara::platform::formatFunctionLogLine(__LINE__, (file), (function), (message)))
