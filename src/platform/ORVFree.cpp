#include "platform/ORVFree.h"

namespace somnara::platform {

std::int32_t osversion(const host::HostContext& context) { return context.platform().osVersion(); }

bool isNewerSystem(const host::HostContext& context) { return osversion(context) > 0xaffff; }

}  // namespace somnara::platform
