#include "daemon/Somnara_DaemonDelegate.h"

#include "core/SomnaraDaemon.h"
#include "platform/ORVCrashReporter.h"

namespace somnara {

void Somnara_DaemonDelegate::awakeFromNib() { platform::ORVCrashReporter::testForCrashWithBodyString(context_, nullptr); }

void Somnara_DaemonDelegate::applicationDidFinishLaunching() { SomnaraDaemon::sharedSomnaraDaemon(context_); }

}  // namespace somnara
