#include "host/linux/PkexecAuthorization.h"

#include "powertool/PowerToolStatus.h"

#ifndef SOMNARA_REPAIR_PATH
#error "SOMNARA_REPAIR_PATH must name the privilege repair tool"
#endif

namespace somnara::linuxhost {

std::string PkexecAuthorization::defaultRepairTool() { return SOMNARA_REPAIR_PATH; }

PkexecAuthorization::PkexecAuthorization(host::Processes& processes, std::string repairTool, std::string pkexec)
    : processes_(processes), repairTool_(std::move(repairTool)), pkexec_(std::move(pkexec)) {}

std::optional<host::Authorization::Failure> PkexecAuthorization::repairHelperPrivileges(const std::string& path) {
  const std::optional<int> status = processes_.effectiveUid() == 0
                                        ? processes_.run(repairTool_, {path})
                                        : processes_.run(pkexec_, {repairTool_, path});
  if (status == REPAIR_OK) return std::nullopt;
  if (status == REPAIR_CHMOD_FAILED) return Failure{Step::Chmod, REPAIR_CHMOD_FAILED};
  return Failure{Step::Chown, status.value_or(-1)};
}

}  // namespace somnara::linuxhost
