#pragma once

#include <cstdint>

#include "host/HostContext.h"

namespace somnara::platform {

/// The running system's version; values above 0xaffff select the newer
/// power-tool behaviour (hard values always, hibernate written as 25, helper
/// exit status 7 answered with a privilege repair).
std::int32_t osversion(const host::HostContext& context);

/// True when osversion() selects the newer behaviour.
bool isNewerSystem(const host::HostContext& context);

}  // namespace somnara::platform
