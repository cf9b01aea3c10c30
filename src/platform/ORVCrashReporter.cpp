#include "platform/ORVCrashReporter.h"

#include "platform/LogLine.h"

namespace somnara::platform {

void ORVCrashReporter::testForCrashWithBodyString(host::HostContext& context, const std::string* body) {
  const auto report = context.platform().takeCrashReport();
  if (!report) return;
  std::string message = "Previous run ended abnormally: " + *report;
  if (body) message += " " + *body;
  static const char kClass[] = "ORVCrashReporter";
  ORV_LOG(context.logger(), kClass, "+[ORVCrashReporter testForCrashWithBodyString:]", message);
}

std::optional<std::string> ORVCrashReporter::logFileName(const host::HostContext& context) {
  return context.platform().logFilePath();
}

}  // namespace somnara::platform
