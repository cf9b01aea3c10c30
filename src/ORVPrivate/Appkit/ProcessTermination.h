#pragma once

#include "host/HostContext.h"

namespace somnara {

/// Ends the process pid the way a user's program is ended: a polite request,
/// repeated every 50 ms while it lives, for up to 0.7 s; then a forced
/// termination; and when that fails too, signal 9. Liveness is the
/// signal-0 probe. Blocks the caller for up to about 0.75 s.
/// Returns false when signal 9 had to be sent.
bool terminateWithEscalation(host::HostContext& context, int pid);

}  // namespace somnara
